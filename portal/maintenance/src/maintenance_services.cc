#include "portal/maintenance/maintenance_services.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <utility>

#include "common/files_and_texts.h"
#include "common/heliq_utilities.h"
#include "common/mail_outbox.h"
#include "common/operation_frame.h"
#include "platform/com_error.h"
#include "platform/configuration.h"
#include "platform/database.h"
#include "platform/log.h"
#include "portal/maintenance/src/maintenance_support.h"

namespace heliq {
namespace {

namespace fs = std::filesystem;

// Log level of what a run did (0 is reserved for failures).
constexpr int32_t kInformationLevel = 4;

void ReadInteger(std::string_view key, int32_t& target) {
  const std::string text = SettingValue("maintenance", key);
  if (text.empty()) return;
  try {
    target = Variant(text).ToLong();
  } catch (const ComError&) {
    throw ComError(err::kTypeMismatch, "HeliqServices.Settings",
                   "[maintenance] " + std::string(key) + " is not a whole number: " + text);
  }
}

// Holds an exclusive lock on "<install dir>/var/lock/<name>.lock" for its lifetime; waits for a
// run of the same service in this or another process to end.
class RunLock {
 public:
  explicit RunLock(std::string_view name) {
    const fs::path folder = fs::path(GetInstallDir()) / "var" / "lock";
    std::error_code error;
    fs::create_directories(folder, error);
    const fs::path file = folder / (std::string(name) + ".lock");
    fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0 || ::flock(fd_, LOCK_EX) != 0) {
      const std::string reason = std::strerror(errno);
      if (fd_ >= 0) ::close(fd_);
      throw ComError(err::kPathFileAccess, std::string(name),
                     "cannot lock " + file.string() + ": " + reason);
    }
  }
  ~RunLock() { ::close(fd_); }  // closing releases the lock
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

 private:
  int fd_ = -1;
};

using Maker = std::unique_ptr<maintenance::ServiceBase> (*)(MaintenanceOptions);

struct ServiceEntry {
  std::string_view class_id;
  Maker make;
};

constexpr std::array<ServiceEntry, 5> kServices = {{
    {kCleanupServiceId, maintenance::MakeCleanupService},
    {kReminderServiceId, maintenance::MakeReminderService},
    {kDormantExpiryServiceId, maintenance::MakeDormantExpiryService},
    {kArchiveServiceId, maintenance::MakeArchiveService},
    {kFaqNotifyServiceId, maintenance::MakeFaqNotifyService},
}};

}  // namespace

MaintenanceSettings ReadMaintenanceSettings() {
  MaintenanceSettings settings;
  ReadInteger("unregistered_age_hours", settings.unregistered_age_hours);
  ReadInteger("temporary_age_hours", settings.temporary_age_hours);
  ReadInteger("dormant_age_days", settings.dormant_age_days);
  ReadInteger("archive_age_days", settings.archive_age_days);
  ReadInteger("reminder_mail_id", settings.reminder_mail_id);
  ReadInteger("faq_notify_mail_id", settings.faq_notify_mail_id);
  if (std::string dir = SettingValue("maintenance", "archive_dir"); !dir.empty()) {
    settings.archive_dir = std::move(dir);
  }
  return settings;
}

std::unique_ptr<MaintenanceService> CreateMaintenanceService(std::string_view class_id,
                                                             MaintenanceOptions options) {
  for (const auto& entry : kServices) {
    if (EqualsIgnoreCase(entry.class_id, class_id)) return entry.make(std::move(options));
  }
  throw ComError(err::kCannotCreateComponent, std::string(class_id),
                 "no maintenance service " + std::string(class_id));
}

void RegisterMaintenanceServices() {
  for (const auto& entry : kServices) {
    ComponentRegistry::Global().Register(
        entry.class_id, [make = entry.make] { return make(MaintenanceOptions{}); });
  }
}

namespace maintenance {

ServiceBase::ServiceBase(std::string_view class_id, MaintenanceOptions options)
    : class_id_(class_id), options_(std::move(options)) {}

void ServiceBase::Run() {
  RunOperation(class_id_ + ".Run", [&] {
    const MaintenanceSettings settings =
        options_.settings ? *options_.settings : ReadMaintenanceSettings();
    RunLock lock(class_id_);
    Execute(settings);
  });
}

void ServiceBase::Note(std::string_view text) const {
  CreateObjectAs<Log>(kLogClassId)->LogEvent(class_id_, text, kInformationLevel, Variant());
}

void ServiceBase::Send(const MailMessage& message) const {
  if (options_.send_mail) {
    options_.send_mail(message);
  } else {
    EnqueueMail(message);
  }
}

DateTime LastWriteTime(const fs::path& path) {
  const auto written = std::chrono::file_clock::to_sys(fs::last_write_time(path));
  const std::time_t seconds = std::chrono::system_clock::to_time_t(
      std::chrono::time_point_cast<std::chrono::system_clock::duration>(written));
  std::tm local{};
  localtime_r(&seconds, &local);
  return DateTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                  local.tm_hour,        local.tm_min,     local.tm_sec};
}

fs::path InstallPath(std::string setting) {
  std::replace(setting.begin(), setting.end(), '\\', '/');
  fs::path path(setting);
  if (path.is_relative()) path = fs::path(GetInstallDir()) / path;
  return path.lexically_normal();
}

DictionaryPtr MailTemplate(int32_t mail_id) {
  // Without a configured language the texts of the installation's usual locale are used.
  const Variant configured = GetDefaultLanguage();
  const int32_t language = configured.ToTextOrEmpty().empty() ? 1033 : configured.ToLong();
  DictionaryPtr mail = getEMailInfo(mail_id, language);
  if (!mail) {
    throw ComError(err::kItemNotFound, "HeliqServices",
                   "the mail template " + std::to_string(mail_id) + " does not exist");
  }
  return mail;
}

}  // namespace maintenance
}  // namespace heliq
