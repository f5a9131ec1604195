// The report wizard's core, driven as its two pages drive it, with the real report component,
// file store and mail pickup folder.
#include "adminutility/core/report_wizard.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "adminutility/core/admin_ui.h"
#include "common/report_component.h"
#include "platform/com_error.h"
#include "platform/component.h"
#include "portal/filehandling/file_store.h"
#include "portal/report/report_stand_in.h"
#include "tests/support/database_fixture.h"
#include "tests/support/report_support.h"

namespace heliq::admin {
namespace {

namespace fs = std::filesystem;

const std::string kSampleTemplate =
    std::string(HELIQ_SOURCE_DIR) + "/portal/report/templates/service_desk_analysis.hrt";

// Records what the wizard shows; answers yes/no questions from a script ("no" when it runs out).
class RecordingUi : public AdminUi {
 public:
  void ShowMessage(std::string_view text, MessageIcon icon) override {
    messages.emplace_back(text);
    icons.push_back(icon);
  }
  bool AskYesNo(std::string_view text) override {
    questions.emplace_back(text);
    if (answers.empty()) return false;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void SetBusy(bool busy) override { busy_changes.push_back(busy); }

  std::vector<std::string> messages;
  std::vector<MessageIcon> icons;
  std::vector<std::string> questions;
  std::deque<bool> answers;
  std::vector<bool> busy_changes;
};

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

ReportSource ValidSource(const std::string& connection_string) {
  const testing::DatabaseFields fields = testing::FieldsFor(connection_string);
  return {fields.server, fields.database, fields.login, fields.password, kSampleTemplate};
}

class ReportWizardTest : public testing::DatabaseTest {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    if (IsSkipped()) return;
    LoadDemoData();
    program_folder_ = (install_dir() / "program").string();
    fs::create_directories(program_folder_);
  }

  // A wizard on its second page, ready to generate.
  std::unique_ptr<ReportWizard> AtSecondPage() {
    auto wizard = ReportWizard::Open(ui_, program_folder_);
    EXPECT_TRUE(wizard != nullptr);
    if (!wizard) return nullptr;
    EXPECT_TRUE(wizard->Next(ValidSource(connection_string())));
    wizard->OpenSecondPage();
    return wizard;
  }

  fs::path Analysis() const { return install_dir() / "var" / "files" / "Analysis"; }
  fs::path Stored(const std::string& name) const {
    return FileStoreRoot() / "0" / "kind-10" / name;
  }

