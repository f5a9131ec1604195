// heliqd's resident memory under a long load: starts the host program on a throwaway
// installation, drives roads of requests through it over HTTP (4 keep-alive clients) and reads
// VmRSS from /proc/<pid>/status after 1,000 calls and then at intervals up to the total.
// Goal: the memory after the last call at most 10% above the memory after 1,000 (no growth per
// call). Exits 1 when the goal is missed or a call failed.
//
//   build/bench/memory_bench [total calls, default 100000]
// HELIQ_BENCH_PG=<libpq keywords> runs it on PostgreSQL instead of SQLite.
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_installation.h"
#include "bench/road_steps.h"
#include "host/request_store.h"

namespace heliq::bench {
namespace {

constexpr int kClients = 4;

long ResidentKilobytes(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

int Main(int argc, char** argv) {
  const long total = argc > 1 ? std::atol(argv[1]) : 100000;
  Installation installation;
  PopulateRoad(installation);
  const int port = FreePort();
  HostProcess host(HELIQ_HELIQD_PATH, WriteHostConfig(installation, "heliqd", port),
                   installation.dir() / "heliqd.out");
  if (!host.WaitUntilServing(port)) {
    std::fprintf(stderr, "heliqd did not start; see %s\n",
                 (installation.dir() / "heliqd.out").c_str());
    return 1;
  }

  std::atomic<long> calls{0};
  std::atomic<long> failures{0};
  auto drive = [&](long until) {
    std::vector<std::thread> threads;
    for (int c = 0; c < kClients; ++c) {
      threads.emplace_back([&] {
        httplib::Client client("127.0.0.1", port);
        client.set_keep_alive(true);
        client.set_tcp_nodelay(true);
        client.set_read_timeout(60);
        const Dictionary fields = RoadRequestFields();
        while (calls.load() < until) {
          const int32_t id = CreateUnregisteredRequest(fields);
          for (const RoadStep& step : RoadSteps(id)) {
            auto response = client.Post("/api/v1/" + step.class_id + "/" + step.operation,
                                        step.arguments.dump(), "application/json");
            if (!response || response->status != 200) ++failures;
            ++calls;
          }
        }
      });
    }
    for (auto& t : threads) t.join();
  };

  const auto started = std::chrono::steady_clock::now();
  drive(1000);
  const long baseline = ResidentKilobytes(host.pid());
  std::printf("%8ld calls  VmRSS %8ld kB\n", calls.load(), baseline);
  long last = baseline;
  for (long mark = std::min(10000L, total);; mark = std::min(mark + 10000, total)) {
    drive(mark);
    last = ResidentKilobytes(host.pid());
    std::printf("%8ld calls  VmRSS %8ld kB  (%+.1f%%)\n", calls.load(), last,
                100.0 * (last - baseline) / baseline);
    if (mark >= total) break;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf(
      "\n%ld calls in %.0f s, %ld failed; VmRSS after 1,000 calls %ld kB, after %ld: %ld "
      "kB = %.3f (goal <= 1.10)\n",
      calls.load(), seconds, failures.load(), baseline, calls.load(), last,
      static_cast<double>(last) / baseline);
  return failures.load() == 0 && last <= baseline * 1.10 ? 0 : 1;
}

}  // namespace
}  // namespace heliq::bench

int main(int argc, char** argv) { return heliq::bench::Main(argc, argv); }
