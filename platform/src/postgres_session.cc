// PostgreSQL session on libpq. Each distinct SQL text is prepared once per session under a
// generated name; parameter types are left to the server to infer from the statement, and every
// value travels as text, so a statement keeps one plan whatever variant types its callers bind.
// Transactions run at READ COMMITTED.
#include <libpq-fe.h>

#include <cstdlib>
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

int32_t ErrorNumber(const char* sqlstate) {
  if (sqlstate == nullptr) return err::kDbConnection;
  const std::string state(sqlstate);
  if (state.rfind("23", 0) == 0) return err::kDbConstraint;
  if (state == "22P02" || state == "22007" || state == "22008" || state == "42804") {
    return err::kTypeMismatch;
  }
  if (state == "22003") return err::kOverflow;
  if (state.rfind("42", 0) == 0) return err::kDbSyntax;
  if (state.rfind("08", 0) == 0) return err::kDbConnection;
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
    PgResult r(PQexec(conn_, std::string(sql).c_str()));
    Check(r.get(), sql);
  }

  void Begin(bool /*writer*/) override {
    ExecuteScript("BEGIN ISOLATION LEVEL READ COMMITTED");
    in_transaction_ = true;
  }

  void Commit() override {
    in_transaction_ = false;
    ExecuteScript("COMMIT");
  }

  void Rollback() noexcept override {
    in_transaction_ = false;
    PGresult* r = PQexec(conn_, "ROLLBACK");
    if (PQresultStatus(r) != PGRES_COMMAND_OK) healthy_ = false;
    PQclear(r);
  }

  bool in_transaction() const override { return in_transaction_; }
  bool healthy() const override { return healthy_ && PQstatus(conn_) == CONNECTION_OK; }

 private:
  PGresult* Run(std::string_view sql, const Params& params) {
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
    std::string name = "s" + std::to_string(cache_.size() + 1);
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
    if (PQstatus(conn_) != CONNECTION_OK) healthy_ = false;
    throw ComError(ErrorNumber(state), "PostgreSQL", message + " in: " + std::string(sql));
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
  bool in_transaction_ = false;
  bool healthy_ = true;
};

void IgnoreNotice(void*, const char*) {}

}  // namespace

std::unique_ptr<Session> OpenPostgresSession(const std::string& conninfo) {
  PGconn* conn = PQconnectdb(conninfo.c_str());
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
