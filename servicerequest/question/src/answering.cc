// Answering, concluding and accepting a request.
//
// None of the three tests the current status: any request may be answered, concluded or accepted
// again. The one status test is the answer's, which lowers the engineer's queue size only on the
// first answer (a second answer would otherwise count the request out twice). A request number
// of 0, or a number without a row, makes the operation do nothing at all.
#include <cctype>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/file_handling.h"
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

constexpr std::string_view kAnswerSource = "HlqServiceRequestMTS.Question.AnswerQuestion";
constexpr std::string_view kConcludeSource = "HlqServiceRequestMTS.Question.ConcludeQuestion";
constexpr std::string_view kAcceptSource = "HlqServiceRequestMTS.Question.AcceptQuestion";

constexpr std::string_view kSelectForAnswer =
    "Select CENTER,Q_STATUS,S_TEXT, S_LINK, LASTTRANSTIME, "
    "A_TEXT,A_LINK,A_DATE,Q_CATEGORY, Q_PRODUCTCAT,PRODUCTID,TOTALTIMESPENT "
    "from QUESTIONS where Q_ID = ?";
constexpr std::string_view kSelectForConclude =
    "select CENTER,Q_STATUS,Q_CATEGORY,Q_PRODUCTCAT,PRODUCTID, "
    "Q_DATE, PROSPECT, EMAILID, LASTTRANSTIME from QUESTIONS where "
    "Q_ID=?";
constexpr std::string_view kSelectForAccept =
    "select CENTER, Q_STATUS,Q_DATE, PROSPECT, EMAILID, "
    "LASTTRANSTIME from QUESTIONS where "
    " Q_ID=?";
constexpr std::string_view kSelectReminder =
    "Select Q_ID,T1_DATE,R_STATUS From REMINDER where Q_ID = ?";
constexpr std::string_view kDeletePreview = "Delete From PREVIEW Where Q_ID = ?";

// Hours from an answer until its reminder escalates.
constexpr std::string_view kReminderTimeParameter = "Reminder_Time";

constexpr int32_t kAnswered = 150;
constexpr int32_t kConcluded = 160;
constexpr int32_t kAccepted = 165;
constexpr int32_t kSupportCentre = 2;

const Dictionary& Require(const DictionaryPtr& dictionary, std::string_view source) {
  if (!dictionary) {
    throw ComError(err::kInvalidProcedureCall, std::string(source),
                   "no details dictionary was given");
  }
  return *dictionary;
}

// A date column copied from the details: unset, null or "" stores null; text that is not a date
// raises a type mismatch.
Variant DateColumn(const Dictionary& details, std::string_view key) {
  const Variant value = details.Get(key);
  if (value.IsBlank()) return Variant::Null();
  return Variant(value.ToDate());
}

// The back office's stamp is kept as the text it gave; an empty one leaves the stored stamp.
void CopyStamp(const Dictionary& details, Recordset& row) {
  const std::string stamp = TextOf(details, "LASTTRANSTIME");
  if (!stamp.empty()) row.SetField("LASTTRANSTIME", Variant(stamp));
}

void CopyCategories(const Dictionary& details, Recordset& row) {
  row.SetField("Q_CATEGORY", Variant(LongOf(details, "Q_CATEGORY")));
  row.SetField("Q_PRODUCTCAT", Variant(LongOf(details, "Q_PRODUCTCAT")));
  row.SetField("PRODUCTID", Variant(LongOf(details, "PRODUCTID")));
}

// TOTALTIMESPENT += time spent (a null total counts as 0). Overflow raises error 6.
void AddTimeSpent(Recordset& row, int32_t time_spent) {
  const int64_t sum = static_cast<int64_t>(LongOf(row.Field("TOTALTIMESPENT"))) + time_spent;
  if (sum < std::numeric_limits<int32_t>::min() || sum > std::numeric_limits<int32_t>::max()) {
    throw ComError::Of(err::kOverflow);
  }
  row.SetField("TOTALTIMESPENT", Variant(static_cast<int32_t>(sum)));
}

