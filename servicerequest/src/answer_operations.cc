#include <memory>
#include <string>
#include <utility>

#include "common/heliq_utilities.h"
#include "servicerequest/question/question.h"
#include "servicerequest/src/operations.h"

namespace heliq::internal {
namespace {

std::unique_ptr<Question> NewQuestion() { return GetComponentAs<Question>(kQuestionClassId); }

// A row whose only argument is the details dictionary.
void AddDetailsOperation(std::string name, void (Question::*operation)(const DictionaryPtr&),
                         std::string summary) {
  AddOperation({std::string(kQuestionClassId),
                std::move(name),
                {In("i_dictDetails", ParamKind::kDictionary)},
                [operation](Dictionary& args) {
                  (NewQuestion().get()->*operation)(args.Get("i_dictDetails").ToDictionary());
                  return Variant();
                },
                std::move(summary)});
}

}  // namespace

void AddAnswerOperations() {
  AddDetailsOperation("AnswerQuestion", &Question::AnswerQuestion,
                      "Answers a request (150): solution and answer texts, time spent, reminder "
                      "armed for Reminder_Time hours, engineer's queue size lowered once.");
  AddDetailsOperation("ConcludeQuestion", &Question::ConcludeQuestion,
                      "Concludes a request (160): engineer's experience raised, reminder deleted, "
                      "prospect's pending count lowered.");
  AddDetailsOperation("AcceptQuestion", &Question::AcceptQuestion,
                      "Accepts the answer of a request (165): engineer's experience raised, "
                      "reminder deleted, prospect's pending count lowered.");
}

}  // namespace heliq::internal
