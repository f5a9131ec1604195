// Benchmark support: a throwaway installation (configuration, schema, components) in a temporary
// folder, on SQLite by default or on the PostgreSQL server named by HELIQ_BENCH_PG; heliqd
// processes serving it; and a reporter that prints each benchmark's time relative to a baseline
// of the same run.
#ifndef HELIQ_BENCH_BENCH_INSTALLATION_H_
#define HELIQ_BENCH_BENCH_INSTALLATION_H_

#include <benchmark/benchmark.h>

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <string>
#include <string_view>

#include "platform/database.h"
#include "tests/support/raw_http.h"

namespace heliq::bench {

class Installation {
 public:
  // Creates the folder, writes the settings, creates the schema in every database.
  Installation();
  ~Installation();
  const std::string& connection_string() const { return connection_string_; }
  const std::filesystem::path& dir() const { return dir_; }
  // A session outside any unit of work on the system database.
  PooledSession Session() const;
  // A session on the database of a stand-in application ("Directory", "BackOffice").
  PooledSession StandInSession(const std::string& application) const;
  // Replaces the settings by the installation's own followed by `sections` (TOML text).
  void UseSettingsWith(const std::string& sections) const;

 private:
  std::filesystem::path dir_;
  std::string connection_string_;
  std::string settings_;
};

// A port of the loopback address that was free a moment ago (a program binds it right after).
using testing::FreePort;

// Writes <installation dir>/<name>.toml: the installation's connections, the log in <name>.log,
// [host] on 127.0.0.1:`port`, then `extra` (TOML text); returns its path.
std::filesystem::path WriteHostConfig(const Installation& installation, const std::string& name,
                                      int port, std::string_view extra = "");

// The host program `program` started with --config `config` (its output appended to `output`),
// stopped with SIGTERM and waited for when destroyed.
class HostProcess {
 public:
  HostProcess(const char* program, const std::filesystem::path& config,
              const std::filesystem::path& output);
  ~HostProcess();
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;
  pid_t pid() const { return pid_; }
  // Polls /healthz for up to 10 s; true once it answers.
  bool WaitUntilServing(int port) const;

 private:
  pid_t pid_ = -1;
};

// Prints the console report, then "<name> / <baseline> = ratio" for every pair given.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  explicit RatioReporter(std::multimap<std::string, std::string> ratios)
      : ratios_(std::move(ratios)) {}
  void ReportRuns(const std::vector<Run>& runs) override;
  void Finalize() override;

 private:
  std::multimap<std::string, std::string> ratios_;  // benchmark name -> baseline name
  std::map<std::string, double> seconds_;
};

}  // namespace heliq::bench

#endif  // HELIQ_BENCH_BENCH_INSTALLATION_H_
