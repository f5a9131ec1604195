// Shared frame of the maintenance-service stand-ins (private to portal/maintenance).
#ifndef HELIQ_PORTAL_MAINTENANCE_SRC_MAINTENANCE_SUPPORT_H_
#define HELIQ_PORTAL_MAINTENANCE_SRC_MAINTENANCE_SUPPORT_H_

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/component.h"
#include "platform/object_context.h"
#include "portal/maintenance/maintenance_services.h"

namespace heliq::maintenance {

// Base of the five services: Run takes the service's lock, reads the settings and calls Execute
// under the operation frame (a failure is logged and re-raised under "<class id>.Run").
class ServiceBase : public Component, public MaintenanceService {
 public:
  ServiceBase(std::string_view class_id, MaintenanceOptions options);
  void Run() final;

 protected:
  virtual void Execute(const MaintenanceSettings& settings) = 0;
  // One informational log entry under the service's source.
  void Note(std::string_view text) const;
  void Send(const MailMessage& message) const;

 private:
  std::string class_id_;
  MaintenanceOptions options_;
};

// Runs `body` as one unit of work of its own, or inside the caller's when there is one (the caller
// then decides about commit).
template <typename F>
void InUnitOfWork(F&& body) {
  if (GetObjectContext() != nullptr) {
    body();
  } else {
    RunUnitOfWork(std::forward<F>(body));
  }
}

// The local time a file or folder was last written.
DateTime LastWriteTime(const std::filesystem::path& path);

// `path` made absolute against the install directory when relative ("\" read as "/").
std::filesystem::path InstallPath(std::string setting);

// The mail template `mail_id` in the default language; error 3265 naming the template when it
// does not exist.
DictionaryPtr MailTemplate(int32_t mail_id);

std::unique_ptr<ServiceBase> MakeCleanupService(MaintenanceOptions options);
std::unique_ptr<ServiceBase> MakeReminderService(MaintenanceOptions options);
std::unique_ptr<ServiceBase> MakeDormantExpiryService(MaintenanceOptions options);
std::unique_ptr<ServiceBase> MakeArchiveService(MaintenanceOptions options);
std::unique_ptr<ServiceBase> MakeFaqNotifyService(MaintenanceOptions options);

}  // namespace heliq::maintenance

#endif  // HELIQ_PORTAL_MAINTENANCE_SRC_MAINTENANCE_SUPPORT_H_
