// The lease of a scheduled service: what makes a service run on one host at a time, whichever
// hosts are up.
//
// One row per service in SERVICE_LEASES holds the holder ("<host name>:<pid>/<n>", n counting the
// leases the process took, so two schedulers of one process exclude each other too) and the moment
// the lease expires (epoch seconds of the clock's local civil time). Taking and renewing are single
// atomic statements, each committing on its own (never inside a caller's unit of work), so a run
// that fails or a host that dies leaves no lock behind: the lease simply expires and the next
// contender takes it. Lost when its holder stops renewing; another host takes over within one
// lease period ([scheduler] lease_seconds, default 60).
//
// Every run taken under a lease is recorded in SERVICE_RUNS (service, host, started, ended,
// outcome), which is also the schedule shared by the hosts: a service is due when its last
// recorded run, on whichever host or by hand, started an interval ago.
//
// Failures: the database's (err::kDbConnection and the like). Thread safety: the functions may be
// called from any thread; a HeldLease belongs to the thread that took it.
#ifndef HELIQ_HOST_SERVICE_LEASE_H_
#define HELIQ_HOST_SERVICE_LEASE_H_

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/variant.h"

namespace heliq {

// "<host name>:<pid>" of this process: the start of every holder name it uses.
std::string ThisLeaseHolder();

// [scheduler] lease_seconds: a positive whole number, 60 when unset. Error 5 for anything else.
int64_t LeaseSeconds();

// Takes the lease of `service` for `holder` until `now` + `seconds`, or renews it when `holder`
// has it already. True when `holder` holds it afterwards; false when another holder's lease has
// not expired at `now`.
bool TakeLease(std::string_view service, std::string_view holder, int64_t seconds,
               const DateTime& now);
// Gives the lease up when `holder` has it (it expires at once); nothing otherwise.
void ReleaseLease(std::string_view service, std::string_view holder);

struct LeaseState {
  std::string service;
  std::string holder;
  DateTime expires;
};
// Every lease row, by service name.
std::vector<LeaseState> ListLeases();

struct RunRecord {
  int64_t id = 0;
  std::string service;
  std::string host;
  DateTime started;
  std::optional<DateTime> ended;  // nullopt while running, or when the host died during the run
  std::string outcome;            // "ok", "failed: <why>"; "" while running
};
// Records the start of a run; returns its id.
int64_t RecordRunStart(std::string_view service, std::string_view host, const DateTime& started);
// Records its end; `error` empty for a success.
void RecordRunEnd(int64_t run_id, const DateTime& ended, std::string_view error);
// The latest run of each service that has one, by service name.
std::vector<RunRecord> LatestRuns();
// The start of the latest run of `service` that ended (well or not), nullopt when none did. A run
// whose host died never ended: it does not count, so the host that takes over runs at once.
std::optional<DateTime> LastRunStart(std::string_view service);

// A lease held for a run: renewed every third of its period on a thread of its own while the run
// goes on (a run may take longer than one period), given up on destruction. Renewal failures are
// logged; the run is not interrupted.
class HeldLease {
 public:
  // The lease of `service` taken at `now` for a new holder name of this process, or nullptr when
  // another holder has it (`*holder_out`, when given, then names that holder). Renewals use Now().
  static std::unique_ptr<HeldLease> Take(std::string_view service, const DateTime& now,
                                         std::string* holder_out = nullptr);
  ~HeldLease();
  HeldLease(const HeldLease&) = delete;
  HeldLease& operator=(const HeldLease&) = delete;

  const std::string& service() const { return service_; }
  const std::string& holder() const { return holder_; }

 private:
  HeldLease(std::string service, std::string holder, int64_t seconds);
  void Renew();

  const std::string service_;
  const std::string holder_;
  const int64_t seconds_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread renewer_;
};

// One run recorded in SERVICE_RUNS: started at `started` on construction, ended (at Now(), or
// `started` when the clock says earlier) by Succeeded or Failed. The caller holds the lease.
class RecordedRun {
 public:
  RecordedRun(std::string_view service, std::string_view host, const DateTime& started);
  // Records a failed end unless Succeeded was called (a run unwinding through it failed).
  ~RecordedRun();
  RecordedRun(const RecordedRun&) = delete;
  RecordedRun& operator=(const RecordedRun&) = delete;
  void Succeeded();
  void Failed(std::string_view error);

 private:
  DateTime EndTime() const;

  int64_t id_;
  DateTime started_;
  bool ended_ = false;
};

}  // namespace heliq

#endif  // HELIQ_HOST_SERVICE_LEASE_H_
