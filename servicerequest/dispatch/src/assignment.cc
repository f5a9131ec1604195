// Assignment of requests to engineers and to the support-centre queue.
//
// The order of steps carries meaning: the queue-size counters address whoever the request names
// in D_DIRECT_TO when they run, so a decrease runs before the row is saved with the new engineer
// (it still hits the previous one) and an increase after. The back office lies outside the unit
// of work: a call it opened stays open when the assignment fails later, and a refusal is not a
// failure but a logged and committed outcome that the caller gets back as text.
#include <cctype>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "common/backoffice_calls.h"
#include "common/directory.h"
#include "common/file_handling.h"
#include "common/heliq_utilities.h"
#include "common/operation_frame.h"
#include "common/transaction_log.h"
#include "platform/object_context.h"
#include "platform/text.h"
#include "servicerequest/dispatch/dispatch.h"
#include "servicerequest/src/details_readers.h"

namespace heliq {
namespace {

using internal::LongOf;
using internal::TextOf;

constexpr std::string_view kAssignCceSource = "HlqServiceRequestMTS.Dispatch.assignQuestiontoCCE";
constexpr std::string_view kAssignSceSource = "HlqServiceRequestMTS.Dispatch.assignQuestiontoSCE";
constexpr std::string_view kAssignQueueSource =
    "HlqServiceRequestMTS.Dispatch.assignQuestiontoSCQueue";
constexpr std::string_view kReassignSceSource =
    "HlqServiceRequestMTS.Dispatch.ReassignQuestiontoSCE";
constexpr std::string_view kInsertCallDetailSource =
    "HlqServiceRequestMTS.Dispatch.InsertCallDetail";
constexpr std::string_view kUpdateTransactionLogSource =
    "HlqServiceRequestMTS.Dispatch.UpdateTransactionLog";

constexpr std::string_view kSelectForCallCentre =
    "SELECT Q_STATUS, CENTER, D_DIRECT_TO,Q_PRODUCTCAT,PRODUCTID,Q_CATEGORY,TOTALTIMESPENT "
    "FROM QUESTIONS WHERE Q_ID = ?";
constexpr std::string_view kSelectForSupportCentre =
    "SELECT Q_STATUS, CENTER, D_DIRECT_TO, Q_PRODUCTCAT,PRODUCTID,Q_CATEGORY, "
    "Q_CALL, Q_CALLTYPE, LASTTRANSTIME FROM QUESTIONS WHERE Q_ID = ?";
constexpr std::string_view kSelectForQueue =
    "SELECT Q_STATUS, CENTER, D_DIRECT_TO, Q_PRODUCTCAT,PRODUCTID,Q_CATEGORY, "
    "Q_CALL, Q_CALLTYPE ,TOTALTIMESPENT, LASTTRANSTIME FROM QUESTIONS WHERE Q_ID = ?";
constexpr std::string_view kSelectForReassign =
    "SELECT Q_STATUS, CENTER, D_DIRECT_TO, Q_PRODUCTCAT,PRODUCTID,Q_CATEGORY,TOTALTIMESPENT, "
    "LASTTRANSTIME FROM QUESTIONS WHERE Q_ID = ?";
constexpr std::string_view kSelectStatus =
    "SELECT Q_STATUS, CENTER, D_DIRECT_TO,Q_PRODUCTCAT,Q_CATEGORY FROM QUESTIONS WHERE Q_ID = ?";
// R_STATUS is text: the status is bound as its decimal text.
constexpr std::string_view kUpdateReminder =
    "UPDATE REMINDER SET R_STATUS=? ,T1_DATE= ? WHERE Q_ID=?";
constexpr std::string_view kSelectCallDetail = "Select * from CALLDETAIL WHERE CALLNUMBER = ?";

constexpr int32_t kRegistered = 5;
constexpr int32_t kAssigned = 15;
constexpr int32_t kReassigned = 20;
constexpr int32_t kCallCentre = 1;
constexpr int32_t kSupportCentre = 2;
// Label of a back-office refusal in the log; the message follows, cut to this many characters.
constexpr std::string_view kRefusedLabel = "HQLBL4221;;;;";
constexpr size_t kRefusalCommentLength = 100;
// Actor and comment label of the log row about an engineer that vanished from the directory.
constexpr std::string_view kDispatcherLabel = "HQLBL3968";
constexpr std::string_view kVanishedLabel = "HQLBL3994;;;;";
// A reassignment with this comment keeps the request's status.
constexpr std::string_view kKeepStatusComment = "HQLBL3990";

const Dictionary& Require(const DictionaryPtr& dictionary, std::string_view what) {
  if (!dictionary) {
    throw ComError(err::kInvalidProcedureCall, "HlqServiceRequestMTS.Dispatch",
                   "no " + std::string(what) + " dictionary was given");
  }
  return *dictionary;
}

std::string UpperCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The back office's message goes into single-quoted contexts of the front end: its single quotes
// become double quotes.
std::string QuotesToDoubleQuotes(std::string text) {
  for (char& c : text) {
    if (c == '\'') c = '"';
  }
  return text;
}

// The first `count` characters of UTF-8 text; never cuts a character in two.
std::string FirstCharacters(const std::string& text, size_t count) {
  size_t end = 0;
  for (size_t seen = 0; end < text.size() && seen < count; ++seen) {
    ++end;
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
  }
  return text.substr(0, end);
}

// The request data every assignment reads from its details.
struct Assignment {
  int32_t question_id = 0;
  std::string login;
  int32_t product_category = 0;
  int32_t product = 0;
  int32_t category = 0;
};

Assignment ReadAssignment(const Dictionary& details) {
  Assignment a;
  a.question_id = LongOf(details, "Q_ID");
  a.login = TextOf(details, "D_DIRECT_TO");
  a.product_category = LongOf(details, "Q_PRODUCTCAT");
  a.product = LongOf(details, "PRODUCTID");
  a.category = LongOf(details, "Q_CATEGORY");
  return a;
}

// An updatable QUESTIONS row of the request; the key is fixed since not every select returns it.
std::unique_ptr<Recordset> OpenRequestRow(Connection& connection, std::string_view select,
                                          int32_t question_id) {
  return Recordset::OpenForUpdate(connection, select, {Variant(question_id)},
                                  UpdateTarget{"QUESTIONS", {{"Q_ID", Variant(question_id)}}});
}

// A category of 0 means "not chosen" and leaves the stored one.
void WriteCategories(Recordset& row, const Assignment& a) {
  if (a.product_category != 0) row.SetField("Q_PRODUCTCAT", Variant(a.product_category));
  if (a.product != 0) row.SetField("PRODUCTID", Variant(a.product));
  if (a.category != 0) row.SetField("Q_CATEGORY", Variant(a.category));
}

// TOTALTIMESPENT += time spent (a null total counts as 0). Overflow raises error 6.
void AddTimeSpent(Recordset& row, int32_t time_spent) {
  const int64_t sum = static_cast<int64_t>(LongOf(row.Field("TOTALTIMESPENT"))) + time_spent;
  if (sum < std::numeric_limits<int32_t>::min() || sum > std::numeric_limits<int32_t>::max()) {
    throw ComError::Of(err::kOverflow);
  }
  row.SetField("TOTALTIMESPENT", Variant(static_cast<int32_t>(sum)));
}

// Restarts the request's reminder timer for `status` at `now`.
void RestartReminder(Connection& connection, int32_t question_id, int32_t status,
                     const DateTime& now) {
  connection.Execute(kUpdateReminder,
                     {Variant(std::to_string(status)), Variant(now), Variant(question_id)});
}

// A back-office stamp as stored: the text it was given, null for none.
Variant StampOf(const Variant& value) {
  if (value.IsEmpty() || value.IsNull()) return Variant::Null();
  return Variant(value.ToText());
}

// Opens a back-office call through the generation's call component (created directly: the back
// office is outside the unit of work). The component's message replaces `error`; a generation
// without a call component raises error 429.
DictionaryPtr CreateBackOfficeCall(int32_t backend, const DictionaryPtr& call_details,
                                   Variant& error) {
  auto calls = CreateCallComponent(backend, "HlqServiceRequestMTS.Dispatch");
  std::string message = error.ToTextOrEmpty();
  DictionaryPtr result = calls->CreateCall(call_details, message);
  error = Variant(message);
  return result ? result : Dictionary::Create();
}

// The refusal's log comment: the label and the (already quote-converted) message, cut.
std::string RefusalComment(const std::string& message) {
  return std::string(kRefusedLabel) + FirstCharacters(message, kRefusalCommentLength);
}

// True when `error` holds a non-blank message. Never throws: it is also asked on a failure path.
bool HoldsMessage(const Variant& error) noexcept {
  try {
    return !TrimSpace(error.ToTextOrEmpty()).empty();
  } catch (...) {
    return false;
  }
}

// The back office refused the call: a request it would have moved to the support centre goes
// back to the call centre as registered (when `back_to_call_centre`), the message's quotes become
// double quotes (the caller shows `error`), and one log row records the refusal with the status
// and centre the request keeps.
void RecordRefusal(Recordset& row, const Dictionary& details, int32_t question_id,
                   const DateTime& now, bool back_to_call_centre, Variant& error) {
  if (back_to_call_centre && LongOf(row.Field("CENTER")) == kSupportCentre) {
    row.SetField("Q_STATUS", Variant(kRegistered));
    row.SetField("CENTER", Variant(kCallCentre));
  }
  const std::string message = QuotesToDoubleQuotes(error.ToTextOrEmpty());
  error = Variant(message);
  CreateTransactionLog(question_id, TextOf(details, "T_NAME"),
                       std::to_string(row.Field("Q_STATUS").ToLong()), LongOf(row.Field("CENTER")),
                       now, RefusalComment(message), TextOf(details, "USERCOMMENT"), 0);
}

// The request follows the call the back office opened: support centre, call number, call type
// (Mk5 only) and the call's stamp.
void WriteCallColumns(Recordset& row, const Dictionary& call_result, int32_t backend) {
  row.SetField("CENTER", Variant(kSupportCentre));
  row.SetField("Q_CALL", Variant(call_result.Get("CALLNUMBER").ToTextOrEmpty()));
  if (backend == kBackOfficeMk5) {
    row.SetField("Q_CALLTYPE", Variant(call_result.Get("CALLTYPE").ToTextOrEmpty()));
  }
  row.SetField("LASTTRANSTIME", StampOf(call_result.Get("LASTTRANSTIME")));
}

}  // namespace

void Dispatch::assignQuestiontoCCE(const DictionaryPtr& details_ptr) {
  RunOperation(kAssignCceSource, [&] {
    const Dictionary& details = Require(details_ptr, "details");
    const Assignment a = ReadAssignment(details);
    if (a.question_id == 0) return;

    const DateTime now = GetCurrentDateTime();
    auto connection = GetHeliqConnection();
    auto row = OpenRequestRow(*connection, kSelectForCallCentre, a.question_id);
    if (row->eof()) {
      CloseRecordset(row);
      CloseConnection(connection);
      return;
    }

    const std::string previous = row->Field("D_DIRECT_TO").ToTextOrEmpty();
    if (a.login != previous && !previous.empty()) {
      updateQueuesizeofCCE(a.question_id, -1);
    }
    WriteCategories(*row, a);
    row->SetField("D_DIRECT_TO", Variant(a.login));
    const int32_t time_spent = LongOf(details, "TIMESPENT");
    AddTimeSpent(*row, time_spent);

    const int32_t center = LongOf(row->Field("CENTER"));
    if (center == kCallCentre) {
      const int32_t status = row->Field("Q_STATUS").ToLong();
      const int32_t new_status =
          (status == kRegistered || status == kAssigned) ? kAssigned : kReassigned;
      row->SetField("Q_STATUS", Variant(new_status));
      RestartReminder(*connection, a.question_id, new_status, now);
    }
    row->Update();
    updateQueuesizeofCCE(a.question_id, 1);

    // Logged as an assignment whatever status the request keeps.
    const int32_t transaction_id = CreateTransactionLog(
        a.question_id, TextOf(details, "T_NAME"), std::to_string(kAssigned), center, now,
        TextOf(details, "T_COMMENT"), TextOf(details, "USERCOMMENT"), time_spent);
    CreateObjectAs<FileHandling>(kFileHandlingClassId)
        ->HandleTransactionFiles(a.question_id, kFilesEngineerAction, transaction_id);
    CommitContext();
    CloseRecordset(row);
    CloseConnection(connection);
  });
}

std::string Dispatch::assignQuestiontoSCE(const DictionaryPtr& details_ptr,
                                          const DictionaryPtr& call_details, int32_t backend,
                                          Variant& error, bool automatic) {
  return RunOperation(kAssignSceSource, [&]() -> std::string {
    error = Variant("");
    const Dictionary& details = Require(details_ptr, "details");
    const Assignment a = ReadAssignment(details);
    // The directory is asked in every mode, even for no request: an unknown engineer fails.
    std::string engineer_code;
    {
      std::unique_ptr<MembershipUser> user = getUserObject(a.login);
      if (!user) {
        throw ComError(err::kInvalidProcedureCall, "HlqServiceRequestMTS.Dispatch",
                       "the directory does not know " + a.login);
      }
      engineer_code = user->EngineerCode();
    }
    if (a.question_id == 0) return "";

    DictionaryPtr call_result;
    if (automatic) {
      Require(call_details, "call details");
      call_details->Set("ENGINEER", Variant(UpperCase(engineer_code)));
      call_result = CreateBackOfficeCall(backend, call_details, error);
    }
    const bool refused = HoldsMessage(error);
    // The call-centre engineer who held the request loses it (no change when nobody did).
    if (!refused) updateQueuesizeofCCE(a.question_id, -1);

    const DateTime now = GetCurrentDateTime();
    auto connection = GetHeliqConnection();
    auto row = OpenRequestRow(*connection, kSelectForSupportCentre, a.question_id);
    if (row->eof()) {
      CloseRecordset(row);
      CloseConnection(connection);
      return "";
    }
    WriteCategories(*row, a);
    if (refused) {
      // Only an automatic dispatch goes back to the call centre.
      RecordRefusal(*row, details, a.question_id, now, automatic, error);
    } else {
      row->SetField("D_DIRECT_TO", Variant(a.login));
      row->SetField("Q_STATUS", Variant(kAssigned));
      row->SetField("LASTTRANSTIME", StampOf(details.Get("LASTTRANSTIME")));
      if (automatic) WriteCallColumns(*row, *call_result, backend);
    }
    row->Update();
    // The timer restarts as for an assignment even when the back office refused.
    RestartReminder(*connection, a.question_id, kAssigned, now);
    if (refused) {
      CommitContext();
      CloseRecordset(row);
      CloseConnection(connection);
      return "";
    }

    if (automatic) InsertCallDetail(call_result);
    updateQueuesizeofSCE(a.question_id, 1);
    CreateTransactionLog(a.question_id, TextOf(details, "T_NAME"), std::to_string(kAssigned),
                         kSupportCentre, now, TextOf(details, "T_COMMENT"),
                         TextOf(details, "USERCOMMENT"), 0);
    CommitContext();
    std::string call_number;
    if (automatic) call_number = call_result->Get("CALLNUMBER").ToTextOrEmpty();
    CloseRecordset(row);
    CloseConnection(connection);
    return call_number;
  });
}

std::string Dispatch::AssignQuestionToSCQueue(const DictionaryPtr& details_ptr, int32_t backend,
                                              Variant& error) {
  try {
    // A failure swallowed below (a back-office message in hand) must take the request's writes
    // with it and leave the rest of the call committable.
    Savepoint part;
    const Dictionary& details = Require(details_ptr, "details");
    const Assignment a = ReadAssignment(details);
    if (a.question_id == 0) return "";

    // The request's details are the call details too; no engineer is named.
    const DictionaryPtr call_result = CreateBackOfficeCall(backend, details_ptr, error);
    const bool refused = HoldsMessage(error);

    const DateTime now = GetCurrentDateTime();
    auto connection = GetHeliqConnection();
    auto row = OpenRequestRow(*connection, kSelectForQueue, a.question_id);
    if (row->eof()) {
      CloseRecordset(row);
      CloseConnection(connection);
      return "";
    }
    WriteCategories(*row, a);
    if (refused) {
      RecordRefusal(*row, details, a.question_id, now, /*back_to_call_centre=*/true, error);
    } else {
      row->SetField("Q_STATUS", Variant(kRegistered));
      WriteCallColumns(*row, *call_result, backend);
    }
    // Time is booked only when the back office said nothing at all: a message of blanks is no
    // refusal, yet books no time either.
    const int32_t time_spent = LongOf(details, "TIMESPENT");
    if (error.ToTextOrEmpty().empty()) AddTimeSpent(*row, time_spent);
    row->Update();
    RestartReminder(*connection, a.question_id, kRegistered, now);
    if (refused) {
      part.Release();
      CommitContext();
      CloseRecordset(row);
      CloseConnection(connection);
      return "";
    }

    InsertCallDetail(call_result);
    const int32_t transaction_id = CreateTransactionLog(
        a.question_id, TextOf(details, "T_NAME"), std::to_string(kRegistered), kSupportCentre, now,
        TextOf(details, "T_COMMENT"), TextOf(details, "USERCOMMENT"), time_spent);
    CreateObjectAs<FileHandling>(kFileHandlingClassId)
        ->HandleTransactionFiles(a.question_id, kFilesEngineerAction, transaction_id);
    part.Release();
    CommitContext();
    const std::string call_number = call_result->Get("CALLNUMBER").ToTextOrEmpty();
    CloseRecordset(row);
    CloseConnection(connection);
    return call_number;
  } catch (...) {
    // With a back-office message in hand the caller shows that message: the failure after it is
    // only logged (its writes were rolled back to the savepoint), and the call returns normally
    // (nothing is voted).
    if (HoldsMessage(error)) {
      WriteErrorLog(kAssignQueueSource, std::nullopt);
      return "";
    }
    AbortContext();
    ReportError(kAssignQueueSource);
    throw;  // ReportError always throws while a failure is in flight
  }
}

void Dispatch::ReassignQuestiontoSCE(const DictionaryPtr& details_ptr, Variant& /*error*/) {
  RunOperation(kReassignSceSource, [&] {
    const Dictionary& details = Require(details_ptr, "details");
    const Assignment a = ReadAssignment(details);
    if (a.question_id == 0) return;

    updateQueuesizeofSCE(a.question_id, -1);
    const DateTime now = GetCurrentDateTime();
    auto connection = GetHeliqConnection();
    auto row = OpenRequestRow(*connection, kSelectForReassign, a.question_id);
    if (row->eof()) {
      CloseRecordset(row);
      CloseConnection(connection);
      return;
    }
    WriteCategories(*row, a);
    row->SetField("D_DIRECT_TO", Variant(a.login));

    const std::string comment = TextOf(details, "T_COMMENT");
    int32_t new_status = kAssigned;
    if (comment != kKeepStatusComment) {
      row->SetField("Q_STATUS", Variant(kAssigned));
    } else {
      new_status = row->Field("Q_STATUS").ToLong();
    }
    const std::string stamp = TextOf(details, "LASTTRANSTIME");
    if (!stamp.empty()) row->SetField("LASTTRANSTIME", Variant(stamp));
    const int32_t time_spent = LongOf(details, "TIMESPENT");
    AddTimeSpent(*row, time_spent);
    row->Update();
    RestartReminder(*connection, a.question_id, new_status, now);
    updateQueuesizeofSCE(a.question_id, 1);

    CreateTransactionLog(a.question_id, TextOf(details, "T_NAME"), std::to_string(new_status),
                         LongOf(row->Field("CENTER")), now, comment, TextOf(details, "USERCOMMENT"),
                         time_spent);
    CommitContext();
    CloseRecordset(row);
    CloseConnection(connection);
  });
}

void Dispatch::InsertCallDetail(const DictionaryPtr& call_result_ptr) {
  RunOperation(kInsertCallDetailSource, [&] {
    const Dictionary& call_result = Require(call_result_ptr, "call result");
    const std::string call_number = TextOf(call_result, "CALLNUMBER");
    auto connection = GetHeliqConnection();
    auto detail = Recordset::OpenForUpdate(*connection, kSelectCallDetail, {Variant(call_number)},
                                           UpdateTarget{"CALLDETAIL", {{"CALLNUMBER", {}}}});
    // One row per call: a number seen before keeps the details stored first.
    if (detail->eof()) {
      detail->AddNew();
      detail->SetField("CALLNUMBER", Variant(call_number));
      if (call_result.Exists("CONTRACT")) {
        detail->SetField("CONTRACT",
                         Variant(std::string(TrimSpace(TextOf(call_result, "CONTRACT")))));
        detail->SetField("CONTRACTDESC",
                         Variant(std::string(TrimSpace(TextOf(call_result, "CONTRACTDESC")))));
      } else {
        detail->SetField("CONTRACT", Variant(""));
        detail->SetField("CONTRACTDESC", Variant(""));
      }
      const std::string warranty(TrimSpace(TextOf(call_result, "WARRANTY")));
      if (warranty.empty()) {
        detail->SetField("WARRANTY", Variant(""));
        detail->SetField("WARRANTYDESC", Variant(""));
      } else {
        detail->SetField("WARRANTY", Variant(warranty));
        detail->SetField("WARRANTYDESC",
                         Variant(std::string(TrimSpace(TextOf(call_result, "WARRANTYDESC")))));
        // A blank expiry date stores no date; text that is no date raises error 13.
        const std::string expiry(TrimSpace(TextOf(call_result, "WARRANTYEXPDATE")));
        detail->SetField("WEXPIRYDATE",
                         expiry.empty() ? Variant::Null() : Variant(Variant(expiry).ToDate()));
      }
      detail->Update();
    }
    CloseRecordset(detail);
    CloseConnection(connection);
  });
}

void Dispatch::UpdateTransactionLog(int32_t question_id, std::string_view login) {
  RunOperation(kUpdateTransactionLogSource, [&] {
    const DateTime now = GetCurrentDateTime();
    int32_t status = 0;
    int32_t center = 0;
    {
      auto connection = GetHeliqConnection();
      auto row = Recordset::Open(*connection, kSelectStatus, {Variant(question_id)});
      if (!row->eof()) {
        status = LongOf(row->Field("Q_STATUS"));
        center = LongOf(row->Field("CENTER"));
      }
      CloseRecordset(row);
      CloseConnection(connection);
    }
    CreateTransactionLog(question_id, kDispatcherLabel, std::to_string(status), center, now,
                         std::string(kVanishedLabel) + std::string(login), "", 0);
    CommitContext();
  });
}

}  // namespace heliq
