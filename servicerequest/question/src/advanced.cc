// Assignment of a batch of requests, advanced details, engineer time, the front end's own log
// entries and the text encoder for its SQL literals.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/heliq_utilities.h"
#include "common/operation_frame.h"
#include "common/transaction_log.h"
#include "platform/object_context.h"
#include "servicerequest/dispatch/dispatch.h"
#include "servicerequest/question/question.h"
#include "servicerequest/src/details_readers.h"

namespace heliq {
namespace {

using internal::LongOf;

constexpr std::string_view kAssignSource = "HlqServiceRequestMTS.AssignToEngineer";
constexpr std::string_view kAdvancedSource = "HlqServiceRequestMTS.Question.UpdateAdvancedDetails";
constexpr std::string_view kLogSource = "HlqServiceRequestQuestion.CreateTransactionLog";

// The list of ids is made of one placeholder per request number.
constexpr std::string_view kSelectAssigned = "Select * from QUESTIONS  Where Q_ID in ";
constexpr std::string_view kSelectTimeSpent = "Select TOTALTIMESPENT from QUESTIONS where Q_ID=?";
constexpr std::string_view kInsertTransaction =
    "INSERT INTO TRANSACTIONS  ( Q_ID, T_NAME , T_STATUS, CENTER, T_DATE, T_COMMENT, "
    "USERCOMMENT ) VALUES ( ?, ?, ?, ?, ?, ?, ?) ";
constexpr std::string_view kUpdateAdvanced = "UPDATE QUESTIONS SET";
constexpr std::string_view kWhereQuestion = " WHERE Q_ID = ?";

// Log comment of a reassignment from the engineer's screen (the status is kept).
constexpr std::string_view kReassignedLabel = "HQLBL3990";

// How UpdateAdvancedDetails writes a column.
enum class ColumnKind { kWholeNumber, kText, kDate, kFlag };

struct AdvancedColumn {
  std::string_view name;
  ColumnKind kind;
};

// The only columns UpdateAdvancedDetails writes. The statement names these constants, never the
// caller's key text.
constexpr AdvancedColumn kAdvancedColumns[] = {
    {"Q_CATEGORY", ColumnKind::kWholeNumber},
    {"Q_PRODUCTCAT", ColumnKind::kWholeNumber},
    {"PRODUCTID", ColumnKind::kWholeNumber},
    {"Q_PRIORITY", ColumnKind::kWholeNumber},
    {"Q_SITE", ColumnKind::kText},
    {"Q_PRODUCT", ColumnKind::kText},
    {"Q_REPORTED", ColumnKind::kText},
    {"Q_OBJECT", ColumnKind::kText},
    {"BP_NUMBER", ColumnKind::kText},
    {"Q_OBJECTNR", ColumnKind::kText},
    {"PREFSTARTDATE", ColumnKind::kDate},
    {"OSVREQUESTED", ColumnKind::kFlag},
};

const AdvancedColumn* FindAdvancedColumn(std::string_view key) {
  for (const auto& column : kAdvancedColumns) {
    if (column.name == key) return &column;
  }
  return nullptr;
}

Variant ColumnValue(const AdvancedColumn& column, const Variant& value) {
  switch (column.kind) {
    case ColumnKind::kWholeNumber:
      return Variant(ToLongThroughEncoder(value));
    case ColumnKind::kText:
      return Variant(value.ToText());
    case ColumnKind::kDate:
      // FormatDateText checks the value (error 13 for text that is not a date); blank text
      // clears the date.
      return FormatDateText(value).empty() ? Variant::Null() : Variant(value.ToDate());
    case ColumnKind::kFlag:
      // Stored as 0 or 1 whichever form of true the caller sends.
      return Variant(std::abs(value.ToLong()));
  }
  return Variant();
}

// Request numbers per statement: well below what one statement may bind on either database.
constexpr size_t kAssignChunk = 500;

// A request number of the assignment list: a number, or text holding one, converted as every
// whole number is (a fraction rounds to the nearest, halves to even). Anything else (empty, text
// that is no number) ends the list.
std::optional<int32_t> RequestNumber(const Variant& element) {
  double number = 0;
  switch (element.type()) {
    case Variant::Type::kInt32:
    case Variant::Type::kInt64:
    case Variant::Type::kDouble:
      number = element.ToDouble();
      break;
    case Variant::Type::kText:
      if (element.IsBlank()) return std::nullopt;
      try {
        number = element.ToDouble();
      } catch (const ComError&) {
        return std::nullopt;
      }
      break;
    default:
      return std::nullopt;
  }
  return Variant(number).ToLong();  // overflow (error 6) beyond 32 bits
}

}  // namespace

void Question::AssignToEngineer(const ArrayPtr& question_ids, const std::string& user_id) {
  RunOperation(kAssignSource, [&] {
    Params ids;
    if (question_ids) {
      for (const Variant& element : *question_ids) {
        const std::optional<int32_t> id = RequestNumber(element);
        if (!id) break;
        ids.push_back(Variant(*id));
      }
    }
    if (ids.empty()) return;  // no request named: nothing to assign

    auto connection = GetHeliqConnection();
    const DateTime now = GetCurrentDateTime();
    auto dispatch = GetComponentAs<Dispatch>(kDispatchClassId);
    // A long list goes in chunks, each one statement; all of them are one unit of work.
    for (size_t start = 0; start < ids.size(); start += kAssignChunk) {
      const Params chunk(
          ids.begin() + static_cast<std::ptrdiff_t>(start),
          ids.begin() + static_cast<std::ptrdiff_t>(std::min(ids.size(), start + kAssignChunk)));
      std::string select(kSelectAssigned);
      select += "( ";
      for (size_t i = 0; i < chunk.size(); ++i) select += i == 0 ? "?" : ",?";
      select += " )";
      auto rows =
          Recordset::OpenForUpdate(*connection, select, chunk, {"QUESTIONS", {{"Q_ID", {}}}});
      for (; !rows->eof(); rows->MoveNext()) {
        const Variant engineer = rows->Field("D_DIRECT_TO");
        if (!engineer.IsNull() && engineer.ToText() == user_id) continue;
        const int32_t question_id = rows->Field("Q_ID").ToLong();
        // The counters follow D_DIRECT_TO: lower the old engineer's queue before the row names
        // the new one, raise the new one's after.
        dispatch->updateQueuesizeofCCE(question_id, -1);
        rows->SetField("D_DIRECT_TO", Variant(user_id));
        rows->Update();
        dispatch->updateQueuesizeofCCE(question_id, 1);
        CreateTransactionLog(question_id, user_id, rows->Field("Q_STATUS").ToTextOrEmpty(),
                             LongOf(rows->Field("CENTER")), now, kReassignedLabel, "", 0);
      }
      CloseRecordset(rows);
    }
    CommitContext();
    CloseConnection(connection);
  });
}

void Question::UpdateAdvancedDetails(const DictionaryPtr& columns) {
  RunOperation(kAdvancedSource, [&] {
    if (!columns) {
      throw ComError(err::kInvalidProcedureCall, "HlqServiceRequestMTS.Question",
                     "no dictionary of columns was given");
    }
    // Keys that are not advanced columns (Q_ID among them) are not written.
    std::string update(kUpdateAdvanced);
    Params params;
    for (const auto& [key, value] : columns->entries()) {
      if (value.IsEmpty() || value.IsNull()) continue;
      const AdvancedColumn* column = FindAdvancedColumn(key);
      if (column == nullptr) continue;
      update += " ";
      update += column->name;
      update += " = ?,";
      params.push_back(ColumnValue(*column, value));
    }
    if (params.empty()) return;
    update.pop_back();
    update += kWhereQuestion;
    params.push_back(Variant(LongOf(columns->Get("Q_ID"))));
    auto connection = GetHeliqConnection();
    connection->Execute(update, params);
    CloseConnection(connection);
    CommitContext();
  });
}

Variant Question::GetEngineerTime(int32_t question_id) {
  // Failures are swallowed: the caller gets an empty value, as for an unknown request. The
  // savepoint keeps a failed read from spoiling the call's transaction; it only reads, so leaving
  // it by rolling back is as good as releasing it.
  try {
    Savepoint part;
    auto connection = GetHeliqConnection();
    auto rows = Recordset::Open(*connection, kSelectTimeSpent, {Variant(question_id)});
    if (rows->eof()) return Variant();
    return Variant(LongOf(rows->Field("TOTALTIMESPENT")));
  } catch (...) {
    return Variant();
  }
}

void Question::CreateTransactionLog1(int32_t question_id, const std::string& name,
                                     const std::string& status, int32_t center,
                                     const DateTime& date, const std::string& comment,
                                     const std::string& user_comment) {
  RunOperation(kLogSource, [&] {
    auto connection = GetHeliqConnection();
    connection->Execute(kInsertTransaction,
                        {Variant(question_id), Variant(name), Variant(status), Variant(center),
                         Variant(date), Variant(comment), Variant(user_comment)});
    CloseConnection(connection);
    CommitContext();
  });
}

std::string Question::SQLEncodeStrForheliq(const Variant& value) {
  std::string text;
  try {
    text = value.ToText();
  } catch (...) {
    text.clear();  // null, or a value without a text form
  }
  std::string encoded;
  encoded.reserve(text.size());
  for (char c : text) {
    encoded += c;
    if (c == '\'') encoded += '\'';
  }
  const size_t first = encoded.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return encoded.substr(first, encoded.find_last_not_of(' ') - first + 1);
}

}  // namespace heliq
