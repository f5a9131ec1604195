// Registering a service request.
#include <string>

#include "common/backoffice_calls.h"
#include "common/file_handling.h"
#include "common/heliq_utilities.h"
#include "common/operation_frame.h"
#include "common/transaction_log.h"
#include "platform/object_context.h"
#include "servicerequest/question/prospect.h"
#include "servicerequest/question/question.h"
#include "servicerequest/src/details_readers.h"

namespace heliq {
namespace {

constexpr std::string_view kRegisterSource = "HlqServiceRequestMTS.Question.RegisterQuestion";

// The registration update is assembled from fixed fragments: which columns it writes depends on
// the back-office generation and on whether a prospect filed the request. Values are bound.
constexpr std::string_view kUpdateRegistered =
    "UPDATE QUESTIONS SET Q_STATUS = 5,Q_DATE = ? ,REGISTEREDDATE = ?  ,CENTER = ?"
    ",Q_PRODUCTCAT = ?,PRODUCTID= ?,Q_CATEGORY = ?,Q_DESC = ?,Q_TEXT = ?,Q_ORIGINATOR = ?"
    ",PROSPECT = ?";
constexpr std::string_view kSetEmail = ",EMAILID = ?";
constexpr std::string_view kSetSiteAndObject = ",Q_SITE = ?,Q_OBJECT = ?";
constexpr std::string_view kSetObjectNumber = ",Q_OBJECTNR = ?";
constexpr std::string_view kSetPartner = ",BP_NUMBER = ?";
constexpr std::string_view kSetPriority = ",Q_PRIORITY = ?";
constexpr std::string_view kSetReported = ",Q_REPORTED = ?";
constexpr std::string_view kSetMk4Details =
    ",Q_PRODUCT = ?,Q_REPORTED = ?,Q_SITE = ?,OSVREQUESTED = ?";
constexpr std::string_view kSetPreferredStart = ",PREFSTARTDATE = ? ";
constexpr std::string_view kWhereQuestion = " WHERE Q_ID = ?";

// One reminder row per request: registering again restarts its timer instead of adding a second
// row (two rows would escalate the request twice).
constexpr std::string_view kRestartReminder =
    "UPDATE REMINDER SET R_STATUS = ?, T1_DATE = ? WHERE Q_ID = ?";
constexpr std::string_view kInsertReminder =
    "INSERT INTO REMINDER  ( Q_ID, R_STATUS, T1_DATE) VALUES ( ?, ?, ? ) ";

constexpr std::string_view kSelectRegistered =
    "Select * from QUESTIONS where Q_ID= ? and Q_STATUS <> 0";

constexpr std::string_view kRegisteredStatus = "5";
constexpr int32_t kCallCentre = 1;

using internal::LongOf;
using internal::TextOf;

bool Flag(const Dictionary& details, std::string_view key) {
  const Variant value = details.Get(key);
  return !value.IsBlank() && value.ToBool();
}

// The registration update and its values, in the order of the statement.
std::pair<std::string, Params> BuildRegistrationUpdate(const Dictionary& details,
                                                       const DateTime& now) {
  const bool prospect = Flag(details, "PROSPECT");
  std::string sql(kUpdateRegistered);
  Params params{Variant(now),
                Variant(now),
                Variant(LongOf(details, "CENTER")),
                Variant(LongOf(details, "Q_PRODUCTCAT")),
                Variant(LongOf(details, "PRODUCTID")),
                Variant(LongOf(details, "Q_CATEGORY")),
                Variant(TextOf(details, "Q_DESC")),
                Variant(TextOf(details, "Q_TEXT")),
                Variant(TextOf(details, "Q_ORIGINATOR")),
                Variant(prospect ? 1 : 0)};
  auto append = [&](std::string_view fragment, Variant value) {
    sql += fragment;
    params.push_back(std::move(value));
  };
  if (prospect) append(kSetEmail, Variant(TextOf(details, "EMAILID")));
  const int32_t generation = LongOf(details, "BACKOFFICEAPPLICATION");
  const bool has_priority = !details.Get("Q_PRIORITY").IsBlank();
  if (generation == kBackOfficeMk5 || generation == kBackOfficeMk6) {
    append(kSetSiteAndObject, Variant(TextOf(details, "Q_SITE")));
    params.push_back(Variant(TextOf(details, "Q_OBJECT")));
    if (!details.Get("Q_OBJECTNR").IsBlank()) {
      append(kSetObjectNumber, Variant(TextOf(details, "Q_OBJECTNR")));
    }
    append(kSetPartner, Variant(TextOf(details, "BP_NUMBER")));
    if (has_priority) append(kSetPriority, Variant(LongOf(details, "Q_PRIORITY")));
    append(kSetReported, Variant(TextOf(details, "Q_REPORTED")));
  } else if (generation == kBackOfficeMk4 && !prospect) {
    append(kSetPartner, Variant(TextOf(details, "BP_NUMBER")));
    if (has_priority) append(kSetPriority, Variant(LongOf(details, "Q_PRIORITY")));
    append(kSetMk4Details, Variant(TextOf(details, "Q_PRODUCT")));
    params.push_back(Variant(TextOf(details, "Q_REPORTED")));
    params.push_back(Variant(TextOf(details, "Q_SITE")));
    params.push_back(Variant(std::abs(LongOf(details, "OSVREQUESTED"))));
    if (!details.Get("PREFSTARTDATE").IsBlank()) {
      append(kSetPreferredStart, Variant(details.Get("PREFSTARTDATE").ToDate()));
    }
  }
  sql += kWhereQuestion;
  params.push_back(Variant(LongOf(details, "Q_ID")));
  return {std::move(sql), std::move(params)};
}

}  // namespace

void Question::RegisterQuestion(const DictionaryPtr& details_ptr) {
  RunOperation(kRegisterSource, [&] {
    const Dictionary& details = *details_ptr;
    const int32_t question_id = LongOf(details, "Q_ID");
    if (question_id == 0) return;
    const DateTime now = GetCurrentDateTime();

    if (Flag(details, "PROSPECT")) {
      auto prospect = CreateObjectAs<Prospect>(kProspectClassId);
      if (Flag(details, "NewProspect")) {
        prospect->CreateNewProspect(TextOf(details, "EMAILID"), TextOf(details, "INFORMATION"), "");
      } else {
        prospect->UpdateProspect(TextOf(details, "EMAILID"), TextOf(details, "INFORMATION"), 1);
      }
    }

    auto [update, params] = BuildRegistrationUpdate(details, now);
    auto connection = GetHeliqConnection();
    connection->Execute(update, params);
    const Params reminder{Variant(kRegisteredStatus), Variant(now), Variant(question_id)};
    if (connection->Execute(kRestartReminder, reminder) == 0) {
      connection->Execute(kInsertReminder,
                          {Variant(question_id), Variant(kRegisteredStatus), Variant(now)});
    }
    const int32_t transaction_id =
        CreateTransactionLog(question_id, TextOf(details, "T_NAME"), kRegisteredStatus, kCallCentre,
                             now, TextOf(details, "T_COMMENT"), TextOf(details, "USERCOMMENT"), 0);
    CreateObjectAs<FileHandling>(kFileHandlingClassId)
        ->HandleTransactionFiles(question_id, kFilesCustomerAction, transaction_id);
    CommitContext();
    CloseConnection(connection);
  });
}

Variant Question::CheckIfQuestionAlreadyExists(int32_t question_id) {
  // A failed read answers empty; the savepoint keeps it from spoiling the call's transaction
  // (it only reads: leaving it by rolling back undoes nothing).
  try {
    Savepoint part;
    auto connection = GetHeliqConnection();
    auto rows = Recordset::Open(*connection, kSelectRegistered, {Variant(question_id)});
    return Variant(rows->eof());
  } catch (...) {
    return Variant();
  }
}

void RegisterQuestionComponent() {
  ComponentRegistry::Global().Register(kQuestionClassId,
                                       [] { return std::make_unique<Question>(); });
}

}  // namespace heliq
