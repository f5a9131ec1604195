#include "common/mail_outbox.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "common/heliq_utilities.h"
#include "platform/clock.h"
#include "platform/com_error.h"
#include "platform/connection.h"
#include "platform/object_context.h"

namespace heliq {
namespace {

constexpr std::string_view kOutboxSource = "Heliq.MailOutbox";
constexpr int64_t kFirstRetrySeconds = 60;
constexpr int64_t kLongestRetrySeconds = 3600;

constexpr std::string_view kInsertEntry =
    "INSERT INTO MAIL_OUTBOX (CREATED, MAIL_FROM, MAIL_TO, MAIL_CC, SUBJECT, BODY, ATTACHMENTS, "
    "ATTEMPTS, NEXT_ATTEMPT) VALUES (?, ?, ?, ?, ?, ?, ?, 0, ?) RETURNING M_ID";
constexpr std::string_view kSelectDue =
    "SELECT M_ID, CREATED, MAIL_FROM, MAIL_TO, MAIL_CC, SUBJECT, BODY, ATTACHMENTS FROM "
    "MAIL_OUTBOX "
    "WHERE SENT IS NULL AND NEXT_ATTEMPT <= ? AND M_ID > ? ORDER BY M_ID LIMIT ?";
// The claim: of two senders only one changes the row.
constexpr std::string_view kClaimEntry =
    "UPDATE MAIL_OUTBOX SET ATTEMPTS = ATTEMPTS + 1, NEXT_ATTEMPT = ? "
    "WHERE M_ID = ? AND SENT IS NULL AND NEXT_ATTEMPT <= ?";
constexpr std::string_view kSelectAttempts = "SELECT ATTEMPTS FROM MAIL_OUTBOX WHERE M_ID = ?";
constexpr std::string_view kMarkSent =
    "UPDATE MAIL_OUTBOX SET SENT = ?, NEXT_ATTEMPT = NULL, LAST_ERROR = NULL WHERE M_ID = ?";
constexpr std::string_view kMarkFailed =
    "UPDATE MAIL_OUTBOX SET NEXT_ATTEMPT = ?, LAST_ERROR = ? WHERE M_ID = ?";
constexpr std::string_view kSelectLastId = "SELECT MAX(M_ID) FROM MAIL_OUTBOX";
constexpr std::string_view kCountEntries =
    "SELECT SUM(CASE WHEN SENT IS NULL AND NEXT_ATTEMPT IS NOT NULL THEN 1 ELSE 0 END), "
    "SUM(CASE WHEN SENT IS NULL AND NEXT_ATTEMPT IS NULL THEN 1 ELSE 0 END), "
    "SUM(CASE WHEN SENT IS NOT NULL THEN 1 ELSE 0 END) FROM MAIL_OUTBOX";

// Recipients are kept one a line: an address can hold no line break (CheckMail refuses it).
std::string JoinLines(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items) {
    if (!out.empty()) out += '\n';
    out += item;
  }
  return out;
}

// The lines of `text`; empty ones too when `keep_empty` (an empty attachment's bytes).
std::vector<std::string> SplitLines(const std::string& text, bool keep_empty = false) {
  std::vector<std::string> items;
  if (text.empty()) return items;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (end > start || keep_empty) items.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return items;
}

// Three lines per attachment: name, content type, base64 bytes; null for none.
Variant StoredAttachments(const std::vector<MailAttachment>& attachments) {
  if (attachments.empty()) return Variant::Null();
  std::vector<std::string> lines;
  for (const MailAttachment& attachment : attachments) {
    for (const std::string* text : {&attachment.file_name, &attachment.content_type}) {
      if (text->find_first_of("\r\n") != std::string::npos || text->empty()) {
        throw ComError(err::kInvalidProcedureCall, std::string(kOutboxSource),
                       "an attachment's name and content type are one non-empty line each");
      }
    }
    lines.push_back(attachment.file_name);
    lines.push_back(attachment.content_type);
    lines.push_back(Base64Encode(attachment.content));
  }
  return Variant(JoinLines(lines));
}

std::vector<MailAttachment> ReadAttachments(const Variant& stored) {
  std::vector<MailAttachment> attachments;
  if (stored.IsNull() || stored.IsEmpty()) return attachments;
  const std::vector<std::string> lines = SplitLines(stored.ToText(), true);
  if (lines.size() % 3 != 0) {
    throw ComError(err::kTypeMismatch, std::string(kOutboxSource),
                   "an outbox entry's attachments are not in lines of three");
  }
  for (size_t i = 0; i < lines.size(); i += 3) {
    std::optional<std::string> content = Base64Decode(lines[i + 2]);
    if (!content) {
      throw ComError(err::kTypeMismatch, std::string(kOutboxSource),
                     "an outbox entry's attachment is not base64");
    }
    attachments.push_back({lines[i], lines[i + 1], std::move(*content)});
  }
  return attachments;
}

std::string MessageId(int64_t id, const DateTime& created) {
  return "heliq-outbox-" + std::to_string(id) + "-" + std::to_string(created.ToEpochSeconds());
}

int64_t RetryDelay(int64_t attempts) {
  int64_t delay = kFirstRetrySeconds;
  for (int64_t i = 1; i < attempts && delay < kLongestRetrySeconds; ++i) delay *= 2;
  return std::min(delay, kLongestRetrySeconds);
}

std::unique_ptr<Connection> SenderConnection() {
  if (GetObjectContext() != nullptr) {
    throw ComError(err::kInvalidProcedureCall, std::string(kOutboxSource),
                   "the outbox is delivered outside any unit of work, after it committed");
  }
  return GetHeliqConnection();
}

int64_t LongOrZero(const Variant& value) {
  return value.IsEmpty() || value.IsNull() ? 0 : value.ToLongLong();
}

}  // namespace

