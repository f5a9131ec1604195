#include "platform/object_context.h"

#include "platform/com_error.h"

namespace heliq {
namespace {

thread_local ObjectContext* current_context = nullptr;
std::atomic<uint64_t> commit_count{0};
std::atomic<uint64_t> rollback_count{0};

}  // namespace

ObjectContext::~ObjectContext() { Rollback(); }

std::unique_ptr<Component> ObjectContext::CreateInstance(std::string_view class_id) {
  // Objects run on the caller's thread, where this context is current: they share its sessions.
  return ComponentRegistry::Global().Create(class_id);
}

Session& ObjectContext::SessionFor(const std::string& connection_string,
                                   const std::string& base_dir) {
  // Keyed by the database itself (the pool's canonical name): a call that reached one SQLite file
  // under two spellings would otherwise queue behind its own writer ticket for ever.
  const std::shared_ptr<SessionPool> pool = SessionPool::For(connection_string, base_dir);
  const std::string& key = pool->connection_string();
  auto it = sessions_.find(key);
  if (it != sessions_.end()) return *it->second.get();
  PooledSession session = BeginSession(*pool);
  for (int i = 0; i < savepoints_; ++i) session->SetSavepoint();
  order_.push_back(key);
  return *sessions_.emplace(key, std::move(session)).first->second.get();
}

PooledSession ObjectContext::BeginSession(SessionPool& pool) {
  PooledSession session = pool.Acquire(deadline_);
  try {
    session->Begin(!read_only_, deadline_);
    return session;
  } catch (const ComError&) {
    if (session->healthy()) throw;
  }
  // The connection broke while idle in the pool (a server restart): nothing of the call was
  // written on it, so the call starts over on a fresh one. Returning it drops the pool's other
  // idle sessions too.
  session = PooledSession();
  session = pool.Acquire(deadline_);
  session->Begin(!read_only_, deadline_);
  return session;
}

void ObjectContext::SetSavepoint() {
  size_t done = 0;
  try {
    for (const auto& key : order_) {
      sessions_.at(key)->SetSavepoint();
      ++done;
    }
  } catch (...) {
    for (size_t i = 0; i < done; ++i) sessions_.at(order_[i])->RollbackToSavepoint();
    throw;
  }
  ++savepoints_;
}

void ObjectContext::ReleaseSavepoint() {
  if (savepoints_ == 0) return;  // the call already ended
  --savepoints_;
  size_t done = 0;
  try {
    for (const auto& key : order_) {
      sessions_.at(key)->ReleaseSavepoint();
      ++done;
    }
  } catch (...) {
    // A session that cannot release (a failure inside the part spoiled it) rolls back to the
    // savepoint instead: the part is undone there and the call stays committable.
    for (size_t i = done; i < order_.size(); ++i) sessions_.at(order_[i])->RollbackToSavepoint();
    throw;
  }
}

void ObjectContext::RollbackToSavepoint() noexcept {
  if (savepoints_ == 0) return;  // the call already ended
  --savepoints_;
  for (const auto& key : order_) sessions_.at(key)->RollbackToSavepoint();
}

void ObjectContext::Commit() {
  try {
    for (const auto& key : order_) sessions_.at(key)->Commit();
  } catch (...) {
    Rollback();
    throw;
  }
  sessions_.clear();
  order_.clear();
}

void ObjectContext::Rollback() noexcept {
  for (auto& [key, session] : sessions_) {
    if (session->in_transaction()) session->Rollback();
  }
  sessions_.clear();
  order_.clear();
  savepoints_ = 0;
}

Savepoint::Savepoint() : context_(GetObjectContext()) {
  if (context_ != nullptr) context_->SetSavepoint();
}

Savepoint::~Savepoint() {
  if (context_ != nullptr) context_->RollbackToSavepoint();
}

void Savepoint::Release() {
  ObjectContext* context = context_;
  context_ = nullptr;
  if (context != nullptr) context->ReleaseSavepoint();
}

ObjectContext* GetObjectContext() { return current_context; }

UnitOfWorkStats GetUnitOfWorkStats() {
  return UnitOfWorkStats{commit_count.load(), rollback_count.load()};
}

UnitOfWork::UnitOfWork(bool read_only, Deadline deadline)
    : context_(read_only, deadline), previous_(current_context) {
  if (previous_ != nullptr) {
    throw ComError(err::kInvalidProcedureCall, "UnitOfWork",
                   "a unit of work is already running on this thread");
  }
  current_context = &context_;
}

UnitOfWork::~UnitOfWork() {
  if (!finished_) {
    context_.Rollback();
    ++rollback_count;
  }
  current_context = previous_;
}

bool UnitOfWork::Finish(bool succeeded) {
  finished_ = true;
  current_context = previous_;
  if (succeeded && !context_.doomed()) {
    try {
      context_.Commit();
    } catch (...) {
      ++rollback_count;
      throw;
    }
    ++commit_count;
    return true;
  }
  context_.Rollback();
  ++rollback_count;
  return false;
}

}  // namespace heliq
