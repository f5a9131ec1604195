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
      "armed for Reminder_Time hours, engineer's queue size lowered once.");
  AddQuestionDetailsOperation(
      "ConcludeQuestion", &Question::ConcludeQuestion,
      "Concludes a request (160): engineer's experience raised, reminder deleted, "
      "prospect's pending count lowered.");
  AddQuestionDetailsOperation(
      "AcceptQuestion", &Question::AcceptQuestion,
      "Accepts the answer of a request (165): engineer's experience raised, "
      "reminder deleted, prospect's pending count lowered.");
}

}  // namespace heliq::internal
