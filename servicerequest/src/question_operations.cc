#include "common/heliq_utilities.h"
#include "servicerequest/question/question.h"
#include "servicerequest/src/operations.h"

namespace heliq::internal {
std::unique_ptr<Question> NewQuestion() { return GetComponentAs<Question>(kQuestionClassId); }

void AddQuestionDetailsOperation(std::string name,
                                 void (Question::*operation)(const DictionaryPtr&),
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

void AddQuestionOperations() {
  AddOperation({std::string(kQuestionClassId),
                "RegisterQuestion",
                {In("i_dictDetails", ParamKind::kDictionary)},
                [](Dictionary& args) {
                  NewQuestion()->RegisterQuestion(args.Get("i_dictDetails").ToDictionary());
                  return Variant();
                },
                "Registers a prepared request row (status 0 -> 5), starts its reminder, logs it."});
  OperationSpec check{std::string(kQuestionClassId),
                      "CheckIfQuestionAlreadyExists",
                      {ByRef("i_lQID", ParamKind::kLong)},
                      [](Dictionary& args) {
                        return NewQuestion()->CheckIfQuestionAlreadyExists(ArgLong(args, "i_lQID"));
                      },
                      "True when the request id is unregistered or unknown, False when a "
                      "registered request has it."};
  check.read_only = true;
  check.result = ParamKind::kBool;
  AddOperation(std::move(check));
}

}  // namespace heliq::internal
