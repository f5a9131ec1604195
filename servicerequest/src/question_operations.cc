#include "common/heliq_utilities.h"
#include "servicerequest/question/question.h"
#include "servicerequest/src/operations.h"

namespace heliq::internal {
std::unique_ptr<Question> NewQuestion() { return GetComponentAs<Question>(kQuestionClassId); }

void AddQuestionDetailsOperation(std::string name,
                                 void (Question::*operation)(const DictionaryPtr&),
                                 std::string summary, std::vector<DetailKey> keys) {
  AddOperation({std::string(kQuestionClassId),
                std::move(name),
                {Details("i_dictDetails", std::move(keys))},
                [operation](Dictionary& args) {
                  (NewQuestion().get()->*operation)(args.Get("i_dictDetails").ToDictionary());
                  return Variant();
                },
                std::move(summary)});
}

void AddQuestionOperations() {
  AddOperation(
      {std::string(kQuestionClassId),
       "RegisterQuestion",
       {Details("i_dictDetails", LoggedKeys({Reads("CENTER", ParamKind::kLong),
                                             Reads("Q_PRODUCTCAT", ParamKind::kLong),
                                             Reads("PRODUCTID", ParamKind::kLong),
                                             Reads("Q_CATEGORY", ParamKind::kLong),
                                             Reads("Q_DESC", ParamKind::kText),
                                             Reads("Q_TEXT", ParamKind::kText),
                                             Reads("Q_ORIGINATOR", ParamKind::kText),
                                             Reads("PROSPECT", ParamKind::kBool),
                                             Reads("NewProspect", ParamKind::kBool),
                                             Reads("EMAILID", ParamKind::kText),
                                             Reads("INFORMATION", ParamKind::kText),
                                             Reads("BACKOFFICEAPPLICATION", ParamKind::kLong),
                                             Reads("BP_NUMBER", ParamKind::kText),
                                             Reads("Q_PRIORITY", ParamKind::kLong),
                                             Reads("Q_PRODUCT", ParamKind::kText),
                                             Reads("Q_REPORTED", ParamKind::kText),
                                             Reads("Q_SITE", ParamKind::kText),
                                             Reads("Q_OBJECT", ParamKind::kText),
                                             Reads("Q_OBJECTNR", ParamKind::kText),
                                             Reads("OSVREQUESTED", ParamKind::kLong),
                                             Reads("PREFSTARTDATE", ParamKind::kDate)}))},
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
