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

  // --- Back-office synchronisation ---
  // Makes a support-centre request follow a change of its back-office call. `changes` is the
  // back office's changes dictionary (STATUS, WAITINGFLAG, WAITINGDESC, SUPPORTENGCODE,
  // SERVICEORDER, LASTTRANSTIME); `details` the request's details (Q_ID, Q_STATUS, CENTER,
  // D_DIRECT_TO, T_NAME, BACKENDTYPE), into which LASTTRANSTIME, USERCOMMENT (the waiting
  // reason) and the keys of UpdateHLQAccordingtoStatus are written. An engineer code the directory
  // does not know is logged ("HQLBL4329") and leaves the engineer as he is. Back-office status 20
  // also records the service order ("HQLBL4330"). A reassignment error comes back in `error` and
  // stops before the service order and the vote. Q_ID 0: nothing happens.
  virtual void UpdateBackendChangesToQuestion(const DictionaryPtr& changes,
                                              const DictionaryPtr& details, std::string& error);
  // The front-end status of a back-office status, given the request's current status and the
  // back office's waiting flag (0 none, 1 waiting for the customer, 2 resumed); 0 when the
  // back-office status has no front-end counterpart. Pure.
  virtual int32_t MaptoFrontEndStatus(int32_t backoffice_status, int32_t current_status,
                                      int32_t waiting_flag);
  // Sets details Q_STATUS and D_DIRECT_TO to the new values, hands the request to `new_engineer`
  // when he is not empty and not the current one (ENGRCHANGED true; Dispatch assigns from status
  // 5, reassigns otherwise), then replays the engineer action that leads to `new_status` with
  // T_COMMENT "HQLBL4300" (5 reset, 25 take in hand, 35 wait for the customer, 45/50 clarify,
  // 160 conclude, 165 accept; other statuses replay nothing). The action is replayed even when
  // the reassignment returned an error text in `error`.
  virtual void UpdateHLQAccordingtoStatus(const DictionaryPtr& details, int32_t new_status,
                                          const std::string& new_engineer, std::string& error);
  // Stores the back office's service order on the request. Never fails: a failure is swallowed
  // (the request simply keeps its previous order). No log row, no vote.
  virtual void UpdateSvcOrderDetails(const std::string& service_order, int32_t question_id);

  // --- Customer actions ---
  // Each records an action of the customer. For a support-centre request (details CENTER 2) the
  // action is first sent to the back-office call of generation `backend` (3 or 8; any other fails
  // with error 429): a refusal fails the action with error 1099 and stores nothing; a call changed
  // in the back office since the request last saw it (CHANGEDFLAG 1) drops the action, makes the
  // request follow the back office (UpdateBackendChangesToQuestion) and returns true. Otherwise
  // the back office's new LASTTRANSTIME is stored with the action, which returns false. Q_ID 0
  // or no such request: false, the request is not changed (reopening and accepting ask the back
  // office before they read the request).
  //
  // Puts details Q_TEXT1 in front of the request's text (one empty line between), Q_DATE = now,
  // logs "10"; the status and the reminder stay as they are.
  virtual bool AddtoQuestion(const DictionaryPtr& details, int32_t backend);
  // Only a request waiting for the customer (35): status 40, timer restarted, logged "50". Any
  // other status: false, nothing changes (the back office is not asked).
  virtual bool customerClarifySR(const DictionaryPtr& details, int32_t backend);
  // Status 155 with the reopening text (details Q_TEXT1) in front, timer restarted and the second
  // timer cleared, the engineer's queue size +1, logged "155". A change reported by the back
  // office wins over its refusal here (true, no error).
  virtual bool ReopenQuestion(const DictionaryPtr& details, int32_t backend);
  // Status 165 as AcceptQuestion (experience +1, reminder deleted, prospect's pending count -1),
  // the request's pending attachments (folder <id>P) moved to its answered ones (<id>Q), logged
  // "165".
  virtual bool AcceptQuestionByCustomer(const DictionaryPtr& details, int32_t backend);

 protected:
  // Copies the files of one attachment folder to another (both end with "/").
  void moveAttachments(const std::string& source, const std::string& target);
  // Creates the FAQ entry of a request; returns its number.
  int32_t CreateFAQ(const DictionaryPtr& details);
  // Puts a request back to Registered (5) without engineer: the engineer's queue size -1, the
  // reminder restarted and a log row with details Q_STATUS as the code. Q_ID 0 or no row: nothing.
  void ResetQuestiontoRegistered(const DictionaryPtr& details);
};

// Registers the "HlqServiceRequestMTS.Question" component.
void RegisterQuestionComponent();

}  // namespace heliq

#endif  // HELIQ_SERVICEREQUEST_QUESTION_QUESTION_H_
