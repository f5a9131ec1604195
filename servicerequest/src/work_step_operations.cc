#include "common/heliq_utilities.h"
#include "servicerequest/question/question.h"
#include "servicerequest/src/operations.h"

namespace heliq::internal {

void AddWorkStepOperations() {
  AddQuestionDetailsOperation(
      "TakeInHand", &Question::TakeInHand,
      "The engineer starts work on a request: status 25, reminder restarted, logged.");
  AddQuestionDetailsOperation(
      "SetToWaiting", &Question::SetToWaiting,
      "Pauses work: WAITINGTYPE 0 waits (30, timer restarted), 1 waits for the customer (35, "
      "timer stopped).");
  AddQuestionDetailsOperation(
      "ClarifyQuestion", &Question::ClarifyQuestion,
      "Resumes work on a waiting request (status 40; logged 45 after 30, 50 after 35).");
  AddQuestionDetailsOperation(
      "SaveQuestion", &Question::SaveQuestion,
      "Saves the engineer's provisional solution and classification (status 25, timer "
      "kept).");
}

}  // namespace heliq::internal