// When an answer's reminder escalates: now plus the parameter's hours (fractions allowed, to the
// second). A missing or non-numeric parameter fails the answer.
DateTime AnswerReminderTime(const DateTime& now) {
  const std::string text = GetParamValue(kReminderTimeParameter);
  if (TrimSpace(text).empty()) {
    throw ComError(err::kTypeMismatch, std::string(kAnswerSource),
                   "parameter " + std::string(kReminderTimeParameter) + " is not set");
  }
  const double hours = Variant(text).ToDouble();
  const double seconds = std::round(hours * 3600.0);
  // A hundred thousand years either way is no reminder any more.
  if (!std::isfinite(seconds) || std::fabs(seconds) > 3.2e12) {
    throw ComError(err::kOverflow, std::string(kAnswerSource),
                   "parameter " + std::string(kReminderTimeParameter) + " is out of range");
  }
  return now.AddSeconds(static_cast<int64_t>(seconds));
}

// The request's row for in-place update; the select does not return the key, so it is fixed.
std::unique_ptr<Recordset> OpenRequestRow(Connection& connection, std::string_view select,
                                          int32_t question_id) {
  return Recordset::OpenForUpdate(connection, select, {Variant(question_id)},
                                  UpdateTarget{"QUESTIONS", {{"Q_ID", Variant(question_id)}}});
}

// The e-mail address of a prospect's request; "" for a request of a registered user.
std::string ProspectAddress(const Recordset& row) {
  const Variant prospect = row.Field("PROSPECT");
  if (prospect.IsNull() || !prospect.ToBool()) return "";
  return row.Field("EMAILID").ToTextOrEmpty();
}

void RaiseExperience(int32_t question_id, int32_t center) {
  auto dispatch = GetComponentAs<Dispatch>(kDispatchClassId);
  if (center == kSupportCentre) {
    dispatch->updateExperienceofSCE(question_id);
  } else {
    dispatch->updateExperienceofCCE(question_id);
  }
}

// Conclusion and acceptance differ only in their row select, status, the columns they set
// besides the status, and whether a blank prospect address counts as none.
struct CustomerVerdict {
  std::string_view select;
  int32_t status;
  bool trim_address;
  void (*set_columns)(const Dictionary& details, const DateTime& now, Recordset& row);
};

constexpr CustomerVerdict kConclusion{kSelectForConclude, kConcluded, /*trim_address=*/false,
                                      [](const Dictionary& details, const DateTime&,
                                         Recordset& row) { CopyCategories(details, row); }};
constexpr CustomerVerdict kAcceptance{kSelectForAccept, kAccepted, /*trim_address=*/true,
                                      [](const Dictionary&, const DateTime& now, Recordset& row) {
                                        row.SetField("Q_DATE", Variant(now));
                                      }};

// The customer's verdict on an answer, without its log row: the row takes the status (and the
// verdict's columns), the engineer's experience rises, the reminder goes, a prospect has one
// request fewer pending. Returns the request's centre; nullopt (nothing done) without a row.
std::optional<int32_t> ApplyVerdict(Question& question, const Dictionary& details,
                                    const CustomerVerdict& verdict, const DateTime& now) {
  const int32_t question_id = LongOf(details, "Q_ID");
  auto connection = GetHeliqConnection();
  auto row = OpenRequestRow(*connection, verdict.select, question_id);
  if (row->eof()) {
    CloseRecordset(row);
    CloseConnection(connection);
    return std::nullopt;
  }
  const int32_t center = LongOf(row->Field("CENTER"));
  row->SetField("Q_STATUS", Variant(verdict.status));
  verdict.set_columns(details, now, *row);
  const std::string email = ProspectAddress(*row);
  CopyStamp(details, *row);
  row->Update();
  CloseRecordset(row);

  RaiseExperience(question_id, center);
  question.DeleteReminder(question_id);
  const bool has_address = verdict.trim_address ? !TrimSpace(email).empty() : !email.empty();
  if (has_address) CreateObjectAs<Prospect>(kProspectClassId)->UpdateProspect(email, "", -1);
  CloseConnection(connection);
  return center;
}

