// The reminder service: customers of answered requests whose reminder time has passed.
#include <set>
#include <string>
#include <utility>

#include "common/heliq_utilities.h"
#include "portal/maintenance/src/maintenance_support.h"

namespace heliq::maintenance {
namespace {

constexpr std::string_view kSelectDue =
    "SELECT QUESTIONS.Q_ID, QUESTIONS.EMAILID, QUESTIONS.Q_DESC, REMINDER.T1_DATE "
    "FROM QUESTIONS INNER JOIN REMINDER ON QUESTIONS.Q_ID = REMINDER.Q_ID "
    "WHERE QUESTIONS.Q_STATUS = 150 AND REMINDER.R_STATUS = '150' "
    "AND REMINDER.T1_DATE IS NOT NULL AND REMINDER.T1_DATE <= ? ORDER BY QUESTIONS.Q_ID";
// Restarts the timer only while it still holds the time that was read: a second run that read
// the same row changes nothing and sends no second mail.
constexpr std::string_view kRestartTimer =
    "UPDATE REMINDER SET T1_DATE = ? WHERE Q_ID = ? AND R_STATUS = '150' AND T1_DATE = ?";

class ReminderService final : public ServiceBase {
 public:
  explicit ReminderService(MaintenanceOptions options)
      : ServiceBase(kReminderServiceId, std::move(options)) {}

 protected:
  void Execute(const MaintenanceSettings& settings) override {
    const DateTime now = GetCurrentDateTime();
    const std::string hours_text = GetParamValue("Reminder_Time");
    const double hours = hours_text.empty() ? 0.0 : Variant(hours_text).ToDouble();
    if (!(hours > 0)) {
      throw ComError(
          err::kInvalidProcedureCall, "HeliqServices.Reminder",
          "the parameter Reminder_Time is not a positive number of hours: \"" + hours_text + "\"");
    }
    const DateTime next = now.AddSeconds(static_cast<int64_t>(hours * 3600));
    const DictionaryPtr mail = MailTemplate(settings.reminder_mail_id);

    auto connection = GetHeliqConnection();
    const ResultSet due = connection->Query(kSelectDue, {Variant(now)});
    connection->Close();

    int reminded = 0;
    std::string skipped;
    std::set<int32_t> seen;  // a request with two reminder rows appears twice
    for (const auto& row : due.rows) {
      const int32_t id = row[0].ToLong();
      if (!seen.insert(id).second) continue;
      const std::string address = row[1].ToTextOrEmpty();
      if (address.empty()) {
        skipped += (skipped.empty() ? "" : ", ") + std::to_string(id);
        continue;
      }
      // The timer and the mail succeed or fail together: a mail that fails leaves the timer
      // as it was, so the next run tries again.
      bool sent = false;
      InUnitOfWork([&] {
        auto update = GetHeliqConnection();
        if (update->Execute(kRestartTimer, {Variant(next), Variant(id), row[3]}) > 0) {
          Send(Compose(*mail, address, id, row[2].ToTextOrEmpty()));
          sent = true;
        }
        update->Close();
      });
      if (sent) ++reminded;
    }
    Note("Reminder: reminded " + std::to_string(reminded) +
         " customer(s) of answered requests; next reminder at " + next.ToText() +
         (skipped.empty() ? "" : "; no customer address for request(s) " + skipped) + ".");
  }

 private:
  static MailMessage Compose(const Dictionary& mail, const std::string& address, int32_t id,
                             const std::string& description) {
    MailMessage message;
    message.from = mail.Get("MAIL_FROM").ToTextOrEmpty();
    message.to = {address};
    message.subject = mail.Get("MAIL_SUBJECT").ToTextOrEmpty();
    message.body = mail.Get("MAIL_BODY").ToTextOrEmpty() + "\r\n\r\nService request " +
                   std::to_string(id) + ": " + description + "\r\n";
    if (const std::string link = mail.Get("MAIL_HYPERLINK").ToTextOrEmpty(); !link.empty()) {
      message.body += link + "\r\n";
    }
    return message;
  }
};

}  // namespace

std::unique_ptr<ServiceBase> MakeReminderService(MaintenanceOptions options) {
  return std::make_unique<ReminderService>(std::move(options));
}

}  // namespace heliq::maintenance
