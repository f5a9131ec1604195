#include <strings.h>

#include <filesystem>
#include <map>
#include <mutex>

#include "platform/com_error.h"
#include "platform/database.h"
#include "platform/src/sessions.h"

namespace heliq {
namespace {

constexpr std::string_view kSqlitePrefix = "sqlite:";
constexpr std::string_view kPostgresPrefix = "postgresql:";
// Idle sessions kept per pool; more are closed when returned.
constexpr size_t kMaxIdle = 32;

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

std::string ResolvePath(std::string_view path, const std::string& base_dir) {
  if (path == ":memory:" || path.empty() || path.front() == '/') return std::string(path);
  return base_dir + "/" + std::string(path);
}

struct PoolRegistry {
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<SessionPool>> pools;
};

PoolRegistry& Registry() {
  static PoolRegistry* registry = new PoolRegistry();  // never destroyed: used at exit by pools
  return *registry;
}

}  // namespace

struct SessionPool::State {
  std::mutex mutex;
  std::vector<std::unique_ptr<Session>> idle;
  size_t open = 0;
  size_t in_use = 0;
};

int ResultSet::ColumnIndex(std::string_view name) const { return FindColumn(columns, name); }

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

int FindColumn(const std::vector<std::string>& columns, std::string_view name) {
  for (size_t i = 0; i < columns.size(); ++i) {
    if (EqualsIgnoreCase(columns[i], name)) return static_cast<int>(i);
  }
  return -1;
}

std::string ToNumberedPlaceholders(std::string_view sql) {
  std::string out;
  out.reserve(sql.size() + 16);
  int n = 0;
  char quote = 0;
  for (char c : sql) {
    if (quote) {
      if (c == quote) quote = 0;
      out += c;
    } else if (c == '\'' || c == '"') {
      quote = c;
      out += c;
    } else if (c == '?') {
      out += '$';
      out += std::to_string(++n);
    } else {
      out += c;
    }
  }
  return out;
}

std::unique_ptr<Session> OpenSession(const std::string& connection_string,
                                     const std::string& base_dir) {
  std::string_view cs = connection_string;
  if (StartsWith(cs, kSqlitePrefix)) {
    const std::string path = ResolvePath(cs.substr(kSqlitePrefix.size()), base_dir);
    // A fresh installation has no var/ folder yet; the database file may be created, so may its
    // folder.
    if (path != ":memory:") {
      std::error_code ignored;
      std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    }
    return internal::OpenSqliteSession(path);
  }
  if (StartsWith(cs, kPostgresPrefix)) {
    std::string_view rest = cs.substr(kPostgresPrefix.size());
    // "postgresql://..." is a URI that libpq takes whole.
    return internal::OpenPostgresSession(StartsWith(rest, "//") ? connection_string
                                                                : std::string(rest));
  }
  throw ComError(err::kDbConnection, "Database",
                 "unsupported connection string (expected sqlite:PATH or postgresql:...)");
}

PooledSession::PooledSession(std::shared_ptr<SessionPool> pool, std::unique_ptr<Session> session)
    : pool_(std::move(pool)), session_(std::move(session)) {}

PooledSession& PooledSession::operator=(PooledSession&& other) noexcept {
  if (this != &other) {
    Release();
    pool_ = std::move(other.pool_);
    session_ = std::move(other.session_);
  }
  return *this;
}

PooledSession::~PooledSession() { Release(); }

void PooledSession::Release() noexcept {
  if (session_ && pool_) pool_->Return(std::move(session_));
  session_.reset();
  pool_.reset();
}

SessionPool::SessionPool(std::string connection_string, std::string base_dir)
    : connection_string_(std::move(connection_string)),
      base_dir_(std::move(base_dir)),
      dialect_(StartsWith(connection_string_, kPostgresPrefix) ? Dialect::kPostgres
                                                               : Dialect::kSqlite),
      state_(std::make_shared<State>()) {}

std::shared_ptr<SessionPool> SessionPool::For(const std::string& connection_string,
                                              const std::string& base_dir) {
  auto& registry = Registry();
  std::lock_guard lock(registry.mutex);
  auto& pool = registry.pools[base_dir + "\n" + connection_string];
  if (!pool) pool = std::make_shared<SessionPool>(connection_string, base_dir);
  return pool;
}

void SessionPool::ResetAll() {
  auto& registry = Registry();
  std::lock_guard lock(registry.mutex);
  for (auto& [key, pool] : registry.pools) pool->Clear();
  registry.pools.clear();
}

PoolStats SessionPool::TotalStats() {
  auto& registry = Registry();
  std::lock_guard lock(registry.mutex);
  PoolStats total;
  for (auto& [key, pool] : registry.pools) {
    std::lock_guard pool_lock(pool->state_->mutex);
    total.open += pool->state_->open;
    total.in_use += pool->state_->in_use;
  }
  return total;
}

void SessionPool::Clear() {
  std::vector<std::unique_ptr<Session>> idle;
  {
    std::lock_guard lock(state_->mutex);
    idle.swap(state_->idle);
    state_->open -= idle.size();
  }
}

PooledSession SessionPool::Acquire() {
  {
    std::lock_guard lock(state_->mutex);
    if (!state_->idle.empty()) {
      auto session = std::move(state_->idle.back());
      state_->idle.pop_back();
      ++state_->in_use;
      return PooledSession(shared_from_this(), std::move(session));
    }
  }
  auto session = OpenSession(connection_string_, base_dir_);
  std::lock_guard lock(state_->mutex);
  ++state_->open;
  ++state_->in_use;
  return PooledSession(shared_from_this(), std::move(session));
}

void SessionPool::Return(std::unique_ptr<Session> session) noexcept {
  if (session->in_transaction()) session->Rollback();
  std::unique_ptr<Session> discard;
  std::lock_guard lock(state_->mutex);
  --state_->in_use;
  if (session->healthy() && state_->idle.size() < kMaxIdle) {
    state_->idle.push_back(std::move(session));
  } else {
    --state_->open;
    discard = std::move(session);
  }
}

}  // namespace heliq
