#include "tests/support/database_fixture.h"

#include <unistd.h>

#include <cstdlib>

#include "host/host.h"
#include "platform/configuration.h"

namespace heliq::testing {
namespace {

std::mutex log_mutex;
std::vector<RecordingLog::Entry> log_entries;

const std::filesystem::path kDbDir = std::filesystem::path(HELIQ_SOURCE_DIR) / "db";

// Applications of the stand-in components that keep a database of their own.
const char* const kStandInApplications[] = {"BackOffice", "Directory"};

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'' || c == '\\') out += '\\';
    out += c;
  }
  return out + "'";
}

// On SQLite each stand-in gets a file of its own, as in a real installation (a component outside
// the unit of work cannot write to the file whose write lock the call holds). On PostgreSQL they
// share the test database.
void UseSettings(const std::filesystem::path& install_dir, const std::string& connection,
                 bool separate_stand_ins) {
  std::string text = "install_dir = " + Quote(install_dir.string()) +
                     "\ndefault_language = 1033\n[connections]\nHeliq = " + Quote(connection) +
                     "\nRAvuruvo = " + Quote(connection) + "\n";
  for (const char* application : kStandInApplications) {
    const std::string own = "sqlite:" + (install_dir / (std::string(application) + ".db")).string();
    text += std::string(application) + " = " + Quote(separate_stand_ins ? own : connection) + "\n";
  }
  SetSettingsText(text + "[log]\nfile = \"\"\n");
}

// PostgreSQL: one database per test process, schema loaded once; tests empty its tables.
struct PostgresDatabase {
  std::string connection_string;
  std::vector<std::string> tables;
};

const PostgresDatabase& TestPostgres() {
  static PostgresDatabase* database = [] {
    const std::string admin = std::getenv("HELIQ_TEST_PG");
    const std::string name = "heliq_test_" + std::to_string(getpid());
    {
      auto session = OpenSession("postgresql:" + admin);
      session->ExecuteScript("DROP DATABASE IF EXISTS " + name);
      session->ExecuteScript("CREATE DATABASE " + name);
    }
    auto* db = new PostgresDatabase();
    db->connection_string = "postgresql:" + admin + " dbname=" + name;
    UseSettings(std::filesystem::temp_directory_path(), db->connection_string, false);
    InitializeDatabases(kDbDir, true, false);
    auto session = OpenSession(db->connection_string);
    for (const auto& row :
         session->Query("select tablename from pg_tables where schemaname = 'public'", {}).rows) {
      db->tables.push_back(row[0].ToText());
    }
    return db;
  }();
  return *database;
}

}  // namespace

void RecordingLog::LogEvent(std::string_view source, std::string_view text, int32_t level,
                            const Variant&) {
  std::lock_guard lock(log_mutex);
  log_entries.push_back({std::string(source), std::string(text), level});
}

std::vector<RecordingLog::Entry> RecordingLog::Entries() {
  std::lock_guard lock(log_mutex);
  return log_entries;
}

void RecordingLog::Clear() {
  std::lock_guard lock(log_mutex);
  log_entries.clear();
}

void UseSettingsWithoutDatabase(const std::filesystem::path& install_dir) {
  UseSettings(install_dir, "sqlite:" + (install_dir / "unused.db").string(), true);
}

std::vector<Backend> AllBackends() { return {Backend::kSqlite, Backend::kPostgres}; }

std::string BackendName(const ::testing::TestParamInfo<Backend>& info) {
  return info.param == Backend::kSqlite ? "SQLite" : "PostgreSQL";
}

void DatabaseTest::SetUp() {
  if (backend() == Backend::kPostgres) {
    const char* pg = std::getenv("HELIQ_TEST_PG");
    if (pg == nullptr || *pg == '\0') GTEST_SKIP() << "HELIQ_TEST_PG is not set";
  }
  InitializeSystem();
  SessionPool::ResetAll();
  std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  install_dir_ = std::filesystem::temp_directory_path() /
                 ("heliq-test-" + std::to_string(getpid()) + "-" + name);
  std::filesystem::remove_all(install_dir_);
  std::filesystem::create_directories(install_dir_);
  if (backend() == Backend::kSqlite) {
    connection_string_ = "sqlite:" + (install_dir_ / "heliq.db").string();
    UseSettings(install_dir_, connection_string_, true);
    InitializeDatabases(kDbDir, true, false);
    session_ = SessionPool::For(connection_string_, install_dir_.string())->Acquire();
  } else {
    const auto& pg = TestPostgres();
    connection_string_ = pg.connection_string;
    UseSettings(install_dir_, connection_string_, false);
    session_ = SessionPool::For(connection_string_, install_dir_.string())->Acquire();
    std::string tables;
    for (const auto& table : pg.tables) tables += (tables.empty() ? "" : ", ") + table;
    session_->ExecuteScript("TRUNCATE " + tables + " RESTART IDENTITY");
  }
  RecordingLog::Clear();
  log_ = std::make_unique<ScopedRegistration>(std::string(kLogClassId),
                                              [] { return std::make_unique<RecordingLog>(); });
  clock_ = std::make_unique<ScopedFixedTime>(kTestNow);
}

void DatabaseTest::TearDown() {
  clock_.reset();
  log_.reset();
  session_ = PooledSession();
  SessionPool::ResetAll();
  std::error_code ignored;
  std::filesystem::remove_all(install_dir_, ignored);
}

Session& DatabaseTest::db() { return *session_.get(); }

int64_t DatabaseTest::Exec(std::string_view sql, const Params& params) {
  return db().Execute(sql, params);
}

ResultSet DatabaseTest::Rows(std::string_view sql, const Params& params) {
  return db().Query(sql, params);
}

Variant DatabaseTest::Value(std::string_view sql, const Params& params) {
  ResultSet result = Rows(sql, params);
  return result.rows.empty() ? Variant() : result.rows[0][0];
}

int64_t DatabaseTest::Count(std::string_view table) {
  return Value("select count(*) from " + std::string(table)).ToLongLong();
}

void DatabaseTest::LoadDemoData() { InitializeDatabases(kDbDir, false, true); }

}  // namespace heliq::testing
