#include "common/transaction_log.h"

#include "common/heliq_utilities.h"
#include "common/operation_frame.h"
#include "common/request_notifications.h"

namespace heliq {
namespace {

constexpr std::string_view kSource = "HlqServiceRequestMTS.Question.CreateTransactionLog";

// RETURNING hands back the key of this insert; reading "the last row of the request" instead
// would give two concurrent calls the same T_ID.
constexpr std::string_view kInsertTransaction =
    "INSERT INTO TRANSACTIONS  ( Q_ID, T_NAME , T_STATUS, CENTER, T_DATE, T_COMMENT, "
    "USERCOMMENT,TIMESPENT ) VALUES ( ?, ?, ?, ?, ?, ?, ?, ? ) RETURNING T_ID";

}  // namespace

int32_t CreateTransactionLog(int32_t question_id, std::string_view actor_name,
                             std::string_view status_code, int32_t center,
                             const DateTime& action_time, std::string_view comment,
                             std::string_view user_comment, int32_t time_spent) {
  const int32_t id = RunOperation(kSource, [&] {
    auto connection = GetHeliqConnection();
    const Variant id = connection->QueryValue(
        kInsertTransaction,
        {Variant(question_id), Variant(actor_name), Variant(status_code), Variant(center),
         Variant(action_time), Variant(comment), Variant(user_comment), Variant(time_spent)});
    CloseConnection(connection);
    CommitContext();
    return id.ToLong();
  });
  // Every status change passes here, whichever operation makes it.
  NotifyStatusChange(question_id, status_code, id);
  return id;
}

}  // namespace heliq
