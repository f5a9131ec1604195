// SQLite session. Statements are prepared once per session (sqlite3_prepare_v3 with the persistent
// flag) and reset between uses.
//
// Write transactions: SQLite has one writer at a time. Within the process, writers queue first
// come, first served on a ticket lock per database file, then take the file's write lock with
// BEGIN IMMEDIATE, so two units of work never deadlock on a lock upgrade and none starves. Other
// processes are waited for through the busy timeout. Readers run beside the writer (WAL). Both
// waits end at the transaction's deadline.
//
// A failed statement spoils the transaction as it does on PostgreSQL (later statements refused,
// commit fails) although SQLite itself would go on: code that swallows a failure without a
// savepoint then fails alike on both databases, instead of committing half a call on one of them.
#include <sqlite3.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>

#include "platform/com_error.h"
#include "platform/src/sessions.h"

namespace heliq::internal {
namespace {

constexpr int kBusyTimeoutMs = 30000;

constexpr const char* kSetSavepoint = "SAVEPOINT heliq_part";
constexpr const char* kReleaseSavepoint = "RELEASE SAVEPOINT heliq_part";
// ROLLBACK TO keeps the savepoint; the release after it drops it.
constexpr const char* kRollbackToSavepoint =
    "ROLLBACK TO SAVEPOINT heliq_part; RELEASE SAVEPOINT heliq_part";

// FIFO lock shared by all sessions of one database file in this process.
class WriterQueue {
 public:
  // Waits for this caller's turn; false when `deadline` came first (the turn is given up).
  bool Lock(const Deadline& deadline) {
    std::unique_lock lock(mutex_);
    const uint64_t ticket = next_ticket_++;
    auto my_turn = [&] { return serving_ == ticket; };
    if (!deadline) {
      cv_.wait(lock, my_turn);
      return true;
    }
    if (cv_.wait_until(lock, *deadline, my_turn)) return true;
    // A ticket given up is skipped when its turn comes, so the queue behind it moves on.
    abandoned_.insert(ticket);
    return false;
  }
  void Unlock() {
    {
      std::lock_guard lock(mutex_);
      ++serving_;
      while (abandoned_.erase(serving_) > 0) ++serving_;
    }
    cv_.notify_all();
  }

  static std::shared_ptr<WriterQueue> For(const std::string& path) {
    static std::mutex registry_mutex;
    static std::map<std::string, std::shared_ptr<WriterQueue>> registry;
    std::lock_guard lock(registry_mutex);
    auto& queue = registry[path];
    if (!queue) queue = std::make_shared<WriterQueue>();
    return queue;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  uint64_t next_ticket_ = 0;
  uint64_t serving_ = 0;
  std::set<uint64_t> abandoned_;
};

int32_t ErrorNumber(int code) {
  switch (code & 0xff) {
    case SQLITE_CONSTRAINT:
      return err::kDbConstraint;
    case SQLITE_MISMATCH:
      return err::kTypeMismatch;
    case SQLITE_CANTOPEN:
    case SQLITE_NOTADB:
      return err::kDbConnection;
    case SQLITE_ERROR:
      return err::kDbSyntax;
    default:
      return err::kDbError;
  }
}

bool IsDateDeclType(const char* decl) {
  if (decl == nullptr) return false;
  std::string upper;
  for (const char* p = decl; *p; ++p) upper += static_cast<char>(std::toupper(*p));
  return upper.find("TIMESTAMP") != std::string::npos || upper.find("DATE") != std::string::npos;
}

class SqliteSession final : public Session {
 public:
  SqliteSession(sqlite3* db, std::shared_ptr<WriterQueue> queue)
      : db_(db), queue_(std::move(queue)) {}

  ~SqliteSession() override {
    if (in_transaction_) Rollback();
    for (auto& [sql, stmt] : cache_) sqlite3_finalize(stmt);
    sqlite3_close_v2(db_);
  }

  Dialect dialect() const override { return Dialect::kSqlite; }

  int64_t Execute(std::string_view sql, const Params& params) override {
    RefuseWhenSpoiled();
    sqlite3_stmt* stmt = Prepare(sql, params);
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    }
    const bool ok = rc == SQLITE_DONE;
    if (!ok) Fail(stmt, sql);
    sqlite3_reset(stmt);
    return sqlite3_changes64(db_);
  }

