#include "host/service_lease.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <utility>

#include "common/heliq_utilities.h"
#include "platform/clock.h"
#include "platform/com_error.h"
#include "platform/configuration.h"
#include "platform/connection.h"
#include "platform/log.h"
#include "platform/object_context.h"
#include "platform/text.h"

namespace heliq {
namespace {

constexpr std::string_view kLeaseSource = "Heliq.ServiceLease";
constexpr int64_t kDefaultLeaseSeconds = 60;
constexpr size_t kMaxLeaseDigits = 6;

// A new row is taken at once; an existing one only when it is ours or has expired. Each is one
// atomic statement, so of two contenders exactly one sees a changed row.
constexpr std::string_view kInsertLease =
    "INSERT INTO SERVICE_LEASES (SERVICE, HOLDER, EXPIRES) VALUES (?, ?, ?) "
    "ON CONFLICT (SERVICE) DO NOTHING";
constexpr std::string_view kTakeLease =
    "UPDATE SERVICE_LEASES SET HOLDER = ?, EXPIRES = ? "
    "WHERE SERVICE = ? AND (HOLDER = ? OR EXPIRES <= ?)";
constexpr std::string_view kReleaseLease =
    "UPDATE SERVICE_LEASES SET EXPIRES = 0 WHERE SERVICE = ? AND HOLDER = ?";
constexpr std::string_view kSelectHolder = "SELECT HOLDER FROM SERVICE_LEASES WHERE SERVICE = ?";
constexpr std::string_view kSelectLeases =
    "SELECT SERVICE, HOLDER, EXPIRES FROM SERVICE_LEASES ORDER BY SERVICE";
constexpr std::string_view kInsertRun =
    "INSERT INTO SERVICE_RUNS (SERVICE, HOST, STARTED) VALUES (?, ?, ?) RETURNING RUN_ID";
constexpr std::string_view kEndRun =
    "UPDATE SERVICE_RUNS SET ENDED = ?, OUTCOME = ? WHERE RUN_ID = ?";
constexpr std::string_view kSelectLatestRuns =
    "SELECT R.RUN_ID, R.SERVICE, R.HOST, R.STARTED, R.ENDED, R.OUTCOME FROM SERVICE_RUNS R "
    "WHERE R.RUN_ID = (SELECT MAX(L.RUN_ID) FROM SERVICE_RUNS L WHERE L.SERVICE = R.SERVICE) "
    "ORDER BY R.SERVICE";
constexpr std::string_view kSelectLastStart =
    "SELECT MAX(STARTED) FROM SERVICE_RUNS WHERE SERVICE = ? AND ENDED IS NOT NULL";

// A connection whose statements commit as they run: a lease or run record never waits for, or
// rolls back with, a caller's unit of work.
std::unique_ptr<Connection> OwnConnection() {
  if (GetObjectContext() != nullptr) {
    throw ComError(err::kInvalidProcedureCall, std::string(kLeaseSource),
                   "a service lease is taken outside any unit of work");
  }
  return GetHeliqConnection();
}

std::string OutcomeOf(std::string_view error) {
  return error.empty() ? std::string("ok") : "failed: " + std::string(error);
}

}  // namespace

std::string ThisLeaseHolder() {
  std::array<char, 256> name{};
  if (gethostname(name.data(), name.size() - 1) != 0) name[0] = '\0';
  const std::string host = name[0] != '\0' ? std::string(name.data()) : std::string("localhost");
  return host + ":" + std::to_string(getpid());
}

int64_t LeaseSeconds() {
  const std::string value(TrimSpace(SettingValue("scheduler", "lease_seconds")));
  if (value.empty()) return kDefaultLeaseSeconds;
  if (value.size() > kMaxLeaseDigits ||
      value.find_first_not_of("0123456789") != std::string::npos || std::stoll(value) <= 0) {
    throw ComError(
        err::kInvalidProcedureCall, std::string(kLeaseSource),
        "[scheduler] lease_seconds \"" + value + "\" is not a positive whole number of seconds");
  }
  return std::stoll(value);
}

bool TakeLease(std::string_view service, std::string_view holder, int64_t seconds,
               const DateTime& now) {
  std::unique_ptr<Connection> connection = OwnConnection();
  const int64_t at = now.ToEpochSeconds();
  const Variant expires(at + seconds);
  bool taken = connection->Execute(kInsertLease, {Variant(std::string(service)),
                                                  Variant(std::string(holder)), expires}) == 1;
  if (!taken) {
    taken = connection->Execute(
                kTakeLease, {Variant(std::string(holder)), expires, Variant(std::string(service)),
                             Variant(std::string(holder)), Variant(at)}) == 1;
  }
  connection->Close();
  return taken;
}

void ReleaseLease(std::string_view service, std::string_view holder) {
  std::unique_ptr<Connection> connection = OwnConnection();
  connection->Execute(kReleaseLease, {Variant(std::string(service)), Variant(std::string(holder))});
  connection->Close();
}

std::vector<LeaseState> ListLeases() {
  std::unique_ptr<Connection> connection = OwnConnection();
  std::vector<LeaseState> leases;
  for (const auto& row : connection->Query(kSelectLeases).rows) {
    leases.push_back(
        {row[0].ToText(), row[1].ToText(), DateTime::FromEpochSeconds(row[2].ToLongLong())});
  }
  connection->Close();
  return leases;
}

int64_t RecordRunStart(std::string_view service, std::string_view host, const DateTime& started) {
  std::unique_ptr<Connection> connection = OwnConnection();
  const int64_t id = connection
                         ->QueryValue(kInsertRun, {Variant(std::string(service)),
                                                   Variant(std::string(host)), Variant(started)})
                         .ToLongLong();
  connection->Close();
  return id;
}

void RecordRunEnd(int64_t run_id, const DateTime& ended, std::string_view error) {
  std::unique_ptr<Connection> connection = OwnConnection();
  connection->Execute(kEndRun, {Variant(ended), Variant(OutcomeOf(error)), Variant(run_id)});
  connection->Close();
}

std::vector<RunRecord> LatestRuns() {
  std::unique_ptr<Connection> connection = OwnConnection();
  std::vector<RunRecord> runs;
  for (const auto& row : connection->Query(kSelectLatestRuns).rows) {
    RunRecord run;
    run.id = row[0].ToLongLong();
    run.service = row[1].ToText();
    run.host = row[2].ToText();
    run.started = row[3].ToDate();
    if (!row[4].IsNull()) run.ended = row[4].ToDate();
    run.outcome = row[5].ToTextOrEmpty();
    runs.push_back(std::move(run));
  }
  connection->Close();
  return runs;
}

std::optional<DateTime> LastRunStart(std::string_view service) {
  std::unique_ptr<Connection> connection = OwnConnection();
  const Variant value = connection->QueryValue(kSelectLastStart, {Variant(std::string(service))});
  connection->Close();
  if (value.IsEmpty() || value.IsNull()) return std::nullopt;
  return value.ToDate();
}

std::unique_ptr<HeldLease> HeldLease::Take(std::string_view service, const DateTime& now,
                                           std::string* holder_out) {
  static std::atomic<uint64_t> taken{0};
  const std::string holder = ThisLeaseHolder() + "/" + std::to_string(++taken);
  const int64_t seconds = LeaseSeconds();
  if (!TakeLease(service, holder, seconds, now)) {
    if (holder_out != nullptr) {
      std::unique_ptr<Connection> connection = OwnConnection();
      *holder_out =
          connection->QueryValue(kSelectHolder, {Variant(std::string(service))}).ToTextOrEmpty();
      connection->Close();
    }
    return nullptr;
  }
  return std::unique_ptr<HeldLease>(new HeldLease(std::string(service), holder, seconds));
}

HeldLease::HeldLease(std::string service, std::string holder, int64_t seconds)
    : service_(std::move(service)), holder_(std::move(holder)), seconds_(seconds) {
  renewer_ = std::thread([this] { Renew(); });
}

HeldLease::~HeldLease() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  renewer_.join();
  try {
    ReleaseLease(service_, holder_);
  } catch (...) {
    // Not given up: it expires at the end of its period all the same.
    WriteErrorLog(std::string(kLeaseSource) + ".Release", "lease of " + service_);
  }
}

