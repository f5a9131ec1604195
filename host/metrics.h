// Call metrics of the HTTP host in the Prometheus text exposition format.
//
// Per operation (the route's label: "<class id>.<operation>" as the operation table spells it,
// "requests.read" and the like for the host's own routes, "unknown" for anything else, so hostile
// paths cannot grow the label set): calls by HTTP status, errors by error number, and a latency
// histogram. Render adds the process-wide unit-of-work counters, the database pool use and the
// calls in flight, and from the database the scheduled services' leases and latest runs and the
// mail outbox's backlog (left out when the database cannot be read).
//
// Thread safety: Record and Render may be called from any thread.
#ifndef HELIQ_HOST_METRICS_H_
#define HELIQ_HOST_METRICS_H_

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace heliq {

class CallMetrics {
 public:
  // Upper bounds (seconds) of the latency histogram's buckets; +Inf follows.
  static constexpr std::array<double, 12> kBuckets = {0.001, 0.0025, 0.005, 0.01, 0.025, 0.05,
                                                      0.1,   0.25,   0.5,   1,    2.5,   10};

  // One finished call. `error_number` is 0 for a success.
  void Record(const std::string& operation, int status, int32_t error_number, double seconds);
  // Calls currently being served (the host counts them up and down).
  std::atomic<int64_t>& in_flight() { return in_flight_; }
  // The exposition text.
  std::string Render() const;

 private:
  struct Operation {
    std::map<int, uint64_t> by_status;
    std::map<int32_t, uint64_t> errors;
    std::array<uint64_t, kBuckets.size()> buckets{};  // not cumulative; Render accumulates
    uint64_t count = 0;
    double sum = 0;
  };
  mutable std::mutex mutex_;
  std::map<std::string, Operation> operations_;
  std::atomic<int64_t> in_flight_{0};
};

}  // namespace heliq

#endif  // HELIQ_HOST_METRICS_H_
