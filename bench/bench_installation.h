// Benchmark support: a throwaway installation (configuration, schema, components) in a temporary
// folder, on SQLite by default or on the PostgreSQL server named by HELIQ_BENCH_PG, and a
// reporter that prints each benchmark's time relative to a baseline of the same run.
#ifndef HELIQ_BENCH_BENCH_INSTALLATION_H_
#define HELIQ_BENCH_BENCH_INSTALLATION_H_

#include <benchmark/benchmark.h>

#include <filesystem>
#include <map>
#include <string>

#include "platform/database.h"

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
