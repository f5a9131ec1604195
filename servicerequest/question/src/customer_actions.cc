// Customer actions: adding text, clarifying, reopening and accepting a request.
//
// A support-centre request (details CENTER 2) is mirrored by a back-office call, and each action
// goes to the call first. The back office answers with its new stamp, or tells that the call was
// changed there since the request last saw it; the customer's action then gives way and the
// request takes over the back office's state instead. The back office is outside the unit of
// work: asking it before writing anything here means a refusal leaves nothing to undo, while a
// failure after it was updated rolls back only our side (the call keeps the action).
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/backoffice_calls.h"
#include "common/directory.h"
#include "common/file_handling.h"
#include "common/files_and_texts.h"
#include "common/heliq_utilities.h"
#include "common/operation_frame.h"
#include "common/transaction_log.h"
#include "platform/text.h"
#include "servicerequest/dispatch/dispatch.h"
#include "servicerequest/question/prospect.h"
#include "servicerequest/question/question.h"
#include "servicerequest/question/src/verdict.h"
#include "servicerequest/src/details_readers.h"

namespace heliq {
namespace {

using internal::LongOf;
using internal::TextOf;

constexpr std::string_view kAddSource = "HlqServiceRequestMTS.Question.AddtoQuestion";
constexpr std::string_view kClarifySource = "HlqServiceRequestMTS.Question.customerClarifySR";
constexpr std::string_view kReopenSource = "HlqServiceRequestMTS.Question.ReopenQuestion";
constexpr std::string_view kAcceptSource = "HlqServiceRequestMTS.Question.AcceptQuestionByCustomer";

constexpr std::string_view kSelectForAdd =
    "Select CENTER,Q_DATE,Q_TEXT, LASTTRANSTIME  from QUESTIONS where Q_ID = ?";
constexpr std::string_view kSelectForClarify =
    "Select Q_STATUS,CENTER,LASTTRANSTIME from QUESTIONS where Q_ID = ?";
constexpr std::string_view kSelectForReopen =
    "Select Q_STATUS,CENTER,Q_DATE, Q_TEXT, LASTTRANSTIME from QUESTIONS where Q_ID = ?";

// R_STATUS is text: statuses are bound as their decimal text.
constexpr std::string_view kRestartReminder =
    "UPDATE REMINDER SET R_STATUS=? ,T1_DATE= ? WHERE Q_ID=?";
// A reopened request starts over: the second timer of the answer no longer applies.
constexpr std::string_view kReopenReminder =
    "UPDATE REMINDER SET R_STATUS=?,T1_DATE= ? ,T2_DATE = NULL WHERE Q_ID=?";

constexpr int32_t kSupportCentre = 2;
constexpr int32_t kWaitingForCustomer = 35;
constexpr int32_t kClarified = 40;
constexpr int32_t kResumedAfterCustomer = 50;
constexpr int32_t kReopened = 155;
constexpr int32_t kAccepted = 165;
// T_STATUS of text added by the customer; the request's status does not change.
constexpr int32_t kTextAddedCode = 10;

// OPTION of the back-office update.
constexpr int32_t kOptionClarified = 3;
constexpr int32_t kOptionAccepted = 6;
constexpr int32_t kOptionTextAdded = 7;

// Earlier text and an addition put in front of it are separated by one empty line.
constexpr std::string_view kParagraphBreak = "\r\n\r\n";

Dictionary& Require(const DictionaryPtr& details, std::string_view source) {
  if (!details) {
    throw ComError(err::kInvalidProcedureCall, std::string(source),
                   "no details dictionary was given");
  }
  return *details;
}

std::unique_ptr<Recordset> OpenRequestRow(Connection& connection, std::string_view select,
                                          int32_t question_id) {
  return Recordset::OpenForUpdate(connection, select, {Variant(question_id)},
                                  UpdateTarget{"QUESTIONS", {{"Q_ID", Variant(question_id)}}});
}

bool FlagOf(const Variant& value) { return !value.IsBlank() && value.ToBool(); }

// The back office's stamp is kept as the text it gave; an empty one leaves the stored stamp.
void StoreStamp(const Dictionary& details, Recordset& row) {
  const std::string stamp = TextOf(details, "LASTTRANSTIME");
  if (!stamp.empty()) row.SetField("LASTTRANSTIME", Variant(stamp));
}

// The newest text first: `addition`, one empty line, the text the row holds.
void PutTextInFront(const Dictionary& details, Recordset& row) {
  row.SetField("Q_TEXT", Variant(TextOf(details, "Q_TEXT1") + std::string(kParagraphBreak) +
                                 row.Field("Q_TEXT").ToTextOrEmpty()));
}

// A prospect's visit is refreshed; his pending count stays.
void TouchProspect(const Dictionary& details) {
  if (!FlagOf(details.Get("PROSPECT"))) return;
  GetComponentAs<Prospect>(kProspectClassId)->UpdateProspect(TextOf(details, "EMAILID"), "", 0);
}

// Logs the action with the details' actor and comments and hands its files over (kind 2).
void LogCustomerAction(const Dictionary& details, int32_t question_id, int32_t code, int32_t center,
                       const DateTime& now) {
  const int32_t transaction_id =
      CreateTransactionLog(question_id, TextOf(details, "T_NAME"), std::to_string(code), center,
                           now, TextOf(details, "T_COMMENT"), TextOf(details, "USERCOMMENT"), 0);
  CreateObjectAs<FileHandling>(kFileHandlingClassId)
      ->HandleTransactionFiles(question_id, kFilesCustomerAction, transaction_id);
}

// --- The back-office step ---

bool IsSupportCentre(const Dictionary& details) {
  return LongOf(details, "CENTER") == kSupportCentre;
}

// The back-office engineer code of the engineer the request is directed to; "" for none.
std::string EngineerCodeOf(const Dictionary& details) {
  const std::string login(TrimSpace(TextOf(details, "D_DIRECT_TO")));
  if (login.empty()) return "";
  return CreateObjectAs<PortalUser>(kPortalUserClassId)->GetEngineerCode(login);
}

// Call details of each action, keys in the order the back office reads them. `stamp` is the
// back office's stamp the request last saw.
DictionaryPtr AddTextCall(const Dictionary& details, const Variant& stamp) {
  auto call = Dictionary::Create();
  call->Set("ACTIONDONEBY", details.Get("ACTIONDONEBY"));
  call->Set("ENGINEER", Variant(EngineerCodeOf(details)));
  call->Set("COMPONENT", details.Get("COMPONENT"));
  call->Set("CALLNUMBER", details.Get("CALLNUMBER"));
  call->Set("Q_TEXT", details.Get("Q_TEXT"));
  call->Set("OPTION", Variant(kOptionTextAdded));
  call->Set("LASTTRANSTIME", stamp);
  return call;
}

DictionaryPtr ClarifyCall(const Dictionary& details, const Variant& stamp) {
  auto call = Dictionary::Create();
  call->Set("ACTIONDONEBY", details.Get("ACTIONDONEBY"));
  call->Set("ENGINEER", Variant(EngineerCodeOf(details)));
  call->Set("COMPONENT", details.Get("COMPONENT"));
  call->Set("CALLNUMBER", details.Get("Q_CALL"));
  call->Set("OPTION", Variant(kOptionClarified));
  call->Set("LASTTRANSTIME", stamp);
  return call;
}

DictionaryPtr ReopenCall(const Dictionary& details) {
  auto call = Dictionary::Create();
  call->Set("ACTIONDONEBY", details.Get("ACTIONDONEBY"));
  call->Set("ENGINEER", Variant(EngineerCodeOf(details)));
  call->Set("COMPONENT", details.Get("COMPONENT"));
  call->Set("CALLNUMBER", details.Get("Q_CALL"));
  call->Set("OPTION", Variant(kOptionTextAdded));
  call->Set("Q_TEXT", details.Get("Q_TEXT"));
  call->Set("LASTTRANSTIME", details.Get("LASTTRANSTIME"));
  return call;
}

DictionaryPtr AcceptCall(const Dictionary& details) {
  auto call = Dictionary::Create();
  // The acceptance reaches the back office in the name of the engineer who answered.
  call->Set("ACTIONDONEBY", details.Get("D_DIRECT_TO"));
  call->Set("Q_ID", details.Get("Q_ID"));
  call->Set("ENGINEER", Variant(EngineerCodeOf(details)));
  call->Set("COMPONENT", details.Get("COMPONENT"));
  call->Set("CALLNUMBER", details.Get("Q_CALL"));
  call->Set("OPTION", Variant(kOptionAccepted));
  for (std::string_view key : {"PROBLEM", "SOLUTION", "ACTIVITY", "SOLUTIONTEXT"}) {
    call->Set(key, details.Get(key));
  }
  call->Set("LASTTRANSTIME", details.Get("LASTTRANSTIME"));
  return call;
}

// Which answer wins when the back office both refuses and reports a change.
enum class WhenBothRefusedAndChanged { kRefusalFails, kChangeWins };

// Sends the action to the request's back-office call. Returns true when the call had changed in
// the back office: the request then took over the back office's state and the action must be
// dropped. Otherwise the back office's new stamp is put into details LASTTRANSTIME. A refusal
// raises error 1099 (the back office's message is not passed on).
bool SendToBackOffice(Question& question, const DictionaryPtr& details, int32_t backend,
                      const DictionaryPtr& call_details, WhenBothRefusedAndChanged order) {
  std::string error;
  DictionaryPtr changes = CreateCallComponent(backend, "")->UpdateCall(call_details, error);
  if (!changes) changes = Dictionary::Create();
  const bool changed = LongOf(*changes, "CHANGEDFLAG") == 1;
  if (!error.empty() && !(changed && order == WhenBothRefusedAndChanged::kChangeWins)) {
    throw ComError(err::kBackOfficeRefused, "", "the back office refused the update of the call");
  }
  if (changed) {
    question.UpdateBackendChangesToQuestion(changes, details, error);
    return true;
  }
  details->Set("LASTTRANSTIME", changes->Get("LASTTRANSTIME"));
  return false;
}

}  // namespace

bool Question::AddtoQuestion(const DictionaryPtr& details_ptr, int32_t backend) {
  return RunOperation(kAddSource, [&]() -> bool {
    const Dictionary& details = Require(details_ptr, kAddSource);
    const int32_t question_id = LongOf(details, "Q_ID");
    if (question_id == 0) return false;
    const DateTime now = GetCurrentDateTime();
    auto connection = GetHeliqConnection();
    auto row = OpenRequestRow(*connection, kSelectForAdd, question_id);
    if (row->eof()) return false;

    if (IsSupportCentre(details) &&
        SendToBackOffice(*this, details_ptr, backend,
                         AddTextCall(details, Variant(row->Field("LASTTRANSTIME").ToTextOrEmpty())),
                         WhenBothRefusedAndChanged::kRefusalFails)) {
      return true;
    }
    const int32_t center = LongOf(row->Field("CENTER"));
    row->SetField("Q_DATE", Variant(now));
    PutTextInFront(details, *row);
    StoreStamp(details, *row);
    row->Update();
    TouchProspect(details);
    LogCustomerAction(details, question_id, kTextAddedCode, center, now);
    CommitContext();
    return false;
  });
}

bool Question::customerClarifySR(const DictionaryPtr& details_ptr, int32_t backend) {
  return RunOperation(kClarifySource, [&]() -> bool {
    const Dictionary& details = Require(details_ptr, kClarifySource);
    const int32_t question_id = LongOf(details, "Q_ID");
    if (question_id == 0) return false;
    const DateTime now = GetCurrentDateTime();
    auto connection = GetHeliqConnection();
    auto row = OpenRequestRow(*connection, kSelectForClarify, question_id);
    if (row->eof() || LongOf(row->Field("Q_STATUS")) != kWaitingForCustomer) return false;

    if (IsSupportCentre(details) &&
        SendToBackOffice(*this, details_ptr, backend,
                         ClarifyCall(details, Variant(row->Field("LASTTRANSTIME").ToTextOrEmpty())),
                         WhenBothRefusedAndChanged::kRefusalFails)) {
      return true;
    }
    const int32_t center = LongOf(row->Field("CENTER"));
    row->SetField("Q_STATUS", Variant(kClarified));
    StoreStamp(details, *row);
    row->Update();
    connection->Execute(kRestartReminder,
                        {Variant(std::to_string(kClarified)), Variant(now), Variant(question_id)});
    TouchProspect(details);
    // The request is "clarified" (40); its log row tells that the customer's wait ended.
    LogCustomerAction(details, question_id, kResumedAfterCustomer, center, now);
    CommitContext();
    return false;
  });
}

bool Question::ReopenQuestion(const DictionaryPtr& details_ptr, int32_t backend) {
  return RunOperation(kReopenSource, [&]() -> bool {
    const Dictionary& details = Require(details_ptr, kReopenSource);
    const int32_t question_id = LongOf(details, "Q_ID");
    if (question_id == 0) return false;
    const DateTime now = GetCurrentDateTime();
    if (IsSupportCentre(details) &&
        SendToBackOffice(*this, details_ptr, backend, ReopenCall(details),
                         WhenBothRefusedAndChanged::kChangeWins)) {
      return true;
    }

    auto connection = GetHeliqConnection();
    auto row = OpenRequestRow(*connection, kSelectForReopen, question_id);
    if (row->eof()) return false;
    const int32_t center = LongOf(row->Field("CENTER"));
    row->SetField("Q_STATUS", Variant(kReopened));
    row->SetField("Q_DATE", Variant(now));
    PutTextInFront(details, *row);
    StoreStamp(details, *row);
    row->Update();
    // A request without a reminder row keeps having none.
    connection->Execute(kReopenReminder,
                        {Variant(std::to_string(kReopened)), Variant(now), Variant(question_id)});
    auto dispatch = GetComponentAs<Dispatch>(kDispatchClassId);
    if (center == kSupportCentre) {
      dispatch->updateQueuesizeofSCE(question_id, 1);
    } else {
      dispatch->updateQueuesizeofCCE(question_id, 1);
    }
    LogCustomerAction(details, question_id, kReopened, center, now);
    CommitContext();
    return false;
  });
}

bool Question::AcceptQuestionByCustomer(const DictionaryPtr& details_ptr, int32_t backend) {
  return RunOperation(kAcceptSource, [&]() -> bool {
    const Dictionary& details = Require(details_ptr, kAcceptSource);
    const int32_t question_id = LongOf(details, "Q_ID");
    if (question_id == 0) return false;
    const DateTime now = GetCurrentDateTime();
    if (IsSupportCentre(details) &&
        SendToBackOffice(*this, details_ptr, backend, AcceptCall(details),
                         WhenBothRefusedAndChanged::kRefusalFails)) {
      return true;
    }

    const std::optional<int32_t> center = internal::ApplyAcceptance(*this, details, now);
    if (!center) return false;

    // Files the customer attached while the request was pending now belong to its answer.
    const std::string folder =
        GetPhysicalUploadPath() + "SRAttachments/" + std::to_string(question_id);
    moveAttachments(folder + "P/", folder + "Q/");
    LogCustomerAction(details, question_id, kAccepted, *center, now);
    CommitContext();
    return false;
  });
}

}  // namespace heliq
