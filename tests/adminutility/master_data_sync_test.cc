// The master-data synchronisation runs against the simulated back office's audit trail.
#include "adminutility/core/master_data_sync.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/directory.h"
#include "platform/com_error.h"
#include "portal/backoffice/master_data_simulator.h"
#include "tests/support/database_fixture.h"
#include "tests/support/recording_admin_ui.h"

namespace heliq {
namespace {

using admin::MessageIcon;
using admin::RunMasterDataSync;
using admin::SyncGeneration;
using admin::SyncReport;
using testing::DatabaseTest;
using testing::RecordingAdminUi;
using testing::RecordingLog;

constexpr std::string_view kCrLf = "\r\n";

// The back-end selector with a default back end whose component identifier the test sets; an
// empty identifier means no default back end is configured.
class FakeSelector : public BackendSelector {
 public:
  explicit FakeSelector(std::string component_id) : component_id_(std::move(component_id)) {}
  int32_t SelectDefaultBackend() override {
    if (component_id_.empty()) throw ComError(err::kInvalidProcedureCall, "fake", "no default");
    return 3;
  }
  DictionaryPtr GetBackendProperties(int32_t) override {
    auto properties = Dictionary::Create();
    properties->Set("componentid", Variant(component_id_));
    return properties;
  }

 private:
  std::string component_id_;
};

// A counts block of the log, as a table synchroniser writes it.
std::string Counts(std::string_view table, int read, int inserted, int updated, int deleted,
                   std::optional<int> skipped) {
  std::string text = std::string(table) + " TABLE:";
  text += std::string(kCrLf) + "Records Read - " + std::to_string(read);
  text += std::string(kCrLf) + "Records Inserted - " + std::to_string(inserted);
  text += std::string(kCrLf) + "Records Updated - " + std::to_string(updated);
  text += std::string(kCrLf) + "Records Deleted - " + std::to_string(deleted);
  if (skipped) text += std::string(kCrLf) + "Records Skipped - " + std::to_string(*skipped);
  return text;
}

class MasterDataSyncTest : public DatabaseTest {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    if (IsSkipped()) return;
    LoadDemoData();
    selector_ = std::make_unique<ScopedRegistration>(std::string(kBackendSelectorClassId), [this] {
      return std::make_unique<FakeSelector>(component_id_);
    });
  }

  void TearDown() override {
    for (const auto& file : log_files_) std::filesystem::remove(file);
    selector_.reset();
    DatabaseTest::TearDown();
  }

  SyncReport Run(SyncGeneration generation) {
    ui_ = RecordingAdminUi();
    SyncReport report = RunMasterDataSync(generation, ui_);
    if (!report.log_file.empty()) log_files_.push_back(report.log_file);
    return report;
  }

  // The log file's text: UTF-16 little-endian with a byte-order mark, ASCII content expected.
  static std::string LogText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(bytes.starts_with("\xFF\xFE")) << "no byte-order mark in " << path;
    std::string text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      EXPECT_EQ(bytes[i + 1], '\0');
      text += bytes[i];
    }
    return text;
  }

  // The log as the run writes it: the three title lines, then each text after an empty line.
  static std::string ExpectedLog(const std::vector<std::string>& texts) {
    const std::string dashes(52, '-');
    std::string log = dashes + std::string(kCrLf) +
                      "Heliq Version 2.2 - MasterData Synchronization Log" + std::string(kCrLf) +
                      dashes + std::string(kCrLf);
    for (const auto& text : texts) log += std::string(kCrLf) + text + std::string(kCrLf);
    return log;
  }

  std::vector<std::pair<int32_t, std::string>> Priorities() {
    std::vector<std::pair<int32_t, std::string>> rows;
    for (const auto& row :
         Rows("select PRIORITY, DESCRIPTION from PRIORITY order by PRIORITY").rows) {
      rows.emplace_back(row[0].ToLong(), row[1].ToTextOrEmpty());
    }
    return rows;
  }

  size_t Shown(MessageIcon icon) const {
    size_t count = 0;
    for (const auto& message : ui_.messages) count += message.icon == icon ? 1 : 0;
    return count;
  }

  std::string component_id_ = "HeliqMk5.VIS";
  MasterDataSimulator back_office_;
  RecordingAdminUi ui_;

 private:
  std::unique_ptr<ScopedRegistration> selector_;
  std::vector<std::filesystem::path> log_files_;
};