  RecordingUi ui_;
  std::string program_folder_;
};

TEST_P(ReportWizardTest, FirstPageShowsTextsAndRefusesABadTemplateOrDatabase) {
  auto wizard = ReportWizard::Open(ui_, program_folder_);
  ASSERT_NE(wizard, nullptr);
  EXPECT_EQ(wizard->Caption("HQLBL4305"), "Analysis Report Wizard");
  EXPECT_EQ(wizard->Caption("HQLBL4999"), "HQLBL4999");
  const DictionaryPtr texts = GetMultipleI18NText({"hqlbl4305", "HQLBL4999", " "}, 1033);
  ASSERT_NE(texts, nullptr);
  EXPECT_EQ(texts->size(), 1u);
  EXPECT_EQ(texts->Get("hqlbl4305").ToText(), "Analysis Report Wizard");
  EXPECT_EQ(GetMultipleI18NText({}, 1033), nullptr);

  ReportSource source = ValidSource(connection_string());
  source.template_path = (install_dir() / "none.hrt").string();
  EXPECT_FALSE(wizard->Next(source));
  source = ValidSource(connection_string());
  source.database += "-missing";
  EXPECT_FALSE(wizard->Next(source));
  EXPECT_EQ(ui_.messages, (std::vector<std::string>{"The report template is not valid.",
                                                    "The database details are not valid."}));
  EXPECT_TRUE(wizard->Next(ValidSource(connection_string())));
  EXPECT_EQ(ui_.messages.size(), 2u);

  // Without its report component the wizard does not open, and says why.
  ScopedRegistration missing(std::string(kReportClassId), []() -> std::unique_ptr<Component> {
    throw ComError(err::kCannotCreateComponent, "test", "report component not installed");
  });
  EXPECT_EQ(ReportWizard::Open(ui_, program_folder_), nullptr);
  ASSERT_EQ(ui_.messages.size(), 3u);
  EXPECT_NE(ui_.messages[2].find("report component not installed"), std::string::npos);
  EXPECT_EQ(ui_.icons[2], MessageIcon::kExclamation);
}

TEST_P(ReportWizardTest, TargetNameMustBeAnXlsNameInAnyCase) {
  auto wizard = AtSecondPage();
  ASSERT_NE(wizard, nullptr);
  struct Refused {
    std::string name;
    std::string message;
  };
  const std::vector<Refused> refused = {
      {"   ", "Enter a target file name."},
      {"report.xlsx",
       "Target file name \"report.xlsx\" is not a spreadsheet file. The name must end in .xls"},
      {"xls", "Target file name \"xls\" is not a spreadsheet file. The name must end in .xls"},
      {" .XLS ", "Enter a file name in front of the .xls extension."}};
  for (const Refused& r : refused) {
    ui_.messages.clear();
    ReportTarget target{r.name, "", false, false};
    EXPECT_FALSE(wizard->GenerateReport(target)) << r.name;
    EXPECT_EQ(ui_.messages, std::vector<std::string>{r.message}) << r.name;
  }
  EXPECT_FALSE(fs::exists(Analysis()));
  EXPECT_TRUE(ui_.questions.empty());

  for (const std::string name : {"  Monthly.XLS ", "q.Xls"}) {
    ui_.messages.clear();
    ReportTarget target{name, "", false, false};
    ASSERT_TRUE(wizard->GenerateReport(target)) << name;
    const std::string trimmed = name == "q.Xls" ? name : "Monthly.XLS";
    EXPECT_EQ(target.file_name, trimmed);
    const std::string path = wizard->analysis_folder() + "/" + trimmed;
    EXPECT_EQ(fs::path(path), Analysis() / trimmed);
    EXPECT_EQ(ui_.messages, std::vector<std::string>{"The report was generated: " + path});
    EXPECT_EQ(testing::ReadWorkbook(path).size(), 6u);
    EXPECT_EQ(ReadBytes(Stored(trimmed)), ReadBytes(path));
  }
  EXPECT_FALSE(ui_.busy_changes.empty());
  EXPECT_FALSE(ui_.busy_changes.back()) << "the pointer is back to normal";
}

TEST_P(ReportWizardTest, NoToTheReplaceQuestionGeneratesNothing) {
  auto wizard = AtSecondPage();
  ASSERT_NE(wizard, nullptr);
  ReportTarget target{"r.xls", "", false, false};
  ASSERT_TRUE(wizard->GenerateReport(target));
  const fs::path path = Analysis() / "r.xls";
  fs::remove(path);
  fs::resize_file(Stored("r.xls"), 10);
  ui_.messages.clear();

  ui_.answers = {false};
  EXPECT_FALSE(wizard->GenerateReport(target));
  ASSERT_EQ(ui_.questions.size(), 1u);
  EXPECT_EQ(ui_.questions[0], "The file \"r.xls\" already exists as \"" + path.string() +
                                  "\".\r\nDo you want to replace it?");
  EXPECT_TRUE(ui_.messages.empty());
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(fs::file_size(Stored("r.xls")), 10u);

  ui_.answers = {true};
  EXPECT_TRUE(wizard->GenerateReport(target));
  EXPECT_EQ(ReadBytes(Stored("r.xls")), ReadBytes(path));
}

// "Save As..." in another folder: the report is written there (not into the analysis folder) and
// stored under its file name; ".xls" is added to a name without it.
TEST_P(ReportWizardTest, SaveAsKeepsTheChosenFolderAndAddsTheExtension) {
  auto wizard = AtSecondPage();
  ASSERT_NE(wizard, nullptr);
  const std::string analysis = wizard->analysis_folder();
  EXPECT_EQ(SaveAsTarget(analysis + "/q3", analysis), "q3.xls");
  EXPECT_EQ(SaveAsTarget(analysis + "/./q3.XLS", analysis + "/"), "q3.XLS");
  EXPECT_EQ(SaveAsTarget("/tmp/q3", analysis), "/tmp/q3.xls");
  EXPECT_EQ(SaveAsTarget("/tmp/q3.xls.bak", ""), "/tmp/q3.xls.bak.xls");

  const fs::path elsewhere = install_dir() / "chosen";
  fs::create_directories(elsewhere);
  ReportTarget target{SaveAsTarget((elsewhere / "q3").string(), analysis), "", false, false};
  ASSERT_TRUE(wizard->GenerateReport(target)) << ui_.messages.front();
  EXPECT_TRUE(fs::exists(elsewhere / "q3.xls"));
  EXPECT_FALSE(fs::exists(Analysis() / "q3.xls"));
  EXPECT_EQ(ReadBytes(Stored("q3.xls")), ReadBytes(elsewhere / "q3.xls"));
  EXPECT_EQ(ui_.messages.back(), "The report was generated: " + (elsewhere / "q3.xls").string());

  // A path whose file name is only the extension is refused like a bare ".xls".
  ui_.messages.clear();
  ReportTarget bare{(elsewhere / ".xls").string(), "", false, false};
  EXPECT_FALSE(wizard->GenerateReport(bare));
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0], "Enter a file name in front of the .xls extension.");
}

