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
  const std::string key = base_dir + "\n" + connection_string;
  auto it = sessions_.find(key);
  if (it != sessions_.end()) return *it->second.get();
  PooledSession session = SessionPool::For(connection_string, base_dir)->Acquire();
  session->Begin(!read_only_);
  order_.push_back(key);
  return *sessions_.emplace(key, std::move(session)).first->second.get();
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
}

ObjectContext* GetObjectContext() { return current_context; }

UnitOfWorkStats GetUnitOfWorkStats() {
  return UnitOfWorkStats{commit_count.load(), rollback_count.load()};
}

UnitOfWork::UnitOfWork(bool read_only) : context_(read_only), previous_(current_context) {
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
