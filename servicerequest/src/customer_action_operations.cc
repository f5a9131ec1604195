#include <string>
#include <utility>
#include <vector>

#include "common/heliq_utilities.h"
#include "servicerequest/question/question.h"
#include "servicerequest/src/operations.h"

namespace heliq::internal {
namespace {

// A customer action: details and back-office generation in, true when the back office's change
// replaced the action.
void AddCustomerAction(std::string name, bool (Question::*action)(const DictionaryPtr&, int32_t),
                       std::string summary, std::vector<DetailKey> keys) {
  // Every customer action may go through the back office: a support-centre request sends the
  // back office's call the actor, and takes its new stamp back.
  std::vector<DetailKey> all = LoggedKeys(
      {Reads("CENTER", ParamKind::kLong), Reads("ACTIONDONEBY", ParamKind::kText),
       Reads("COMPONENT", ParamKind::kText), ReadsAndWrites("LASTTRANSTIME", ParamKind::kText)});
  all.insert(all.end(), keys.begin(), keys.end());
  OperationSpec spec{std::string(kQuestionClassId),
                     std::move(name),
                     {Details("i_dictDetails", std::move(all)),
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
                    "back office had changed the call and the request followed it instead.",
                    {Reads("Q_TEXT1", ParamKind::kText), Reads("Q_TEXT", ParamKind::kText),
                     Reads("CALLNUMBER", ParamKind::kText), Reads("PROSPECT", ParamKind::kBool),
                     Reads("EMAILID", ParamKind::kText)});
  AddCustomerAction("customerClarifySR", &Question::customerClarifySR,
                    "The customer answers a request waiting for him (35 -> 40, logged 50). True "
                    "when the back office's change replaced the clarification.",
                    {Reads("Q_CALL", ParamKind::kText), Reads("PROSPECT", ParamKind::kBool),
                     Reads("EMAILID", ParamKind::kText)});
  AddCustomerAction("ReopenQuestion", &Question::ReopenQuestion,
                    "The customer reopens a request (155) with a text put in front; the "
                    "engineer's queue grows. True when the back office's change replaced it.",
                    {Reads("Q_TEXT1", ParamKind::kText), Reads("Q_TEXT", ParamKind::kText),
                     Reads("Q_CALL", ParamKind::kText)});
  AddCustomerAction("AcceptQuestionByCustomer", &Question::AcceptQuestionByCustomer,
                    "The customer accepts the answer (165): experience raised, reminder deleted, "
                    "attachments moved. True when the back office's change replaced it.",
                    {Reads("D_DIRECT_TO", ParamKind::kText), Reads("Q_CALL", ParamKind::kText)});
}

}  // namespace heliq::internal
