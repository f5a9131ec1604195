#include "adminutility/core/panel.h"

#include <memory>

#include "common/files_and_texts.h"
#include "common/heliq_utilities.h"
#include "common/maintenance_service.h"
#include "platform/com_error.h"
#include "platform/configuration.h"
#include "platform/connection.h"

namespace heliq::admin {
namespace {

constexpr std::string_view kSelectDaemon =
    "select DAEMON.NAME, DAEMON.STATUS, DAEMON.INTERVAL from DAEMON";
constexpr std::string_view kSelectFaqParameters =
    "select FAQPARAMETER.PARAMNAME, FAQPARAMETER.PARAMVALUE from FAQPARAMETER "
    "WHERE PARAMNAME = ? or PARAMNAME = ? or PARAMNAME = ?";

constexpr std::string_view kMailNotify = "MAILNOTIFY";
constexpr std::string_view kModeMailNotify = "MODE_MAILNOTIFY";
constexpr std::string_view kNtsMailNotify = "NTS_MAILNOTIFY";

constexpr std::string_view kOpenFailurePrefix = "HeliqAdminUtility.Services and MDSynch - ";

const std::array<ServiceButtonInfo, 5> kButtons = {{
    {ServiceButton::kCleanup, "cleanup", "Clean Up",
     "Remove the unused records from Questions table and other temporary folders ", "Delete",
     kCleanupServiceId, "CleanUp Service Executed, for additional information see the log file",
     "ErrorMessage:HeliqAdminUtility.Services.Cleanup - "},
    {ServiceButton::kReminder, "reminder", "Alert",
     "Remind the customer about Solution provided Service Requests", "Alert", kReminderServiceId,
     "Reminder Service executed; for additional information see the log file.",
     "ErrorMessage:HeliqAdminUtility.Services.Remainder - "},
    {ServiceButton::kDormant, "dormant", "Expire", "Expire dormant Prospects",
     "Dormant User Expiry", kDormantExpiryServiceId,
     "DormantUserExpiry Service executed; for additional information see the log file.",
     "ErrorMessage:HeliqAdminUtility.Services.DormantExpirty - "},
    {ServiceButton::kArchive, "archive", "Archive", "Archive Service Requests", "Archive",
     kArchiveServiceId, "Archive Service executed; for additional information check the log file.",
     "ErrorMessage:HeliqAdminUtility.Services.Archive - "},
    {ServiceButton::kFaqNotify, "faqnotify", "Notify",
     "Notify major changes in FAQ content to the subscribers via email", "", kFaqNotifyServiceId,
     "FAQ Notify Service executed; for additional information check the log file.",
     "ErrorMessage:HeliqAdminUtility.Services.FAQNotify - "},
}};

// Leading and trailing blanks removed (blanks only, as the stored names are padded with them).
std::string TrimBlanks(std::string_view text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return "";
  return std::string(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

// The description of the failure in flight; to be called inside a catch handler.
std::string CurrentDescription() { return CurrentError().description(); }

}  // namespace

const std::array<ServiceButtonInfo, 5>& ServiceButtons() { return kButtons; }

const ServiceButtonInfo& InfoOf(ServiceButton button) {
  return kButtons[static_cast<size_t>(button)];
}

std::string LogFilePath() {
  const std::string file = SettingValue("log", "file");
  if (file.empty() || file.front() == '/') return file;
  return GetInstallDir() + "/" + file;
}

std::string WithLogFile(std::string_view message, std::string_view log_file) {
  std::string text(message);
  if (log_file.empty()) return text;
  if (text.ends_with('.')) text.pop_back();
  return text + ": " + std::string(log_file);
}

Panel::Panel(AdminUi& ui) : ui_(ui) {}

std::string Panel::tooltip(ServiceButton button) const {
  if (enabled(button)) return "";
  if (button == ServiceButton::kFaqNotify) return "scheduled: mailed periodically";
  const std::string& interval = intervals_[Index(button)];
  return interval.empty() ? "scheduled" : "scheduled: runs every " + interval + " minutes";
}

void Panel::Open() {
  try {
    language_ = GetDefaultLanguage().ToLong();
    ReadDaemonStates();
    ReadFaqParameters();
    enabled_[Index(ServiceButton::kFaqNotify)] =
        !(mode_mail_notify_ == "Periodic" && mail_notify_ == "Yes" && nts_mail_notify_ == "On");
    report_caption_ = GetI18NText(kReportCaptionLabel, language_);
    report_description_ = GetI18NText(kReportDescriptionLabel, language_);
  } catch (...) {
    ui_.ShowExclamation(std::string(kOpenFailurePrefix) + "\r\n" + CurrentDescription());
  }
}

void Panel::ReadDaemonStates() {
  auto connection = GetHeliqConnection();
  auto daemons = Recordset::Open(*connection, kSelectDaemon);
  for (; !daemons->eof(); daemons->MoveNext()) {
    const std::string name = TrimBlanks(daemons->Field("NAME").ToTextOrEmpty());
    for (const auto& info : kButtons) {
      if (!info.daemon_name.empty() && name == info.daemon_name) {
        enabled_[Index(info.button)] = !daemons->Field("STATUS").ToBool();
        intervals_[Index(info.button)] = daemons->Field("INTERVAL").ToTextOrEmpty();
      }
    }
  }
  daemons->Close();
  connection->Close();
}

void Panel::ReadFaqParameters() {
  auto connection = GetRAvuruvoConnection();
  auto parameters =
      Recordset::Open(*connection, kSelectFaqParameters,
                      {Variant(kMailNotify), Variant(kModeMailNotify), Variant(kNtsMailNotify)});
  for (; !parameters->eof(); parameters->MoveNext()) {
    const std::string name = TrimBlanks(parameters->Field("PARAMNAME").ToTextOrEmpty());
    const std::string value = parameters->Field("PARAMVALUE").ToTextOrEmpty();
    if (name == kMailNotify) mail_notify_ = value;
    if (name == kModeMailNotify) mode_mail_notify_ = value;
    if (name == kNtsMailNotify) nts_mail_notify_ = value;
  }
  parameters->Close();
  connection->Close();
}

bool Panel::RunService(ServiceButton button) {
  const ServiceButtonInfo& info = InfoOf(button);
  std::string failure;
  {
    BusyPointer busy(ui_);
    try {
      CreateObjectAs<MaintenanceService>(info.class_id)->Run();  // released at once
    } catch (...) {
      failure = std::string(info.failure_prefix) + "\r\n" + CurrentDescription();
    }
  }
  if (!failure.empty()) {
    ui_.ShowExclamation(failure);
    return false;
  }
  std::string log_file;
  try {
    log_file = LogFilePath();
  } catch (...) {
    // Without readable settings the message just does not name the file.
  }
  ui_.ShowInformation(WithLogFile(info.success, log_file));
  return true;
}

}  // namespace heliq::admin