  ResultSet Query(std::string_view sql, const Params& params) override {
    RefuseWhenSpoiled();
    sqlite3_stmt* stmt = Prepare(sql, params);
    ResultSet result;
    // Names and types are read after the first step: a cached statement that the schema outdated
    // (a column added under SELECT *) is prepared again inside sqlite3_step, and only then
    // describes the rows it returns.
    int rc = sqlite3_step(stmt);
    const int n = sqlite3_column_count(stmt);
    std::vector<bool> is_date(n);
    for (int i = 0; i < n; ++i) {
      result.columns.emplace_back(sqlite3_column_name(stmt, i));
      is_date[i] = IsDateDeclType(sqlite3_column_decltype(stmt, i));
    }
    for (; rc == SQLITE_ROW; rc = sqlite3_step(stmt)) {
      std::vector<Variant> row;
      row.reserve(n);
      for (int i = 0; i < n; ++i) row.push_back(Column(stmt, i, is_date[i]));
      result.rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) Fail(stmt, sql);
    sqlite3_reset(stmt);
    return result;
  }

  void ExecuteScript(std::string_view sql) override {
    RefuseWhenSpoiled();
    char* message = nullptr;
    const std::string text(sql);
    if (sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
      std::string description = message ? message : "script failed";
      sqlite3_free(message);
      if (in_transaction_) spoiled_ = true;
      throw ComError(err::kDbSyntax, "SQLite", description);
    }
  }

  void Begin(bool writer, const Deadline& deadline) override {
    int busy_ms = kBusyTimeoutMs;
    if (deadline) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          *deadline - std::chrono::steady_clock::now());
      busy_ms = static_cast<int>(std::clamp<int64_t>(left.count(), 0, kBusyTimeoutMs));
    }
    if (writer && !queue_->Lock(deadline)) throw DeadlineExceeded();
    holds_writer_lock_ = writer;
    sqlite3_busy_timeout(db_, busy_ms);
    try {
      Execute(writer ? "BEGIN IMMEDIATE" : "BEGIN", {});
    } catch (const ComError& e) {
      ReleaseWriterLock();
      // Another process held the write lock until the deadline.
      if (deadline && (sqlite3_extended_errcode(db_) & 0xff) == SQLITE_BUSY) {
        throw DeadlineExceeded();
      }
      throw;
    }
    in_transaction_ = true;
    spoiled_ = false;
  }

  void Commit() override {
    if (spoiled_) {
      Rollback();
      throw ComError(err::kDbError, "SQLite",
                     "the transaction was rolled back, not committed: a statement of it had "
                     "failed");
    }
    Execute("COMMIT", {});
    in_transaction_ = false;
    ReleaseWriterLock();
  }

