// Private: the customer's acceptance of an answer, shared by AcceptQuestion and the acceptance
// that goes through the back office first.
#ifndef HELIQ_SERVICEREQUEST_QUESTION_SRC_VERDICT_H_
#define HELIQ_SERVICEREQUEST_QUESTION_SRC_VERDICT_H_

#include <cstdint>
#include <optional>

#include "platform/variant.h"
#include "servicerequest/question/question.h"

namespace heliq::internal {

// Accepts the answer of request details Q_ID, in the caller's unit of work, without a log row and
// without a vote: status 165 and Q_DATE = `now`, the back office's stamp of details
// LASTTRANSTIME, the engineer's experience +1, the reminder deleted, a prospect's pending count
// -1. Returns the request's centre; nullopt (nothing done) when the request has no row.
std::optional<int32_t> ApplyAcceptance(Question& question, const Dictionary& details,
                                       const DateTime& now);

}  // namespace heliq::internal

#endif  // HELIQ_SERVICEREQUEST_QUESTION_SRC_VERDICT_H_
