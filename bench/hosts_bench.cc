// Roads per second with 1, 2 and 3 heliqd processes on one PostgreSQL: the hosts are started on a
// throwaway installation, the request rows are made before the clock starts, and `clients`
// keep-alive clients spread over the hosts in use (client c on host c mod n) each carry one road
// at a time through its 6 operation steps (register, automatic dispatch, take in hand, answer,
// accept, close). Prints, per number of hosts, roads and steps per second, the p50 and p99 latency
// of one step, and the rate against one host. Exits 1 when a call failed.
//
//   HELIQ_BENCH_PG=<libpq keywords> build/bench/hosts_bench [roads per mode, default 600]
//     [clients, default 12]
// Scaling out needs PostgreSQL: without HELIQ_BENCH_PG the bench refuses to run.
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_installation.h"
#include "bench/road_steps.h"
#include "host/request_store.h"

namespace heliq::bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kMaxHosts = 3;
constexpr int kWarmUpRoadsPerHost = 5;

struct Result {
  int hosts = 0;
  int roads = 0;
  int steps = 0;
  int failures = 0;
  double seconds = 0;
  std::vector<double> latencies_us;
  double Percentile(double p) const {
    if (latencies_us.empty()) return 0;
    std::vector<double> sorted = latencies_us;
    std::sort(sorted.begin(), sorted.end());
    return sorted[std::min(sorted.size() - 1, static_cast<size_t>(p * sorted.size()))];
  }
};

// `roads` roads (rows made first) over the first `hosts` of `ports`.
Result Run(const std::vector<int>& ports, int hosts, int roads, int clients) {
  std::vector<int32_t> ids;
  const Dictionary fields = RoadRequestFields();
  for (int i = 0; i < roads; ++i) ids.push_back(CreateUnregisteredRequest(fields));
  Result result{hosts, roads};
  std::atomic<size_t> next{0};
  std::mutex mutex;
  std::vector<std::thread> threads;
  const auto started = Clock::now();
  for (int c = 0; c < clients; ++c) {
    threads.emplace_back([&, c] {
      httplib::Client client("127.0.0.1", ports[c % hosts]);
      client.set_keep_alive(true);
      client.set_tcp_nodelay(true);
      client.set_read_timeout(60);
      std::vector<double> latencies;
      int failures = 0;
      int steps = 0;
      for (size_t i = next++; i < ids.size(); i = next++) {
        for (const RoadStep& step : RoadSteps(ids[i])) {
          const std::string path = "/api/v1/" + step.class_id + "/" + step.operation;
          const auto step_started = Clock::now();
          auto response = client.Post(path, step.arguments.dump(), "application/json");
          latencies.push_back(
              std::chrono::duration<double, std::micro>(Clock::now() - step_started).count());
          ++steps;
          if (!response || response->status != 200) {
            if (++failures <= 3) {
              std::fprintf(stderr, "%s: %s\n", step.operation.c_str(),
                           response ? response->body.c_str() : "no answer");
            }
          }
        }
      }
      std::lock_guard lock(mutex);
      result.latencies_us.insert(result.latencies_us.end(), latencies.begin(), latencies.end());
      result.failures += failures;
      result.steps += steps;
    });
  }
  for (auto& t : threads) t.join();
  result.seconds = std::chrono::duration<double>(Clock::now() - started).count();
  return result;
}

int Main(int argc, char** argv) {
  const int roads = argc > 1 ? std::atoi(argv[1]) : 600;
  const int clients = argc > 2 ? std::atoi(argv[2]) : 12;
  const char* pg = std::getenv("HELIQ_BENCH_PG");
  if (pg == nullptr || *pg == '\0') {
    std::fprintf(stderr, "hosts_bench: set HELIQ_BENCH_PG (several hosts need PostgreSQL)\n");
    return 2;
  }
  if (roads < 1 || clients < kMaxHosts) {
    std::fprintf(stderr, "usage: hosts_bench [roads >= 1] [clients >= %d]\n", kMaxHosts);
    return 2;
  }
  Installation installation;
  PopulateRoad(installation);
  std::vector<int> ports;
  std::vector<std::unique_ptr<HostProcess>> hosts;
  for (int i = 0; i < kMaxHosts; ++i) {
    const std::string name = "heliqd" + std::to_string(i + 1);
    ports.push_back(FreePort());
    hosts.push_back(std::make_unique<HostProcess>(HELIQ_HELIQD_PATH,
                                                  WriteHostConfig(installation, name, ports.back()),
                                                  installation.dir() / (name + ".out")));
    if (!hosts.back()->WaitUntilServing(ports.back())) {
      std::fprintf(stderr, "%s did not start; see %s\n", name.c_str(),
                   (installation.dir() / (name + ".out")).c_str());
      return 1;
    }
  }
  std::printf("roads over 1..%d hosts on one PostgreSQL, %d roads per mode, %d clients\n",
              kMaxHosts, roads, clients);
  // Every host's pools and prepared statements exist before the clock.
  Run(ports, kMaxHosts, kWarmUpRoadsPerHost * kMaxHosts, kMaxHosts);

  std::vector<Result> results;
  for (int n = 1; n <= kMaxHosts; ++n) results.push_back(Run(ports, n, roads, clients));
  int failures = 0;
  for (const Result& r : results) {
    std::printf(
        "%d host(s)  %6d roads %8.2f s %8.1f roads/s %9.1f steps/s  p50 %7.0f us  p99 %7.0f us"
        "  x%.2f%s\n",
        r.hosts, r.roads, r.seconds, r.roads / r.seconds, r.steps / r.seconds, r.Percentile(0.50),
        r.Percentile(0.99), (r.roads / r.seconds) / (results[0].roads / results[0].seconds),
        r.failures ? ("  FAILURES " + std::to_string(r.failures)).c_str() : "");
    failures += r.failures;
  }
  return failures == 0 ? 0 : 1;
}

}  // namespace
}  // namespace heliq::bench

int main(int argc, char** argv) { return heliq::bench::Main(argc, argv); }
