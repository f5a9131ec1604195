// Database access: sessions on SQLite or PostgreSQL, pooled per connection string.
//
// A Session is one open database connection with a cache of prepared statements (each distinct SQL
// text is prepared once per session and reused). SQL text uses `?` placeholders in both dialects;
// values are always bound, never pasted into the text. Rows come back as Variants: integers that
// fit 32 bits as Long, larger ones as LongLong, TIMESTAMP columns as dates, NULL as Null.
//
// Sessions are not thread-safe; a pool hands each out to one user at a time. Pools are created on
// first use per database (an SQLite file is named by its canonical path, so every spelling of one
// file shares one pool) and live for the process. A pool holds at most [database] pool_size
// sessions; a borrower beyond that waits for one to come back.
//
// A statement that fails inside a transaction spoils it on both databases alike: later statements
// are refused and the commit fails, until the transaction rolls back or rolls back to a savepoint
// set before the failure.
//
// Failures are ComErrors with the numbers of platform/com_error.h (err::kDbSyntax for a statement
// the database rejects, err::kDbConstraint for an integrity violation, err::kDbConnection when the
// database cannot be reached, err::kCallDeadlineExceeded when a wait ran past the deadline).
#ifndef HELIQ_PLATFORM_DATABASE_H_
#define HELIQ_PLATFORM_DATABASE_H_

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/variant.h"

namespace heliq {

enum class Dialect { kSqlite, kPostgres };

using Params = std::vector<Variant>;

// The moment a call must be done by; nullopt: no limit.
using Deadline = std::optional<std::chrono::steady_clock::time_point>;

// ASCII comparison without regard to case (column names, class identifiers).
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// Index of `name` in `columns` without regard to case; -1 when absent.
int FindColumn(const std::vector<std::string>& columns, std::string_view name);

// A materialised query result.
struct ResultSet {
  std::vector<std::string> columns;
  std::vector<std::vector<Variant>> rows;
  // Index of a column by name without regard to case; -1 when absent.
  int ColumnIndex(std::string_view name) const;
};

class Session {
 public:
  virtual ~Session() = default;
  virtual Dialect dialect() const = 0;
  // Runs a statement that returns no rows; returns the number of rows it changed.
  virtual int64_t Execute(std::string_view sql, const Params& params) = 0;
  // Runs a statement that returns rows (a SELECT, or a write with RETURNING).
  virtual ResultSet Query(std::string_view sql, const Params& params) = 0;
  // Runs several statements without parameters and without caching (schema scripts).
  virtual void ExecuteScript(std::string_view sql) = 0;
  // Starts a transaction. `writer` says the transaction may write: on SQLite it then queues on the
  // process's writer lock and takes the database's write lock at once. Every wait of the
  // transaction for a lock (the writer queue and busy wait on SQLite, lock waits and statements on
  // PostgreSQL) ends at `deadline` with err::kCallDeadlineExceeded.
  virtual void Begin(bool writer, const Deadline& deadline) = 0;
  void Begin(bool writer) { Begin(writer, std::nullopt); }
  // Commits. A transaction that a failed statement spoiled is rolled back instead and the commit
  // fails (err::kDbError): a commit that did not happen is never reported as one.
  virtual void Commit() = 0;
  // Never throws; a session whose rollback failed is marked broken and not returned to its pool.
  virtual void Rollback() noexcept = 0;
  // Savepoints inside the current transaction, nested as a stack. SetSavepoint fails on a spoiled
  // transaction. RollbackToSavepoint undoes the work since the innermost savepoint, mends a
  // transaction that a failure since then spoiled and drops the savepoint; it never throws (a
  // failure leaves the transaction spoiled, so its commit fails).
  virtual void SetSavepoint() = 0;
  virtual void ReleaseSavepoint() = 0;
  virtual void RollbackToSavepoint() noexcept = 0;
  virtual bool in_transaction() const = 0;
  // False when the connection was found unusable; the pool then discards the session.
  virtual bool healthy() const = 0;
};

class SessionPool;

// A session borrowed from a pool; returns it (rolled back if still in a transaction) on
// destruction.
class PooledSession {
 public:
  PooledSession() = default;
  PooledSession(std::shared_ptr<SessionPool> pool, std::unique_ptr<Session> session);
  PooledSession(PooledSession&&) noexcept = default;
  PooledSession& operator=(PooledSession&& other) noexcept;
  ~PooledSession();

  Session* get() const { return session_.get(); }
  Session* operator->() const { return session_.get(); }
  explicit operator bool() const { return session_ != nullptr; }

 private:
  void Release() noexcept;
  std::shared_ptr<SessionPool> pool_;
  std::unique_ptr<Session> session_;
};

// Statistics of one pool, for the host's metrics.
struct PoolStats {
  size_t open = 0;    // sessions created and not discarded
  size_t in_use = 0;  // sessions currently borrowed
};

class SessionPool : public std::enable_shared_from_this<SessionPool> {
 public:
  // The pool of a connection string, created on first use. Connection strings:
  // "sqlite:PATH" (PATH relative to `base_dir` unless absolute, ":memory:" allowed) or
  // "postgresql:KEYWORDS" / "postgresql://URI" (libpq syntax). Its size comes from the settings
  // ([database] pool_size) read when the pool is created.
  static std::shared_ptr<SessionPool> For(const std::string& connection_string,
                                          const std::string& base_dir = ".");
  // Drops every idle session of every pool (tests that delete database files call this).
  static void ResetAll();
  // Sum over all pools.
  static PoolStats TotalStats();

  // `connection_string` is canonical (see CanonicalConnectionString); `max_open` caps the sessions
  // open at once (0: no cap).
  SessionPool(std::string connection_string, size_t max_open);
  // Borrows an idle session or opens a new one. With `max_open` sessions out it waits for one to
  // come back, until `deadline` (err::kCallDeadlineExceeded) or, without one, the settings'
  // [database] pool_wait_ms (err::kDbConnection). Errors of opening: err::kDbConnection.
  PooledSession Acquire(const Deadline& deadline = std::nullopt);
  // Drops the idle sessions: after a connection was found broken, the others opened before it are
  // likely broken too (a server restart), and a fresh one is cheaper than a failed call.
  void DiscardIdle();
  PoolStats Stats() const;
  Dialect dialect() const { return dialect_; }
  const std::string& connection_string() const { return connection_string_; }

 private:
  friend class PooledSession;
  void Return(std::unique_ptr<Session> session) noexcept;

  struct State;
  std::string connection_string_;
  Dialect dialect_;
  size_t max_open_;
  std::shared_ptr<State> state_;
};

// The connection string that names the same database whatever the spelling: "sqlite:" and the
// canonical absolute path of the file (symbolic links resolved, "." and ".." removed) for SQLite,
// the string itself for PostgreSQL.
std::string CanonicalConnectionString(const std::string& connection_string,
                                      const std::string& base_dir = ".");

// Opens a session directly, outside any pool.
std::unique_ptr<Session> OpenSession(const std::string& connection_string,
                                     const std::string& base_dir = ".");

// Rewrites `?` placeholders (outside quoted literals) to $1, $2 ... for PostgreSQL.
std::string ToNumberedPlaceholders(std::string_view sql);

}  // namespace heliq

#endif  // HELIQ_PLATFORM_DATABASE_H_
