// PostgreSQL session on libpq. Each distinct SQL text is prepared once per session under a
// generated name; parameter types are left to the server to infer from the statement, and every
// value travels as text, so a statement keeps one plan whatever variant types its callers bind.
// Transactions run at READ COMMITTED.
//
// The server keeps a prepared statement's result type: after a schema change under it (a column
// added under SELECT *) it refuses the statement ("cached plan must not change result type"). The
// statement is then prepared again; where nothing of the transaction would be lost (outside one,
// or as its first statement) it runs again at once, otherwise the call fails and the next one
// finds the statement fresh.
#include <libpq-fe.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>

#include "platform/com_error.h"
#include "platform/src/sessions.h"

namespace heliq::internal {
namespace {

// Type OIDs of the built-in types this layer converts (pg_type.h).
constexpr Oid kBoolOid = 16;
constexpr Oid kInt8Oid = 20;
constexpr Oid kInt2Oid = 21;
constexpr Oid kInt4Oid = 23;
constexpr Oid kOidOid = 26;
constexpr Oid kFloat4Oid = 700;
constexpr Oid kFloat8Oid = 701;
constexpr Oid kNumericOid = 1700;
constexpr Oid kDateOid = 1082;
constexpr Oid kTimestampOid = 1114;
constexpr Oid kTimestampTzOid = 1184;

constexpr std::string_view kBegin = "BEGIN ISOLATION LEVEL READ COMMITTED";
// Per transaction: lock waits and statements end at the call's deadline (milliseconds).
constexpr std::string_view kSetTimeouts =
    "SELECT set_config('lock_timeout', ?, true), set_config('statement_timeout', ?, true)";
constexpr std::string_view kSetSavepoint = "SAVEPOINT heliq_part";
constexpr std::string_view kReleaseSavepoint = "RELEASE SAVEPOINT heliq_part";
// ROLLBACK TO keeps the savepoint; the release after it drops it.
constexpr const char* kRollbackToSavepoint =
    "ROLLBACK TO SAVEPOINT heliq_part; RELEASE SAVEPOINT heliq_part";
constexpr std::string_view kPlanChanged = "0A000";  // feature_not_supported
constexpr std::string_view kReadOnly = "25006";     // read_only_sql_transaction

int32_t ErrorNumber(const char* sqlstate) {
  if (sqlstate == nullptr) return err::kDbConnection;
  const std::string state(sqlstate);
  // lock_not_available, query_canceled: the lock or statement timeout of the call's deadline.
  if (state == "55P03" || state == "57014") return err::kCallDeadlineExceeded;
  if (state.rfind("23", 0) == 0) return err::kDbConstraint;
  if (state == "22P02" || state == "22007" || state == "22008" || state == "42804") {
    return err::kTypeMismatch;
  }
  if (state == "22003") return err::kOverflow;
  if (state.rfind("42", 0) == 0) return err::kDbSyntax;
  // connection_exception; operator_intervention (the server shutting down or restarting);
  // read_only_sql_transaction (the session is on a standby): another server may take the call.
  if (state.rfind("08", 0) == 0 || state.rfind("57P", 0) == 0 || state == kReadOnly) {
    return err::kDbConnection;
  }
  return err::kDbError;
}

class PgResult {
 public:
  explicit PgResult(PGresult* r) : r_(r) {}
  ~PgResult() { PQclear(r_); }
  PgResult(const PgResult&) = delete;
  PgResult& operator=(const PgResult&) = delete;
  PGresult* get() const { return r_; }

 private:
  PGresult* r_;
};

class PostgresSession final : public Session {
 public:
  explicit PostgresSession(PGconn* conn) : conn_(conn) {}
  ~PostgresSession() override {
    if (in_transaction_) Rollback();
    PQfinish(conn_);
  }

  Dialect dialect() const override { return Dialect::kPostgres; }

  int64_t Execute(std::string_view sql, const Params& params) override {
    PgResult result(Run(sql, params));
    const char* tuples = PQcmdTuples(result.get());
    return tuples && *tuples ? std::strtoll(tuples, nullptr, 10) : 0;
  }

  ResultSet Query(std::string_view sql, const Params& params) override {
    PgResult r(Run(sql, params));
    ResultSet result;
    const int n = PQnfields(r.get());
    std::vector<Oid> types(n);
    for (int i = 0; i < n; ++i) {
      result.columns.emplace_back(PQfname(r.get(), i));
      types[i] = PQftype(r.get(), i);
    }
    const int rows = PQntuples(r.get());
    result.rows.reserve(rows);
    for (int row = 0; row < rows; ++row) {
      std::vector<Variant> values;
      values.reserve(n);
      for (int i = 0; i < n; ++i) {
        if (PQgetisnull(r.get(), row, i)) {
          values.push_back(Variant::Null());
        } else {
          values.push_back(Convert(types[i], PQgetvalue(r.get(), row, i),
                                   static_cast<size_t>(PQgetlength(r.get(), row, i))));
        }
      }
      result.rows.push_back(std::move(values));
    }
    return result;
  }

