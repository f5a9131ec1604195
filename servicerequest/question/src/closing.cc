// Placeholder bodies until the operations of this file are written.
#include "platform/com_error.h"
#include "servicerequest/question/question.h"

namespace heliq {

void Question::CloseQuestion(const DictionaryPtr&) {
  throw ComError(err::kMethodNotSupported, "HlqServiceRequestMTS.Question", "not available yet");
}

void Question::CancelQuestion(const DictionaryPtr&) {
  throw ComError(err::kMethodNotSupported, "HlqServiceRequestMTS.Question", "not available yet");
}

void Question::customerCancelSR(const DictionaryPtr&) {
  throw ComError(err::kMethodNotSupported, "HlqServiceRequestMTS.Question", "not available yet");
}

void Question::TransferQuestions(const DictionaryPtr&, const std::string&, const std::string&) {
  throw ComError(err::kMethodNotSupported, "HlqServiceRequestMTS.Question", "not available yet");
}

void Question::MovetoQuestionHistory(int32_t, int32_t) {
  throw ComError(err::kMethodNotSupported, "HlqServiceRequestMTS.Question", "not available yet");
}

void Question::DecPendingQuestionsIfProspect(int32_t) {
  throw ComError(err::kMethodNotSupported, "HlqServiceRequestMTS.Question", "not available yet");
}

void Question::DeleteReminder(int32_t) {
  throw ComError(err::kMethodNotSupported, "HlqServiceRequestMTS.Question", "not available yet");
}

int32_t Question::GetCenter(int32_t) {
  throw ComError(err::kMethodNotSupported, "HlqServiceRequestMTS.Question", "not available yet");
}

}  // namespace heliq
