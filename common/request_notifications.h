// Mail notifications about a request's progress, to the people it concerns: the customer when his
// request is answered (status 150), waits for him (35), is closed (180) or cancelled (185); the
// engineer when it is assigned (15) or reassigned (20) to him.
//
// The transaction log calls NotifyStatusChange for every row it writes, so every operation that
// changes a status notifies without knowing of it; a row that repeats the request's previous
// status (a refusal recorded, a note) notifies nobody. The mail comes from the EMAIL template of
// the event (50 answered, 51 waiting for the customer, 52 closed, 53 cancelled, 54 assigned; texts
// through I18NTEXT in the recipient's language, else the installation's, else 1033), with the
// placeholders %ID%, %DESC% and %LINK% replaced: the link is "<base>/requests/<Q_ID>", base being
// [host] public_url, else the template's MAIL_HYPERLINK. It goes to the mail outbox in the caller's
// unit of work: a call that rolls back sends nothing.
//
// A notification never fails the action: its failure (database, outbox) is confined to a savepoint
// and logged. A recipient without a mail address, or an event whose template has been deleted
// (how a site switches it off), is skipped without a log entry.
#ifndef HELIQ_COMMON_REQUEST_NOTIFICATIONS_H_
#define HELIQ_COMMON_REQUEST_NOTIFICATIONS_H_

#include <cstdint>
#include <optional>
#include <string_view>

namespace heliq {

// The EMAIL template of the notification about `status`, nullopt when nobody is notified of it.
std::optional<int32_t> NotificationTemplate(int32_t status);

// Writes the notification about request `question_id` entering `status_code`, whose log row is
// `transaction_id`, to the outbox (see the file comment). Never throws.
void NotifyStatusChange(int32_t question_id, std::string_view status_code,
                        int32_t transaction_id) noexcept;

}  // namespace heliq

#endif  // HELIQ_COMMON_REQUEST_NOTIFICATIONS_H_
