#include "bench/bench_installation.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

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
