// The scheduling service: runs the periodic services on the schedule that
// Daemon.SaveDaemonData keeps in the registry store.
//
// For each service the store holds, under the scheduler's parameters key, <prefix>_Run ("1" on),
// <prefix>_Int (minutes between runs) and <prefix>_Time (when it was last switched on). Every tick
// re-reads the store, so switching a service on or off, or changing its interval, takes effect
// without a restart. A switched-on service first runs one interval after its <prefix>_Time (at
// once when that is already past, as after a restart), then one interval after each run. A new
// <prefix>_Time (switched on again) starts its schedule afresh. An interval that is not a positive
// whole number is logged once per value and the service is skipped.
//
// The services ("Alert" runs the escalation run through the operation table as one unit of work;
// "Archive", "Delete" and "Dormant User Expiry" run their maintenance components) run one after
// the other on the scheduler's thread. A failing run is logged and does not stop the others or
// later runs.
//
// Many hosts may run a scheduler on one database: each run is taken under the service's lease
// (host/service_lease.h) and recorded in SERVICE_RUNS, and a service is run only when its last
// recorded run, on any host, started an interval ago. A service whose lease another host holds is
// looked at again at the next tick.
//
// Thread safety: Tick is not reentrant (the scheduler's thread calls it; tests call it directly
// instead of starting the thread). Start and Stop are called by the owner's thread.
#ifndef HELIQ_HOST_SCHEDULER_H_
#define HELIQ_HOST_SCHEDULER_H_

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/variant.h"

namespace heliq {

// One periodic service: its name (DAEMON.NAME), its prefix in the registry store and what one run
// does (throws on failure).
struct ScheduledService {
  std::string name;
  std::string prefix;
  std::function<void()> run;
};

// The name of the escalation service (its DAEMON.NAME and its lease).
inline constexpr std::string_view kAlertServiceName = "Alert";

// The four services of the system.
std::vector<ScheduledService> SystemServices();

// One escalation run (HeliqProcessMTS.SolveOnNoResponse.SendingEscalationMails) through the
// operation table, as one unit of work. Error 429 when the row is not registered; the run's own
// failure otherwise.
void RunEscalation();

// The outcome of one run.
struct ServiceRun {
  std::string service;
  std::string error;  // empty on success; else the failure's description and number
};

struct SchedulerOptions {
  // How often the thread wakes to look at the store.
  std::chrono::milliseconds poll_period{std::chrono::seconds(10)};
  // Called on the scheduler's thread after every run (heliq scheduler prints them).
  std::function<void(const ServiceRun&)> on_run;
};

// [scheduler] enabled: true unless set to false/0/no.
bool SchedulerEnabled();

class Scheduler {
 public:
  explicit Scheduler(std::vector<ScheduledService> services = SystemServices(),
                     SchedulerOptions options = {});
  ~Scheduler();  // stops the thread
  Scheduler(const Scheduler&) = delete;
  Scheduler& operator=(const Scheduler&) = delete;

  // Reads the store and runs every service due at `now`, in table order. Returns the runs made.
  // Never throws: failures of the store or of a run are logged.
  std::vector<ServiceRun> Tick(const DateTime& now);

  // Starts the thread that calls Tick(Now()) every poll period. Idempotent.
  void Start();
  // Asks the thread to stop and waits for it; a run in progress is finished first. Idempotent.
  void Stop();

 private:
  // What the scheduler remembers of a switched-on service.
  struct State {
    bool started = false;
    std::optional<std::string> start_text;  // <prefix>_Time as last seen
    DateTime last_run;                      // or the start of the schedule
    std::string bad_interval;               // the invalid interval last logged
    bool bad_interval_logged = false;
  };

  void Loop();
  // True when the service is due at `now`; (re)starts its schedule when its switch-on time changed.
  static bool Due(State& state, const std::optional<std::string>& start_text, const DateTime& now,
                  int64_t interval_seconds);

  const std::vector<ScheduledService> services_;
  const SchedulerOptions options_;
  std::map<std::string, State> states_;  // by service name; only the ticking thread uses it
  std::string store_error_;              // the store failure already logged

  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace heliq

#endif  // HELIQ_HOST_SCHEDULER_H_
