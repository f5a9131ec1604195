#include "host/request_store.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>

#include "common/heliq_utilities.h"
#include "platform/com_error.h"
#include "platform/object_context.h"
#include "portal/filehandling/file_store.h"

namespace heliq {
namespace {

constexpr std::string_view kNextQuestionId =
    "SELECT COALESCE(MAX(Q_ID), 0) FROM (SELECT Q_ID FROM QUESTIONS UNION ALL "
    "SELECT Q_ID FROM QUESTIONHISTORY) IDS";
constexpr std::string_view kSelectActive = "SELECT * FROM QUESTIONS WHERE Q_ID = ?";
constexpr std::string_view kSelectArchived = "SELECT * FROM QUESTIONHISTORY WHERE Q_ID = ?";
constexpr std::string_view kSelectReminder =
    "SELECT Q_ID, R_STATUS, T1_DATE, T2_DATE FROM REMINDER WHERE Q_ID = ?";
constexpr std::string_view kSelectTransactions =
    "SELECT T_ID, Q_ID, T_NAME, T_STATUS, CENTER, T_DATE, T_COMMENT, USERCOMMENT, TIMESPENT "
    "FROM TRANSACTIONS WHERE Q_ID = ? ORDER BY T_ID";
constexpr std::string_view kSelectProspectRequests =
    "SELECT Q_ID, Q_STATUS, Q_DESC, 0 AS ARCHIVED FROM QUESTIONS WHERE EMAILID = ? UNION ALL "
    "SELECT Q_ID, Q_STATUS, Q_DESC, 1 AS ARCHIVED FROM QUESTIONHISTORY WHERE EMAILID = ? "
    "ORDER BY 1";

// Concurrent creations on PostgreSQL may pick the same id; the loser tries again.
constexpr int kCreateAttempts = 8;

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

}  // namespace

const std::vector<std::string_view>& FrontEndRequestFields() {
  static const std::vector<std::string_view> fields = {
      "CENTER",       "Q_PRODUCTCAT", "PRODUCTID", "Q_CATEGORY", "Q_DESC",       "Q_TEXT",
      "Q_ORIGINATOR", "PROSPECT",     "EMAILID",   "BP_NUMBER",  "Q_PRIORITY",   "Q_PRODUCT",
      "Q_REPORTED",   "Q_SITE",       "Q_OBJECT",  "Q_OBJECTNR", "OSVREQUESTED", "PREFSTARTDATE"};
  return fields;
}

int32_t CreateUnregisteredRequest(const Dictionary& fields) {
  const auto& allowed = FrontEndRequestFields();
  // Column names come from the fixed list above, never from the caller's text.
  std::string columns = "Q_ID, Q_STATUS";
  std::string marks = "?, 0";
  Params values;
  for (const auto& [key, value] : fields.entries()) {
    auto it = std::find(allowed.begin(), allowed.end(), key);
    if (it == allowed.end()) {
      throw ComError(err::kBadRequest, "Requests", "unknown request field " + key);
    }
    columns += ", " + std::string(*it);
    marks += ", ?";
    values.push_back(*it == "PREFSTARTDATE" && !value.IsBlank() ? Variant(value.ToDate()) : value);
  }
  const std::string insert = "INSERT INTO QUESTIONS (" + columns + ") VALUES (" + marks + ")";
  for (int attempt = 1;; ++attempt) {
    try {
      return RunUnitOfWork([&] {
        auto connection = GetHeliqConnection();
        const int32_t id = connection->QueryValue(kNextQuestionId).ToLong() + 1;
        Params params{Variant(id)};
        params.insert(params.end(), values.begin(), values.end());
        connection->Execute(insert, params);
        return id;
      });
    } catch (const ComError& e) {
      if (e.number() != err::kDbConstraint || attempt == kCreateAttempts) throw;
    }
  }
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
        answer->Set("request", Variant(RowDictionary(request, 0)));
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
