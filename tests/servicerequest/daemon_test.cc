// Scheduled-service settings: the DAEMON row and the registry values the scheduling service reads.
#include "servicerequest/question/daemon.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/com_error.h"
#include "platform/object_context.h"
#include "platform/operation_table.h"
#include "platform/registry_store.h"
#include "tests/support/database_fixture.h"

namespace heliq {
namespace {

using testing::DatabaseTest;
using testing::kTestNow;

constexpr std::string_view kParametersKey =
    "HKLM\\SOFTWARE\\Vorn\\Vorn Xentra\\ConfigTypes\\WebServerConfig\\Modules\\Heliq\\Services\\"
    "HlqNTService\\Parameters";

class DaemonTest : public DatabaseTest {
 protected:
  void AddService(const std::string& name, int status = 0, int interval = 24) {
    Exec("insert into DAEMON (NAME, STATUS, INTERVAL, COMMENTS) values (?, ?, ?, 'as installed')",
         {Variant(name), Variant(status), Variant(interval)});
  }

  void Save(const std::string& name, bool status, int32_t interval, const std::string& comments) {
    RunUnitOfWork([&] { Daemon().SaveDaemonData(name, status, interval, comments); });
  }

  RegistryStore Registry() { return RegistryStore(install_dir() / "var" / "registry.txt"); }

  // "Name=value" of every registry value in file order (for a fresh store: the order written).
  std::vector<std::string> RegistryValues() {
    std::vector<std::string> out;
    for (const auto& value : Registry().List()) {
      EXPECT_EQ(value.key, kParametersKey);
      out.push_back(value.name + "=" + value.value);
    }
    return out;
  }

  ResultSet Row(const std::string& name) {
    return Rows("select NAME, STATUS, INTERVAL, COMMENTS from DAEMON where NAME = ?",
                {Variant(name)});
  }
};

TEST_P(DaemonTest, SwitchingOnWritesTheRowAndEachServicesValuesInItsOrder) {
  const std::string now = kTestNow.ToText();
  struct Case {
    std::string service;
    std::vector<std::string> values;
  };
  const std::vector<Case> cases = {
      {"Archive", {"Archive_Run=1", "Archive_Time=" + now, "Archive_Int=12"}},
      {"Delete", {"Cleanup_Run=1", "Cleanup_Int=12", "Cleanup_Time=" + now}},
      {"Dormant User Expiry", {"Dormant_Run=1", "Dormant_Time=" + now, "Dormant_Int=12"}},
      {"Alert", {"Sonr_Run=1", "Sonr_Time=" + now, "Sonr_Int=12"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.service);
    std::filesystem::remove(Registry().file());
    AddService(c.service);
    Save(c.service, true, 12, "nightly, it's quiet");
    EXPECT_EQ(RegistryValues(), c.values);
    const ResultSet row = Row(c.service);
    ASSERT_EQ(row.rows.size(), 1u);
    EXPECT_EQ(row.rows[0][1], Variant(1));
    EXPECT_EQ(row.rows[0][2], Variant(12));
    EXPECT_EQ(row.rows[0][3].ToText(), "nightly, it's quiet");
  }
  EXPECT_EQ(Count("DAEMON"), 4);
  EXPECT_TRUE(testing::RecordingLog::Entries().empty());
}

TEST_P(DaemonTest, SwitchingOffKeepsTheLastStartTime) {
  AddService("Archive", 1);
  Save("Archive", true, 24, "on");
  {
    ScopedFixedTime later(kTestNow.AddSeconds(86400));
    Save("Archive", false, 48, "off for the audit");
  }
  EXPECT_EQ(RegistryValues(),
            (std::vector<std::string>{"Archive_Run=0", "Archive_Time=" + kTestNow.ToText(),
                                      "Archive_Int=48"}));
  const ResultSet row = Row("Archive");
  EXPECT_EQ(row.rows[0][1], Variant(0));
  EXPECT_EQ(row.rows[0][2], Variant(48));
  EXPECT_EQ(row.rows[0][3].ToText(), "off for the audit");

  // Switched off from the start: no time value at all.
  AddService("Alert", 1);
  Save("Alert", false, 6, "");
  EXPECT_EQ(Registry().Read(std::string(kParametersKey) + "\\Sonr_Time"), std::nullopt);
  EXPECT_EQ(Registry().Read(std::string(kParametersKey) + "\\Sonr_Run"), "0");
}

TEST_P(DaemonTest, NamesOutsideTheFourWriteNoRegistryValue) {
  // The row is found as the database compares names, the registry only by the exact name.
  AddService("Archive");
  Save("archive", true, 7, "lower case");
  const ResultSet row = Row("Archive");
  ASSERT_EQ(row.rows.size(), 1u);
  EXPECT_EQ(row.rows[0][0].ToText(), "Archive");
  EXPECT_EQ(row.rows[0][1], Variant(1));
  EXPECT_EQ(row.rows[0][2], Variant(7));
  Save("Archive ", true, 8, "trailing blank");
  Save("Backup", true, 9, "unknown");
  EXPECT_FALSE(std::filesystem::exists(Registry().file()));
  EXPECT_EQ(Count("DAEMON"), 1) << "no row is ever added";
}

TEST_P(DaemonTest, AServiceWithoutARowStillGetsItsRegistryValues) {
  Save("Delete", true, 168, "no row");
  EXPECT_EQ(Count("DAEMON"), 0);
  EXPECT_EQ(RegistryValues(), (std::vector<std::string>{"Cleanup_Run=1", "Cleanup_Int=168",
                                                        "Cleanup_Time=" + kTestNow.ToText()}));
}

TEST_P(DaemonTest, RegistryFailureIsReportedAndTheCallRollsBack) {
  AddService("Archive", 0, 24);
  // The store's file cannot be written: a folder stands where it should be.
  std::filesystem::create_directories(Registry().file());
  try {
    Save("Archive", true, 12, "changed");
    FAIL() << "no error";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kPathFileAccess);
    EXPECT_NE(e.description().find("METHOD: HlqServiceRequestMTS.Daemon.SaveDameonData"),
              std::string::npos)
        << e.description();
  }
  const ResultSet row = Row("Archive");
  EXPECT_EQ(row.rows[0][1], Variant(0));
  EXPECT_EQ(row.rows[0][2], Variant(24));
  EXPECT_EQ(row.rows[0][3].ToText(), "as installed");
  ASSERT_EQ(testing::RecordingLog::Entries().size(), 1u);
}

// Lowers the file-size limit of the process while it lives: writes that would grow a file past
// `bytes` fail with EFBIG, as on a full disk or an exhausted quota.
class ScopedFileSizeLimit {
 public:
  explicit ScopedFileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    previous_signal_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
  }
  ~ScopedFileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previous_signal_);
  }
  ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
  ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;

 private:
  rlimit saved_{};
  void (*previous_signal_)(int) = SIG_DFL;
};