TEST_P(MasterDataSyncTest, Mk5RunAppliesEveryKindOfChangeAndLogsItsCounts) {
  Exec("delete from PRIORITY where PRIORITY = 1");
  Exec("insert into PRIORITY (PRIORITY, DESCRIPTION) values (6, 'Local')");
  back_office_.Put("mk5-priorities", {{"prio", "5"}, {"dsca", "  Planned  "}});  // inserted
  back_office_.Put("mk5-priorities", {{"prio", "2"}, {"dsca", "Urgent"}});       // updated
  back_office_.Put("mk5-priorities", {{"prio", "3"}});  // updated without description
  back_office_.Remove("mk5-priorities", {"4"});         // deleted
  back_office_.Remove("mk5-priorities", {"1"});         // deleted, not in the table
  back_office_.Put("mk5-priorities", {{"prio", "6"}, {"dsca", "Six"}});  // inserted, key exists
  back_office_.Put("mk5-priorities", {{"prio", "150"}, {"dsca", "Outside 1..99"}});
  back_office_.Put("mk5-configurations", {{"ccfg", "S1000-01"}, {"desc", "Head office, Capital"}});
  back_office_.Put("mk5-objects", {{"ccfg", "S1001-01"},
                                   {"crob", "SCN10"},
                                   {"oseq", "1"},
                                   {"cser", "SN10-1"},
                                   {"item", "SCN10"},
                                   {"desc", "Scanner"}});

  const SyncReport report = Run(SyncGeneration::kMk5);

  EXPECT_EQ(Priorities(), (std::vector<std::pair<int32_t, std::string>>{
                              {2, "Urgent"}, {3, "Normal"}, {5, "Planned"}, {6, "Local"}}));
  const ResultSet site = Rows("select DESCRIPTION, CUSTOMER from SITE where SITE = 'S1000-01'");
  EXPECT_EQ(site.rows.at(0)[0], Variant("Head office, Capital"));
  EXPECT_EQ(site.rows.at(0)[1], Variant("1000"));
  EXPECT_EQ(Value("select OBJECTDESC from OBJECT where SITE = 'S1001-01' and OBJECT = 'SCN10' "
                  "and OBJECTNR = '1'"),
            Variant("Scanner"));

  const std::vector<std::string> texts = {
      "Synchronization Period: 2009-01-01 00:00:00 - 2009-01-01 07:05:09",
      Counts("PRIORITY", 6, 1, 1, 1, 3),
      "PROBLEM TABLE: No Data to synchronize",
      Counts("SITE", 1, 0, 1, 0, 0),
      Counts("OBJECT", 1, 1, 0, 0, std::nullopt),
  };
  EXPECT_EQ(LogText(report.log_file), ExpectedLog(texts));
  EXPECT_EQ(report.log_file.parent_path(),
            install_dir().parent_path() / "HlqLog" / "MasterData Synchronization");
  EXPECT_TRUE(
      report.log_file.filename().string().starts_with("SynchronizedOn 2009-01-01 07-05-09"));
  EXPECT_NE(report.summary.find(Counts("PRIORITY", 6, 1, 1, 1, 3)), std::string::npos);

  EXPECT_EQ(ui_.busy_changes, (std::vector<bool>{true, false}));
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].icon, MessageIcon::kInformation);
  EXPECT_TRUE(ui_.messages[0].text.starts_with("Mk5 MasterData Synchronization executed"));
}

