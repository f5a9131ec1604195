#include "platform/mail.h"

#include "platform/com_error.h"

namespace heliq {

void SendMail(const MailMessage& message) {
  throw ComError(err::kMailNotSent, "Mail", "no mail transport is built yet");
}

}  // namespace heliq
