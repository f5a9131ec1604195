// heliqd's resident memory under a long load: starts the host program on a throwaway
// installation, drives roads of requests through it over HTTP (4 keep-alive clients) and reads
// VmRSS from /proc/<pid>/status after 1,000 calls and then at intervals up to the total.
// Goal: the memory after the last call at most 10% above the memory after 1,000 (no growth per
// call). Exits 1 when the goal is missed or a call failed.
//
//   build/bench/memory_bench [total calls, default 100000]
// HELIQ_BENCH_PG=<libpq keywords> runs it on PostgreSQL instead of SQLite.
#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

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
#include "platform/configuration.h"

namespace heliq::bench {
namespace {

constexpr int kClients = 4;

// The host program on the installation's settings, killed when destroyed.
class HostProcess {
 public:
  HostProcess(const std::filesystem::path& config, const std::filesystem::path& output) {
    pid_ = fork();
    if (pid_ == 0) {
      if (!std::freopen(output.c_str(), "a", stdout) ||
          !std::freopen(output.c_str(), "a", stderr)) {
        _exit(126);
      }
      execl(HELIQ_HELIQD_PATH, "heliqd", "--config", config.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~HostProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

// A port that was free a moment ago (the host binds it right after).
int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = -1;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  close(fd);
  return port;
}

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
  const auto config = installation.dir() / "heliqd.toml";
  {
    std::ofstream out(config);
    out << "install_dir = '" << installation.dir().string() << "'\n[connections]\n";
    for (const char* application : {"Heliq", "RAvuruvo", "BackOffice", "Directory"}) {
      const std::string value = SettingValue("connections", application);
      if (!value.empty()) out << application << " = '" << value << "'\n";
    }
    out << "[log]\nfile = 'heliqd.log'\n[host]\naddress = '127.0.0.1'\nport = " << port << "\n";
  }
  HostProcess host(config, installation.dir() / "heliqd.out");
  for (int i = 0; i < 500; ++i) {
    httplib::Client probe("127.0.0.1", port);
    if (probe.Get("/")) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
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
