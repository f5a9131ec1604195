// heliq init on new SQLite databases: what it loads with and without the demo data, and a failure
// on one database that changes none of them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "host/host.h"
#include "platform/com_error.h"
#include "platform/configuration.h"
#include "platform/database.h"

namespace heliq {
namespace {

namespace fs = std::filesystem;

// An installation folder with the four databases of the packaged configuration, not yet created.
class InitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeSystem();
    SessionPool::ResetAll();
    dir_ = fs::temp_directory_path() /
           ("heliq-init-test-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    SetSettingsText("install_dir = '" + dir_.string() +
                    "'\n[connections]\nHeliq = 'sqlite:heliq.db'\nRAvuruvo = 'sqlite:heliq.db'\n"
                    "BackOffice = 'sqlite:backoffice.db'\nDirectory = 'sqlite:directory.db'\n"
                    "[log]\nfile = ''\n");
  }
  void TearDown() override {
    SessionPool::ResetAll();
    fs::remove_all(dir_);
  }

  int64_t Count(const std::string& file, const std::string& sql) {
    auto session = OpenSession("sqlite:" + (dir_ / file).string(), dir_.string());
    return session->Query(sql, {}).rows.at(0).at(0).ToLongLong();
  }

  fs::path dir_;
};

TEST_F(InitTest, WithoutDemoLoadsTheReferenceDataOnly) {
  const std::string summary = InitializeDatabase(false);
  EXPECT_NE(summary.find("reference data loaded"), std::string::npos) << summary;
  EXPECT_EQ(summary.find("demo"), std::string::npos) << summary;
  // What dispatching, escalation, the maintenance services and the admin panel read.
  EXPECT_EQ(Count("heliq.db", "select count(*) from DAEMON"), 4);
  EXPECT_EQ(
      Count("heliq.db", "select count(*) from PARAMETERS where PARAM_NAME = 'MaxHours_Assigned'"),
      1);
  EXPECT_EQ(Count("heliq.db", "select count(*) from CCEDISWEIGHT"), 7);
  EXPECT_EQ(
      Count("heliq.db", "select count(*) from EMAIL where MAIL_ID in (29, 30, 31, 33, 34, 35)"), 6);
  EXPECT_EQ(Count("heliq.db", "select count(*) from I18NTEXT where LABEL = 'MAIL34_SUBJECT'"), 1);
  EXPECT_EQ(Count("heliq.db", "select count(*) from FAQPARAMETER where PARAMNAME = 'MAILNOTIFY'"),
            1);
  // No demo people, rules, requests or master data.
  EXPECT_EQ(Count("heliq.db", "select count(*) from CCEDISRULE"), 0);
  EXPECT_EQ(Count("heliq.db", "select count(*) from FAQLIST"), 0);
  EXPECT_EQ(Count("heliq.db", "select count(*) from SITE"), 0);
  EXPECT_EQ(Count("directory.db", "select count(*) from DIR_USER"), 0);
}

TEST_F(InitTest, DemoAddsRulesPeopleAndMasterData) {
  const std::string summary = InitializeDatabase(true);
  EXPECT_NE(summary.find("demo data loaded"), std::string::npos) << summary;
  EXPECT_EQ(Count("heliq.db", "select count(*) from DAEMON"), 4);
  EXPECT_EQ(Count("heliq.db", "select count(*) from CCEDISRULE"), 3);
  EXPECT_GT(Count("heliq.db", "select count(*) from SITE"), 0);
  EXPECT_GT(Count("directory.db", "select count(*) from DIR_USER where LOGIN = 'cce1'"), 0);
}

// The directory's database already holds a table of the schema: init fails there, says which
// database, and the system database it had already filled in the same run stays empty.
TEST_F(InitTest, FailureNamesTheDatabaseAndChangesNone) {
  OpenSession("sqlite:" + (dir_ / "directory.db").string(), dir_.string())
      ->ExecuteScript("CREATE TABLE DIR_USER (LOGIN TEXT)");
  try {
    InitializeDatabase(true);
    FAIL() << "no error";
  } catch (const ComError& e) {
    EXPECT_NE(e.description().find("database sqlite:directory.db (Directory)"), std::string::npos)
        << e.description();
  }
  SessionPool::ResetAll();
  EXPECT_EQ(Count("heliq.db", "select count(*) from sqlite_master where type = 'table'"), 0);
  EXPECT_EQ(Count("directory.db", "select count(*) from sqlite_master where type = 'table'"), 1);

  // Once the obstacle is gone, the same init succeeds.
  OpenSession("sqlite:" + (dir_ / "directory.db").string(), dir_.string())
      ->ExecuteScript("DROP TABLE DIR_USER");
  InitializeDatabase(false);
  EXPECT_EQ(Count("heliq.db", "select count(*) from DAEMON"), 4);
}

}  // namespace
}  // namespace heliq