// The store fills up half way through the service's values (the run and time values would still
// fit, the longer interval not): neither the row nor any registry value changes.
TEST_P(DaemonTest, RegistryFailureMidwayLeavesTheRowAndTheStoreAsTheyWere) {
  AddService("Archive", 0, 24);
  Save("Archive", false, 24, "as installed");
  {
    ScopedFixedTime earlier(kTestNow.AddSeconds(-86400));
    Save("Archive", true, 24, "as installed");
  }
  Save("Archive", false, 24, "as installed");
  const std::vector<std::string> before = RegistryValues();
  ASSERT_EQ(before.size(), 3u);
  const auto size = std::filesystem::file_size(Registry().file());
  try {
    ScopedFileSizeLimit full(size + 2);
    Save("Archive", true, 123456, "changed");
    ADD_FAILURE() << "no error";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kPathFileAccess) << e.description();
  }
  EXPECT_EQ(RegistryValues(), before);
  const ResultSet row = Row("Archive");
  EXPECT_EQ(row.rows[0][1], Variant(0));
  EXPECT_EQ(row.rows[0][2], Variant(24));
  EXPECT_EQ(row.rows[0][3].ToText(), "as installed");
}

TEST_P(DaemonTest, OutsideAUnitOfWorkTheRowStaysChangedWhenTheRegistryFails) {
  AddService("Archive", 0, 24);
  std::filesystem::create_directories(Registry().file());
  EXPECT_THROW(Daemon().SaveDaemonData("Archive", true, 12, "changed"), ComError);
  EXPECT_EQ(Row("Archive").rows[0][1], Variant(1));
}

TEST_P(DaemonTest, RunsThroughTheOperationTableAndConcurrently) {
  AddService("Archive");
  AddService("Alert");
  const OperationSpec* spec = FindOperation("HlqServiceRequestMTS.Daemon", "SaveDaemonData");
  ASSERT_NE(spec, nullptr);
  auto call = [&](const char* service, int32_t interval) {
    Dictionary args;
    args.Set("i_sServiceName", Variant(service));
    args.Set("i_bStatus", Variant("True"));
    args.Set("i_lInterval", Variant(std::to_string(interval)));
    args.Set("i_sComments", Variant("via table"));
    CallOperation(*spec, args);
  };
  std::thread archive([&] { call("Archive", 3); });
  std::thread alert([&] { call("Alert", 4); });
  archive.join();
  alert.join();
  EXPECT_EQ(Registry().Read(std::string(kParametersKey) + "\\Archive_Int"), "3");
  EXPECT_EQ(Registry().Read(std::string(kParametersKey) + "\\Sonr_Int"), "4");
  EXPECT_EQ(Registry().List().size(), 6u);
  EXPECT_EQ(Value("select count(*) from DAEMON where STATUS = 1").ToLong(), 2);
}

INSTANTIATE_DATABASE_TEST_SUITE(DaemonTest);

}  // namespace
}  // namespace heliq
