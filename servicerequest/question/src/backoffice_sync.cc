// Back-office synchronisation: a support-centre request follows the changes made to its call in
// the back office (status, support engineer, waiting state, service order).
//
// The request is not changed by hand here: after a reassignment, the engineer action that leads to
// the back office's status is replayed with the same details dictionary, so the status, the
// reminder and the log row come out exactly as if an engineer had acted, but carry T_COMMENT
// "HQLBL4300" and the back office's waiting reason as USERCOMMENT.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "common/heliq_utilities.h"
#include "common/lookups.h"
#include "common/operation_frame.h"
#include "common/transaction_log.h"
#include "platform/object_context.h"
#include "servicerequest/dispatch/dispatch.h"
#include "servicerequest/question/question.h"
#include "servicerequest/src/details_readers.h"

namespace heliq {
namespace {

using internal::LongOf;
using internal::TextOf;

constexpr std::string_view kUpdateBackendSource =
    "HlqServiceRequestMTS.Question.UpdateBackendChangesToQuestion";
constexpr std::string_view kUpdateAccordingSource =
    "HlqServiceRequestMTS.Question.UpdateHLQAccordingtoStatus";
constexpr std::string_view kResetSource = "HlqServiceRequestMTS.Question.ResetQuestiontoRegistered";

constexpr std::string_view kUpdateServiceOrder = "UPDATE QUESTIONS SET SERVICEORDER=? WHERE Q_ID=?";
constexpr std::string_view kStoreStamp = "UPDATE QUESTIONS SET LASTTRANSTIME=? WHERE Q_ID=?";
constexpr std::string_view kSelectForReset =
    "SELECT Q_STATUS, CENTER, D_DIRECT_TO, LASTTRANSTIME FROM QUESTIONS WHERE Q_ID = ?";
// R_STATUS is text: the status is bound as its decimal text.
constexpr std::string_view kRestartReminder =
    "UPDATE REMINDER SET R_STATUS=? ,T1_DATE= ? WHERE Q_ID=?";

// Log comments (label codes the front end translates).
constexpr std::string_view kTakenOverLabel = "HQLBL4300";
constexpr std::string_view kEngineerChangedLabel = "HQLBL4318;;;;";
constexpr std::string_view kUnknownEngineerLabel = "HQLBL4329";
constexpr std::string_view kServiceOrderLabel = "HQLBL4330";

// Back-office call statuses.
constexpr int32_t kBoReopened = 1;
constexpr int32_t kBoClosed = 3;
constexpr int32_t kBoOpen = 5;
constexpr int32_t kBoAssigned = 10;
constexpr int32_t kBoInProcess = 15;
constexpr int32_t kBoServiceOrder = 20;
constexpr int32_t kBoCompleted = 25;
constexpr int32_t kBoAccepted = 30;
// Back-office waiting flags.
constexpr int32_t kBoWaitingForCustomer = 1;
constexpr int32_t kBoWaitingResumed = 2;

// Front-end statuses.
constexpr int32_t kRegistered = 5;
constexpr int32_t kAssigned = 15;
constexpr int32_t kInHand = 25;
constexpr int32_t kWaiting = 30;
constexpr int32_t kWaitingForCustomer = 35;
constexpr int32_t kResumedAfterWaiting = 45;
constexpr int32_t kResumedAfterCustomer = 50;
constexpr int32_t kReopened = 155;
constexpr int32_t kConcluded = 160;
constexpr int32_t kAccepted = 165;
constexpr int32_t kClosed = 180;

constexpr int32_t kWaitForCustomerType = 1;

Dictionary& Require(const DictionaryPtr& dictionary, std::string_view source,
                    std::string_view what) {
  if (!dictionary) {
    throw ComError(err::kInvalidProcedureCall, std::string(source),
                   "no " + std::string(what) + " dictionary was given");
  }
  return *dictionary;
}

// The login of the directory user with back-office engineer code `code`; "" when nobody has it
// (an empty code matches nobody). The first user found wins when several share a code.
std::string LoginOfEngineerCode(const std::string& code) {
  const MemberTable members = BindDirectoryMembers()->SearchMembers({"EmployeeNumber=" + code}, "");
  if (members.row_count() == 0) return "";
  return members.Value(0, "cn");
}

}  // namespace

int32_t Question::MaptoFrontEndStatus(int32_t backoffice_status, int32_t current_status,
                                      int32_t waiting_flag) {
  switch (backoffice_status) {
    case kBoReopened:
      return kReopened;
    case kBoClosed:
      return kClosed;
    case kBoOpen:
      return kRegistered;
    case kBoAssigned:
      return kAssigned;
    case kBoInProcess:
      // A resumed call tells the front end which wait ended; any other resumption is "in hand".
      if (waiting_flag == kBoWaitingForCustomer) return kWaitingForCustomer;
      if (waiting_flag == kBoWaitingResumed && current_status == kWaitingForCustomer) {
        return kResumedAfterCustomer;
      }
      if (waiting_flag == kBoWaitingResumed && current_status == kWaiting) {
        return kResumedAfterWaiting;
      }
      return kInHand;
    case kBoServiceOrder:
    case kBoCompleted:
      return kConcluded;
    case kBoAccepted:
      return kAccepted;
    default:
      return 0;
  }
}

void Question::UpdateBackendChangesToQuestion(const DictionaryPtr& changes_ptr,
                                              const DictionaryPtr& details_ptr,
                                              std::string& error) {
  RunOperation(kUpdateBackendSource, [&] {
    const Dictionary& changes = Require(changes_ptr, kUpdateBackendSource, "changes");
    Dictionary& details = Require(details_ptr, kUpdateBackendSource, "details");
    const DateTime now = GetCurrentDateTime();
    const int32_t question_id = LongOf(details, "Q_ID");
    if (question_id == 0) return;

    const int32_t backoffice_status = LongOf(changes, "STATUS");
    const int32_t new_status = MaptoFrontEndStatus(backoffice_status, LongOf(details, "Q_STATUS"),
                                                   LongOf(changes, "WAITINGFLAG"));
    const int32_t center = LongOf(details, "CENTER");
    const auto log = [&](std::string_view comment) {
      CreateTransactionLog(question_id, TextOf(details, "T_NAME"), std::to_string(new_status),
                           center, now, std::string(comment), "", 0);
    };

    const std::string new_engineer = LoginOfEngineerCode(TextOf(changes, "SUPPORTENGCODE"));
    if (new_engineer.empty()) log(kUnknownEngineerLabel);

    details.Set("LASTTRANSTIME", changes.Get("LASTTRANSTIME"));
    details.Set("USERCOMMENT", changes.Get("WAITINGDESC"));
    UpdateHLQAccordingtoStatus(details_ptr, new_status, new_engineer, error);
    // A reassignment that failed leaves the request half way: no service order, no vote, and the
    // old stamp, so the next customer action finds the call changed and synchronises again.
    if (!error.empty()) return;

    // The request has now caught up with the call, whether or not an action was replayed (and
    // not every replayed action stores the stamp): without it every later customer update would
    // be answered as stale and have no effect.
    const std::string stamp = TextOf(details, "LASTTRANSTIME");
    if (!stamp.empty()) {
      GetHeliqConnection()->Execute(kStoreStamp, {Variant(stamp), Variant(question_id)});
    }

    if (backoffice_status == kBoServiceOrder) {
      UpdateSvcOrderDetails(TextOf(changes, "SERVICEORDER"), question_id);
      log(kServiceOrderLabel);
    }
    CommitContext();
  });
}

void Question::UpdateHLQAccordingtoStatus(const DictionaryPtr& details_ptr, int32_t new_status,
                                          const std::string& new_engineer, std::string& error) {
  RunOperation(kUpdateAccordingSource, [&] {
    error.clear();
    Dictionary& details = Require(details_ptr, kUpdateAccordingSource, "details");
    const int32_t current_status = LongOf(details, "Q_STATUS");
    const std::string current_engineer = TextOf(details, "D_DIRECT_TO");
    details.Set("Q_STATUS", Variant(new_status));
    details.Set("D_DIRECT_TO", Variant(new_engineer));

    if (new_engineer.empty() || new_engineer == current_engineer) {
      details.Set("ENGRCHANGED", Variant(false));
    } else {
      details.Set("ENGRCHANGED", Variant(true));
      details.Set("T_COMMENT", Variant(std::string(kEngineerChangedLabel) + new_engineer));
      auto dispatch = GetComponentAs<Dispatch>(kDispatchClassId);
      Variant dispatch_error(error);
      // A request still in the queue gets its first engineer; the same dictionary serves as the
      // request's details and as the call details (no call is opened: not automatic).
      if (current_status == kRegistered) {
        dispatch->assignQuestiontoSCE(details_ptr, details_ptr, LongOf(details, "BACKENDTYPE"),
                                      dispatch_error);
      } else {
        dispatch->ReassignQuestiontoSCE(details_ptr, dispatch_error);
      }
      error = dispatch_error.ToTextOrEmpty();
    }

    details.Set("T_COMMENT", Variant(kTakenOverLabel));
    switch (new_status) {
      case kRegistered:
        ResetQuestiontoRegistered(details_ptr);
        break;
      case kInHand:
        TakeInHand(details_ptr);
        break;
      case kWaitingForCustomer:
        details.Set("WAITINGTYPE", Variant(kWaitForCustomerType));
        SetToWaiting(details_ptr);
        break;
      case kResumedAfterWaiting:
      case kResumedAfterCustomer:
        ClarifyQuestion(details_ptr);
        break;
      case kConcluded:
        ConcludeQuestion(details_ptr);
        break;
      case kAccepted:
        AcceptQuestion(details_ptr);
        break;
      default:
        // Assigned, reopened and closed in the back office have no front-end action to replay.
        break;
    }
  });
}

void Question::UpdateSvcOrderDetails(const std::string& service_order, int32_t question_id) {
  try {
    Savepoint part;
    auto connection = GetHeliqConnection();
    connection->Execute(kUpdateServiceOrder, {Variant(service_order), Variant(question_id)});
    part.Release();
  } catch (...) {
    // The service order is informative only: losing it must not undo the synchronisation. The
    // savepoint keeps its failure from spoiling the rest of the call.
  }
}

void Question::ResetQuestiontoRegistered(const DictionaryPtr& details_ptr) {
  RunOperation(kResetSource, [&] {
    const Dictionary& details = Require(details_ptr, kResetSource, "details");
    const int32_t question_id = LongOf(details, "Q_ID");
    if (question_id == 0) return;
    // Counted out before the row loses its engineer: the counter finds him through the row.
    GetComponentAs<Dispatch>(kDispatchClassId)->updateQueuesizeofSCE(question_id, -1);

    const DateTime now = GetCurrentDateTime();
    auto connection = GetHeliqConnection();
    auto row =
        Recordset::OpenForUpdate(*connection, kSelectForReset, {Variant(question_id)},
                                 UpdateTarget{"QUESTIONS", {{"Q_ID", Variant(question_id)}}});
    if (row->eof()) return;

    const int32_t center = LongOf(row->Field("CENTER"));
    row->SetField("D_DIRECT_TO", Variant(""));
    row->SetField("Q_STATUS", Variant(kRegistered));
    const std::string stamp = TextOf(details, "LASTTRANSTIME");
    if (!stamp.empty()) row->SetField("LASTTRANSTIME", Variant(stamp));
    row->Update();

    // The reminder and the log take the caller's status (the row is always Registered).
    const std::string code = std::to_string(LongOf(details, "Q_STATUS"));
    connection->Execute(kRestartReminder, {Variant(code), Variant(now), Variant(question_id)});
    CreateTransactionLog(question_id, TextOf(details, "T_NAME"), code, center, now,
                         TextOf(details, "T_COMMENT"), TextOf(details, "USERCOMMENT"),
                         LongOf(details, "TIMESPENT"));
    CommitContext();
  });
}

}  // namespace heliq
