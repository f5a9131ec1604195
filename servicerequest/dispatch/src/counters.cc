// The engineers' counters on their dispatch rule rows: queue size and experience.
//
// Each counter addresses the engineer the request is directed to at the moment of the call
// (QUESTIONS.D_DIRECT_TO), so callers that move a request call them before and after changing
// D_DIRECT_TO. An engineer may own several rule rows; only the first one (lowest RULE_ID) counts.
//
// A counter is changed by one statement that reads and writes the row at once: concurrent calls
// that read the value and saved it back would lose increments (both read 3, both write 4). The
// statement runs in the caller's unit of work, so a failure later in the call rolls it back. A
// null counter stays null (null + n is null), and a queue size may go below 0.
#include <string_view>

#include "common/heliq_utilities.h"
#include "common/operation_frame.h"
#include "servicerequest/dispatch/dispatch.h"

namespace heliq {
namespace {

constexpr std::string_view kQueueSizeCceSource =
    "HlqServiceRequestMTS.Dispatch.updateQueuesizeofCCE";
constexpr std::string_view kExperienceCceSource =
    "HlqServiceRequestMTS.Dispatch.updateExperienceofCCE";
constexpr std::string_view kQueueSizeSceSource =
    "HlqServiceRequestMTS.Dispatch.updateQueuesizeofSCE";
constexpr std::string_view kExperienceSceSource =
    "HlqServiceRequestMTS.Dispatch.updateExperienceofSCE";

// LOGIN and D_DIRECT_TO are case-insensitive in both dialects (NOCASE / CITEXT), so the join
// finds the engineer whatever the letter case the request names him in. A request directed to
// nobody, or to a login without a rule row, makes the sub-select null and changes no row.
constexpr std::string_view kAddToQueueSizeCce =
    "UPDATE CCEDISRULE SET QUEUESIZE = QUEUESIZE + ? WHERE RULE_ID = "
    "(SELECT MIN(CCEDISRULE.RULE_ID) FROM QUESTIONS, CCEDISRULE "
    "WHERE QUESTIONS.Q_ID = ? AND CCEDISRULE.LOGIN = QUESTIONS.D_DIRECT_TO)";
constexpr std::string_view kAddToExperienceCce =
    "UPDATE CCEDISRULE SET EXPERIENCE = EXPERIENCE + 1 WHERE RULE_ID = "
    "(SELECT MIN(CCEDISRULE.RULE_ID) FROM QUESTIONS, CCEDISRULE "
    "WHERE QUESTIONS.Q_ID = ? AND CCEDISRULE.LOGIN = QUESTIONS.D_DIRECT_TO)";
constexpr std::string_view kAddToQueueSizeSce =
    "UPDATE SCEDISRULE SET QUEUESIZE = QUEUESIZE + ? WHERE RULE_ID = "
    "(SELECT MIN(SCEDISRULE.RULE_ID) FROM QUESTIONS, SCEDISRULE "
    "WHERE QUESTIONS.Q_ID = ? AND SCEDISRULE.LOGIN = QUESTIONS.D_DIRECT_TO)";
constexpr std::string_view kAddToExperienceSce =
    "UPDATE SCEDISRULE SET EXPERIENCE = EXPERIENCE + 1 WHERE RULE_ID = "
    "(SELECT MIN(SCEDISRULE.RULE_ID) FROM QUESTIONS, SCEDISRULE "
    "WHERE QUESTIONS.Q_ID = ? AND SCEDISRULE.LOGIN = QUESTIONS.D_DIRECT_TO)";

// Runs one counter statement under the operation's frame and votes commit.
void ChangeCounter(std::string_view source, std::string_view statement, const Params& params) {
  RunOperation(source, [&] {
    auto connection = GetHeliqConnection();
    connection->Execute(statement, params);
    CommitContext();
    CloseConnection(connection);
  });
}

}  // namespace

void Dispatch::updateQueuesizeofCCE(int32_t question_id, int32_t change) {
  ChangeCounter(kQueueSizeCceSource, kAddToQueueSizeCce, {Variant(change), Variant(question_id)});
}

void Dispatch::updateExperienceofCCE(int32_t question_id) {
  ChangeCounter(kExperienceCceSource, kAddToExperienceCce, {Variant(question_id)});
}

void Dispatch::updateQueuesizeofSCE(int32_t question_id, int32_t change) {
  ChangeCounter(kQueueSizeSceSource, kAddToQueueSizeSce, {Variant(change), Variant(question_id)});
}

void Dispatch::updateExperienceofSCE(int32_t question_id) {
  ChangeCounter(kExperienceSceSource, kAddToExperienceSce, {Variant(question_id)});
}

}  // namespace heliq
