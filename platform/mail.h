// The platform's mail message: a sender, recipients, a subject and a text body, handed to the
// configured transport.
//
// Transports ([mail] transport in the configuration):
//   "pickup" (default): each message becomes one RFC 5322 file "<pickup_dir>/<id>.eml", written
//            under a temporary name and renamed, so a reader never sees half a message. <id> is
//            the message's message_id when set (a message sent again replaces its file instead
//            of adding one), else a fresh unique name.
//   "smtp":  sent through libcurl to smtp_host:smtp_port, with STARTTLS when smtp_starttls is
//            true and a login when smtp_user is set (password from smtp_password or the
//            environment variable HELIQ_SMTP_PASSWORD). A login without STARTTLS is refused
//            unless smtp_allow_plain_auth is true.
// The body is sent as text/plain; charset=utf-8 with CR LF line ends (multipart/mixed when there
// are attachments); headers that carry non-ASCII text are encoded as RFC 2047 words.
//
// Addresses are "local@domain" or "Display Name <local@domain>"; a recipient entry may hold several
// separated by ";" or "," (empty pieces are skipped). CR or LF in an address is refused, in the
// subject it is folded into a blank, so no text of a message can add a header.
//
// Settings ([mail]): transport, pickup_dir (relative to the install directory; default
// "var/mail"), smtp_host, smtp_port (default 25), smtp_starttls (STARTTLS required), smtp_user,
// smtp_password, smtp_allow_plain_auth (default false), smtp_timeout (seconds for the whole
// exchange, default 30).
//
// Failures: SendMail throws ComError: err::kPathFileAccess when the pickup folder cannot be
// written; err::kMailNotSent when the message cannot be sent as given (no sender, no recipient, a
// bad address, an unknown transport, a login that would cross an unencrypted connection) or the
// SMTP server refuses it or cannot be reached (the description names the server, never a
// password). SendMail retries nothing (the system's mails go through the mail outbox,
// common/mail_outbox.h, which does); a failed pickup write leaves no file behind.
//
// Thread safety: SendMail may be called from any number of threads at once.
#ifndef HELIQ_PLATFORM_MAIL_H_
#define HELIQ_PLATFORM_MAIL_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace heliq {

struct MailAttachment {
  std::string file_name;     // name shown to the recipient (no folders)
  std::string content_type;  // e.g. "application/vnd.ms-excel"
  std::string content;       // the bytes, sent base64-encoded
};

struct MailMessage {
  std::string from;
  std::vector<std::string> to;
  std::vector<std::string> cc;
  std::string subject;
  std::string body;  // plain text; bare LF or CR LF line ends are both accepted
  std::vector<MailAttachment> attachments;  // none: a single text/plain part
  // The local part of the Message-ID (and the pickup file's name): letters, digits, '.', '-' and
  // '_' only. Empty: a fresh unique one. The same id on two deliveries marks one mail sent twice.
  std::string message_id;
};

// Sends `message` with the transport the configuration names.
void SendMail(const MailMessage& message);

// Standard base64 (RFC 4648, with padding), as attachments are sent.
std::string Base64Encode(std::string_view data);
// The bytes of base64 `text`; nullopt when it is not exactly that (no line breaks).
std::optional<std::string> Base64Decode(std::string_view text);

// Throws what SendMail would throw for the message itself (no sender, no recipient, a bad
// address or message id: err::kMailNotSent), without handing it to a transport. A refusal is
// recorded by the thread's ScopedMailRecorder as a failed SendMail would be.
void CheckMail(const MailMessage& message);

// Why SendMail would refuse `address` as a recipient entry (one or more "local@domain" or
// "Display Name <local@domain>"), in the words of its error; nullopt when the entry is fine. A
// blank entry is refused.
std::optional<std::string> MailAddressProblem(std::string_view address);

// One SendMail call seen by a ScopedMailRecorder.
struct MailRecord {
  MailMessage message;
  std::string error;  // empty when the message was handed over; else the failure's description
};

// Records every SendMail (and refusing CheckMail) call made on the constructing thread while the
// recorder lives, whether it succeeded or not (callers that drop mail failures quietly still show
// them here). Recorders nest: the innermost one records. Create and destroy it on the same thread.
class ScopedMailRecorder {
 public:
  ScopedMailRecorder();
  ~ScopedMailRecorder();
  ScopedMailRecorder(const ScopedMailRecorder&) = delete;
  ScopedMailRecorder& operator=(const ScopedMailRecorder&) = delete;

  const std::vector<MailRecord>& records() const { return records_; }

 private:
  friend void SendMail(const MailMessage& message);
  friend void CheckMail(const MailMessage& message);
  std::vector<MailRecord> records_;
  ScopedMailRecorder* previous_;
};

}  // namespace heliq

#endif  // HELIQ_PLATFORM_MAIL_H_
