// Placeholder bodies until the operations of this file are written.
#include "platform/com_error.h"
#include "servicerequest/question/question.h"

namespace heliq {

void Question::AnswerQuestion(const DictionaryPtr&) {
  throw ComError(err::kMethodNotSupported, "HlqServiceRequestMTS.Question", "not available yet");
}

void Question::ConcludeQuestion(const DictionaryPtr&) {
  throw ComError(err::kMethodNotSupported, "HlqServiceRequestMTS.Question", "not available yet");
}

void Question::AcceptQuestion(const DictionaryPtr&) {
  throw ComError(err::kMethodNotSupported, "HlqServiceRequestMTS.Question", "not available yet");
}

}  // namespace heliq
