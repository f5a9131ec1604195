// The platform's mail message: a sender, recipients, a subject and a text body, handed to the
// configured transport.
//
// Transports ([mail] transport in the configuration):
//   "pickup" (default): each message becomes one RFC 5322 file "<pickup_dir>/<unique>.eml",
//            written under a temporary name and renamed, so a reader never sees half a message.
//   "smtp":  sent through libcurl to smtp_host:smtp_port, with STARTTLS when smtp_starttls is
//            true and a login when smtp_user is set (password from smtp_password or the
//            environment variable HELIQ_SMTP_PASSWORD).
// The body is sent as text/plain; charset=utf-8 with CR LF line ends (multipart/mixed when there
// are attachments); headers that carry non-ASCII text are encoded as RFC 2047 words.
//
// Failures: SendMail throws ComError (err::kPathFileAccess when the pickup folder cannot be
// written, err::kMailNotSent when the SMTP server refuses or cannot be reached; the description
// names the server, never a password). Nothing is retried.
//
// Thread safety: SendMail may be called from any number of threads at once.
#ifndef HELIQ_PLATFORM_MAIL_H_
#define HELIQ_PLATFORM_MAIL_H_

#include <string>
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
};

// Sends `message` with the transport the configuration names.
void SendMail(const MailMessage& message);

}  // namespace heliq

#endif  // HELIQ_PLATFORM_MAIL_H_
