// Placeholder bodies until the operations of this file are written.
#include "platform/com_error.h"
#include "servicerequest/question/question.h"

namespace heliq {

void Question::TakeInHand(const DictionaryPtr&) {
  throw ComError(err::kMethodNotSupported, "HlqServiceRequestMTS.Question", "not available yet");
}

void Question::SetToWaiting(const DictionaryPtr&) {
  throw ComError(err::kMethodNotSupported, "HlqServiceRequestMTS.Question", "not available yet");
}

void Question::ClarifyQuestion(const DictionaryPtr&) {
  throw ComError(err::kMethodNotSupported, "HlqServiceRequestMTS.Question", "not available yet");
}

void Question::SaveQuestion(const DictionaryPtr&) {
  throw ComError(err::kMethodNotSupported, "HlqServiceRequestMTS.Question", "not available yet");
}

void Question::moveAttachments(const std::string&, const std::string&) {
  throw ComError(err::kMethodNotSupported, "HlqServiceRequestMTS.Question", "not available yet");
}

}  // namespace heliq
