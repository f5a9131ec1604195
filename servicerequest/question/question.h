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
#include <string>
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

  // --- Engineer work steps ---
  virtual void TakeInHand(const DictionaryPtr& details);
  virtual void SetToWaiting(const DictionaryPtr& details);
  virtual void ClarifyQuestion(const DictionaryPtr& details);
  virtual void SaveQuestion(const DictionaryPtr& details);

  // --- Answer, conclude, accept ---
  virtual void AnswerQuestion(const DictionaryPtr& details);
  virtual void ConcludeQuestion(const DictionaryPtr& details);
  virtual void AcceptQuestion(const DictionaryPtr& details);

  // --- Publishing to the FAQ ---
  virtual void SetToToPublish(const DictionaryPtr& details);
  // Returns the FAQ number of the new entry.
  virtual int32_t PublishQuestion(const DictionaryPtr& details);

  // --- Close, cancel, transfer, history ---
  virtual void CloseQuestion(const DictionaryPtr& details);
  virtual void CancelQuestion(const DictionaryPtr& details);
  virtual void customerCancelSR(const DictionaryPtr& details);
  // `question_list`: a dictionary whose values are request numbers (keys unused).
  virtual void TransferQuestions(const DictionaryPtr& question_list, const std::string& user_id,
                                 const std::string& email_id);
  virtual void MovetoQuestionHistory(int32_t question_id, int32_t final_status);
  virtual void DecPendingQuestionsIfProspect(int32_t question_id);
  virtual void DeleteReminder(int32_t question_id);
  // The request's centre, 0 when it is found nowhere.
  virtual int32_t GetCenter(int32_t question_id);

  // --- Assignment, advanced details, engineer time ---
  virtual void AssignToEngineer(const ArrayPtr& question_ids, const std::string& user_id);
  virtual void UpdateAdvancedDetails(const DictionaryPtr& columns);
  // TOTALTIMESPENT of the request (0 when null); empty when there is no such request.
  virtual Variant GetEngineerTime(int32_t question_id);
  virtual void CreateTransactionLog1(int32_t question_id, const std::string& name,
                                     const std::string& status, int32_t center,
                                     const DateTime& date, const std::string& comment,
                                     const std::string& user_comment);
  virtual std::string SQLEncodeStrForheliq(const Variant& value);

 protected:
  // Copies the files of one attachment folder to another (both end with "/").
  void moveAttachments(const std::string& source, const std::string& target);
  // Creates the FAQ entry of a request; returns its number.
  int32_t CreateFAQ(const DictionaryPtr& details);
};

// Registers the "HlqServiceRequestMTS.Question" component.
void RegisterQuestionComponent();

}  // namespace heliq

#endif  // HELIQ_SERVICEREQUEST_QUESTION_QUESTION_H_
