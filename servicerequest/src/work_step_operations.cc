#include "common/heliq_utilities.h"
#include "servicerequest/question/question.h"
#include "servicerequest/src/operations.h"

namespace heliq::internal {

void AddWorkStepOperations() {
  AddQuestionDetailsOperation(
      "TakeInHand", &Question::TakeInHand,
      "The engineer starts work on a request: status 25, reminder restarted, logged.",
      LoggedKeys({Reads("LASTTRANSTIME", ParamKind::kText)}));
  AddQuestionDetailsOperation(
      "SetToWaiting", &Question::SetToWaiting,
      "Pauses work: WAITINGTYPE 0 waits (30, timer restarted), 1 waits for the customer (35, "
      "timer stopped).",
      LoggedKeys({Reads("WAITINGTYPE", ParamKind::kLong), Reads("TIMESPENT", ParamKind::kLong),
                  Reads("LASTTRANSTIME", ParamKind::kText)}));
  AddQuestionDetailsOperation(
      "ClarifyQuestion", &Question::ClarifyQuestion,
      "Resumes work on a waiting request (status 40; logged 45 after 30, 50 after 35).",
      LoggedKeys({Reads("Q_STATUS", ParamKind::kLong), Reads("TIMESPENT", ParamKind::kLong),
                  Reads("LASTTRANSTIME", ParamKind::kText)}));
  AddQuestionDetailsOperation(
      "SaveQuestion", &Question::SaveQuestion,
      "Saves the engineer's provisional solution and classification (status 25, timer "
      "kept).",
      LoggedKeys({Reads("S_TEXT", ParamKind::kText), Reads("S_LINK", ParamKind::kText),
                  Reads("Q_CATEGORY", ParamKind::kLong), Reads("Q_PRODUCTCAT", ParamKind::kLong),
                  Reads("PRODUCTID", ParamKind::kLong), Reads("TIMESPENT", ParamKind::kLong),
                  Reads("LASTTRANSTIME", ParamKind::kText)}));
}

}  // namespace heliq::internal