int64_t EnqueueMail(const MailMessage& message) {
  if (!message.message_id.empty()) {
    throw ComError(err::kInvalidProcedureCall, std::string(kOutboxSource),
                   "an outbox entry takes its message id from its number");
  }
  CheckMail(message);
  const Variant attachments = StoredAttachments(message.attachments);
  const DateTime now = Now();
  std::unique_ptr<Connection> connection = GetHeliqConnection();
  const int64_t id =
      connection
          ->QueryValue(kInsertEntry,
                       {Variant(now), Variant(message.from), Variant(JoinLines(message.to)),
                        Variant(JoinLines(message.cc)), Variant(message.subject),
                        Variant(message.body), attachments, Variant(now.ToEpochSeconds())})
          .ToLongLong();
  CloseConnection(connection);
  return id;
}

std::vector<OutboxDelivery> DeliverOutbox(const OutboxOptions& options) {
  std::unique_ptr<Connection> connection = SenderConnection();
  const DateTime now = Now();
  const int64_t at = now.ToEpochSeconds();
  std::vector<OutboxDelivery> deliveries;
  const ResultSet due = connection->Query(
      kSelectDue, {Variant(at), Variant(options.after_id), Variant(options.limit)});
  for (const auto& row : due.rows) {
    OutboxDelivery delivery;
    delivery.id = row[0].ToLongLong();
    if (connection->Execute(kClaimEntry, {Variant(at + kOutboxClaimSeconds), Variant(delivery.id),
                                          Variant(at)}) != 1) {
      continue;  // another sender has it
    }
    MailMessage& message = delivery.message;
    message.from = row[2].ToTextOrEmpty();
    message.to = SplitLines(row[3].ToTextOrEmpty());
    message.cc = SplitLines(row[4].ToTextOrEmpty());
    message.subject = row[5].ToTextOrEmpty();
    message.body = row[6].ToTextOrEmpty();
    message.message_id = MessageId(delivery.id, row[1].ToDate());
    try {
      message.attachments = ReadAttachments(row[7]);
      if (options.send) {
        options.send(message);
      } else {
        SendMail(message);
      }
    } catch (const ComError& e) {
      delivery.error = e.description();
    }
    if (delivery.error.empty()) {
      connection->Execute(kMarkSent, {Variant(Now()), Variant(delivery.id)});
    } else {
      const int64_t attempts =
          LongOrZero(connection->QueryValue(kSelectAttempts, {Variant(delivery.id)}));
      const Variant next =
          attempts >= kOutboxMaxAttempts ? Variant::Null() : Variant(at + RetryDelay(attempts));
      connection->Execute(kMarkFailed, {next, Variant(delivery.error), Variant(delivery.id)});
    }
    deliveries.push_back(std::move(delivery));
  }
  CloseConnection(connection);
  return deliveries;
}

int64_t LastOutboxId() {
  std::unique_ptr<Connection> connection = GetHeliqConnection();
  const int64_t id = LongOrZero(connection->QueryValue(kSelectLastId));
  CloseConnection(connection);
  return id;
}

OutboxCounts CountOutbox() {
  std::unique_ptr<Connection> connection = GetHeliqConnection();
  const ResultSet result = connection->Query(kCountEntries);
  CloseConnection(connection);
  OutboxCounts counts;
  if (!result.rows.empty()) {
    counts.pending = LongOrZero(result.rows[0][0]);
    counts.given_up = LongOrZero(result.rows[0][1]);
    counts.sent = LongOrZero(result.rows[0][2]);
  }
  return counts;
}

}  // namespace heliq