  void Rollback() noexcept override {
    if (!sqlite3_get_autocommit(db_)) {
      if (sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr) != SQLITE_OK) healthy_ = false;
    }
    in_transaction_ = false;
    spoiled_ = false;
    ReleaseWriterLock();
  }

  void SetSavepoint() override { Execute(kSetSavepoint, {}); }

  void ReleaseSavepoint() override { Execute(kReleaseSavepoint, {}); }

  void RollbackToSavepoint() noexcept override {
    if (sqlite3_exec(db_, kRollbackToSavepoint, nullptr, nullptr, nullptr) == SQLITE_OK) {
      spoiled_ = false;
    } else {
      spoiled_ = true;
    }
  }

  bool in_transaction() const override { return in_transaction_; }
  bool healthy() const override { return healthy_; }

 private:
  static ComError DeadlineExceeded() {
    return ComError(err::kCallDeadlineExceeded, "SQLite",
                    "the call could not get the database writer before its deadline; nothing of "
                    "it was committed");
  }

  void RefuseWhenSpoiled() const {
    if (spoiled_) {
      throw ComError(err::kDbError, "SQLite",
                     "current transaction is aborted: a statement of it failed; commands are "
                     "refused until it rolls back");
    }
  }

  void ReleaseWriterLock() noexcept {
    if (holds_writer_lock_) {
      holds_writer_lock_ = false;
      queue_->Unlock();
    }
  }

  sqlite3_stmt* Prepare(std::string_view sql, const Params& params) {
    auto it = cache_.find(std::string(sql));
    sqlite3_stmt* stmt;
    if (it != cache_.end()) {
      stmt = it->second;
      sqlite3_clear_bindings(stmt);
    } else {
      const char* tail = nullptr;
      if (sqlite3_prepare_v3(db_, sql.data(), static_cast<int>(sql.size()),
                             SQLITE_PREPARE_PERSISTENT, &stmt, &tail) != SQLITE_OK) {
        if (in_transaction_) spoiled_ = true;
        throw ComError(ErrorNumber(sqlite3_extended_errcode(db_)), "SQLite",
                       std::string(sqlite3_errmsg(db_)) + " in: " + std::string(sql));
      }
      cache_.emplace(std::string(sql), stmt);
    }
    if (static_cast<int>(params.size()) != sqlite3_bind_parameter_count(stmt)) {
      if (in_transaction_) spoiled_ = true;
      throw ComError(err::kDbSyntax, "SQLite",
                     "statement expects " + std::to_string(sqlite3_bind_parameter_count(stmt)) +
                         " values, got " + std::to_string(params.size()) + ": " + std::string(sql));
    }
    for (size_t i = 0; i < params.size(); ++i) Bind(stmt, static_cast<int>(i) + 1, params[i]);
    return stmt;
  }

  void Bind(sqlite3_stmt* stmt, int index, const Variant& value) {
    int rc = SQLITE_OK;
    switch (value.type()) {
      case Variant::Type::kEmpty:
      case Variant::Type::kNull:
        rc = sqlite3_bind_null(stmt, index);
        break;
      case Variant::Type::kBool:
        rc = sqlite3_bind_int(stmt, index, value.ToBool() ? 1 : 0);
        break;
      case Variant::Type::kInt32:
      case Variant::Type::kInt64:
        rc = sqlite3_bind_int64(stmt, index, value.ToLongLong());
        break;
      case Variant::Type::kDouble:
        rc = sqlite3_bind_double(stmt, index, value.ToDouble());
        break;
      case Variant::Type::kDate:
      case Variant::Type::kText: {
        const std::string text = value.ToText();
        rc = sqlite3_bind_text64(stmt, index, text.data(), text.size(), SQLITE_TRANSIENT,
                                 SQLITE_UTF8);
        break;
      }
      default:
        throw ComError(err::kTypeMismatch, "SQLite",
                       "a " + std::string(TypeName(value.type())) + " cannot be stored");
    }
    if (rc != SQLITE_OK) throw ComError(ErrorNumber(rc), "SQLite", sqlite3_errmsg(db_));
  }

  static Variant Column(sqlite3_stmt* stmt, int i, bool is_date) {
    switch (sqlite3_column_type(stmt, i)) {
      case SQLITE_NULL:
        return Variant::Null();
      case SQLITE_INTEGER: {
        const int64_t v = sqlite3_column_int64(stmt, i);
        if (v >= INT32_MIN && v <= INT32_MAX) return Variant(static_cast<int32_t>(v));
        return Variant(v);
      }
      case SQLITE_FLOAT:
        return Variant(sqlite3_column_double(stmt, i));
      default: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
        std::string value(text ? text : "", static_cast<size_t>(sqlite3_column_bytes(stmt, i)));
        if (is_date) {
          if (auto d = DateTime::Parse(value)) return Variant(*d);
        }
        return Variant(std::move(value));
      }
    }
  }

  [[noreturn]] void Fail(sqlite3_stmt* stmt, std::string_view sql) {
    const int code = sqlite3_extended_errcode(db_);
    std::string message = sqlite3_errmsg(db_);
    sqlite3_reset(stmt);
    if (in_transaction_) spoiled_ = true;
    throw ComError(ErrorNumber(code), "SQLite", message + " in: " + std::string(sql));
  }

  sqlite3* db_;
  std::shared_ptr<WriterQueue> queue_;
  std::unordered_map<std::string, sqlite3_stmt*> cache_;
  bool in_transaction_ = false;
  bool holds_writer_lock_ = false;
  bool healthy_ = true;
  bool spoiled_ = false;  // a statement failed inside the transaction
};

}  // namespace

std::unique_ptr<Session> OpenSqliteSession(const std::string& path) {
  sqlite3* db = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    std::string message = db ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close_v2(db);
    throw ComError(err::kDbConnection, "SQLite", "cannot open " + path + ": " + message);
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  sqlite3_extended_result_codes(db, 1);
  auto session = std::make_unique<SqliteSession>(db, WriterQueue::For(path));
  if (path != ":memory:") {
    session->ExecuteScript("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
  }
  session->ExecuteScript("PRAGMA foreign_keys=ON;");
  return session;
}

}  // namespace heliq::internal
