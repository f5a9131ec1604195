// Engineer work steps: take in hand, set to waiting, resume after waiting, save work; and the
// move of a request's attachment files between folders.
//
// Each step reads the request row for update, writes it, moves the reminder timer and logs one
// TRANSACTIONS row, all in the caller's unit of work. None checks the status it starts from except
// ClarifyQuestion; a Q_ID of 0 or a request without a row is no error: nothing happens.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "common/file_handling.h"
#include "common/files_and_texts.h"
#include "common/heliq_utilities.h"
#include "common/operation_frame.h"
#include "common/transaction_log.h"
#include "servicerequest/question/question.h"
#include "servicerequest/src/details_readers.h"

namespace heliq {
namespace {

using internal::LongOf;
using internal::TextOf;

constexpr std::string_view kTakeInHandSource = "HlqServiceRequestMTS.Question.TakeInHand";
constexpr std::string_view kSetToWaitingSource = "HlqServiceRequestMTS.Question.SetToWaiting";
constexpr std::string_view kClarifySource = "HlqServiceRequestMTS.Question.ClarifyQuestion";
constexpr std::string_view kSaveSource = "HlqServiceRequestMTS.Question.SaveQuestion";
constexpr std::string_view kMoveAttachmentsSource = "HlqServiceRequestMTS.Question.moveAttachments";

constexpr std::string_view kSelectForTakeInHand =
    "Select CENTER,Q_STATUS, LASTTRANSTIME  from QUESTIONS where Q_ID = ?";
constexpr std::string_view kSelectForWaiting =
    "Select CENTER,Q_STATUS,TOTALTIMESPENT, LASTTRANSTIME  from QUESTIONS where Q_ID = ?";
constexpr std::string_view kSelectForClarify =
    "Select Q_STATUS,CENTER,TOTALTIMESPENT,LASTTRANSTIME from QUESTIONS where Q_ID = ?";
constexpr std::string_view kSelectForSave =
    "Select Q_STATUS,CENTER,S_TEXT, S_LINK,Q_CATEGORY, Q_PRODUCTCAT, PRODUCTID,TOTALTIMESPENT "
    "from QUESTIONS where Q_ID = ?";

// R_STATUS is text: statuses are bound as their decimal text.
constexpr std::string_view kRestartReminder =
    "UPDATE REMINDER SET R_STATUS=? ,T1_DATE= ? WHERE Q_ID=?";
// While the customer is expected to answer no timer runs, so nothing escalates.
constexpr std::string_view kStopReminder =
    "UPDATE REMINDER SET R_STATUS=? ,T1_DATE = NULL  WHERE Q_ID=?";
// Saving work keeps the timer's start: the engineer has not answered yet.
constexpr std::string_view kSetReminderStatus = "UPDATE REMINDER SET R_STATUS=? WHERE Q_ID=?";

constexpr int32_t kInHand = 25;
constexpr int32_t kWaiting = 30;
constexpr int32_t kWaitingForCustomer = 35;
constexpr int32_t kClarified = 40;
// Log codes of a clarification: resumed after waiting, resumed after waiting for the customer.
constexpr int32_t kResumedAfterWaiting = 45;
constexpr int32_t kResumedAfterCustomer = 50;

// WAITINGTYPE values.
constexpr int32_t kWaitInternal = 0;
constexpr int32_t kWaitForCustomer = 1;

const Dictionary& Require(const DictionaryPtr& details, std::string_view source) {
  if (!details) {
    throw ComError(err::kInvalidProcedureCall, std::string(source),
                   "no details dictionary was given");
  }
  return *details;
}

// An updatable QUESTIONS row of the request; the key is fixed since the selects do not return it.
std::unique_ptr<Recordset> OpenRequestRow(Connection& connection, std::string_view select,
                                          int32_t question_id) {
  return Recordset::OpenForUpdate(connection, select, {Variant(question_id)},
                                  UpdateTarget{"QUESTIONS", {{"Q_ID", Variant(question_id)}}});
}

// The back office's stamp is stored as the text it was given; a blank one leaves the stored
// stamp, which the next back-office update must hand back unchanged.
void StoreBackOfficeStamp(Recordset& row, const Dictionary& details) {
  const Variant stamp = details.Get("LASTTRANSTIME");
  if (!stamp.IsBlank()) row.SetField("LASTTRANSTIME", Variant(stamp.ToText()));
}

// TOTALTIMESPENT += time spent (a null total counts as 0). Overflow raises error 6.
void AddTimeSpent(Recordset& row, int32_t time_spent) {
  const int64_t sum = static_cast<int64_t>(LongOf(row.Field("TOTALTIMESPENT"))) + time_spent;
  if (sum < std::numeric_limits<int32_t>::min() || sum > std::numeric_limits<int32_t>::max()) {
    throw ComError::Of(err::kOverflow);
  }
  row.SetField("TOTALTIMESPENT", Variant(static_cast<int32_t>(sum)));
}

// The log row of a work step: actor and comments from the details, the row's centre.
int32_t LogStep(const Dictionary& details, int32_t question_id, int32_t code, int32_t center,
                const DateTime& now, int32_t time_spent) {
  return CreateTransactionLog(question_id, TextOf(details, "T_NAME"), std::to_string(code), center,
                              now, TextOf(details, "T_COMMENT"), TextOf(details, "USERCOMMENT"),
                              time_spent);
}

void Close(std::unique_ptr<Recordset>& row, std::unique_ptr<Connection>& connection) {
  CloseRecordset(row);
  CloseConnection(connection);
}

}  // namespace

void Question::TakeInHand(const DictionaryPtr& details_ptr) {
  RunOperation(kTakeInHandSource, [&] {
    const Dictionary& details = Require(details_ptr, kTakeInHandSource);
    const int32_t question_id = LongOf(details, "Q_ID");
    if (question_id == 0) return;
    const DateTime now = GetCurrentDateTime();
    auto connection = GetHeliqConnection();
    auto row = OpenRequestRow(*connection, kSelectForTakeInHand, question_id);
    if (row->eof()) return Close(row, connection);

    const int32_t center = LongOf(row->Field("CENTER"));
    row->SetField("Q_STATUS", Variant(kInHand));
    StoreBackOfficeStamp(*row, details);
    row->Update();
    connection->Execute(kRestartReminder,
                        {Variant(std::to_string(kInHand)), Variant(now), Variant(question_id)});
    LogStep(details, question_id, kInHand, center, now, 0);
    CommitContext();
    Close(row, connection);
  });
}

void Question::SetToWaiting(const DictionaryPtr& details_ptr) {
  RunOperation(kSetToWaitingSource, [&] {
    const Dictionary& details = Require(details_ptr, kSetToWaitingSource);
    const int32_t question_id = LongOf(details, "Q_ID");
    if (question_id == 0) return;
    const DateTime now = GetCurrentDateTime();
    auto connection = GetHeliqConnection();
    // The row is read first: for a request without a row the waiting type does not matter.
    auto row = OpenRequestRow(*connection, kSelectForWaiting, question_id);
    if (row->eof()) return Close(row, connection);
    const int32_t waiting_type = LongOf(details, "WAITINGTYPE");
    if (waiting_type != kWaitInternal && waiting_type != kWaitForCustomer) {
      throw ComError(err::kInvalidProcedureCall, std::string(kSetToWaitingSource),
                     "WAITINGTYPE must be 0 (waiting) or 1 (waiting for the customer), not " +
                         std::to_string(waiting_type));
    }

    const int32_t center = LongOf(row->Field("CENTER"));
    StoreBackOfficeStamp(*row, details);
    int32_t status = kWaiting;
    if (waiting_type == kWaitInternal) {
      connection->Execute(kRestartReminder,
                          {Variant(std::to_string(kWaiting)), Variant(now), Variant(question_id)});
    } else {
      status = kWaitingForCustomer;
      connection->Execute(kStopReminder,
                          {Variant(std::to_string(kWaitingForCustomer)), Variant(question_id)});
    }
    row->SetField("Q_STATUS", Variant(status));
    const int32_t time_spent = LongOf(details, "TIMESPENT");
    AddTimeSpent(*row, time_spent);
    row->Update();

    const int32_t transaction_id = LogStep(details, question_id, status, center, now, time_spent);
    // The file store learns that the customer is now expected to answer.
    const Variant waiting_for =
        waiting_type == kWaitForCustomer ? Variant(kWaitingForCustomer) : Variant();
    CreateObjectAs<FileHandling>(kFileHandlingClassId)
        ->HandleTransactionFiles(question_id, kFilesEngineerAction, transaction_id, Variant(),
                                 waiting_for);
    CommitContext();
    Close(row, connection);
  });
}

void Question::ClarifyQuestion(const DictionaryPtr& details_ptr) {
  RunOperation(kClarifySource, [&] {
    const Dictionary& details = Require(details_ptr, kClarifySource);
    const int32_t question_id = LongOf(details, "Q_ID");
    if (question_id == 0) return;
    const DateTime now = GetCurrentDateTime();
    auto connection = GetHeliqConnection();
    auto row = OpenRequestRow(*connection, kSelectForClarify, question_id);
    if (row->eof()) return Close(row, connection);

    // Only a waiting request resumes, unless the caller passes details Q_STATUS 50: the request
    // then resumes as if it had waited for the customer, whatever its status.
    const int32_t current = LongOf(row->Field("Q_STATUS"));
    int32_t code = 0;
    if (current == kWaiting) {
      code = kResumedAfterWaiting;
    } else if (current == kWaitingForCustomer ||
               LongOf(details, "Q_STATUS") == kResumedAfterCustomer) {
      code = kResumedAfterCustomer;
    } else {
      return Close(row, connection);
    }

    const int32_t center = LongOf(row->Field("CENTER"));
    row->SetField("Q_STATUS", Variant(kClarified));
    StoreBackOfficeStamp(*row, details);
    const int32_t time_spent = LongOf(details, "TIMESPENT");
    AddTimeSpent(*row, time_spent);
    row->Update();
    connection->Execute(kRestartReminder,
                        {Variant(std::to_string(kClarified)), Variant(now), Variant(question_id)});
    // The request is "clarified" (40) while its log row tells from which wait it resumed.
    LogStep(details, question_id, code, center, now, time_spent);
    CommitContext();
    Close(row, connection);
  });
}

void Question::SaveQuestion(const DictionaryPtr& details_ptr) {
  RunOperation(kSaveSource, [&] {
    const Dictionary& details = Require(details_ptr, kSaveSource);
    const int32_t question_id = LongOf(details, "Q_ID");
    if (question_id == 0) return;
    const DateTime now = GetCurrentDateTime();
    auto connection = GetHeliqConnection();
    auto row = OpenRequestRow(*connection, kSelectForSave, question_id);
    if (row->eof()) return Close(row, connection);

    const int32_t center = LongOf(row->Field("CENTER"));
    row->SetField("Q_STATUS", Variant(kInHand));
    row->SetField("S_TEXT", Variant(TextOf(details, "S_TEXT")));
    row->SetField("S_LINK", Variant(TextOf(details, "S_LINK")));
    // The classification is the engineer's: unlike an assignment, 0 is written as given.
    row->SetField("Q_CATEGORY", Variant(LongOf(details, "Q_CATEGORY")));
    row->SetField("Q_PRODUCTCAT", Variant(LongOf(details, "Q_PRODUCTCAT")));
    row->SetField("PRODUCTID", Variant(LongOf(details, "PRODUCTID")));
    const int32_t time_spent = LongOf(details, "TIMESPENT");
    AddTimeSpent(*row, time_spent);
    row->Update();
    connection->Execute(kSetReminderStatus,
                        {Variant(std::to_string(kInHand)), Variant(question_id)});

    const int32_t transaction_id = LogStep(details, question_id, kInHand, center, now, time_spent);
    CreateObjectAs<FileHandling>(kFileHandlingClassId)
        ->HandleTransactionFiles(question_id, kFilesEngineerSave, transaction_id);
    CommitContext();
    Close(row, connection);
  });
}

// Files are copied and then deleted one by one, so a failure half-way leaves every file in one
// folder or the other (possibly in both), never in neither. Only the files directly in the source
// folder move; the source folder is then deleted with whatever else it holds. Symbolic links are
// never followed, as they could lead out of the upload folder: a source or target folder that is a
// link, or a path with "..", is refused; a link inside the source folder is not moved and goes
// with the folder (the link itself, not what it points to).
void Question::moveAttachments(const std::string& source, const std::string& target) {
  RunOperation(kMoveAttachmentsSource, [&] {
    namespace fs = std::filesystem;
    const fs::path from(TrimPathSeparator(source));
    const fs::path to(TrimPathSeparator(target));
    auto refuse = [&](const fs::path& path, const std::string& why) {
      throw ComError(err::kPathFileAccess, std::string(kMoveAttachmentsSource),
                     "Path/File access error (" + why + "): " + path.string());
    };
    for (const fs::path& path : {from, to}) {
      if (std::find(path.begin(), path.end(), fs::path("..")) != path.end()) {
        refuse(path, "the path leads up with \"..\"");
      }
    }
    std::error_code error;
    if (fs::is_symlink(fs::symlink_status(from, error))) refuse(from, "a symbolic link");
    if (fs::is_symlink(fs::symlink_status(to, error))) refuse(to, "a symbolic link");
    if (from.empty() || !fs::is_directory(from, error)) return;
    // Moving a folder onto itself would copy each file over itself and then delete it.
    if (fs::exists(to, error) && fs::equivalent(from, to, error)) return;

    auto check = [&](const fs::path& path) {
      if (error) refuse(path, error.message());
    };
    std::vector<fs::path> names;
    for (fs::directory_iterator it(from, error), end; !error && it != end; it.increment(error)) {
      std::error_code ignored;
      if (it->symlink_status(ignored).type() == fs::file_type::regular) {
        names.push_back(it->path().filename());
      }
    }
    check(from);
    if (!names.empty() && !fs::exists(to, error)) {
      fs::create_directories(to, error);
      check(to);
    }
    for (const fs::path& name : names) {
      fs::copy_file(from / name, to / name, fs::copy_options::overwrite_existing, error);
      check(to / name);
      fs::remove(from / name, error);
      check(from / name);
    }
    fs::remove_all(from, error);
    check(from);
  });
}

}  // namespace heliq
