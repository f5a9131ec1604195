// Working stand-ins of the five maintenance services (common/maintenance_service.h), registered
// under their class identifiers:
//   Cleanup        deletes unregistered requests (status 0) older than unregistered_age_hours,
//                  with their reminder rows and file-store folders, and sweeps the file store:
//                  folders of requests that exist neither active nor archived, empty incoming/
//                  folders and left-over temporary files, each older than temporary_age_hours.
//   Reminder       mails the customer of every answered request (status 150) whose reminder time
//                  has passed (template reminder_mail_id) and restarts its timer: T1_DATE = now +
//                  the parameter Reminder_Time in hours.
//   DormantExpiry  deletes prospects without pending requests (count <= 0 and no active request
//                  with their address) whose last visit is older than dormant_age_days.
//   Archive        moves archived requests (QUESTIONHISTORY) that ended more than
//                  archive_age_days ago, with their transaction-log rows, out of the database into
//                  an archive file (JSON lines) in archive_dir. Rows leave the database only in the
//                  unit of work that wrote their file, so nothing is deleted that is not kept.
//   FAQNotify      when FAQPARAMETER MAILNOTIFY is "Yes", mails every address of
//                  SUBSCRIBERS_MAILNOTIFY (";" between addresses) the FAQ entries dated after
//                  LASTRUN_MAILNOTIFY (template faq_notify_mail_id), then stores the run's time
//                  there.
// Each run logs what it did (one entry per service run, plus one per failure) and is safe against
// a second run of its kind: runs of one service queue on a lock file under the install directory,
// and every change re-checks its condition in the statement that makes it. A run that changes
// nothing (the second of two in a row) logs that it found nothing to do.
//
// Settings: the [maintenance] section of the configuration (see MaintenanceSettings).
//
// Thread safety: a service object is used by one thread; separate objects may run concurrently.
#ifndef HELIQ_PORTAL_MAINTENANCE_MAINTENANCE_SERVICES_H_
#define HELIQ_PORTAL_MAINTENANCE_MAINTENANCE_SERVICES_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/maintenance_service.h"
#include "platform/mail.h"

namespace heliq {

// The [maintenance] section; an absent key keeps its default. A value that is not a whole number
// raises error 13 naming the key.
struct MaintenanceSettings {
  int32_t unregistered_age_hours = 24;
  int32_t temporary_age_hours = 24;
  int32_t dormant_age_days = 180;
  int32_t archive_age_days = 365;
  std::string archive_dir = "var/archive";  // relative to the install directory unless absolute
  int32_t reminder_mail_id = 34;
  int32_t faq_notify_mail_id = 35;
};
MaintenanceSettings ReadMaintenanceSettings();

using MailSender = std::function<void(const MailMessage&)>;

// How a service object is made. Defaults: settings read at each run, mails written to the mail
// outbox (common/mail_outbox.h; delivered by the hosts' senders).
struct MaintenanceOptions {
  std::optional<MaintenanceSettings> settings;
  MailSender send_mail;
};

// A new service object for one of the five class identifiers (compared without regard to case);
// error 429 for any other identifier.
std::unique_ptr<MaintenanceService> CreateMaintenanceService(std::string_view class_id,
                                                             MaintenanceOptions options = {});

// Registers the five services with default options.
void RegisterMaintenanceServices();

}  // namespace heliq

#endif  // HELIQ_PORTAL_MAINTENANCE_MAINTENANCE_SERVICES_H_
