#include "host/request_store.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <filesystem>
#include <optional>
#include <string>

#include "common/heliq_utilities.h"
#include "platform/com_error.h"
#include "platform/object_context.h"
#include "portal/filehandling/file_store.h"

namespace heliq {
namespace {

// A number is free only when nothing refers to it: operations on a number nobody registered
// (a close, a publication) leave log rows and previews that a new request must not inherit, and a
// number once handed out is never handed out again. Each maximum reads one end of an index.
constexpr std::string_view kNextQuestionId =
    "SELECT COALESCE(MAX(M), 0) FROM (SELECT MAX(Q_ID) AS M FROM QUESTIONS UNION ALL "
    "SELECT MAX(Q_ID) FROM QUESTIONHISTORY UNION ALL SELECT MAX(Q_ID) FROM TRANSACTIONS UNION ALL "
    "SELECT MAX(Q_ID) FROM REMINDER UNION ALL SELECT MAX(Q_ID) FROM PREVIEW UNION ALL "
    "SELECT LAST_ISSUED FROM REQUEST_NUMBERS WHERE ID = 1) IDS";
// Taken first in every creation: on PostgreSQL the row lock queues concurrent creations until the
// one before commits, so the maximum read next already holds its number (READ COMMITTED reads a
// new snapshot per statement); SQLite's single writer queues them anyway.
constexpr std::string_view kLockRequestNumbers =
    "UPDATE REQUEST_NUMBERS SET LAST_ISSUED = LAST_ISSUED WHERE ID = 1";
// A database whose row was removed gets it back (at 0: the maximum above still holds).
constexpr std::string_view kRestoreRequestNumbers =
    "INSERT INTO REQUEST_NUMBERS (ID, LAST_ISSUED) VALUES (1, 0) ON CONFLICT (ID) DO NOTHING";
constexpr std::string_view kRecordIssuedNumber =
    "UPDATE REQUEST_NUMBERS SET LAST_ISSUED = ? WHERE ID = 1";
constexpr std::string_view kSelectActive = "SELECT * FROM QUESTIONS WHERE Q_ID = ?";
constexpr std::string_view kSelectArchived = "SELECT * FROM QUESTIONHISTORY WHERE Q_ID = ?";
constexpr std::string_view kSelectCallDetail =
    "SELECT CONTRACT, CONTRACTDESC, WARRANTY, WARRANTYDESC, WEXPIRYDATE FROM CALLDETAIL "
    "WHERE CALLNUMBER = ?";
constexpr int32_t kSupportCentreNumber = 2;
constexpr std::string_view kSelectEscalated = "SELECT ESCALATED FROM ESCALATIONS WHERE Q_ID = ?";
constexpr std::string_view kSelectReminder =
    "SELECT Q_ID, R_STATUS, T1_DATE, T2_DATE FROM REMINDER WHERE Q_ID = ?";
constexpr std::string_view kSelectTransactions =
    "SELECT T_ID, Q_ID, T_NAME, T_STATUS, CENTER, T_DATE, T_COMMENT, USERCOMMENT, TIMESPENT "
    "FROM TRANSACTIONS WHERE Q_ID = ? ORDER BY T_ID";
constexpr std::string_view kSelectProspectRequests =
    "SELECT Q_ID, Q_STATUS, Q_DESC, 0 AS ARCHIVED FROM QUESTIONS WHERE EMAILID = ? UNION ALL "
    "SELECT Q_ID, Q_STATUS, Q_DESC, 1 AS ARCHIVED FROM QUESTIONHISTORY WHERE EMAILID = ? "
    "ORDER BY 1";

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

DictionaryPtr RowDictionary(const ResultSet& result, size_t row) {
  auto dict = Dictionary::Create();
  for (size_t i = 0; i < result.columns.size(); ++i) {
    dict->Set(Upper(result.columns[i]), result.rows[row][i]);
  }
  return dict;
}

// What a front-end column holds; a value of another kind is refused before anything is written,
// so that no later operation trips over it.
enum class FieldKind { kText, kNumber, kCentre, kFlag, kDate };

struct FrontEndField {
  std::string_view name;
  FieldKind kind;
};

constexpr FrontEndField kFrontEndFields[] = {
    {"CENTER", FieldKind::kCentre},     {"Q_PRODUCTCAT", FieldKind::kNumber},
    {"PRODUCTID", FieldKind::kNumber},  {"Q_CATEGORY", FieldKind::kNumber},
    {"Q_DESC", FieldKind::kText},       {"Q_TEXT", FieldKind::kText},
    {"Q_ORIGINATOR", FieldKind::kText}, {"PROSPECT", FieldKind::kFlag},
    {"EMAILID", FieldKind::kText},      {"BP_NUMBER", FieldKind::kText},
    {"Q_PRIORITY", FieldKind::kNumber}, {"Q_PRODUCT", FieldKind::kText},
    {"Q_REPORTED", FieldKind::kText},   {"Q_SITE", FieldKind::kText},
    {"Q_OBJECT", FieldKind::kText},     {"Q_OBJECTNR", FieldKind::kText},
    {"OSVREQUESTED", FieldKind::kFlag}, {"PREFSTARTDATE", FieldKind::kDate},
};

[[noreturn]] void RefuseField(std::string_view name, std::string_view expected,
                              const Variant& value) {
  throw ComError(err::kBadRequest, "Requests",
                 "request field " + std::string(name) + " must be " + std::string(expected) +
                     ", not " + std::string(TypeName(value.type())));
}

// The value to bind for `field`: null stays null; anything else must be of the column's kind.
Variant CheckedValue(const FrontEndField& field, const Variant& value) {
  if (value.IsNull() || value.IsEmpty()) return Variant::Null();
  const auto whole_number = [&]() -> std::optional<int64_t> {
    if (value.type() == Variant::Type::kInt32 || value.type() == Variant::Type::kInt64) {
      return value.ToLongLong();
    }
    if (value.type() == Variant::Type::kDouble &&
        std::trunc(value.ToDouble()) == value.ToDouble() && std::abs(value.ToDouble()) < 1e15) {
      return static_cast<int64_t>(value.ToDouble());
    }
    return std::nullopt;
  };
  switch (field.kind) {
    case FieldKind::kText:
      if (!value.IsText()) RefuseField(field.name, "a text", value);
      return value;
    case FieldKind::kNumber: {
      const auto number = whole_number();
      if (!number || *number < INT32_MIN || *number > INT32_MAX) {
        RefuseField(field.name, "a whole number of 32 bits", value);
      }
      return Variant(static_cast<int32_t>(*number));
    }
    case FieldKind::kCentre: {
      const auto number = whole_number();
      if (!number || (*number != 1 && *number != 2)) {
        RefuseField(field.name, "1 (call centre) or 2 (support centre)", value);
      }
      return Variant(static_cast<int32_t>(*number));
    }
    case FieldKind::kFlag: {
      if (value.type() == Variant::Type::kBool) return Variant(value.ToBool() ? 1 : 0);
      const auto number = whole_number();
      if (!number || (*number != 0 && *number != 1)) {
        RefuseField(field.name, "0, 1, true or false", value);
      }
      return Variant(static_cast<int32_t>(*number));
    }
    case FieldKind::kDate: {
      if (value.type() == Variant::Type::kDate) return value;
      if (value.IsText() && value.ToText().empty()) return Variant::Null();
      if (value.IsText()) {
        if (auto date = DateTime::Parse(value.ToText())) return Variant(*date);
      }
      RefuseField(field.name, "a date-time \"YYYY-MM-DD hh:mm:ss\"", value);
    }
  }
  RefuseField(field.name, "known", value);
}

// Steps past numbers whose folder the file store already holds (files attached, or left by an
// operation, before any row had the number).
int32_t PastStoredFolders(int32_t id) {
  std::error_code error;
  while (id < INT32_MAX && std::filesystem::exists(RequestFolder(id), error)) ++id;
  return id;
}

}  // namespace

const std::vector<std::string_view>& FrontEndRequestFields() {
  static const std::vector<std::string_view> fields = [] {
    std::vector<std::string_view> names;
    for (const auto& field : kFrontEndFields) names.push_back(field.name);
    return names;
  }();
  return fields;
}

int32_t CreateUnregisteredRequest(const Dictionary& fields) {
  // Column names come from the fixed list above, never from the caller's text.
  std::string columns = "Q_ID, Q_STATUS";
  std::string marks = "?, 0";
  Params values;
  for (const auto& [key, value] : fields.entries()) {
    const auto* field =
        std::find_if(std::begin(kFrontEndFields), std::end(kFrontEndFields),
                     [&](const FrontEndField& candidate) { return candidate.name == key; });
    if (field == std::end(kFrontEndFields)) {
      throw ComError(err::kBadRequest, "Requests", "unknown request field " + key);
    }
    columns += ", " + std::string(field->name);
    marks += ", ?";
    values.push_back(CheckedValue(*field, value));
  }
  const std::string insert = "INSERT INTO QUESTIONS (" + columns + ") VALUES (" + marks + ")";
  return RunUnitOfWork([&] {
    auto connection = GetHeliqConnection();
    if (connection->Execute(kLockRequestNumbers) == 0) {
      connection->Execute(kRestoreRequestNumbers);
      connection->Execute(kLockRequestNumbers);
    }
    const int64_t highest = connection->QueryValue(kNextQuestionId).ToLongLong();
    if (highest >= INT32_MAX) {
      throw ComError(err::kOverflow, "Requests", "no request number is left");
    }
    const int32_t id = PastStoredFolders(static_cast<int32_t>(highest) + 1);
    connection->Execute(kRecordIssuedNumber, {Variant(id)});
    Params params{Variant(id)};
    params.insert(params.end(), values.begin(), values.end());
    connection->Execute(insert, params);
    return id;
  });
}

namespace {

constexpr std::string_view kRequestExists =
    "SELECT COUNT(*) FROM (SELECT Q_ID FROM QUESTIONS WHERE Q_ID = ? UNION ALL "
    "SELECT Q_ID FROM QUESTIONHISTORY WHERE Q_ID = ?) IDS";

Variant ReminderOf(Connection& connection, const Params& id) {
  const ResultSet reminder = connection.Query(kSelectReminder, id);
  return reminder.rows.empty() ? Variant::Null() : Variant(RowDictionary(reminder, 0));
}

Variant TransactionsOf(Connection& connection, const Params& id) {
  const ResultSet log = connection.Query(kSelectTransactions, id);
  auto rows = std::make_shared<Array>();
  for (size_t i = 0; i < log.rows.size(); ++i) rows->push_back(Variant(RowDictionary(log, i)));
  return Variant(rows);
}

// The files in the request's folder of the file store, by relative path: what the front end
// attached (incoming/), the files of each action (T<T_ID>/) and the stored documents
// (kind-<kind>/). The store's own bookkeeping and half-written temporary files are left out.
Variant AttachmentsOf(int32_t question_id) {
  namespace fs = std::filesystem;
  auto files = std::make_shared<Array>();
  const fs::path folder = RequestFolder(question_id);
  std::error_code error;
  if (!fs::is_directory(folder, error)) return Variant(files);
  std::vector<fs::path> paths;
  for (auto it = fs::recursive_directory_iterator(folder, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (!it->is_regular_file(error) || it->path().filename().string().starts_with(".")) continue;
    const fs::path relative = it->path().lexically_relative(folder);
    if (relative.parent_path().empty()) continue;  // transactions.log, publish.lst
    paths.push_back(relative);
  }
  std::sort(paths.begin(), paths.end());
  for (const fs::path& relative : paths) {
    auto file = Dictionary::Create();
    const std::string top = relative.begin()->string();
    file->Set("path", Variant(relative.generic_string()));
    file->Set("name", Variant(relative.filename().string()));
    file->Set("bytes", Variant(static_cast<int64_t>(fs::file_size(folder / relative, error))));
    file->Set("T_ID", top.size() > 1 && top[0] == 'T' &&
                              top.find_first_not_of("0123456789", 1) == std::string::npos
                          ? Variant(std::stoi(top.substr(1)))
                          : Variant::Null());
    files->push_back(Variant(file));
  }
  return Variant(files);
}

// Runs `read` on the request's id when a request (active or archived) has it; null otherwise.
template <typename F>
Variant IfRequestExists(int32_t question_id, F&& read) {
  return RunUnitOfWork(
      [&] {
        auto connection = GetHeliqConnection();
        const Params id{Variant(question_id)};
        if (connection->QueryValue(kRequestExists, {id[0], id[0]}).ToLong() == 0) {
          return Variant::Null();
        }
        return read(*connection, id);
      },
      true);
}

}  // namespace

// The back-office call of a support-centre request: its number, type, service order and stamp
// from the request row, with the contract and warranty recorded when it was opened; null for
// other requests and for one without a call.
Variant CallOf(Connection& connection, const Dictionary& request) {
  const Variant centre = request.Get("CENTER");
  const Variant number = request.Get("Q_CALL");
  if (centre.IsNull() || centre.ToLong() != kSupportCentreNumber || number.IsBlank()) {
    return Variant::Null();
  }
  auto call = Dictionary::Create();
  call->Set("CALLNUMBER", number);
  for (const char* column : {"Q_CALLTYPE", "SERVICEORDER", "LASTTRANSTIME"}) {
    call->Set(column, request.Get(column));
  }
  const ResultSet detail = connection.Query(kSelectCallDetail, {number});
  const DictionaryPtr row = detail.rows.empty() ? nullptr : RowDictionary(detail, 0);
  for (const char* column :
       {"CONTRACT", "CONTRACTDESC", "WARRANTY", "WARRANTYDESC", "WEXPIRYDATE"}) {
    call->Set(column, row ? row->Get(column) : Variant::Null());
  }
  return Variant(call);
}

Variant ReadRequest(int32_t question_id) {
  return RunUnitOfWork(
      [&] {
        auto connection = GetHeliqConnection();
        const Params id{Variant(question_id)};
        ResultSet request = connection->Query(kSelectActive, id);
        bool archived = false;
        if (request.rows.empty()) {
          request = connection->Query(kSelectArchived, id);
          archived = true;
        }
        if (request.rows.empty()) return Variant::Null();
        auto answer = Dictionary::Create();
        answer->Set("archived", Variant(archived));
        DictionaryPtr row = RowDictionary(request, 0);
        const Variant escalated = connection->QueryValue(kSelectEscalated, id);
        row->Set("ESCALATED", escalated.IsEmpty() || escalated.IsNull()
                                  ? Variant::Null()
                                  : Variant(escalated.ToDate()));
        answer->Set("request", Variant(row));
        answer->Set("call", CallOf(*connection, *row));
        answer->Set("reminder", ReminderOf(*connection, id));
        answer->Set("transactions", TransactionsOf(*connection, id));
        answer->Set("attachments", AttachmentsOf(question_id));
        return Variant(answer);
      },
      true);
}

Variant ReadTransactionLog(int32_t question_id) {
  return IfRequestExists(question_id, TransactionsOf);
}

Variant ReadReminder(int32_t question_id) {
  return IfRequestExists(question_id, [](Connection& connection, const Params& id) {
    auto answer = Dictionary::Create();
    answer->Set("reminder", ReminderOf(connection, id));
    return Variant(answer);
  });
}

Variant ListProspectRequests(std::string_view email) {
  return RunUnitOfWork(
      [&] {
        auto connection = GetHeliqConnection();
        const ResultSet result =
            connection->Query(kSelectProspectRequests, {Variant(email), Variant(email)});
        auto rows = std::make_shared<Array>();
        for (size_t i = 0; i < result.rows.size(); ++i) {
          auto row = RowDictionary(result, i);
          row->Set("ARCHIVED", Variant(row->Get("ARCHIVED").ToLong() != 0));
          rows->push_back(Variant(row));
        }
        return Variant(rows);
      },
      true);
}

}  // namespace heliq
