// The report component's stand-in and the workbook file it writes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "common/heliq_utilities.h"
#include "common/report_component.h"
#include "platform/com_error.h"
#include "portal/report/report_stand_in.h"
#include "portal/report/workbook_file.h"
#include "tests/support/database_fixture.h"
#include "tests/support/report_support.h"

namespace heliq {
namespace {

namespace fs = std::filesystem;

const std::string kSampleTemplate =
    std::string(HELIQ_SOURCE_DIR) + "/portal/report/templates/service_desk_analysis.hrt";

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void ExpectError(int32_t number, const std::function<void()>& body) {
  try {
    body();
    ADD_FAILURE() << "no error raised";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), number) << e.description();
  }
}

// The workbook file needs no database: a folder of its own.
class WorkbookFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterReportComponents();
    dir_ = fs::temp_directory_path() /
           ("heliq-workbook-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    spreadsheet_ = CreateObjectAs<SpreadsheetApplication>(kSpreadsheetApplicationClassId);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  fs::path dir_;
  std::unique_ptr<SpreadsheetApplication> spreadsheet_;
};

class ReportTest : public testing::DatabaseTest {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    if (IsSkipped()) return;
    report_ = CreateObjectAs<ReportComponent>(kReportClassId);
  }

  fs::path WriteFile(const std::string& name, const std::string& text) {
    const fs::path path = install_dir() / name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  bool ValidateTestDatabase() {
    const testing::DatabaseFields fields = testing::FieldsFor(connection_string());
    return report_->IsDBValid(fields.server, fields.database, fields.login, fields.password);
  }

  std::unique_ptr<ReportComponent> report_;
};

TEST_F(WorkbookFileTest, ReadsBackCellForCell) {
  // Enough distinct texts, and one long text, that the shared string table must continue over
  // several records and split a string between them.
  Worksheet many{"Many texts", {}};
  for (int i = 0; i < 1500; ++i) many.rows.push_back({Variant("text number " + std::to_string(i))});
  const std::string long_text(20000, 'x');
  many.rows.push_back({Variant(long_text + "\xC3\xA9nd")});
  const std::vector<Worksheet> sheets = {
      {"Donn\xC3\xA9"
       "es",
       {{Variant("Name"), Variant("Count"), Variant("Share"), Variant("Open"), Variant("When")},
        {Variant("caf\xC3\xA9 \xE2\x82\xAC"), Variant(int32_t{42}), Variant(2.5), Variant(true),
         Variant(DateTime{2009, 1, 1, 7, 5, 9})},
        {Variant(), Variant::Null(), Variant(int64_t{5000000000}), Variant(false),
         Variant("two\nlines")}}},
      many,
      {"Empty", {}}};
  const fs::path path = dir_ / "book.xls";
  spreadsheet_->SaveWorkbook(sheets, path.string());

  const auto read = testing::ReadWorkbook(path);
  ASSERT_EQ(read.size(), 3u);
  EXPECT_EQ(read[0].name,
            "Donn\xC3\xA9"
            "es");
  EXPECT_EQ(read[0].Cell(0, 4), "When");
  EXPECT_EQ(read[0].Cell(1, 0), "caf\xC3\xA9 \xE2\x82\xAC");
  EXPECT_EQ(read[0].Cell(1, 1), "42");
  EXPECT_EQ(read[0].Cell(1, 2), "2.5");
  EXPECT_EQ(read[0].Cell(1, 3), "TRUE");
  EXPECT_EQ(read[0].Cell(1, 4), "2009-01-01 07:05:09");
  EXPECT_EQ(read[0].cells.count({2, 0}) + read[0].cells.count({2, 1}), 0u) << "blank cells";
  EXPECT_EQ(read[0].Cell(2, 2), "5000000000");
  EXPECT_EQ(read[0].Cell(2, 3), "FALSE");
  EXPECT_EQ(read[0].Cell(2, 4), "two\nlines");
  ASSERT_EQ(read[1].rows, 1501);
  for (int i = 0; i < 1500; i += 97) EXPECT_EQ(read[1].Cell(i, 0), many.rows[i][0].ToText());
  EXPECT_EQ(read[1].Cell(1500, 0), long_text + "\xC3\xA9nd");
  EXPECT_EQ(read[2].name, "Empty");
  EXPECT_TRUE(read[2].cells.empty());
}

TEST_F(WorkbookFileTest, LargeWorkbookOutgrowsTheHeadersFatList) {
  // About 7.5 MB of cells: more FAT sectors than the container's header can list.
  Worksheet sheet{"Numbers", {}};
  for (int r = 0; r < 30000; ++r) {
    sheet.rows.emplace_back();
    for (int c = 0; c < 14; ++c) sheet.rows.back().push_back(Variant(int32_t{r * 14 + c}));
  }
  const fs::path path = dir_ / "large.xls";
  spreadsheet_->SaveWorkbook({sheet}, path.string());
  ASSERT_GT(fs::file_size(path), 109u * 128 * 512);
  const auto read = testing::ReadWorkbook(path);
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(read[0].rows, 30000);
  EXPECT_EQ(read[0].Cell(29999, 13), std::to_string(29999 * 14 + 13));
}