  void ExecuteScript(std::string_view sql) override {
    ++statements_in_transaction_;
    PgResult r(PQexec(conn_, std::string(sql).c_str()));
    Check(r.get(), sql);
  }

  void Begin(bool /*writer*/, const Deadline& deadline) override {
    ExecuteScript(kBegin);
    in_transaction_ = true;
    deadline_ = deadline;
    if (deadline) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          *deadline - std::chrono::steady_clock::now());
      // 0 would mean "no limit" to the server; a call already late gets the shortest wait.
      const Variant ms(std::to_string(std::max<int64_t>(left.count(), 1)));
      try {
        PgResult r(Run(kSetTimeouts, {ms, ms}));
      } catch (...) {
        Rollback();
        throw;
      }
    }
    statements_in_transaction_ = 0;
  }

  void Commit() override {
    in_transaction_ = false;
    PgResult r(PQexec(conn_, "COMMIT"));
    Check(r.get(), "COMMIT");
    // A transaction that a failed statement aborted answers COMMIT with ROLLBACK.
    if (std::strcmp(PQcmdStatus(r.get()), "ROLLBACK") == 0) {
      throw ComError(err::kDbError, "PostgreSQL",
                     "the transaction was rolled back, not committed: a statement of it had "
                     "failed");
    }
  }

  void Rollback() noexcept override {
    in_transaction_ = false;
    PGresult* r = PQexec(conn_, "ROLLBACK");
    if (PQresultStatus(r) != PGRES_COMMAND_OK) healthy_ = false;
    PQclear(r);
  }

  void SetSavepoint() override { PgResult r(Run(kSetSavepoint, {})); }

  void ReleaseSavepoint() override { PgResult r(Run(kReleaseSavepoint, {})); }

  void RollbackToSavepoint() noexcept override {
    // A failure leaves the transaction aborted: its COMMIT then answers ROLLBACK.
    PGresult* r = PQexec(conn_, kRollbackToSavepoint);
    if (PQresultStatus(r) != PGRES_COMMAND_OK && PQstatus(conn_) != CONNECTION_OK) {
      healthy_ = false;
    }
    PQclear(r);
  }

  bool in_transaction() const override { return in_transaction_; }
  bool healthy() const override { return healthy_ && PQstatus(conn_) == CONNECTION_OK; }

 private:
  PGresult* Run(std::string_view sql, const Params& params) {
    const bool first_of_transaction = statements_in_transaction_ == 0;
    ++statements_in_transaction_;
    plan_changed_ = false;
    try {
      return RunPrepared(sql, params);
    } catch (const ComError&) {
      if (!plan_changed_) throw;
    }
    plan_changed_ = false;
    Forget(sql);
    if (in_transaction_) {
      if (!first_of_transaction) throw ComError(plan_error_);
      // Nothing of the transaction is lost by starting it again.
      Rollback();
      Begin(true, deadline_);
      ++statements_in_transaction_;
    }
    return RunPrepared(sql, params);
  }

  // Drops a prepared statement so that its next use prepares it again, under a new name (the old
  // one stays taken on the server until the session closes; schema changes are rare).
  void Forget(std::string_view sql) { cache_.erase(std::string(sql)); }

  PGresult* RunPrepared(std::string_view sql, const Params& params) {
    const std::string& name = Prepare(sql, static_cast<int>(params.size()));
    std::vector<std::string> texts(params.size());
    std::vector<const char*> values(params.size());
    for (size_t i = 0; i < params.size(); ++i) {
      const Variant& v = params[i];
      if (v.IsEmpty() || v.IsNull()) {
        values[i] = nullptr;
        continue;
      }
      switch (v.type()) {
        case Variant::Type::kBool:
          texts[i] = v.ToBool() ? "1" : "0";
          break;
        case Variant::Type::kDictionary:
        case Variant::Type::kArray:
          throw ComError(err::kTypeMismatch, "PostgreSQL",
                         "a " + std::string(TypeName(v.type())) + " cannot be stored");
        case Variant::Type::kDouble: {
          char buf[40];
          std::snprintf(buf, sizeof buf, "%.17g", v.ToDouble());
          texts[i] = buf;
          break;
        }
        default:
          texts[i] = v.ToText();
      }
      if (texts[i].find('\0') != std::string::npos) {
        throw ComError(err::kTypeMismatch, "PostgreSQL", "text values cannot contain NUL");
      }
      values[i] = texts[i].c_str();
    }
    PGresult* r = PQexecPrepared(conn_, name.c_str(), static_cast<int>(params.size()),
                                 values.data(), nullptr, nullptr, 0);
    try {
      Check(r, sql);
    } catch (...) {
      PQclear(r);
      throw;
    }
    return r;
  }

