// Private: the operation-table rows of the library's public classes, one function per class.
#ifndef HELIQ_SERVICEREQUEST_SRC_OPERATIONS_H_
#define HELIQ_SERVICEREQUEST_SRC_OPERATIONS_H_

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/operation_table.h"
#include "servicerequest/question/question.h"

namespace heliq::internal {

void AddProspectOperations();
void AddQuestionOperations();
void AddDispatchOperations();
// Rows of the request's life, one function per area (servicerequest/src/*_operations.cc).
void AddWorkStepOperations();
void AddDaemonOperations();
void AddClosingOperations();
void AddAnswerOperations();
void AddPublishingOperations();
void AddAdvancedOperations();
void AddBackOfficeSyncOperations();
void AddCustomerActionOperations();

// A Question object created by its class identifier (inside the call's context).
std::unique_ptr<Question> NewQuestion();
// Adds a Question row whose only argument is the details dictionary `i_dictDetails` with the
// keys it reads and writes.
void AddQuestionDetailsOperation(std::string name,
                                 void (Question::*operation)(const DictionaryPtr&),
                                 std::string summary, std::vector<DetailKey> keys);

// `keys` with the keys of the log row the operation writes: Q_ID, T_NAME, T_COMMENT,
// USERCOMMENT.
inline std::vector<DetailKey> LoggedKeys(std::vector<DetailKey> keys) {
  keys.insert(keys.begin(),
              {Reads("Q_ID", ParamKind::kLong), Reads("T_NAME", ParamKind::kText),
               Reads("T_COMMENT", ParamKind::kText), Reads("USERCOMMENT", ParamKind::kText)});
  return keys;
}

// Argument readers for invokers (arguments are already converted to their declared kinds).
inline std::string ArgText(const Dictionary& args, std::string_view name) {
  return args.Get(name).ToTextOrEmpty();
}
inline int32_t ArgLong(const Dictionary& args, std::string_view name) {
  const Variant value = args.Get(name);
  return value.IsNull() ? 0 : value.ToLong();
}

}  // namespace heliq::internal

#endif  // HELIQ_SERVICEREQUEST_SRC_OPERATIONS_H_