void HeldLease::Renew() {
  const auto period = std::chrono::seconds(std::max<int64_t>(1, seconds_ / 3));
  std::unique_lock lock(mutex_);
  while (!wake_.wait_for(lock, period, [this] { return stopping_; })) {
    lock.unlock();
    try {
      if (!TakeLease(service_, holder_, seconds_, Now())) {
        LogInfo("service lease of " + service_ + " was taken over by another host during a run");
      }
    } catch (...) {
      WriteErrorLog(std::string(kLeaseSource) + ".Renew", "lease of " + service_);
    }
    lock.lock();
  }
}

RecordedRun::RecordedRun(std::string_view service, std::string_view host, const DateTime& started)
    : id_(RecordRunStart(service, host, started)), started_(started) {}

RecordedRun::~RecordedRun() {
  if (ended_) return;
  try {
    RecordRunEnd(id_, EndTime(), "the run ended without an outcome");
  } catch (...) {
    WriteErrorLog(std::string(kLeaseSource) + ".RecordRunEnd", std::nullopt);
  }
}

void RecordedRun::Succeeded() {
  ended_ = true;
  RecordRunEnd(id_, EndTime(), "");
}

void RecordedRun::Failed(std::string_view error) {
  ended_ = true;
  RecordRunEnd(id_, EndTime(), error);
}

DateTime RecordedRun::EndTime() const { return std::max(Now(), started_); }

}  // namespace heliq
