// Test support: a fresh database per test, on SQLite always and on PostgreSQL when HELIQ_TEST_PG
// holds a libpq connection string of a server where the tests may create databases.
//
// DatabaseTest is parameterised over the back end (PostgreSQL cases skip themselves when
// HELIQ_TEST_PG is not set, so test discovery lists both); instantiate a suite with
//   INSTANTIATE_DATABASE_TEST_SUITE(MySuite);
// Each test gets: the schema loaded, settings pointing both applications at the test database,
// an install directory of its own (a temporary folder), the system's components registered, the
// log replaced by a recording fake, and the clock fixed at kTestNow.
#ifndef HELIQ_TESTS_SUPPORT_DATABASE_FIXTURE_H_
#define HELIQ_TESTS_SUPPORT_DATABASE_FIXTURE_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/component.h"
#include "platform/connection.h"
#include "platform/database.h"
#include "platform/log.h"

namespace heliq::testing {

inline const DateTime kTestNow{2009, 1, 1, 7, 5, 9};

enum class Backend { kSqlite, kPostgres };
// Readable names in test output.
inline void PrintTo(Backend backend, std::ostream* out) {
  *out << (backend == Backend::kSqlite ? "SQLite" : "PostgreSQL");
}

// Records every log entry it gets.
class RecordingLog : public Log {
 public:
  struct Entry {
    std::string source;
    std::string text;
    int32_t level;
  };
  void LogEvent(std::string_view source, std::string_view text, int32_t level,
                const Variant&) override;
  static std::vector<Entry> Entries();
  static void Clear();
};

// Settings for tests without a database (install dir only).
void UseSettingsWithoutDatabase(const std::filesystem::path& install_dir);

class DatabaseTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override;
  void TearDown() override;

  Backend backend() const { return GetParam(); }
  const std::string& connection_string() const { return connection_string_; }
  const std::filesystem::path& install_dir() const { return install_dir_; }

  // A session outside any unit of work, for set-up and checks.
  Session& db();
  // Shorthands on db().
  int64_t Exec(std::string_view sql, const Params& params = {});
  ResultSet Rows(std::string_view sql, const Params& params = {});
  Variant Value(std::string_view sql, const Params& params = {});
  int64_t Count(std::string_view table);
  // Loads <source>/db/demo.sql.
  void LoadDemoData();

 private:
  std::filesystem::path install_dir_;
  std::string connection_string_;
  PooledSession session_;
  std::unique_ptr<ScopedRegistration> log_;
  std::unique_ptr<ScopedFixedTime> clock_;
};

std::string BackendName(const ::testing::TestParamInfo<Backend>& info);
std::vector<Backend> AllBackends();

}  // namespace heliq::testing

#define INSTANTIATE_DATABASE_TEST_SUITE(suite)                                          \
  INSTANTIATE_TEST_SUITE_P(Db, suite,                                                   \
                           ::testing::ValuesIn(::heliq::testing::AllBackends()), \
                           ::heliq::testing::BackendName)

#endif  // HELIQ_TESTS_SUPPORT_DATABASE_FIXTURE_H_
