#include <string>
#include <utility>

#include "common/heliq_utilities.h"
#include "servicerequest/question/question.h"
#include "servicerequest/src/operations.h"

namespace heliq::internal {
namespace {

// A customer action: details and back-office generation in, true when the back office's change
// replaced the action.
void AddCustomerAction(std::string name, bool (Question::*action)(const DictionaryPtr&, int32_t),
                       std::string summary) {
  OperationSpec spec{std::string(kQuestionClassId),
                     std::move(name),
                     {In("i_dictDetails", ParamKind::kDictionary),
                      Optional("i_lBackend", ParamKind::kLong, Variant(0))},
                     [action](Dictionary& args) {
                       return Variant((NewQuestion().get()->*action)(
                           args.Get("i_dictDetails").ToDictionary(), ArgLong(args, "i_lBackend")));
                     },
                     std::move(summary)};
  spec.result = ParamKind::kBool;
  AddOperation(std::move(spec));
}

}  // namespace

void AddCustomerActionOperations() {
  AddCustomerAction("AddtoQuestion", &Question::AddtoQuestion,
                    "The customer adds text (Q_TEXT1, put in front); logged 10. True when the "
                    "back office had changed the call and the request followed it instead.");
  AddCustomerAction("customerClarifySR", &Question::customerClarifySR,
                    "The customer answers a request waiting for him (35 -> 40, logged 50). True "
                    "when the back office's change replaced the clarification.");
  AddCustomerAction("ReopenQuestion", &Question::ReopenQuestion,
                    "The customer reopens a request (155) with a text put in front; the "
                    "engineer's queue grows. True when the back office's change replaced it.");
  AddCustomerAction("AcceptQuestionByCustomer", &Question::AcceptQuestionByCustomer,
                    "The customer accepts the answer (165): experience raised, reminder deleted, "
                    "attachments moved. True when the back office's change replaced it.");
}

}  // namespace heliq::internal