TEST_P(ReportWizardTest, TemplatesFolderBesideTheProgramElseInTheSources) {
  // A program folder without share/heliq/templates beside it, in an install dir without sources.
  EXPECT_EQ(ReportTemplatesFolder(program_folder_), program_folder_);
  const fs::path checkout = install_dir() / "portal" / "report" / "templates";
  fs::create_directories(checkout);
  EXPECT_EQ(ReportTemplatesFolder(program_folder_), checkout.string());
  const fs::path installed = install_dir() / "share" / "heliq" / "templates";
  fs::create_directories(installed);
  EXPECT_EQ(ReportTemplatesFolder(program_folder_), installed.string());
}

TEST_P(ReportWizardTest, FailuresEndTheClickWithNothingGeneratedOrStored) {
  auto wizard = AtSecondPage();
  ASSERT_NE(wizard, nullptr);
  {
    ScopedRegistration missing(std::string(kSpreadsheetApplicationClassId),
                               []() -> std::unique_ptr<Component> {
                                 throw ComError(err::kCannotCreateComponent, "test", "missing");
                               });
    ReportTarget target{"r.xls", "", false, false};
    EXPECT_FALSE(wizard->GenerateReport(target));
    EXPECT_EQ(ui_.messages,
              std::vector<std::string>{"The spreadsheet application is not installed."});
  }
  // The template went away after the first page accepted it.
  const fs::path copy = install_dir() / "copy.hrt";
  fs::copy_file(kSampleTemplate, copy);
  auto second = ReportWizard::Open(ui_, program_folder_);
  ReportSource source = ValidSource(connection_string());
  source.template_path = copy.string();
  ASSERT_TRUE(second->Next(source));
  second->OpenSecondPage();
  fs::remove(copy);
  ui_.messages.clear();
  ReportTarget target{"r.xls", "", false, false};
  EXPECT_FALSE(second->GenerateReport(target));
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_NE(ui_.messages[0].find("template"), std::string::npos) << ui_.messages[0];
  EXPECT_EQ(ui_.icons[0], MessageIcon::kExclamation);
  EXPECT_FALSE(fs::exists(Analysis() / "r.xls"));
  EXPECT_FALSE(fs::exists(Stored("r.xls")));
}

TEST_P(ReportWizardTest, SavedDetailsComeBackButNeverThePassword) {
  auto wizard = ReportWizard::Open(ui_, program_folder_);
  ASSERT_NE(wizard, nullptr);
  ReportSource source = ValidSource(connection_string());
  source.password = "Pa55-secret";
  ASSERT_TRUE(wizard->Next(source));
  ReportTarget target = wizard->OpenSecondPage();
  EXPECT_EQ(target.file_name, "");
  target.file_name = "weekly.xls";
  target.mail_list = "ops@example.com;boss@example.com";

  target.save_details = false;
  wizard->Exit(target);
  const fs::path settings = fs::path(program_folder_) / kReportSettingsFileName;
  EXPECT_FALSE(fs::exists(settings));

  target.save_details = true;
  wizard->Exit(target);
  const std::string stored = ReadBytes(settings);
  EXPECT_EQ(stored.find("Pa55-secret"), std::string::npos) << stored;
  EXPECT_NE(stored.find(source.login.empty() ? source.server : source.login), std::string::npos);

  auto again = ReportWizard::Open(ui_, program_folder_);
  ASSERT_NE(again, nullptr);
  const ReportSource saved = again->SavedSource();
  EXPECT_EQ(saved.server, source.server);
  EXPECT_EQ(saved.database, source.database);
  EXPECT_EQ(saved.login, source.login);
  EXPECT_EQ(saved.password, "");
  EXPECT_EQ(saved.template_path, kSampleTemplate);
  const ReportTarget saved_target = again->OpenSecondPage();
  EXPECT_EQ(saved_target.file_name, "weekly.xls");
  EXPECT_EQ(saved_target.mail_list, "ops@example.com;boss@example.com");
  EXPECT_TRUE(ui_.messages.empty()) << ui_.messages.front();
}

TEST_P(ReportWizardTest, MailsTheReportWithItsTemplate) {
  auto wizard = AtSecondPage();
  ASSERT_NE(wizard, nullptr);
  ReportTarget target{"mailed.xls", "ops@example.com; boss@example.com", true, false};
  ASSERT_TRUE(wizard->GenerateReport(target)) << ui_.messages.front();
  const std::string path = wizard->analysis_folder() + "/mailed.xls";
  EXPECT_EQ(ui_.messages, std::vector<std::string>{"The report was generated: " + path +
                                                   "\r\nThe report was sent by mail."});
  const auto mails = testing::MailsBelow(install_dir());
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_NE(mails[0].find("reports@example.com"), std::string::npos);
  EXPECT_NE(mails[0].find("boss@example.com"), std::string::npos);
  EXPECT_NE(mails[0].find("filename=\"mailed.xls\""), std::string::npos);
}

INSTANTIATE_DATABASE_TEST_SUITE(ReportWizardTest);

}  // namespace
}  // namespace heliq::admin