TEST_P(MasterDataSyncTest, SecondRunSeesTheSameChangesAndAltersNothing) {
  back_office_.Put("mk5-priorities", {{"prio", "5"}, {"dsca", "Planned"}});
  back_office_.Put("mk5-priorities", {{"prio", "2"}, {"dsca", "Urgent"}});
  back_office_.Remove("mk5-priorities", {"4"});
  const SyncReport first = Run(SyncGeneration::kMk5);
  const auto after_first = Priorities();

  const SyncReport second = Run(SyncGeneration::kMk5);

  EXPECT_EQ(Priorities(), after_first);
  EXPECT_NE(second.log_file, first.log_file);
  const std::string log = LogText(second.log_file);
  EXPECT_NE(log.find(Counts("PRIORITY", 3, 0, 1, 0, 2)), std::string::npos) << log;
  // The stored date is the run's starting point, never its result.
  EXPECT_EQ(Value("select PARAM_VALUE from PARAMETERS where PARAM_NAME = 'LastSynchronizedDate' "
                  "and PARAM_TYPE = 3"),
            Variant("2009-01-01 00:00:00"));
}

TEST_P(MasterDataSyncTest, FailingTableEndsAloneAndKeepsWhatItWrote) {
  back_office_.Put("mk5-priorities", {{"prio", "5"}, {"dsca", "Planned"}});
  back_office_.Put("mk5-priorities", {{"prio", "7"}, {"dsca", "Deferred"}});
  back_office_.RefuseNextRead("mk5-priorities", "connection lost", 1);
  back_office_.RefuseNextRead("mk5-problems", "VIS server down", 0);
  back_office_.Put("mk5-configurations", {{"ccfg", "S2000-01"}, {"ofbp", "2001"}});

  const SyncReport report = Run(SyncGeneration::kMk5);

  EXPECT_EQ(Value("select DESCRIPTION from PRIORITY where PRIORITY = 5"), Variant("Planned"));
  EXPECT_EQ(Value("select count(*) from PRIORITY where PRIORITY = 7").ToLong(), 0);
  EXPECT_EQ(Value("select CUSTOMER from SITE where SITE = 'S2000-01'"), Variant("2001"));
  const std::string priority_failure =
      "PRIORITY TABLE: synchronization stopped - connection lost (1099)";
  const std::string problem_failure =
      "PROBLEM TABLE: synchronization stopped - VIS server down (1099)";
  EXPECT_EQ(LogText(report.log_file),
            ExpectedLog({"Synchronization Period: 2009-01-01 00:00:00 - 2009-01-01 07:05:09",
                         priority_failure, problem_failure, Counts("SITE", 1, 0, 1, 0, 0),
                         Counts("OBJECT", 0, 0, 0, 0, std::nullopt)}));

  ASSERT_EQ(Shown(MessageIcon::kExclamation), 1u);
  EXPECT_EQ(ui_.messages[0].text, "ErrorMessage:HeliqAdminUtility.MDSynch.Mk5Synchronize - \r\n" +
                                      priority_failure + "\r\n" + problem_failure);
  EXPECT_EQ(Shown(MessageIcon::kInformation), 1u);
  bool logged = false;
  for (const auto& entry : RecordingLog::Entries()) {
    logged |= entry.text.find("MDSynch.Mk5Priorities caught: connection lost") != std::string::npos;
  }
  EXPECT_TRUE(logged);

  // The refusals were for one read each: the next run goes through.
  Run(SyncGeneration::kMk5);
  EXPECT_EQ(Value("select DESCRIPTION from PRIORITY where PRIORITY = 7"), Variant("Deferred"));
  EXPECT_EQ(Shown(MessageIcon::kExclamation), 0u);
}

TEST_P(MasterDataSyncTest, RunThatCannotStartSaysWhyAndSynchronisesNothing) {
  back_office_.Put("mk5-priorities", {{"prio", "5"}, {"dsca", "Planned"}});
  back_office_.Put("mk4-priorities", {{"prno", "5"}, {"desc", "Planned"}});
  const auto before = Priorities();
  const std::string no_component =
      " a VIS Component; maintain a valid VIS Rule or \r\na default VIS Component";

  component_id_ = "";
  SyncReport report = Run(SyncGeneration::kMk5);
  EXPECT_EQ(LogText(report.log_file), ExpectedLog({"The system cannot get" + no_component}));
  report = Run(SyncGeneration::kMk4);
  EXPECT_EQ(LogText(report.log_file), ExpectedLog({"The system cannot find" + no_component}));
  EXPECT_EQ(ui_.busy_changes, (std::vector<bool>{true, false}));
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].icon, MessageIcon::kExclamation);

  component_id_ = "HeliqMk4.VIS";
  Exec("delete from PARAMETERS where PARAM_NAME = 'LastSynchronizedDate' and PARAM_TYPE = 1");
  report = Run(SyncGeneration::kMk4);
  EXPECT_EQ(LogText(report.log_file),
            ExpectedLog({"The system cannot get LastSynchronizedDate from Heliq Parameters, date "
                         "is empty."}));
  Exec("update PARAMETERS set PARAM_VALUE = 'soon' where PARAM_NAME = 'LastSynchronizedDate'");
  report = Run(SyncGeneration::kMk5);
  EXPECT_NE(LogText(report.log_file).find("\"soon\" is not a date"), std::string::npos);
  EXPECT_EQ(Priorities(), before);
}

