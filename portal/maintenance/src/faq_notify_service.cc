// The FAQ change notification service.
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "common/heliq_utilities.h"
#include "portal/maintenance/src/maintenance_support.h"

namespace heliq::maintenance {
namespace {

constexpr std::string_view kMailNotify = "MAILNOTIFY";
constexpr std::string_view kSubscribers = "SUBSCRIBERS_MAILNOTIFY";
constexpr std::string_view kLastRun = "LASTRUN_MAILNOTIFY";

constexpr std::string_view kSelectSettings =
    "SELECT PARAMNAME, PARAMVALUE FROM FAQPARAMETER "
    "WHERE PARAMNAME = ? OR PARAMNAME = ? OR PARAMNAME = ?";
constexpr std::string_view kSelectChanged =
    "SELECT FAQ_ID, FAQ_TITLE, FAQ_DATE FROM FAQLIST WHERE FAQ_DATE > ? AND FAQ_DATE <= ? "
    "ORDER BY FAQ_DATE, FAQ_ID";
// The mark moves only forward, so a run that read an older one changes nothing.
constexpr std::string_view kAdvanceLastRun =
    "UPDATE FAQPARAMETER SET PARAMVALUE = ? WHERE PARAMNAME = ? AND PARAMVALUE = ?";
constexpr std::string_view kInsertLastRun =
    "INSERT INTO FAQPARAMETER (PARAMNAME, PARAMVALUE) VALUES (?, ?)";

// Entries dated after this were never notified when no run has been recorded.
const DateTime kBeginning{1900, 1, 1, 0, 0, 0};

std::vector<std::string> SplitAddresses(const std::string& text) {
  std::vector<std::string> addresses;
  std::stringstream in(text);
  for (std::string item; std::getline(in, item, ';');) {
    const auto first = item.find_first_not_of(" \t");
    if (first == std::string::npos) continue;
    addresses.push_back(item.substr(first, item.find_last_not_of(" \t") - first + 1));
  }
  return addresses;
}

class FaqNotifyService final : public ServiceBase {
 public:
  explicit FaqNotifyService(MaintenanceOptions options)
      : ServiceBase(kFaqNotifyServiceId, std::move(options)) {}

 protected:
  void Execute(const MaintenanceSettings& settings) override {
    const DateTime now = GetCurrentDateTime();
    std::string summary;
    InUnitOfWork([&] {
      auto connection = GetRAvuruvoConnection();
      std::string notify, subscribers;
      std::optional<std::string> last_run;
      const ResultSet stored = connection->Query(
          kSelectSettings, {Variant(kMailNotify), Variant(kSubscribers), Variant(kLastRun)});
      for (const auto& row : stored.rows) {
        const std::string name = row[0].ToTextOrEmpty();
        const std::string value = row[1].ToTextOrEmpty();
        if (name == kMailNotify) notify = value;
        if (name == kSubscribers) subscribers = value;
        if (name == kLastRun) last_run = value;
      }
      if (notify != "Yes") {
        summary = "notification is switched off (MAILNOTIFY \"" + notify + "\"); nothing sent";
        connection->Close();
        return;
      }
      DateTime since = kBeginning;
      if (last_run && !last_run->empty()) {
        const auto parsed = DateTime::Parse(*last_run);
        if (!parsed) {
          throw ComError(err::kTypeMismatch, "HeliqServices.FAQNotify",
                         std::string(kLastRun) + " is not a date: \"" + *last_run + "\"");
        }
        since = *parsed;
      }
      const ResultSet changed = connection->Query(kSelectChanged, {Variant(since), Variant(now)});
      const std::vector<std::string> addresses = SplitAddresses(subscribers);
      // Nothing is marked as told before every mail went out.
      if (!changed.rows.empty()) MailSubscribers(addresses, changed, settings.faq_notify_mail_id);
      if (!last_run) {
        connection->Execute(kInsertLastRun, {Variant(kLastRun), Variant(now.ToText())});
      } else {
        connection->Execute(kAdvanceLastRun,
                            {Variant(now.ToText()), Variant(kLastRun), Variant(*last_run)});
      }
      connection->Close();
      summary =
          std::to_string(changed.rows.size()) + " changed FAQ entr" +
          (changed.rows.size() == 1 ? "y" : "ies") + " since " + since.ToText() + "; " +
          (changed.rows.empty() ? std::string("nothing sent")
                                : "mailed " + std::to_string(addresses.size()) + " subscriber(s)");
    });
    Note("FAQ notification: " + summary + ".");
  }

 private:
  // One mail to each address listing the entries of `changed` (FAQ_ID, FAQ_TITLE, FAQ_DATE).
  void MailSubscribers(const std::vector<std::string>& addresses, const ResultSet& changed,
                       int32_t mail_id) const {
    if (addresses.empty()) return;
    const DictionaryPtr mail = MailTemplate(mail_id);
    std::string list;
    for (const auto& row : changed.rows) {
      list += "- " + row[1].ToTextOrEmpty() + " (FAQ " + row[0].ToTextOrEmpty() + ", " +
              row[2].ToTextOrEmpty() + ")\r\n";
    }
    for (const std::string& address : addresses) {
      MailMessage message;
      message.from = mail->Get("MAIL_FROM").ToTextOrEmpty();
      message.to = {address};
      message.subject = mail->Get("MAIL_SUBJECT").ToTextOrEmpty();
      message.body = mail->Get("MAIL_BODY").ToTextOrEmpty() + "\r\n\r\n" + list;
      Send(message);
    }
  }
};

}  // namespace

std::unique_ptr<ServiceBase> MakeFaqNotifyService(MaintenanceOptions options) {
  return std::make_unique<FaqNotifyService>(std::move(options));
}

}  // namespace heliq::maintenance
