// The per-call object context and the unit of work.
//
// The host creates one ObjectContext for every top-level call and makes it the current context of
// the calling thread for the call's duration (UnitOfWork). Database work of the call goes to one
// session per connection string, begun on first use; every object the call creates, through the
// context or directly, runs on the same thread and therefore shares those sessions. At the end the
// host commits every session unless the call voted SetAbort or failed, and rolls back otherwise.
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

#include "platform/component.h"
#include "platform/database.h"

namespace heliq {

class ObjectContext {
 public:
  // `read_only`: the call only reads; on SQLite it then does not queue for the write lock.
  explicit ObjectContext(bool read_only = false) : read_only_(read_only) {}
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

  // The call's session for a connection string, begun on first use.
  Session& SessionFor(const std::string& connection_string, const std::string& base_dir);

  // Commits every session (in the order they were begun); on a failure rolls back the rest and
  // throws. Afterwards the context holds no session.
  void Commit();
  void Rollback() noexcept;

 private:
  bool read_only_;
  bool doomed_ = false;
  bool complete_ = false;
  std::map<std::string, PooledSession> sessions_;
  std::vector<std::string> order_;
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
  explicit UnitOfWork(bool read_only = false);
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
auto RunUnitOfWork(F&& body, bool read_only = false) {
  UnitOfWork work(read_only);
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
