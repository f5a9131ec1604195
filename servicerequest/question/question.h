// Question: every action on a service request. Registered as "HlqServiceRequestMTS.Question".
//
// Each public operation is one step of a request's life: it changes QUESTIONS, restarts or stops
// the request's REMINDER timer, and writes one TRANSACTIONS row, all in the caller's unit of work.
// Operations take a details dictionary (keys upper case; a key that is not set reads as empty) or
// plain values. A failure votes abort and is reported under
// "HlqServiceRequestMTS.Question.<operation>" (re-raised): nothing of the action is committed.
//
// Thread safety: an object serves one call at a time; separate objects may run concurrently.
#ifndef HELIQ_SERVICEREQUEST_QUESTION_QUESTION_H_
#define HELIQ_SERVICEREQUEST_QUESTION_QUESTION_H_

#include <cstdint>
#include <string_view>

#include "platform/component.h"
#include "platform/variant.h"

namespace heliq {

inline constexpr std::string_view kQuestionClassId = "HlqServiceRequestMTS.Question";

class Question : public Component {
 public:
  // Turns a prepared row (status 0) into a registered request: status 5, request data from the
  // details, the prospect's row created or counted, the reminder timer of status 5 started (the
  // request keeps one REMINDER row: registering again restarts it), one log row "5" with centre
  // 1, and a file-handling notification of kind 2. Q_ID 0 or missing: nothing happens.
  virtual void RegisterQuestion(const DictionaryPtr& details);

  // True when no row with this id has a status other than 0 (unregistered or unknown id), False
  // when one has; empty when the lookup failed (nothing is reported or raised). Writes nothing.
  virtual Variant CheckIfQuestionAlreadyExists(int32_t question_id);
};

// Registers the "HlqServiceRequestMTS.Question" component.
void RegisterQuestionComponent();

}  // namespace heliq

#endif  // HELIQ_SERVICEREQUEST_QUESTION_QUESTION_H_
