#include "host/metrics.h"

#include <sstream>
#include <string>
#include <vector>

#include "common/mail_outbox.h"
#include "host/service_lease.h"
#include "platform/clock.h"
#include "platform/database.h"
#include "platform/object_context.h"

namespace heliq {
namespace {

std::string Escaped(const std::string& label) {
  std::string out;
  for (char c : label) {
    if (c == '\\' || c == '"') out += '\\';
    out += c == '\n' ? 'n' : c;
  }
  return out;
}

void Header(std::ostringstream& out, const char* name, const char* type, const char* help) {
  out << "# HELP " << name << ' ' << help << "\n# TYPE " << name << ' ' << type << '\n';
}

// The scheduled services as the shared database records them: whether this host holds each lease
// and the latest run of each service. Nothing when the database cannot be read: the call metrics
// must still come out.
void RenderScheduler(std::ostringstream& out) {
  std::vector<LeaseState> leases;
  std::vector<RunRecord> runs;
  try {
    leases = ListLeases();
    runs = LatestRuns();
  } catch (...) {
    return;
  }
  const DateTime now = Now();
  const std::string self = ThisLeaseHolder() + "/";
  Header(out, "heliq_scheduler_lease_held", "gauge",
         "1 while this host holds the service's lease, else 0.");
  for (const LeaseState& lease : leases) {
    out << "heliq_scheduler_lease_held{service=\"" << Escaped(lease.service) << "\"} "
        << (lease.holder.starts_with(self) && now < lease.expires ? 1 : 0) << '\n';
  }
  Header(out, "heliq_scheduler_last_run_started_seconds", "gauge",
         "Start of the service's latest run on any host (epoch seconds of local time).");
  for (const RunRecord& run : runs) {
    out << "heliq_scheduler_last_run_started_seconds{service=\"" << Escaped(run.service)
        << "\",host=\"" << Escaped(run.host) << "\"} " << run.started.ToEpochSeconds() << '\n';
  }
  Header(out, "heliq_scheduler_last_run_ended_seconds", "gauge",
         "End of the service's latest run; absent while it runs or when its host died in it.");
  for (const RunRecord& run : runs) {
    if (!run.ended) continue;
    out << "heliq_scheduler_last_run_ended_seconds{service=\"" << Escaped(run.service)
        << "\",host=\"" << Escaped(run.host) << "\"} " << run.ended->ToEpochSeconds() << '\n';
  }
  Header(out, "heliq_scheduler_last_run_ok", "gauge",
         "1 when the service's latest ended run succeeded, 0 when it failed.");
  for (const RunRecord& run : runs) {
    if (!run.ended) continue;
    out << "heliq_scheduler_last_run_ok{service=\"" << Escaped(run.service) << "\"} "
        << (run.outcome == "ok" ? 1 : 0) << '\n';
  }
}

// The outbox's backlog; nothing when the database cannot be read.
void RenderOutbox(std::ostringstream& out) {
  OutboxCounts counts;
  try {
    counts = CountOutbox();
  } catch (...) {
    return;
  }
  Header(out, "heliq_mail_outbox_pending", "gauge", "Mails in the outbox still to be delivered.");
  out << "heliq_mail_outbox_pending " << counts.pending << '\n';
  Header(out, "heliq_mail_outbox_given_up", "gauge",
         "Mails given up after their last attempt failed.");
  out << "heliq_mail_outbox_given_up " << counts.given_up << '\n';
}

}  // namespace

void CallMetrics::Record(const std::string& operation, int status, int32_t error_number,
                         double seconds) {
  std::lock_guard lock(mutex_);
  Operation& op = operations_[operation];
  ++op.by_status[status];
  if (error_number != 0) ++op.errors[error_number];
  ++op.count;
  op.sum += seconds;
  for (size_t i = 0; i < kBuckets.size(); ++i) {
    if (seconds <= kBuckets[i]) {
      ++op.buckets[i];
      break;
    }
  }
}

std::string CallMetrics::Render() const {
  std::ostringstream out;
  {
    std::lock_guard lock(mutex_);
    Header(out, "heliq_calls_total", "counter", "Calls served, by operation and HTTP status.");
    for (const auto& [name, op] : operations_) {
      for (const auto& [status, count] : op.by_status) {
        out << "heliq_calls_total{operation=\"" << Escaped(name) << "\",status=\"" << status
            << "\"} " << count << '\n';
      }
    }
    Header(out, "heliq_call_errors_total", "counter",
           "Failed calls, by operation and error number.");
    for (const auto& [name, op] : operations_) {
      for (const auto& [number, count] : op.errors) {
        out << "heliq_call_errors_total{operation=\"" << Escaped(name) << "\",number=\"" << number
            << "\"} " << count << '\n';
      }
    }
    Header(out, "heliq_call_duration_seconds", "histogram", "Call latency, by operation.");
    for (const auto& [name, op] : operations_) {
      const std::string label = "operation=\"" + Escaped(name) + "\"";
      uint64_t cumulative = 0;
      for (size_t i = 0; i < kBuckets.size(); ++i) {
        cumulative += op.buckets[i];
        out << "heliq_call_duration_seconds_bucket{" << label << ",le=\"" << kBuckets[i] << "\"} "
            << cumulative << '\n';
      }
      out << "heliq_call_duration_seconds_bucket{" << label << ",le=\"+Inf\"} " << op.count << '\n';
      out << "heliq_call_duration_seconds_sum{" << label << "} " << std::to_string(op.sum) << '\n';
      out << "heliq_call_duration_seconds_count{" << label << "} " << op.count << '\n';
    }
  }
  Header(out, "heliq_calls_in_flight", "gauge", "Calls being served now.");
  out << "heliq_calls_in_flight " << in_flight_.load() << '\n';
  const UnitOfWorkStats units = GetUnitOfWorkStats();
  Header(out, "heliq_unit_of_work_commits_total", "counter", "Units of work committed.");
  out << "heliq_unit_of_work_commits_total " << units.commits << '\n';
  Header(out, "heliq_unit_of_work_rollbacks_total", "counter", "Units of work rolled back.");
  out << "heliq_unit_of_work_rollbacks_total " << units.rollbacks << '\n';
  const PoolStats pools = SessionPool::TotalStats();
  Header(out, "heliq_db_sessions_open", "gauge", "Database sessions open, over all pools.");
  out << "heliq_db_sessions_open " << pools.open << '\n';
  Header(out, "heliq_db_sessions_in_use", "gauge", "Database sessions borrowed by calls now.");
  out << "heliq_db_sessions_in_use " << pools.in_use << '\n';
  RenderScheduler(out);
  RenderOutbox(out);
  return out.str();
}

}  // namespace heliq