TEST_P(MasterDataSyncTest, Mk4RunReadsItsOwnDateTablesAndKeyRanges) {
  component_id_ = "HeliqMk4.VIS";
  back_office_.Put("mk5-priorities", {{"prio", "5"}, {"dsca", "Planned"}});
  back_office_.Put("mk4-priorities", {{"prno", "150"}, {"desc", "Deferred"}});
  back_office_.Put("mk4-symptoms", {{"csym", "LEAK"}, {"desc", "Leaks fluid"}});
  back_office_.Put("mk4-locations", {{"cloc", "S3000-01"}, {"desc", "Depot"}, {"cuno", "3000"}});
  back_office_.Put("mk4-installations", {{"cins", "INST-0001"}, {"cloc", "S1001-01"}});

  SyncReport report = Run(SyncGeneration::kMk4);

  EXPECT_EQ(LogText(report.log_file),
            ExpectedLog({"Synchronization Period: 2009-01-01 00:00:00 - 2009-01-01 07:05:09",
                         "PROBLEM TABLE: No data to synchronize", Counts("PRIORITY", 1, 1, 0, 0, 0),
                         Counts("SYMPTOM", 1, 1, 0, 0, 0), Counts("SITE", 1, 1, 0, 0, 0),
                         Counts("PRODUCT", 1, 0, 1, 0, 0)}));
  EXPECT_EQ(Value("select DESCRIPTION from PRIORITY where PRIORITY = 150"), Variant("Deferred"));
  EXPECT_EQ(Value("select count(*) from PRIORITY where PRIORITY = 5").ToLong(), 0);
  EXPECT_EQ(Value("select CUSTOMER from SITE where SITE = 'S3000-01'"), Variant("3000"));
  const ResultSet product =
      Rows("select DESCRIPTION, SITE from PRODUCT where PRODUCT = 'INST-0001'");
  EXPECT_EQ(product.rows.at(0)[0], Variant("Printer fleet, head office"));
  EXPECT_EQ(product.rows.at(0)[1], Variant("S1001-01"));
  EXPECT_TRUE(ui_.messages.at(0).text.starts_with("Mk4 MasterData Synchronization executed"));

  // Each run starts from its own stored date: after the Mk4 date nothing is left to read, while
  // the Mk5 run still reads from its own.
  Exec(
      "update PARAMETERS set PARAM_VALUE = '2009-01-01 07:06:00' "
      "where PARAM_NAME = 'LastSynchronizedDate' and PARAM_TYPE = 1");
  report = Run(SyncGeneration::kMk4);
  EXPECT_EQ(LogText(report.log_file),
            ExpectedLog(
                {"Synchronization Period: 2009-01-01 07:06:00 - 2009-01-01 07:05:09",
                 "PROBLEM TABLE: No data to synchronize", "PRIORITY TABLE: No Data to synchronize",
                 "SYMPTOM TABLE: No Data to synchronize", "SITE TABLE: No Data to Synchronize",
                 "PRODUCT TABLE: No Data to Synchronize"}));
  report = Run(SyncGeneration::kMk5);
  EXPECT_EQ(Value("select DESCRIPTION from PRIORITY where PRIORITY = 5"), Variant("Planned"));
}

INSTANTIATE_DATABASE_TEST_SUITE(MasterDataSyncTest);

}  // namespace
}  // namespace heliq
