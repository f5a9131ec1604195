// The end of a request's life: closing, cancelling, archiving, and handing a prospect's requests
// over to a registered user.
//
// Archiving copies the active row into QUESTIONHISTORY and deletes it (and its reminder) from the
// active tables; the transaction log stays keyed by Q_ID, so the log entry of the action is
// written after the move, and GetCenter looks in both tables. The order of steps matters:
// counters address the engineer the ACTIVE row names, so they run before the move, and the
// prospect's pending count is read from the archive, so it runs after.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/file_handling.h"
#include "common/files_and_texts.h"
#include "common/heliq_utilities.h"
#include "common/operation_frame.h"
#include "common/transaction_log.h"
#include "servicerequest/dispatch/dispatch.h"
#include "servicerequest/question/prospect.h"
#include "servicerequest/question/question.h"
#include "servicerequest/src/details_readers.h"

namespace heliq {
namespace {

using internal::LongOf;
using internal::TextOf;

constexpr std::string_view kCloseSource = "HlqServiceRequestMTS.Question.CloseQuestion";
constexpr std::string_view kCancelSource = "HlqServiceRequestMTS.Question.CancelQuestion";
constexpr std::string_view kCustomerCancelSource = "HlqServiceRequestMTS.Question.customerCancelSR";
constexpr std::string_view kTransferSource = "HlqServiceRequestMTS.Question.TransferQuestions";
constexpr std::string_view kMoveSource = "HlqServiceRequestMTS.Question.MovetoQuestionHistory";
constexpr std::string_view kDecPendingSource =
    "HlqServiceRequestMTS.Question.DecPendingQuestionsIfProspect";
constexpr std::string_view kDeleteReminderSource = "HlqServiceRequestMTS.Question.DeleteReminder";
constexpr std::string_view kGetCenterSource = "HlqServiceRequestMTS.Question.GetCenter";

// --- Archiving ---
constexpr std::string_view kSelectActiveRow = "select * from QUESTIONS where Q_ID=?";
// The insert names exactly the columns that were not null in the active row, so its column list
// is assembled from these fragments; every value is bound.
constexpr std::string_view kInsertHistoryHead = "Insert into QUESTIONHISTORY (";
constexpr std::string_view kInsertHistoryValues = ") values(";
constexpr std::string_view kInsertHistoryTail = ")";
constexpr std::string_view kEndStatusTimeColumn = "ENDSTATUSTIME";
constexpr std::string_view kDeleteArchivedReminder = "delete from REMINDER where Q_ID=?";
constexpr std::string_view kDeleteArchivedQuestion = "delete from QUESTIONS where Q_ID=?";

// The active row first, then the archive: works before and after the move.
constexpr std::string_view kSelectCenter =
    "Select CENTER from QUESTIONS where Q_ID = ? UNION ALL "
    "Select CENTER from QUESTIONHISTORY where Q_ID = ?";
constexpr std::string_view kDeleteReminder = "Delete From REMINDER where Q_ID=?";
constexpr std::string_view kSelectArchivedProspect =
    "Select EMAILID from QUESTIONHISTORY where Q_ID = ? AND PROSPECT = 1 ";

// --- Cancelling ---
constexpr std::string_view kSelectTotalTime = "Select TOTALTIMESPENT FROM QUESTIONS WHERE Q_ID =?";

// --- Transfer --- (the IN list gets one placeholder per request number)
constexpr std::string_view kSelectTransferHead =
    "select Q_ID,CENTER,Q_ORIGINATOR,EMAILID,Q_STATUS,PROSPECT from QUESTIONS where Q_ID in ";
constexpr std::string_view kSelectArchivedTransferHead =
    "select Q_ID,CENTER,Q_ORIGINATOR,EMAILID,Q_STATUS,PROSPECT from QUESTIONHISTORY where Q_ID "
    "in ";
constexpr std::string_view kTransferEmailCondition = " and EMAILID = ?";
// Archived rows are not unique by Q_ID (a number may have been archived twice), so they are
// changed by statement rather than through a one-row optimistic save.
constexpr std::string_view kTransferArchivedRows =
    "UPDATE QUESTIONHISTORY SET Q_ORIGINATOR = ?, EMAILID = ?, PROSPECT = ? "
    "WHERE Q_ID = ? and EMAILID = ?";
constexpr std::string_view kTransferLabel = "HQLBL3752;;;;";

constexpr int32_t kAssigned = 15;
constexpr int32_t kRegistered = 5;
constexpr int32_t kClosed = 180;
constexpr int32_t kCancelled = 185;
constexpr int32_t kCallCentre = 1;
constexpr int32_t kSupportCentre = 2;
// CancelledBy value of a cancellation the customer made.
constexpr std::string_view kCancelledByUser = "User";

const Dictionary& Require(const DictionaryPtr& dictionary, std::string_view source,
                          std::string_view what) {
  if (!dictionary) {
    throw ComError(err::kInvalidProcedureCall, std::string(source),
                   "no " + std::string(what) + " dictionary was given");
  }
  return *dictionary;
}

bool IsFinalStatus(int32_t status) { return status >= 160 && status <= 185 && status % 5 == 0; }

// Column names of the archive insert come from the database's own result, not from a caller;
// still, only plain identifiers may enter the statement text.
void CheckIdentifier(const std::string& name) {
  bool ok = !name.empty();
  for (char c : name) {
    ok = ok && (std::isalnum(static_cast<unsigned char>(c)) || c == '_');
  }
  if (!ok) {
    throw ComError(err::kDbError, std::string(kMoveSource),
                   "unexpected column name in QUESTIONS: '" + name + "'");
  }
}

// The archived value of one non-null column of the active row.
Variant ArchivedValue(const std::string& column, const Variant& value, int32_t final_status) {
  if (EqualsIgnoreCase(column, "Q_STATUS")) return Variant(final_status);
  if (EqualsIgnoreCase(column, "PROSPECT") || EqualsIgnoreCase(column, "OSVREQUESTED")) {
    // Flags are archived as 0 or 1 whatever form they were stored in (true reads as -1).
    return Variant(static_cast<int32_t>(std::llabs(static_cast<int64_t>(value.ToLong()))));
  }
  return value;
}

// "( ?,?,... )" for `count` values.
std::string PlaceholderList(size_t count) {
  std::string list = "( ";
  for (size_t i = 0; i < count; ++i) list += (i == 0 ? "?" : ",?");
  return list + " )";
}

// CENTER of the first row of a result, 0 when there is none or it is null.
int32_t FirstCenter(Recordset& rows) { return rows.eof() ? 0 : LongOf(rows.Field("CENTER")); }

}  // namespace

void Question::MovetoQuestionHistory(int32_t question_id, int32_t final_status) {
  RunOperation(kMoveSource, [&] {
    auto connection = GetHeliqConnection();
    auto row = Recordset::Open(*connection, kSelectActiveRow, {Variant(question_id)});
    if (row->eof()) {
      CloseRecordset(row);
      CloseConnection(connection);
      return;
    }
    const DateTime now = GetCurrentDateTime();

    std::string columns;
    std::string placeholders;
    Params values;
    for (const std::string& column : row->columns()) {
      const Variant value = row->Field(column);
      if (value.IsNull() || value.IsEmpty()) continue;
      CheckIdentifier(column);
      columns += column + ",";
      placeholders += "?,";
      values.push_back(ArchivedValue(column, value, final_status));
    }
    columns += kEndStatusTimeColumn;
    placeholders += "?";
    values.push_back(Variant(now));

    // The active row is deleted before the archive row is written: when two calls archive the
    // same request at once, the second one's delete waits for the first and then finds nothing,
    // so the request is archived once (in a unit of work the order is otherwise invisible).
    if (connection->Execute(kDeleteArchivedQuestion, {Variant(question_id)}) == 0) {
      CloseRecordset(row);
      CloseConnection(connection);
      return;
    }
    std::string insert(kInsertHistoryHead);
    insert += columns;
    insert += kInsertHistoryValues;
    insert += placeholders;
    insert += kInsertHistoryTail;
    connection->Execute(insert, values);
    connection->Execute(kDeleteArchivedReminder, {Variant(question_id)});
    CommitContext();
    CloseRecordset(row);
    CloseConnection(connection);
  });
}

int32_t Question::GetCenter(int32_t question_id) {
  // A lookup casts no vote: a failure is reported and re-raised into the caller, whose own frame
  // decides about the unit of work.
  try {
    auto connection = GetHeliqConnection();
    auto rows =
        Recordset::Open(*connection, kSelectCenter, {Variant(question_id), Variant(question_id)});
    const int32_t center = FirstCenter(*rows);
    CloseRecordset(rows);
    CloseConnection(connection);
    return center;
  } catch (...) {
    ReportError(kGetCenterSource);
    throw;
  }
}

void Question::DeleteReminder(int32_t question_id) {
  RunOperation(kDeleteReminderSource, [&] {
    if (question_id == 0) return;
    auto connection = GetHeliqConnection();
    connection->Execute(kDeleteReminder, {Variant(question_id)});
    CommitContext();
    CloseConnection(connection);
  });
}

void Question::DecPendingQuestionsIfProspect(int32_t question_id) {
  RunOperation(kDecPendingSource, [&] {
    if (question_id == 0) return;
    auto connection = GetHeliqConnection();
    auto rows = Recordset::Open(*connection, kSelectArchivedProspect, {Variant(question_id)});
    if (!rows->eof()) {
      const std::string email = rows->Field("EMAILID").ToTextOrEmpty();
      if (!email.empty()) {
        CreateObjectAs<Prospect>(kProspectClassId)->UpdateProspect(email, "", -1);
      }
    }
    CommitContext();
    CloseRecordset(rows);
    CloseConnection(connection);
  });
}

void Question::CloseQuestion(const DictionaryPtr& details_ptr) {
  RunOperation(kCloseSource, [&] {
    const Dictionary& details = Require(details_ptr, kCloseSource, "details");
    const DateTime now = GetCurrentDateTime();
    const int32_t question_id = LongOf(details, "Q_ID");
    MovetoQuestionHistory(question_id, kClosed);
    const int32_t center = GetCenter(question_id);  // from the archive now
    CreateTransactionLog(question_id, TextOf(details, "T_NAME"), std::to_string(kClosed), center,
                         now, TextOf(details, "T_COMMENT"), TextOf(details, "USERCOMMENT"), 0);
    CommitContext();
  });
}

void Question::CancelQuestion(const DictionaryPtr& details_ptr) {
  RunOperation(kCancelSource, [&] {
    const Dictionary& details = Require(details_ptr, kCancelSource, "details");
    const int32_t question_id = LongOf(details, "Q_ID");
    const int32_t time_spent = LongOf(details, "TIMESPENT");
    {
      auto connection = GetHeliqConnection();
      auto row =
          Recordset::OpenForUpdate(*connection, kSelectTotalTime, {Variant(question_id)},
                                   UpdateTarget{"QUESTIONS", {{"Q_ID", Variant(question_id)}}});
      if (!row->eof()) {
        const int64_t total =
            static_cast<int64_t>(LongOf(row->Field("TOTALTIMESPENT"))) + time_spent;
        if (total < std::numeric_limits<int32_t>::min() ||
            total > std::numeric_limits<int32_t>::max()) {
          throw ComError::Of(err::kOverflow);
        }
        row->SetField("TOTALTIMESPENT", Variant(static_cast<int32_t>(total)));
        row->Update();
      }
      CloseRecordset(row);
      CloseConnection(connection);
    }

    const DateTime now = GetCurrentDateTime();
    const int32_t from_status = LongOf(details, "FromStatus");
    const int32_t center = GetCenter(question_id);

    // A support-centre request still registered (not yet with a support engineer) sits in a
    // call-centre engineer's queue.
    if (center == kCallCentre || (center == kSupportCentre && from_status == kRegistered)) {
      GetComponentAs<Dispatch>(kDispatchClassId)->updateQueuesizeofCCE(question_id, -1);
    } else if (center == kSupportCentre) {
      GetComponentAs<Dispatch>(kDispatchClassId)->updateQueuesizeofSCE(question_id, -1);
    }

    MovetoQuestionHistory(question_id, kCancelled);
    DecPendingQuestionsIfProspect(question_id);
    if (TextOf(details, "CancelledBy") != kCancelledByUser) DeleteReminder(question_id);
    const int32_t transaction_id = CreateTransactionLog(
        question_id, TextOf(details, "T_NAME"), std::to_string(kCancelled), center, now,
        TextOf(details, "T_COMMENT"), TextOf(details, "USERCOMMENT"), time_spent);
    CreateObjectAs<FileHandling>(kFileHandlingClassId)
        ->HandleTransactionFiles(question_id, kFilesEngineerAction, transaction_id);
    CommitContext();
  });
}

void Question::customerCancelSR(const DictionaryPtr& details_ptr) {
  RunOperation(kCustomerCancelSource, [&] {
    const Dictionary& details = Require(details_ptr, kCustomerCancelSource, "details");
    const DateTime now = GetCurrentDateTime();
    const int32_t status = LongOf(details, "Q_STATUS");
    const int32_t question_id = LongOf(details, "Q_ID");
    const int32_t center = LongOf(details, "CENTER");

    if (status == kAssigned) {
      GetComponentAs<Dispatch>(kDispatchClassId)->updateQueuesizeofCCE(question_id, -1);
    }
    MovetoQuestionHistory(question_id, kCancelled);
    // The files the customer attached but nobody has taken over yet.
    DeleteAttachments(GetPhysicalUploadPath() + "SRAttachments/" + std::to_string(question_id) +
                      "P");
    DecPendingQuestionsIfProspect(question_id);
    const int32_t transaction_id = CreateTransactionLog(
        question_id, TextOf(details, "T_NAME"), std::to_string(kCancelled), center, now,
        TextOf(details, "T_COMMENT"), TextOf(details, "USERCOMMENT"), 0);
    CreateObjectAs<FileHandling>(kFileHandlingClassId)
        ->HandleTransactionFiles(question_id, kFilesCustomerAction, transaction_id);
    CommitContext();
  });
}

void Question::TransferQuestions(const DictionaryPtr& question_list, const std::string& user_id,
                                 const std::string& email_id) {
  RunOperation(kTransferSource, [&] {
    const Dictionary& list = Require(question_list, kTransferSource, "request list");
    // Nothing listed, nothing to take over (not even the prospect's visit is refreshed).
    if (list.size() == 0) return;
    // Request numbers are converted before anything is read: a list item that is no number fails
    // the call with a type mismatch and changes nothing.
    Params params;
    for (const auto& [key, value] : list.entries()) params.push_back(Variant(value.ToLong()));
    params.push_back(Variant(email_id));
    const std::string in_list = PlaceholderList(list.size());
    const std::string comment = std::string(kTransferLabel) + user_id;

    const DateTime now = GetCurrentDateTime();
    auto connection = GetHeliqConnection();
    int32_t open_count = 0;
    {
      auto rows = Recordset::OpenForUpdate(
          *connection,
          std::string(kSelectTransferHead) + in_list + std::string(kTransferEmailCondition), params,
          UpdateTarget{"QUESTIONS", {{"Q_ID", std::nullopt}}});
      for (; !rows->eof(); rows->MoveNext()) {
        const int32_t question_id = rows->Field("Q_ID").ToLong();
        const int32_t status = LongOf(rows->Field("Q_STATUS"));
        if (!IsFinalStatus(status)) ++open_count;
        const std::string former_originator = rows->Field("Q_ORIGINATOR").ToTextOrEmpty();
        const int32_t center = LongOf(rows->Field("CENTER"));
        rows->SetField("Q_ORIGINATOR", Variant(user_id));
        rows->SetField("EMAILID", Variant(""));
        rows->SetField("PROSPECT", Variant(0));
        rows->Update();
        CreateTransactionLog(question_id, former_originator, std::to_string(status), center, now,
                             comment, "", 0);
      }
      CloseRecordset(rows);
    }
    {
      auto rows = Recordset::Open(
          *connection,
          std::string(kSelectArchivedTransferHead) + in_list + std::string(kTransferEmailCondition),
          params);
      for (; !rows->eof(); rows->MoveNext()) {
        const int32_t question_id = rows->Field("Q_ID").ToLong();
        connection->Execute(kTransferArchivedRows, {Variant(user_id), Variant(""), Variant(0),
                                                    Variant(question_id), Variant(email_id)});
        CreateTransactionLog(question_id, rows->Field("Q_ORIGINATOR").ToTextOrEmpty(),
                             rows->Field("Q_STATUS").ToTextOrEmpty(), LongOf(rows->Field("CENTER")),
                             now, comment, "", 0);
      }
      CloseRecordset(rows);
    }
    CloseConnection(connection);
    CreateObjectAs<Prospect>(kProspectClassId)->UpdateProspect(email_id, "", -open_count);
    CommitContext();
  });
}

}  // namespace heliq