TEST_F(WorkbookFileTest, RefusesWhatTheFormatCannotHoldAndLeavesTheFileAlone) {
  const fs::path path = dir_ / "kept.xls";
  std::ofstream(path) << "earlier report";
  const std::vector<std::vector<Worksheet>> refused = {
      {},
      {{"", {}}},
      {{std::string(32, 'n'), {}}},
      {{"a/b", {}}},
      {{"'quoted'", {}}},
      {{"Sheet", {}}, {"SHEET", {}}},
      {{"Rows", std::vector<std::vector<Variant>>(65537)}},
      {{"Columns", {std::vector<Variant>(257, Variant(1))}}}};
  for (const auto& sheets : refused) {
    ExpectError(err::kInvalidProcedureCall, [&] { spreadsheet_->SaveWorkbook(sheets, path); });
  }
  EXPECT_EQ(ReadBytes(path), "earlier report");
  ExpectError(err::kPathNotFound, [&] {
    spreadsheet_->SaveWorkbook({{"A", {}}}, (dir_ / "missing" / "r.xls").string());
  });
}

TEST_P(ReportTest, GeneratesEachTemplateSheetFromTheDatabase) {
  LoadDemoData();
  Exec(
      "INSERT INTO QUESTIONS (Q_ID, Q_STATUS, CENTER, D_DIRECT_TO, REGISTEREDDATE, Q_DESC) "
      "VALUES (?, ?, ?, ?, ?, ?)",
      {Variant(7), Variant(25), Variant(1), Variant("cce1"),
       Variant(DateTime{2008, 12, 30, 10, 0, 0}), Variant("Printer jams")});
  Exec("INSERT INTO QUESTIONS (Q_ID, Q_STATUS, CENTER) VALUES (?, ?, ?)",
       {Variant(8), Variant(25), Variant(2)});
  Exec("INSERT INTO QUESTIONS (Q_ID, Q_STATUS, CENTER) VALUES (?, ?, ?)",
       {Variant(9), Variant(150), Variant(2)});
  ASSERT_TRUE(report_->isTemplateValid(kSampleTemplate));
  ASSERT_TRUE(ValidateTestDatabase());
  const fs::path target = install_dir() / "var" / "files" / "Analysis" / "report.xls";
  report_->GenerateReport(kSampleTemplate, target.string());

  const auto read = testing::ReadWorkbook(target);
  ASSERT_EQ(read.size(), 6u);
  EXPECT_EQ(read[0].name, "Requests by status");
  EXPECT_EQ(read[0].rows, 3);
  EXPECT_EQ(read[0].Cell(0, 0), "Status");
  EXPECT_EQ(read[0].Cell(1, 0), "25");
  EXPECT_EQ(read[0].Cell(1, 1), "2");
  EXPECT_EQ(read[0].Cell(2, 0), "150");
  EXPECT_EQ(read[0].Cell(2, 1), "1");
  EXPECT_EQ(read[3].name, "Open requests");
  EXPECT_EQ(read[3].rows, 4);
  EXPECT_EQ(read[3].Cell(1, 3), "cce1");
  EXPECT_EQ(read[3].Cell(1, 4), "2008-12-30 10:00:00");
  EXPECT_EQ(read[3].Cell(1, 5), "Printer jams");
}

