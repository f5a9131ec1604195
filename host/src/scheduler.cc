#include "host/scheduler.h"

#include <iostream>
#include <string_view>
#include <utility>

#include "common/heliq_utilities.h"
#include "common/maintenance_service.h"
#include "host/service_lease.h"
#include "platform/clock.h"
#include "platform/com_error.h"
#include "platform/component.h"
#include "platform/configuration.h"
#include "platform/log.h"
#include "platform/operation_table.h"
#include "platform/registry_store.h"
#include "platform/text.h"
#include "servicerequest/question/daemon.h"

namespace heliq {
namespace {

constexpr std::string_view kSchedulerSource = "Heliq.Scheduler";
constexpr std::string_view kEscalationClassId = "HeliqProcessMTS.SolveOnNoResponse";
constexpr std::string_view kEscalationOperation = "SendingEscalationMails";
// Intervals are minutes; more than nine digits is no schedule anyone meant.
constexpr size_t kMaxIntervalDigits = 9;

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string Trim(std::string_view text) { return std::string(TrimSpace(text)); }

// Writes a warning that has no failure in flight (a bad setting); the log's own failure goes to
// standard error.
void LogWarning(std::string_view source, const std::string& text) {
  try {
    auto log = ComponentAs<Log>(ComponentRegistry::Global().Create(kLogClassId), kLogClassId);
    log->LogEvent(source, text, 1, Variant());
  } catch (...) {
    std::cerr << RedactSecrets(std::string(source) + ": " + text) << std::endl;
  }
}

std::function<void()> RunMaintenance(std::string_view class_id) {
  return [class_id] { CreateObjectAs<MaintenanceService>(class_id)->Run(); };
}

// Minutes as a positive whole number, nullopt otherwise.
std::optional<int64_t> IntervalMinutes(const std::string& text) {
  const std::string value = Trim(text);
  if (value.empty() || value.size() > kMaxIntervalDigits ||
      value.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  const int64_t minutes = std::stoll(value);
  if (minutes <= 0) return std::nullopt;
  return minutes;
}

}  // namespace

void RunEscalation() {
  const OperationSpec* spec = FindOperation(kEscalationClassId, kEscalationOperation);
  if (spec == nullptr) {
    throw ComError(err::kCannotCreateComponent, std::string(kSchedulerSource),
                   std::string(kEscalationClassId) + "." + std::string(kEscalationOperation) +
                       " is not registered");
  }
  CallOperation(*spec, *Dictionary::Create());
}

std::vector<ScheduledService> SystemServices() {
  return {
      {"Archive", "Archive", RunMaintenance(kArchiveServiceId)},
      {"Delete", "Cleanup", RunMaintenance(kCleanupServiceId)},
      {"Dormant User Expiry", "Dormant", RunMaintenance(kDormantExpiryServiceId)},
      {std::string(kAlertServiceName), "Sonr", RunEscalation},
  };
}

bool SchedulerEnabled() {
  const std::string value = Lower(Trim(SettingValue("scheduler", "enabled")));
  return !(value == "0" || value == "false" || value == "no" || value == "off");
}

Scheduler::Scheduler(std::vector<ScheduledService> services, SchedulerOptions options)
    : services_(std::move(services)), options_(std::move(options)) {}

Scheduler::~Scheduler() { Stop(); }

std::vector<ServiceRun> Scheduler::Tick(const DateTime& now) {
  std::vector<ServiceRun> runs;
  // The scheduler's values, by lower-case value name.
  std::map<std::string, std::string> values;
  try {
    std::string_view key = kSchedulerParametersKey;
    if (key.ends_with('\\')) key.remove_suffix(1);
    const std::string wanted = Lower(key);
    for (RegistryValue& value : RegistryStore::FromSettings().List()) {
      if (Lower(value.key) == wanted) values[Lower(value.name)] = std::move(value.value);
    }
    store_error_.clear();
  } catch (...) {
    // Logged once per distinct failure, not on every tick while the store stays broken.
    const ComError error = CurrentError();
    if (error.description() != store_error_) {
      store_error_ = error.description();
      WriteErrorLog(std::string(kSchedulerSource) + ".Tick", "the registry store cannot be read");
    }
    return runs;
  }
  auto value_of = [&](const ScheduledService& service,
                      std::string_view suffix) -> std::optional<std::string> {
    const auto found = values.find(Lower(service.prefix + std::string(suffix)));
    if (found == values.end()) return std::nullopt;
    return found->second;
  };

  for (const ScheduledService& service : services_) {
    if (value_of(service, "_Run").value_or("") != "1") {
      states_.erase(service.name);  // switched off: a later switch-on starts afresh
      continue;
    }
    State& state = states_[service.name];
    const std::string interval_text = value_of(service, "_Int").value_or("");
    const std::optional<int64_t> minutes = IntervalMinutes(interval_text);
    if (!minutes) {
      if (state.bad_interval != interval_text || !state.bad_interval_logged) {
        LogWarning(std::string(kSchedulerSource) + "." + service.name,
                   "service " + service.name + " skipped: its interval " + service.prefix +
                       "_Int \"" + interval_text + "\" is not a positive number of minutes");
        state.bad_interval = interval_text;
        state.bad_interval_logged = true;
      }
      continue;
    }
    state.bad_interval_logged = false;
    if (!Due(state, value_of(service, "_Time"), now, *minutes * 60)) continue;

    // One host at a time: without the lease the service is running elsewhere (or by hand), and
    // this host looks again at its next tick. With it, the runs recorded by every host decide
    // whether the interval has really passed.
    std::unique_ptr<HeldLease> lease;
    std::unique_ptr<RecordedRun> record;
    try {
      lease = HeldLease::Take(service.name, now);
      if (!lease) continue;
      const std::optional<DateTime> last = LastRunStart(service.name);
      if (last && last->AddSeconds(*minutes * 60) > now) {
        state.last_run = *last;
        continue;
      }
      record = std::make_unique<RecordedRun>(service.name, lease->holder(), now);
    } catch (...) {
      WriteErrorLog(std::string(kSchedulerSource) + "." + service.name,
                    "the lease of " + service.name + " cannot be taken");
      continue;
    }

    ServiceRun run{service.name, ""};
    try {
      service.run();
      LogInfo("scheduler: " + service.name + " run finished");
    } catch (...) {
      const ComError error = CurrentError();
      run.error = error.description() + " (" + std::to_string(error.number()) + ")";
      WriteErrorLog(std::string(kSchedulerSource) + "." + service.name,
                    "scheduled run of " + service.name);
    }
    try {
      if (run.error.empty()) {
        record->Succeeded();
      } else {
        record->Failed(run.error);
      }
    } catch (...) {
      WriteErrorLog(std::string(kSchedulerSource) + "." + service.name, "recording the run");
    }
    lease.reset();
    // A failed run also waits a full interval: a broken service is not hammered every tick.
    state.last_run = now;
    runs.push_back(run);
    if (options_.on_run) {
      try {
        options_.on_run(run);
      } catch (...) {
        WriteErrorLog(std::string(kSchedulerSource) + ".Tick", "run observer");
      }
    }
  }
  return runs;
}

bool Scheduler::Due(State& state, const std::optional<std::string>& start_text, const DateTime& now,
                    int64_t interval_seconds) {
  if (!state.started || state.start_text != start_text) {
    // A new schedule: counted from the switch-on time, or from now when it is missing, not a
    // date or in the future.
    std::optional<DateTime> start;
    if (start_text) start = DateTime::Parse(Trim(*start_text));
    state.last_run = start && *start <= now ? *start : now;
    state.start_text = start_text;
    state.started = true;
  }
  return state.last_run.AddSeconds(interval_seconds) <= now;
}

void Scheduler::Start() {
  std::lock_guard lock(mutex_);
  if (thread_.joinable()) return;
  stopping_ = false;
  thread_ = std::thread([this] { Loop(); });
}

void Scheduler::Stop() {
  {
    std::lock_guard lock(mutex_);
    if (!thread_.joinable()) return;
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void Scheduler::Loop() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    lock.unlock();
    Tick(Now());
    lock.lock();
    wake_.wait_for(lock, options_.poll_period, [this] { return stopping_; });
  }
}

}  // namespace heliq