  const std::string& Prepare(std::string_view sql, int n_params) {
    auto it = cache_.find(std::string(sql));
    if (it != cache_.end()) return it->second;
    std::string name = "s" + std::to_string(++prepared_count_);
    const std::string numbered = ToNumberedPlaceholders(sql);
    PgResult r(PQprepare(conn_, name.c_str(), numbered.c_str(), n_params, nullptr));
    Check(r.get(), sql);
    return cache_.emplace(std::string(sql), std::move(name)).first->second;
  }

  void Check(PGresult* r, std::string_view sql) {
    const ExecStatusType status = PQresultStatus(r);
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK || status == PGRES_EMPTY_QUERY) {
      return;
    }
    const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    std::string message = r ? PQresultErrorMessage(r) : PQerrorMessage(conn_);
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) {
      message.pop_back();
    }
    // A session on a read-only server (a standby, or a primary that came back as one) is of no
    // use to any later call either: the pool drops it and connects afresh, which libpq's
    // target_session_attrs then steers to the server that accepts writes.
    if (PQstatus(conn_) != CONNECTION_OK || (state != nullptr && state == kReadOnly)) {
      healthy_ = false;
    }
    ComError error(ErrorNumber(state), "PostgreSQL", message + " in: " + std::string(sql));
    if (state != nullptr && state == kPlanChanged) {
      plan_changed_ = true;
      plan_error_ = error;
    }
    throw error;
  }

  static Variant Convert(Oid type, const char* text, size_t length) {
    switch (type) {
      case kBoolOid:
        return Variant(text[0] == 't');
      case kInt2Oid:
      case kInt4Oid:
      case kInt8Oid:
      case kOidOid: {
        const long long v = std::strtoll(text, nullptr, 10);
        if (v >= INT32_MIN && v <= INT32_MAX) return Variant(static_cast<int32_t>(v));
        return Variant(static_cast<int64_t>(v));
      }
      case kFloat4Oid:
      case kFloat8Oid:
      case kNumericOid:
        return Variant(std::strtod(text, nullptr));
      case kDateOid:
      case kTimestampOid:
      case kTimestampTzOid:
        if (auto d = DateTime::Parse(text)) return Variant(*d);
        return Variant(std::string(text, length));
      default:
        return Variant(std::string(text, length));
    }
  }

  PGconn* conn_;
  std::unordered_map<std::string, std::string> cache_;
  uint64_t prepared_count_ = 0;
  bool in_transaction_ = false;
  bool healthy_ = true;
  Deadline deadline_;
  int64_t statements_in_transaction_ = 0;
  bool plan_changed_ = false;  // the last failure was a changed result type
  ComError plan_error_{0, "", ""};
};

void IgnoreNotice(void*, const char*) {}

}  // namespace

std::unique_ptr<Session> OpenPostgresSession(const std::string& conninfo) {
  // Every session may write, so by default only a server that accepts writes is taken: with
  // several hosts listed (host=a,b port=p,q) libpq tries them in turn and skips standbys, which is
  // how a promoted standby is found after a fail-over. The connection string's own
  // target_session_attrs comes after this default and wins.
  const char* const keywords[] = {"target_session_attrs", "dbname", nullptr};
  const char* const values[] = {"read-write", conninfo.c_str(), nullptr};
  PGconn* conn = PQconnectdbParams(keywords, values, /*expand_dbname=*/1);
  if (PQstatus(conn) != CONNECTION_OK) {
    // libpq's message names host and port but never the password.
    std::string message = PQerrorMessage(conn);
    PQfinish(conn);
    while (!message.empty() && message.back() == '\n') message.pop_back();
    throw ComError(err::kDbConnection, "PostgreSQL", "cannot connect: " + message);
  }
  PQsetNoticeProcessor(conn, IgnoreNotice, nullptr);
  PGresult* r = PQexec(conn, "SET datestyle TO ISO, YMD; SET client_encoding TO 'UTF8'");
  PQclear(r);
  return std::make_unique<PostgresSession>(conn);
}

}  // namespace heliq::internal
