// The per-call object context and the unit of work.
//
// The host creates one ObjectContext for every top-level call and makes it the current context of
// the calling thread for the call's duration (UnitOfWork). Database work of the call goes to one
// session per connection string, begun on first use; every object the call creates, through the
// context or directly, runs on the same thread and therefore shares those sessions. At the end the
// host commits every session unless the call voted SetAbort or failed, and rolls back otherwise.
//
// Database work of the call goes to one session per database: connection strings that name the
// same database (two spellings of one SQLite file) share one session.
//
// A call may carry a deadline: every wait of its database work (a free pooled session, the SQLite
// writer queue, PostgreSQL lock waits and statements) ends there with err::kCallDeadlineExceeded,
// so a call that cannot start in time commits nothing and never parks a worker for long.
//
// Outside a unit of work GetObjectContext() returns nullptr: components then work with
// connections whose statements commit as they run, and votes are skipped.
//
// Thread safety: a context belongs to the one thread that runs its call.
#ifndef HELIQ_PLATFORM_OBJECT_CONTEXT_H_
#define HELIQ_PLATFORM_OBJECT_CONTEXT_H_

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/component.h"
#include "platform/database.h"

namespace heliq {

class ObjectContext {
 public:
  // `read_only`: the call only reads; on SQLite it then does not queue for the write lock.
  // `deadline`: see the file comment.
  explicit ObjectContext(bool read_only = false, Deadline deadline = std::nullopt)
      : read_only_(read_only), deadline_(deadline) {}
  // Rolls back whatever is still open (never throws).
  ~ObjectContext();
  ObjectContext(const ObjectContext&) = delete;
  ObjectContext& operator=(const ObjectContext&) = delete;

  // Creates a component that joins this call (same sessions, same votes).
  std::unique_ptr<Component> CreateInstance(std::string_view class_id);
  void SetComplete() { complete_ = true; }
  void SetAbort() { doomed_ = true; }
  bool doomed() const { return doomed_; }
  bool complete() const { return complete_; }
  bool read_only() const { return read_only_; }
  const Deadline& deadline() const { return deadline_; }

  // The call's session for a connection string, begun on first use (inside every savepoint open
  // at that moment). A pooled session found broken when the transaction begins is discarded and
  // the call goes on with a fresh connection: nothing of the call was written on it yet.
  // Errors: err::kDbConnection, err::kCallDeadlineExceeded.
  Session& SessionFor(const std::string& connection_string, const std::string& base_dir);

  // Commits every session (in the order they were begun); on a failure rolls back the rest and
  // throws. Afterwards the context holds no session.
  void Commit();
  void Rollback() noexcept;

 private:
  friend class Savepoint;
  void SetSavepoint();
  void ReleaseSavepoint();
  void RollbackToSavepoint() noexcept;
  PooledSession BeginSession(SessionPool& pool);

  bool read_only_;
  Deadline deadline_;
  bool doomed_ = false;
  bool complete_ = false;
  int savepoints_ = 0;  // savepoints open on every session of the call
  std::map<std::string, PooledSession> sessions_;
  std::vector<std::string> order_;
};

// Confines a part of the call whose failure the caller swallows on purpose: when the part fails,
// its writes are undone (on every session of the call, also those it began) and the rest of the
// call goes on and may commit. Release() keeps the part's work; destruction without Release (a
// failure unwinding through it, or an early return) rolls back to the savepoint. Savepoints nest
// and must end in reverse order of creation.
//
// Outside a unit of work it does nothing: there statements commit as they run.
//
//   try {
//     Savepoint part;
//     ... work whose failure is swallowed ...
//     part.Release();
//   } catch (...) {
//     ... the part's writes are gone; the call goes on ...
//   }
//
// Errors: the constructor and Release fail as the database does (a spoiled transaction refuses a
// savepoint); the destructor never throws.
class Savepoint {
 public:
  Savepoint();
  ~Savepoint();
  Savepoint(const Savepoint&) = delete;
  Savepoint& operator=(const Savepoint&) = delete;
  void Release();

 private:
  ObjectContext* context_;
};

// The current thread's context, or nullptr outside a unit of work.
ObjectContext* GetObjectContext();

// Counters of finished units of work, for the host's metrics.
struct UnitOfWorkStats {
  uint64_t commits = 0;
  uint64_t rollbacks = 0;
};
UnitOfWorkStats GetUnitOfWorkStats();

// One top-level call: a fresh context, current on this thread from construction to Finish or
// destruction. Finish(true) commits unless the call voted abort; Finish(false) and destruction
// without Finish roll back. Nested units of work on one thread are refused (error 5).
class UnitOfWork {
 public:
  explicit UnitOfWork(bool read_only = false, Deadline deadline = std::nullopt);
  ~UnitOfWork();
  UnitOfWork(const UnitOfWork&) = delete;
  UnitOfWork& operator=(const UnitOfWork&) = delete;

  ObjectContext& context() { return context_; }
  // Ends the call: commit when `succeeded` and not doomed, else roll back. Returns true when it
  // committed. A failing commit rolls back and throws.
  bool Finish(bool succeeded);

 private:
  ObjectContext context_;
  ObjectContext* previous_;
  bool finished_ = false;
};

// Runs `body` as one unit of work: commits unless it voted abort, rolls back when it throws (and
// rethrows).
template <typename F>
auto RunUnitOfWork(F&& body, bool read_only = false, Deadline deadline = std::nullopt) {
  UnitOfWork work(read_only, deadline);
  if constexpr (std::is_void_v<decltype(body())>) {
    body();
    work.Finish(true);
  } else {
    auto result = body();
    work.Finish(true);
    return result;
  }
}

}  // namespace heliq

#endif  // HELIQ_PLATFORM_OBJECT_CONTEXT_H_
