#include "common/request_notifications.h"

#include <charconv>
#include <memory>
#include <string>

#include "common/directory.h"
#include "common/files_and_texts.h"
#include "common/heliq_utilities.h"
#include "common/lookups.h"
#include "common/mail_outbox.h"
#include "platform/configuration.h"
#include "platform/connection.h"
#include "platform/object_context.h"
#include "platform/text.h"

namespace heliq {
namespace {

constexpr std::string_view kNotifySource = "HlqServiceRequestMTS.Notifications.NotifyStatusChange";
constexpr int32_t kFallbackLocale = 1033;

struct Event {
  int32_t status;
  int32_t mail_id;
  bool to_engineer;
};
constexpr Event kEvents[] = {
    {150, 50, false}, {35, 51, false}, {180, 52, false},
    {185, 53, false}, {15, 54, true},  {20, 54, true},
};

constexpr std::string_view kSelectPreviousStatus =
    "SELECT T_STATUS FROM TRANSACTIONS WHERE Q_ID = ? AND T_ID < ? ORDER BY T_ID DESC LIMIT 1";
// A closed or cancelled request has moved to the history by the time its log row is written.
constexpr std::string_view kSelectActive =
    "SELECT Q_DESC, Q_ORIGINATOR, EMAILID, D_DIRECT_TO FROM QUESTIONS WHERE Q_ID = ?";
constexpr std::string_view kSelectArchived =
    "SELECT Q_DESC, Q_ORIGINATOR, EMAILID, D_DIRECT_TO FROM QUESTIONHISTORY WHERE Q_ID = ?";

std::optional<int32_t> WholeNumber(std::string_view text) {
  text = TrimSpace(text);
  int32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

const Event* FindEvent(int32_t status) {
  for (const Event& event : kEvents) {
    if (event.status == status) return &event;
  }
  return nullptr;
}

void ReplaceAll(std::string& text, std::string_view token, const std::string& value) {
  for (size_t at = text.find(token); at != std::string::npos;
       at = text.find(token, at + value.size())) {
    text.replace(at, token.size(), value);
  }
}

int32_t InstallationLocale() {
  const std::optional<int32_t> configured = WholeNumber(GetDefaultLanguage().ToTextOrEmpty());
  return configured.value_or(kFallbackLocale);
}

void Notify(int32_t question_id, const Event& event, int32_t transaction_id) {
  std::unique_ptr<Connection> connection = GetHeliqConnection();
  const Variant previous = connection->QueryValue(kSelectPreviousStatus,
                                                  {Variant(question_id), Variant(transaction_id)});
  if (!previous.IsEmpty() && WholeNumber(previous.ToTextOrEmpty()) == event.status) {
    CloseConnection(connection);
    return;
  }
  ResultSet request = connection->Query(kSelectActive, {Variant(question_id)});
  if (request.rows.empty()) request = connection->Query(kSelectArchived, {Variant(question_id)});
  CloseConnection(connection);
  if (request.rows.empty()) return;
  const auto& row = request.rows[0];

  const std::string login = (event.to_engineer ? row[3] : row[1]).ToTextOrEmpty();
  std::string address;
  int32_t locale = InstallationLocale();
  if (!TrimSpace(login).empty()) {
    if (const std::unique_ptr<MembershipUser> user = GetUserFromID(TrimSpace(login))) {
      address = user->Mail();
      locale = WholeNumber(user->LanguageId()).value_or(locale);
    }
  }
  // A prospect has no directory entry: his requests carry his address.
  if (TrimSpace(address).empty() && !event.to_engineer) address = row[2].ToTextOrEmpty();
  if (TrimSpace(address).empty()) return;

  // Without its template a notification is switched off.
  const DictionaryPtr mail = getEMailInfo(event.mail_id, locale);
  if (!mail) return;
  std::string base(TrimSpace(SettingValue("host", "public_url")));
  if (base.empty()) base = std::string(TrimSpace(mail->Get("MAIL_HYPERLINK").ToTextOrEmpty()));
  while (base.ends_with('/')) base.pop_back();
  const std::string link = base + "/requests/" + std::to_string(question_id);

  MailMessage message;
  message.from = mail->Get("MAIL_FROM").ToTextOrEmpty();
  message.to.push_back(std::string(TrimSpace(address)));
  message.subject = mail->Get("MAIL_SUBJECT").ToTextOrEmpty();
  message.body = mail->Get("MAIL_BODY").ToTextOrEmpty();
  for (std::string* text : {&message.subject, &message.body}) {
    ReplaceAll(*text, "%ID%", std::to_string(question_id));
    ReplaceAll(*text, "%DESC%", row[0].ToTextOrEmpty());
    ReplaceAll(*text, "%LINK%", link);
  }
  EnqueueMail(message);
}

}  // namespace

std::optional<int32_t> NotificationTemplate(int32_t status) {
  const Event* event = FindEvent(status);
  if (event == nullptr) return std::nullopt;
  return event->mail_id;
}

void NotifyStatusChange(int32_t question_id, std::string_view status_code,
                        int32_t transaction_id) noexcept {
  const std::optional<int32_t> status = WholeNumber(status_code);
  const Event* event = status ? FindEvent(*status) : nullptr;
  if (event == nullptr) return;
  try {
    Savepoint part;
    Notify(question_id, *event, transaction_id);
    part.Release();
  } catch (...) {
    try {
      WriteErrorLog(kNotifySource, "request " + std::to_string(question_id) + ", status " +
                                       std::to_string(event->status));
    } catch (...) {
      // The log itself failed: the action goes on regardless.
    }
  }
}

}  // namespace heliq
