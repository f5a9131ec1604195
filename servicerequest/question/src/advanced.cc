// Placeholder bodies until the operations of this file are written.
#include "platform/com_error.h"
#include "servicerequest/question/question.h"

namespace heliq {

void Question::AssignToEngineer(const ArrayPtr&, const std::string&) {
  throw ComError(err::kMethodNotSupported, "HlqServiceRequestMTS.Question", "not available yet");
}

void Question::UpdateAdvancedDetails(const DictionaryPtr&) {
  throw ComError(err::kMethodNotSupported, "HlqServiceRequestMTS.Question", "not available yet");
}

Variant Question::GetEngineerTime(int32_t) {
  throw ComError(err::kMethodNotSupported, "HlqServiceRequestMTS.Question", "not available yet");
}

void Question::CreateTransactionLog1(int32_t, const std::string&, const std::string&, int32_t, const DateTime&, const std::string&, const std::string&) {
  throw ComError(err::kMethodNotSupported, "HlqServiceRequestMTS.Question", "not available yet");
}

std::string Question::SQLEncodeStrForheliq(const Variant&) {
  throw ComError(err::kMethodNotSupported, "HlqServiceRequestMTS.Question", "not available yet");
}

}  // namespace heliq