// The verdict with its log row, as one operation. A request number of 0 or without a row:
// nothing happens.
void RecordVerdict(Question& question, const Dictionary& details, const CustomerVerdict& verdict) {
  const int32_t question_id = LongOf(details, "Q_ID");
  if (question_id == 0) return;
  const DateTime now = GetCurrentDateTime();
  const std::optional<int32_t> center = ApplyVerdict(question, details, verdict, now);
  if (!center) return;
  CreateTransactionLog(question_id, TextOf(details, "T_NAME"), std::to_string(verdict.status),
                       *center, now, TextOf(details, "T_COMMENT"), TextOf(details, "USERCOMMENT"),
                       0);
  CommitContext();
}

}  // namespace

void Question::AnswerQuestion(const DictionaryPtr& details_ptr) {
  RunOperation(kAnswerSource, [&] {
    const Dictionary& details = Require(details_ptr, kAnswerSource);
    const int32_t question_id = LongOf(details, "Q_ID");
    if (question_id == 0) return;
    const DateTime now = GetCurrentDateTime();

    auto connection = GetHeliqConnection();
    auto row = OpenRequestRow(*connection, kSelectForAnswer, question_id);
    if (row->eof()) {
      CloseRecordset(row);
      CloseConnection(connection);
      return;
    }
    const bool first_answer = LongOf(row->Field("Q_STATUS")) != kAnswered;
    const int32_t center = LongOf(row->Field("CENTER"));
    row->SetField("Q_STATUS", Variant(kAnswered));
    // As in SaveQuestion, an unset key (or null) stores the empty text, never null.
    for (std::string_view key : {"S_TEXT", "S_LINK", "A_TEXT", "A_LINK"}) {
      row->SetField(key, Variant(TextOf(details, key)));
    }
    row->SetField("A_DATE", DateColumn(details, "A_DATE"));
    CopyCategories(details, *row);
    CopyStamp(details, *row);
    const int32_t time_spent = LongOf(details, "TIMESPENT");
    AddTimeSpent(*row, time_spent);
    row->Update();
    CloseRecordset(row);

    if (first_answer) {
      auto dispatch = GetComponentAs<Dispatch>(kDispatchClassId);
      if (center == kSupportCentre) {
        dispatch->updateQueuesizeofSCE(question_id, -1);
      } else {
        dispatch->updateQueuesizeofCCE(question_id, -1);
      }
    }

    // The answer arms the reminder; T2_DATE is left as it is.
    const DateTime reminder_time = AnswerReminderTime(now);
    auto reminder = Recordset::OpenForUpdate(*connection, kSelectReminder, {Variant(question_id)},
                                             UpdateTarget{"REMINDER", {{"Q_ID", std::nullopt}}});
    if (reminder->eof()) {
      reminder->AddNew();
      reminder->SetField("Q_ID", Variant(question_id));
    }
    reminder->SetField("T1_DATE", Variant(reminder_time));
    reminder->SetField("R_STATUS", Variant(std::to_string(kAnswered)));
    reminder->Update();
    CloseRecordset(reminder);

    connection->Execute(kDeletePreview, {Variant(question_id)});
    const int32_t transaction_id = CreateTransactionLog(
        question_id, TextOf(details, "T_NAME"), std::to_string(kAnswered), center, now,
        TextOf(details, "T_COMMENT"), TextOf(details, "USERCOMMENT"), time_spent);
    CreateObjectAs<FileHandling>(kFileHandlingClassId)
        ->HandleTransactionFiles(question_id, kFilesEngineerAction, transaction_id);
    CommitContext();
    CloseConnection(connection);
  });
}

void Question::ConcludeQuestion(const DictionaryPtr& details_ptr) {
  RunOperation(kConcludeSource,
               [&] { RecordVerdict(*this, Require(details_ptr, kConcludeSource), kConclusion); });
}

void Question::AcceptQuestion(const DictionaryPtr& details_ptr) {
  RunOperation(kAcceptSource,
               [&] { RecordVerdict(*this, Require(details_ptr, kAcceptSource), kAcceptance); });
}

namespace internal {

std::optional<int32_t> ApplyAcceptance(Question& question, const Dictionary& details,
                                       const DateTime& now) {
  return ApplyVerdict(question, details, kAcceptance, now);
}

}  // namespace internal

}  // namespace heliq
