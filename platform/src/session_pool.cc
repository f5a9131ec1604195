// Session pools. A pool caps the sessions it has open (a PostgreSQL server has a connection limit
// that many hosts share) and drops sessions found broken, so that a restarted server is used again
// without restarting the process.
#include <strings.h>

#include <charconv>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>

#include "platform/com_error.h"
#include "platform/configuration.h"
#include "platform/database.h"
#include "platform/src/sessions.h"

namespace heliq {
namespace {

constexpr std::string_view kSqlitePrefix = "sqlite:";
constexpr std::string_view kPostgresPrefix = "postgresql:";
// Idle sessions kept per pool; more are closed when returned.
constexpr size_t kMaxIdle = 32;
constexpr size_t kDefaultPoolSize = 32;
constexpr int64_t kDefaultPoolWaitMs = 10000;

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

std::string ResolvePath(std::string_view path, const std::string& base_dir) {
  if (path == ":memory:" || path.empty() || path.front() == '/') return std::string(path);
  return base_dir + "/" + std::string(path);
}

// A whole-number setting of [database]; `fallback` when absent or when no settings are loaded
// (programs and tests that open sessions without a configuration file).
int64_t DatabaseSetting(std::string_view key, int64_t fallback, int64_t minimum) {
  std::string text;
  try {
    text = SettingValue("database", key);
  } catch (const ComError&) {
    return fallback;
  }
  if (text.empty()) return fallback;
  int64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < minimum) {
    throw ComError(err::kInvalidProcedureCall, "Database",
                   "[database] " + std::string(key) + " must be a whole number of at least " +
                       std::to_string(minimum) + ", not \"" + text + "\"");
  }
  return value;
}

struct PoolRegistry {
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<SessionPool>> pools;  // by canonical connection string
  // Base dir + connection string as given -> pool, so the path is resolved once, not per call.
  std::map<std::string, std::shared_ptr<SessionPool>> spellings;
};

PoolRegistry& Registry() {
  static PoolRegistry* registry = new PoolRegistry();  // never destroyed: used at exit by pools
  return *registry;
}

}  // namespace

struct SessionPool::State {
  std::mutex mutex;
  std::condition_variable returned;
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

std::string CanonicalConnectionString(const std::string& connection_string,
                                      const std::string& base_dir) {
  std::string_view cs = connection_string;
  if (!StartsWith(cs, kSqlitePrefix)) return connection_string;
  const std::string path = ResolvePath(cs.substr(kSqlitePrefix.size()), base_dir);
  if (path == ":memory:" || path.empty()) return connection_string;
  // weakly_canonical resolves the part that exists (the file may not be created yet) and
  // normalises the rest; an absolute base keeps the result independent of the current directory.
  std::error_code error;
  std::filesystem::path canonical =
      std::filesystem::weakly_canonical(std::filesystem::absolute(path, error), error);
  if (error) canonical = std::filesystem::absolute(path).lexically_normal();
  return std::string(kSqlitePrefix) + canonical.string();
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
    // The canonical path also keys the file's writer queue: two spellings must not make two.
    return internal::OpenSqliteSession(
        CanonicalConnectionString(connection_string, base_dir).substr(kSqlitePrefix.size()));
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

SessionPool::SessionPool(std::string connection_string, size_t max_open)
    : connection_string_(std::move(connection_string)),
      dialect_(StartsWith(connection_string_, kPostgresPrefix) ? Dialect::kPostgres
                                                               : Dialect::kSqlite),
      max_open_(max_open),
      state_(std::make_shared<State>()) {}

std::shared_ptr<SessionPool> SessionPool::For(const std::string& connection_string,
                                              const std::string& base_dir) {
  auto& registry = Registry();
  const std::string spelling = base_dir + "\n" + connection_string;
  {
    std::lock_guard lock(registry.mutex);
    auto known = registry.spellings.find(spelling);
    if (known != registry.spellings.end()) return known->second;
  }
  const std::string canonical = CanonicalConnectionString(connection_string, base_dir);
  std::lock_guard lock(registry.mutex);
  auto& pool = registry.pools[canonical];
  if (!pool) {
    const auto size = static_cast<size_t>(
        DatabaseSetting("pool_size", static_cast<int64_t>(kDefaultPoolSize), 1));
    pool = std::make_shared<SessionPool>(canonical, size);
  }
  registry.spellings[spelling] = pool;
  return pool;
}

void SessionPool::ResetAll() {
  auto& registry = Registry();
  std::lock_guard lock(registry.mutex);
  for (auto& [key, pool] : registry.pools) pool->DiscardIdle();
  registry.pools.clear();
  registry.spellings.clear();
}

PoolStats SessionPool::TotalStats() {
  auto& registry = Registry();
  std::lock_guard lock(registry.mutex);
  PoolStats total;
  for (auto& [key, pool] : registry.pools) {
    const PoolStats stats = pool->Stats();
    total.open += stats.open;
    total.in_use += stats.in_use;
  }
  return total;
}

PoolStats SessionPool::Stats() const {
  std::lock_guard lock(state_->mutex);
  return PoolStats{state_->open, state_->in_use};
}

void SessionPool::DiscardIdle() {
  std::vector<std::unique_ptr<Session>> idle;
  {
    std::lock_guard lock(state_->mutex);
    idle.swap(state_->idle);
    state_->open -= idle.size();
  }
  // Freed places let waiting borrowers open fresh sessions.
  state_->returned.notify_all();
}

PooledSession SessionPool::Acquire(const Deadline& deadline) {
  {
    std::unique_lock lock(state_->mutex);
    const bool capped = max_open_ > 0;
    if (capped && state_->idle.empty() && state_->open >= max_open_) {
      const auto limit = deadline.value_or(
          std::chrono::steady_clock::now() +
          std::chrono::milliseconds(DatabaseSetting("pool_wait_ms", kDefaultPoolWaitMs, 0)));
      const bool available = state_->returned.wait_until(
          lock, limit, [&] { return !state_->idle.empty() || state_->open < max_open_; });
      if (!available) {
        if (deadline) {
          throw ComError(err::kCallDeadlineExceeded, "Database",
                         "no database session came free before the call's deadline");
        }
        throw ComError(err::kDbConnection, "Database",
                       "all " + std::to_string(max_open_) +
                           " database sessions stayed in use ([database] pool_size)");
      }
    }
    if (!state_->idle.empty()) {
      auto session = std::move(state_->idle.back());
      state_->idle.pop_back();
      ++state_->in_use;
      return PooledSession(shared_from_this(), std::move(session));
    }
    // The place is taken before the connection is opened (outside the lock), so concurrent
    // borrowers never open more than max_open_.
    ++state_->open;
    ++state_->in_use;
  }
  try {
    return PooledSession(shared_from_this(), OpenSession(connection_string_));
  } catch (...) {
    {
      std::lock_guard lock(state_->mutex);
      --state_->open;
      --state_->in_use;
    }
    state_->returned.notify_one();
    throw;
  }
}

void SessionPool::Return(std::unique_ptr<Session> session) noexcept {
  if (session->in_transaction()) session->Rollback();
  const bool healthy = session->healthy();
  if (!healthy) DiscardIdle();
  std::unique_ptr<Session> discard;
  {
    std::lock_guard lock(state_->mutex);
    --state_->in_use;
    if (healthy && state_->idle.size() < kMaxIdle) {
      state_->idle.push_back(std::move(session));
    } else {
      --state_->open;
      discard = std::move(session);
    }
  }
  state_->returned.notify_one();
}

}  // namespace heliq
