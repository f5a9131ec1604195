#include <memory>
#include <string>
#include <utility>

#include "common/heliq_utilities.h"
#include "servicerequest/question/question.h"
#include "servicerequest/src/operations.h"

namespace heliq::internal {

void AddAnswerOperations() {
  AddQuestionDetailsOperation(
      "AnswerQuestion", &Question::AnswerQuestion,
      "Answers a request (150): solution and answer texts, time spent, reminder "
      "armed for Reminder_Time hours, engineer's queue size lowered once.",
      LoggedKeys({Reads("S_TEXT", ParamKind::kText), Reads("S_LINK", ParamKind::kText),
                  Reads("A_TEXT", ParamKind::kText), Reads("A_LINK", ParamKind::kText),
                  Reads("A_DATE", ParamKind::kDate), Reads("Q_CATEGORY", ParamKind::kLong),
                  Reads("Q_PRODUCTCAT", ParamKind::kLong), Reads("PRODUCTID", ParamKind::kLong),
                  Reads("TIMESPENT", ParamKind::kLong), Reads("LASTTRANSTIME", ParamKind::kText)}));
  AddQuestionDetailsOperation(
      "ConcludeQuestion", &Question::ConcludeQuestion,
      "Concludes a request (160): engineer's experience raised, reminder deleted, "
      "prospect's pending count lowered.",
      LoggedKeys({Reads("Q_CATEGORY", ParamKind::kLong), Reads("Q_PRODUCTCAT", ParamKind::kLong),
                  Reads("PRODUCTID", ParamKind::kLong), Reads("LASTTRANSTIME", ParamKind::kText)}));
  AddQuestionDetailsOperation(
      "AcceptQuestion", &Question::AcceptQuestion,
      "Accepts the answer of a request (165): engineer's experience raised, "
      "reminder deleted, prospect's pending count lowered.",
      LoggedKeys({Reads("LASTTRANSTIME", ParamKind::kText)}));
}

}  // namespace heliq::internal
