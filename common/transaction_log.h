// The transaction log: one TRANSACTIONS row per action on a request.
#ifndef HELIQ_COMMON_TRANSACTION_LOG_H_
#define HELIQ_COMMON_TRANSACTION_LOG_H_

#include <cstdint>
#include <string_view>

#include "platform/variant.h"

namespace heliq {

// Appends a log row and returns the T_ID the database assigned to this very insert (two calls on
// one request, even in the same second, each get their own, increasing T_ID). Votes commit. The
// row belongs to the caller's unit of work. Failures vote abort and are reported under
// "HlqServiceRequestMTS.Question.CreateTransactionLog" (re-raised into the caller). A row that
// records a status change writes its mail notification (common/request_notifications.h), whose
// failure never reaches the caller.
int32_t CreateTransactionLog(int32_t question_id, std::string_view actor_name,
                             std::string_view status_code, int32_t center,
                             const DateTime& action_time, std::string_view comment,
                             std::string_view user_comment, int32_t time_spent);

}  // namespace heliq

#endif  // HELIQ_COMMON_TRANSACTION_LOG_H_
