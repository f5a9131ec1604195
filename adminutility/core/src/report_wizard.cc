#include "adminutility/core/report_wizard.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/file_handling.h"
#include "common/files_and_texts.h"
#include "common/heliq_utilities.h"
#include "common/operation_frame.h"
#include "common/report_component.h"
#include "platform/com_error.h"
#include "platform/database.h"
#include "platform/text.h"

namespace heliq::admin {
namespace {

// Followed by one "?" per label and ")".
constexpr std::string_view kSelectTextsHead =
    "SELECT LABEL, TEXT FROM I18NTEXT WHERE LOCALEID=? AND LABEL in (";

// Where the report component keeps the wizard's settings.
constexpr std::string_view kDatabaseSection = "Database Settings";
constexpr std::string_view kServerKey = "DBServer";
constexpr std::string_view kDatabaseKey = "DBName";
constexpr std::string_view kLoginKey = "LoginID";
constexpr std::string_view kTemplateSection = "Template Path";
constexpr std::string_view kTemplateKey = "Template Path";
constexpr std::string_view kMailSection = "Mail List";
constexpr std::string_view kMailKey = "MailIDs";
constexpr std::string_view kTargetSection = "Target Filename";
constexpr std::string_view kTargetKey = "Target Filename";

// The mail template of a report mail.
constexpr int32_t kReportMailId = 33;
// Reports belong to no request.
constexpr int32_t kNoRequest = 0;

constexpr std::string_view kExtension = ".XLS";

std::string Trim(std::string_view text) { return std::string(TrimSpace(text)); }

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

}  // namespace

const std::vector<std::string>& ReportWizardLabels() {
  static const std::vector<std::string> labels = {
      "HQLBL4305", "HQLBL4306", "HQLBL4307", "HQLBL4308", "HQLBL4309", "HQLBL4310", "HQLBL4311",
      "HQLBL4312", "HQLBL4313", "HQLBL4314", "HQLBL4315", "HQLBL4316", "HQLBL4319", "HQLBL4320",
      "HQLBL4321", "HQLBL4322", "HQLBL4173", "HQLBL4172", "HQLBL4313", "HQLBL4141", "HQLBL4333",
      "HQLBL4332", "HQLBL4334", "HQLBL4335", "HQLBL4336", "HQLBL4337", "HQLBL4338", "HQLBL4339"};
  return labels;
}

DictionaryPtr GetMultipleI18NText(const std::vector<std::string>& labels, int32_t locale_id) {
  return RunOperation("HeliqAdminUtility.modUI.GetMultipleI18NText", [&]() -> DictionaryPtr {
    std::vector<std::string> wanted;
    for (const std::string& label : labels) {
      if (!Trim(label).empty()) wanted.push_back(label);
    }
    if (wanted.empty()) return nullptr;
    std::string sql(kSelectTextsHead);
    Params params{Variant(locale_id)};
    for (const std::string& label : wanted) {
      sql += params.size() == 1 ? "?" : ",?";
      params.emplace_back(label);
    }
    sql += ")";
    auto connection = GetHeliqConnection();
    const ResultSet rows = connection->Query(sql, params);
    connection->Close();
    if (rows.rows.empty()) return nullptr;
    auto texts = Dictionary::Create();
    // Labels compare without regard to case in the table; the dictionary is keyed by the label as
    // the caller spelled it.
    for (const auto& row : rows.rows) {
      const std::string found = row[0].ToTextOrEmpty();
      for (const std::string& label : wanted) {
        if (EqualsIgnoreCase(label, found)) texts->Set(label, row[1]);
      }
    }
    return texts;
  });
}

ReportWizard::ReportWizard(AdminUi& ui, std::string settings_location, int32_t language,
                           DictionaryPtr labels, std::unique_ptr<ReportComponent> report)
    : ui_(ui),
      settings_location_(std::move(settings_location)),
      language_(language),
      labels_(std::move(labels)),
      report_(std::move(report)) {}

std::unique_ptr<ReportWizard> ReportWizard::Open(AdminUi& ui, std::string settings_location) {
  try {
    const Variant language_value = GetDefaultLanguage();
    const int32_t language = language_value.IsBlank() ? 0 : language_value.ToLong();
    DictionaryPtr labels = GetMultipleI18NText(ReportWizardLabels(), language);
    auto report = CreateObjectAs<ReportComponent>(kReportClassId);
    return std::unique_ptr<ReportWizard>(new ReportWizard(
        ui, std::move(settings_location), language, std::move(labels), std::move(report)));
  } catch (const ComError& e) {
    ui.ShowExclamation(e.description());
  } catch (const std::exception& e) {
    ui.ShowExclamation(e.what());
  }
  return nullptr;
}

template <typename F>
bool ReportWizard::Guarded(F&& body) {
  try {
    return body();
  } catch (const ComError& e) {
    ui_.ShowExclamation(e.description());
  } catch (const std::exception& e) {
    ui_.ShowExclamation(e.what());
  }
  return false;
}

std::string ReportWizard::Caption(std::string_view label) const {
  if (labels_ && labels_->Exists(label)) return labels_->Get(label).ToTextOrEmpty();
  return std::string(label);
}

std::string ReportWizard::Text(std::string_view label) const {
  return GetI18NText(label, language_);
}

ReportSource ReportWizard::SavedSource() {
  ReportSource source;
  Guarded([&] {
    source.server = report_->GetData(settings_location_, std::string(kDatabaseSection),
                                     std::string(kServerKey));
    source.database = report_->GetData(settings_location_, std::string(kDatabaseSection),
                                       std::string(kDatabaseKey));
    source.login =
        report_->GetData(settings_location_, std::string(kDatabaseSection), std::string(kLoginKey));
    source.template_path = report_->GetData(settings_location_, std::string(kTemplateSection),
                                            std::string(kTemplateKey));
    return true;
  });
  return source;
}

bool ReportWizard::Next(const ReportSource& source) {
  return Guarded([&] {
    source_.server = source.server;
    source_.database = source.database;
    source_.login = source.login;
    source_.password = source.password;
    if (!report_->isTemplateValid(source.template_path)) {
      ui_.ShowExclamation(Text("HQLBL4320"));
      return false;
    }
    source_.template_path = source.template_path;
    BusyPointer busy(ui_);
    if (!report_->IsDBValid(source.server, source.database, source.login, source.password)) {
      ui_.ShowExclamation(Text("HQLBL4319"));
      return false;
    }
    return true;
  });
}

ReportTarget ReportWizard::OpenSecondPage() {
  ReportTarget target;
  Guarded([&] {
    analysis_folder_ = GetPhysicalUploadPath() + "Analysis";
    target.mail_list =
        report_->GetData(settings_location_, std::string(kMailSection), std::string(kMailKey));
    target.file_name =
        report_->GetData(settings_location_, std::string(kTargetSection), std::string(kTargetKey));
    return true;
  });
  return target;
}

std::string ReportTemplatesFolder(const std::string& program_dir) {
  const std::filesystem::path installed =
      std::filesystem::path(program_dir) / ".." / "share" / "heliq" / "templates";
  if (std::filesystem::is_directory(installed)) return installed.lexically_normal().string();
  const std::filesystem::path checkout =
      std::filesystem::path(GetInstallDir()) / "portal" / "report" / "templates";
  if (std::filesystem::is_directory(checkout)) return checkout.lexically_normal().string();
  return program_dir;
}

std::string SaveAsTarget(std::string_view chosen, std::string_view analysis_folder) {
  std::string path(chosen);
  if (path.size() < kExtension.size() || Upper(path.substr(path.size() - 4)) != kExtension) {
    path += ".xls";
  }
  const std::filesystem::path target(path);
  const auto normal = [](std::string_view folder) {
    return std::filesystem::path(folder).lexically_normal().string();
  };
  if (!analysis_folder.empty() &&
      normal(target.parent_path().string()) == normal(analysis_folder)) {
    return target.filename().string();
  }
  return path;
}

bool ReportWizard::GenerateReport(ReportTarget& target) {
  target.file_name = Trim(target.file_name);
  // The file store knows a report by its file name, wherever the file was written.
  const std::string name = std::filesystem::path(target.file_name).filename().string();
  if (target.file_name.empty()) {
    ui_.ShowExclamation(Text("HQLBL4380"));
    return false;
  }
  if (name.size() < kExtension.size() || Upper(name.substr(name.size() - 4)) != kExtension) {
    ui_.ShowExclamation(Text("HQLBL4307") + " " + Quoted(name) + " " + Text("HQLBL4364"));
    return false;
  }
  if (name.size() == kExtension.size()) {
    ui_.ShowExclamation(Text("HQLBL4379"));
    return false;
  }
  return Guarded([&] {
    if (analysis_folder_.empty()) analysis_folder_ = GetPhysicalUploadPath() + "Analysis";
    const std::string path = target.file_name.find('/') == std::string::npos
                                 ? analysis_folder_ + "/" + name
                                 : target.file_name;
    auto files = CreateObjectAs<FileHandling>(kFileHandlingClassId);
    const bool replace = files->FileAlreadyAttached(name, kNoRequest, {kFilesReport});
    if (replace && !ui_.AskYesNo(Text("HQLBL4333") + " " + Quoted(name) + " " + Text("HQLBL4332") +
                                 " " + Quoted(path) + ".\r\n" + Text("HQLBL4334"))) {
      return false;
    }
    try {
      CreateObjectAs<SpreadsheetApplication>(kSpreadsheetApplicationClassId);
    } catch (const ComError&) {
      ui_.ShowExclamation(Text("HQLBL4365"));
      return false;
    }
    std::string message;
    {
      BusyPointer busy(ui_);
      report_->GenerateReport(source_.template_path, path);
      if (replace) files->DeleteRemoteFile(name, kNoRequest);
      files->PutRemoteFile(path, kNoRequest);
      message = Text("HQLBL4321") + " " + path;
      if (target.send_mail) {
        // Without its mail template the report is not mailed; the message then says only that
        // it was generated.
        if (DictionaryPtr mail = getEMailInfo(kReportMailId, language_)) {
          report_->SendMail(mail->Get("MAIL_FROM").ToTextOrEmpty(), target.mail_list,
                            mail->Get("MAIL_SUBJECT").ToTextOrEmpty(),
                            mail->Get("MAIL_BODY").ToTextOrEmpty(), path);
          message += "\r\n" + Text("HQLBL4322");
        }
      }
    }
    ui_.ShowInformation(message);
    return true;
  });
}

void ReportWizard::Exit(const ReportTarget& target) {
  if (!target.save_details) return;
  Guarded([&] {
    const auto save = [&](std::string_view section, std::string_view key,
                          const std::string& value) {
      report_->SaveData(settings_location_, std::string(section), std::string(key), value);
    };
    save(kMailSection, kMailKey, target.mail_list);
    save(kTargetSection, kTargetKey, target.file_name);
    save(kTemplateSection, kTemplateKey, source_.template_path);
    save(kDatabaseSection, kServerKey, source_.server);
    save(kDatabaseSection, kDatabaseKey, source_.database);
    save(kDatabaseSection, kLoginKey, source_.login);
    return true;
  });
}

}  // namespace heliq::admin
