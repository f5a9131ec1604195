// The mail outbox: every mail the system sends is first written to MAIL_OUTBOX by the unit of work
// that decides to send it, and delivered by a sender after that work has committed.
//
// A unit of work that rolls back takes its entries with it: nothing is sent. A committed entry is
// delivered once: a sender first claims it (one atomic statement that also counts the attempt and
// moves its next attempt a claim period ahead, so two senders never deliver it at once), hands it
// to the configured transport (platform/mail.h), and then marks it sent. A sender that dies between
// delivery and marking leaves the claim to expire; the next sender delivers the entry again, once,
// with the same Message-ID ("heliq-outbox-<entry>-<created>"): a pickup folder keeps one file, an
// SMTP recipient sees the same Message-ID twice. A failed delivery is retried with back-off
// (1, 2, 4, ... minutes, at most an hour); after kOutboxMaxAttempts the entry is given up (no next
// attempt, its last error kept).
//
// Entries hold sender, recipients, subject, text and attachments (base64 in the row). Failures are
// ComErrors; the database's for the table.
//
// Thread safety: any number of threads and processes may enqueue and deliver at once.
#ifndef HELIQ_COMMON_MAIL_OUTBOX_H_
#define HELIQ_COMMON_MAIL_OUTBOX_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/mail.h"
#include "platform/variant.h"

namespace heliq {

inline constexpr int32_t kOutboxMaxAttempts = 10;
// How long a claimed entry is left to its sender before another may deliver it (longer than any
// SMTP exchange may take).
inline constexpr int64_t kOutboxClaimSeconds = 300;

// Writes `message` to the outbox in the current unit of work (outside one it commits at once) and
// returns the entry's number. The message is checked as the transport would check it
// (CheckMail: err::kMailNotSent, nothing written); a message id of its own, or an attachment name
// or content type that is empty or holds a line break, is refused (err::kInvalidProcedureCall).
int64_t EnqueueMail(const MailMessage& message);

struct OutboxDelivery {
  int64_t id = 0;
  MailMessage message;  // as handed to the transport, message_id set
  std::string error;    // empty when delivered; else why not (the entry is retried or given up)
};

struct OutboxOptions {
  // Only entries numbered above this one (`heliq escalate` delivers its run's entries).
  int64_t after_id = 0;
  // At most this many entries in one call.
  int64_t limit = 100;
  // The transport; SendMail when empty. A ComError it throws is a failed delivery; any other
  // exception leaves the entry claimed and unmarked and ends the call, as a crash would.
  std::function<void(const MailMessage&)> send;
};

// Delivers the entries due at Now(), oldest first, outside any unit of work (error 5 inside one).
// Returns what it tried.
std::vector<OutboxDelivery> DeliverOutbox(const OutboxOptions& options = {});

// The highest entry number so far (0 for an empty outbox).
int64_t LastOutboxId();

struct OutboxCounts {
  int64_t pending = 0;   // not sent, still to be tried
  int64_t given_up = 0;  // not sent, no more attempts
  int64_t sent = 0;
};
OutboxCounts CountOutbox();

}  // namespace heliq

#endif  // HELIQ_COMMON_MAIL_OUTBOX_H_
