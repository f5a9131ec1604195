#include "common/heliq_utilities.h"
#include "servicerequest/question/question.h"
#include "servicerequest/src/operations.h"

namespace heliq::internal {
namespace {

// One row of a work step: a details dictionary in, nothing out.
void AddStep(std::string name, void (Question::*step)(const DictionaryPtr&), std::string summary) {
  AddOperation({std::string(kQuestionClassId),
                std::move(name),
                {In("i_dictDetails", ParamKind::kDictionary)},
                [step](Dictionary& args) {
                  auto question = GetComponentAs<Question>(kQuestionClassId);
                  (question.get()->*step)(args.Get("i_dictDetails").ToDictionary());
                  return Variant();
                },
                std::move(summary)});
}

}  // namespace

void AddWorkStepOperations() {
  AddStep("TakeInHand", &Question::TakeInHand,
          "The engineer starts work on a request: status 25, reminder restarted, logged.");
  AddStep("SetToWaiting", &Question::SetToWaiting,
          "Pauses work: WAITINGTYPE 0 waits (30, timer restarted), 1 waits for the customer (35, "
          "timer stopped).");
  AddStep("ClarifyQuestion", &Question::ClarifyQuestion,
          "Resumes work on a waiting request (status 40; logged 45 after 30, 50 after 35).");
  AddStep("SaveQuestion", &Question::SaveQuestion,
          "Saves the engineer's provisional solution and classification (status 25, timer "
          "kept).");
}

}  // namespace heliq::internal