TEST_P(ReportTest, TemplateAndDatabaseChecksAnswerFalseAndGenerateNothing) {
  const std::string header = "[Report]\n[Sheet1]\nName=Status\nQuery=RequestsByStatus\n";
  EXPECT_TRUE(report_->isTemplateValid(WriteFile("good.hrt", "; note\n" + header).string()));
  EXPECT_FALSE(report_->isTemplateValid((install_dir() / "none.hrt").string()));
  EXPECT_FALSE(report_->isTemplateValid(WriteFile("a.hrt",
                                                  "[Sheet1]\nName=S\n"
                                                  "Query=RequestsByStatus\n")
                                            .string()));
  EXPECT_FALSE(report_->isTemplateValid(WriteFile("b.hrt", "[Report]\n").string()));
  EXPECT_FALSE(report_->isTemplateValid(
      WriteFile("c.hrt", "[Report]\n[Sheet1]\nName=S\nQuery=DROP TABLE QUESTIONS\n").string()));
  EXPECT_FALSE(report_->isTemplateValid(WriteFile("d.hrt", header + "garbage\n").string()));
  EXPECT_FALSE(report_->isTemplateValid(
      WriteFile("e.hrt", header + "[Sheet2]\nName=STATUS\nQuery=RequestsByCentre\n").string()));

  const fs::path target = install_dir() / "r.xls";
  ExpectError(err::kInvalidProcedureCall,
              [&] { report_->GenerateReport(kSampleTemplate, target.string()); });
  const fs::path missing = install_dir() / "missing.db";
  EXPECT_FALSE(report_->IsDBValid("sqlite", missing.string(), "", ""));
  EXPECT_FALSE(fs::exists(missing)) << "checking must not create a database";
  EXPECT_FALSE(report_->IsDBValid("SQLite", WriteFile("other.db", "").string(), "", ""));
  EXPECT_FALSE(report_->IsDBValid("127.0.0.1:1", "heliq", "nobody", "secret"));
  EXPECT_FALSE(report_->IsDBValid("sqlite", "", "", ""));
  ExpectError(err::kInvalidProcedureCall,
              [&] { report_->GenerateReport(kSampleTemplate, target.string()); });
  EXPECT_FALSE(fs::exists(target));

  ASSERT_TRUE(ValidateTestDatabase());
  ExpectError(err::kInvalidProcedureCall, [&] {
    report_->GenerateReport((install_dir() / "b.hrt").string(), target.string());
  });
  EXPECT_FALSE(fs::exists(target));
}

TEST_P(ReportTest, SettingsRoundTripAndNeverTakeAPassword) {
  const std::string folder = install_dir().string();
  EXPECT_EQ(report_->GetData(folder, "Mail List", "MailIDs"), "");
  report_->SaveData(folder, "Mail List", "MailIDs", "a@example.com; b@example.com");
  report_->SaveData(folder, "Database Settings", "DBServer", "db1");
  report_->SaveData(folder, "database settings", "dbserver", " db2 = main ");
  EXPECT_EQ(report_->GetData(folder, "DATABASE SETTINGS", "DBServer"), "db2 = main");
  EXPECT_EQ(report_->GetData(folder, "Mail List", "MailIDs"), "a@example.com; b@example.com");

  const fs::path file = install_dir() / kReportSettingsFileName;
  const std::string before = ReadBytes(file);
  ExpectError(err::kInvalidProcedureCall,
              [&] { report_->SaveData(folder, "Database Settings", "Password", "secret"); });
  ExpectError(err::kInvalidProcedureCall,
              [&] { report_->SaveData(folder, "Database Settings", "DBPassword", "secret"); });
  ExpectError(err::kInvalidProcedureCall,
              [&] { report_->SaveData(folder, "Mail List", "MailIDs", "a\nb=c"); });
  ExpectError(err::kInvalidProcedureCall,
              [&] { report_->SaveData(folder, "Mail List", "Mail=IDs", "x"); });
  EXPECT_EQ(ReadBytes(file), before);
  ExpectError(err::kPathNotFound, [&] {
    report_->SaveData((install_dir() / "missing").string(), "Mail List", "MailIDs", "x");
  });
}

TEST_P(ReportTest, MailsTheFileAsAnAttachment) {
  const std::string bytes = std::string("\xD0\xCF\x11\xE0", 4) + std::string(3000, '\0') + "end";
  const fs::path file = WriteFile("r.xls", bytes);
  ExpectError(err::kInvalidProcedureCall, [&] {
    report_->SendMail("reports@example.com", " ; ", "Report", "Attached.", file.string());
  });
  ExpectError(err::kFileNotFound, [&] {
    report_->SendMail("reports@example.com", "a@example.com", "Report", "Attached.",
                      (install_dir() / "none.xls").string());
  });
  EXPECT_TRUE(testing::MailsBelow(install_dir()).empty());

  report_->SendMail("reports@example.com", " a@example.com ;; b@example.com ", "Monthly report",
                    "Attached.", file.string());
  const auto mails = testing::MailsBelow(install_dir());
  ASSERT_EQ(mails.size(), 1u);
  const std::string& mail = mails[0];
  const std::string to = mail.substr(mail.find("To:"), mail.find("\r\n", mail.find("To:")));
  EXPECT_NE(to.find("a@example.com"), std::string::npos) << mail;
  EXPECT_NE(to.find("b@example.com"), std::string::npos) << mail;
  EXPECT_NE(mail.find("Monthly report"), std::string::npos);
  const size_t part = mail.find("filename=\"r.xls\"");
  ASSERT_NE(part, std::string::npos) << mail;
  const size_t start = mail.find("\r\n\r\n", part) + 4;
  const std::string encoded = mail.substr(start, mail.find("\r\n--", start) - start);
  EXPECT_EQ(testing::DecodeBase64(encoded), bytes);
}

INSTANTIATE_DATABASE_TEST_SUITE(ReportTest);

}  // namespace
}  // namespace heliq
