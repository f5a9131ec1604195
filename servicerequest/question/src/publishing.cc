// Placeholder bodies until the operations of this file are written.
#include "platform/com_error.h"
#include "servicerequest/question/question.h"

namespace heliq {

void Question::SetToToPublish(const DictionaryPtr&) {
  throw ComError(err::kMethodNotSupported, "HlqServiceRequestMTS.Question", "not available yet");
}

int32_t Question::PublishQuestion(const DictionaryPtr&) {
  throw ComError(err::kMethodNotSupported, "HlqServiceRequestMTS.Question", "not available yet");
}

int32_t Question::CreateFAQ(const DictionaryPtr&) {
  throw ComError(err::kMethodNotSupported, "HlqServiceRequestMTS.Question", "not available yet");
}

}  // namespace heliq
