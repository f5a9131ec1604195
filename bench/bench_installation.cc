#include "bench/bench_installation.h"

#include <httplib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "host/host.h"
#include "platform/configuration.h"

namespace heliq::bench {

Installation::Installation() {
  dir_ = std::filesystem::temp_directory_path() / ("heliq-bench-" + std::to_string(getpid()));
  std::filesystem::remove_all(dir_);
  std::filesystem::create_directories(dir_);
  const char* pg = std::getenv("HELIQ_BENCH_PG");
  std::string stand_ins;
  if (pg != nullptr && *pg != '\0') {
    const std::string name = "heliq_bench_" + std::to_string(getpid());
    auto admin = OpenSession(std::string("postgresql:") + pg);
    admin->ExecuteScript("DROP DATABASE IF EXISTS " + name);
    admin->ExecuteScript("CREATE DATABASE " + name);
    connection_string_ = std::string("postgresql:") + pg + " dbname=" + name;
  } else {
    connection_string_ = "sqlite:" + (dir_ / "heliq.db").string();
    stand_ins = "BackOffice = 'sqlite:" + (dir_ / "backoffice.db").string() + "'\n" +
                "Directory = 'sqlite:" + (dir_ / "directory.db").string() + "'\n";
  }
  settings_ = "install_dir = '" + dir_.string() + "'\n[connections]\nHeliq = '" +
              connection_string_ + "'\nRAvuruvo = '" + connection_string_ + "'\n" + stand_ins +
              "[log]\nfile = '" + (dir_ / "heliq.log").string() + "'\n";
  SetSettingsText(settings_);
  InitializeSystem();
  InitializeDatabases(std::filesystem::path(HELIQ_SOURCE_DIR) / "db", true, false);
}

Installation::~Installation() {
  SessionPool::ResetAll();
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

void Installation::UseSettingsWith(const std::string& sections) const {
  SetSettingsText(settings_ + sections);
}

PooledSession Installation::Session() const {
  return SessionPool::For(connection_string_, dir_.string())->Acquire();
}

PooledSession Installation::StandInSession(const std::string& application) const {
  std::string cs = SettingValue("connections", application);
  return SessionPool::For(cs.empty() ? connection_string_ : cs, dir_.string())->Acquire();
}

std::filesystem::path WriteHostConfig(const Installation& installation, const std::string& name,
                                      int port, std::string_view extra) {
  const auto config = installation.dir() / (name + ".toml");
  std::ofstream out(config);
  out << "install_dir = '" << installation.dir().string() << "'\n[connections]\n";
  for (const char* application : {"Heliq", "RAvuruvo", "BackOffice", "Directory"}) {
    const std::string value = SettingValue("connections", application);
    if (!value.empty()) out << application << " = '" << value << "'\n";
  }
  out << "[log]\nfile = '" << name << ".log'\n[host]\naddress = '127.0.0.1'\nport = " << port
      << "\n"
      << extra;
  return config;
}

HostProcess::HostProcess(const char* program, const std::filesystem::path& config,
                         const std::filesystem::path& output) {
  pid_ = fork();
  if (pid_ == 0) {
    if (!std::freopen(output.c_str(), "a", stdout) || !std::freopen(output.c_str(), "a", stderr)) {
      _exit(126);
    }
    execl(program, "heliqd", "--config", config.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
}

HostProcess::~HostProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
}

bool HostProcess::WaitUntilServing(int port) const {
  for (int i = 0; i < 500; ++i) {
    httplib::Client probe("127.0.0.1", port);
    if (probe.Get("/healthz")) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

void RatioReporter::ReportRuns(const std::vector<Run>& runs) {
  ConsoleReporter::ReportRuns(runs);
  for (const auto& run : runs) {
    if (run.run_type != Run::RT_Iteration) continue;
    seconds_[run.benchmark_name()] =
        run.GetAdjustedRealTime() * benchmark::GetTimeUnitMultiplier(run.time_unit);
  }
}

void RatioReporter::Finalize() {
  ConsoleReporter::Finalize();
  std::printf("\n");
  for (const auto& [name, baseline] : ratios_) {
    auto a = seconds_.find(name);
    auto b = seconds_.find(baseline);
    if (a == seconds_.end() || b == seconds_.end() || b->second <= 0) continue;
    std::printf("ratio %-40s / %-28s = %.2f\n", name.c_str(), baseline.c_str(),
                a->second / b->second);
  }
}

}  // namespace heliq::bench
