#include "people/sessions.h"

#include <sodium.h>

#include <algorithm>
#include <cctype>
#include <limits>
#include <string>
#include <vector>

#include "common/heliq_utilities.h"
#include "people/permissions.h"
#include "platform/clock.h"
#include "platform/com_error.h"
#include "platform/configuration.h"
#include "platform/database.h"

namespace heliq {
namespace {

constexpr std::string_view kSource = "Sessions";

constexpr std::string_view kInsertSession =
    "INSERT INTO SESSIONS (TOKEN_HASH, LOGIN, EMAIL, PROSPECT, ROLES, DISPLAY_NAME, LOCALE, "
    "CSRF_TOKEN, CREATED, LAST_SEEN, IDLE_EXPIRES, ABSOLUTE_EXPIRES) "
    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
constexpr std::string_view kSelectSession =
    "SELECT LOGIN, EMAIL, PROSPECT, ROLES, DISPLAY_NAME, LOCALE, CSRF_TOKEN, LAST_SEEN, "
    "IDLE_EXPIRES, ABSOLUTE_EXPIRES FROM SESSIONS WHERE TOKEN_HASH = ?";
constexpr std::string_view kTouchSession =
    "UPDATE SESSIONS SET LAST_SEEN = ?, IDLE_EXPIRES = ? WHERE TOKEN_HASH = ?";
constexpr std::string_view kDeleteSession = "DELETE FROM SESSIONS WHERE TOKEN_HASH = ?";
// The idle expiry never lies past the absolute one, so it alone finds every expired row (by its
// index).
constexpr std::string_view kDeleteExpiredSessions = "DELETE FROM SESSIONS WHERE IDLE_EXPIRES <= ?";

constexpr std::string_view kInsertFailureKey =
    "INSERT INTO SIGNIN_FAILURES (KIND, NAME, FAILURES, WINDOW_START, LOCKOUTS, LOCKED_UNTIL, "
    "LAST_FAILURE) VALUES (?, ?, 0, 0, 0, 0, 0) ON CONFLICT (KIND, NAME) DO NOTHING";
// One statement, so concurrent failures on several hosts all count. Every CASE reads the row as
// it was before the update: a day without failures forgets earlier locks, a minute without them
// starts a new window.
constexpr std::string_view kCountFailure =
    "UPDATE SIGNIN_FAILURES SET LOCKOUTS = CASE WHEN LAST_FAILURE <= ? THEN 0 ELSE LOCKOUTS END, "
    "FAILURES = CASE WHEN WINDOW_START <= ? THEN 1 ELSE FAILURES + 1 END, "
    "WINDOW_START = CASE WHEN WINDOW_START <= ? THEN ? ELSE WINDOW_START END, "
    "LAST_FAILURE = ? WHERE KIND = ? AND NAME = ?";
constexpr std::string_view kSelectFailures =
    "SELECT FAILURES, LOCKOUTS, LOCKED_UNTIL FROM SIGNIN_FAILURES WHERE KIND = ? AND NAME = ?";
// Only the failure that reached the limit locks (the condition makes racing lockers one).
constexpr std::string_view kLock =
    "UPDATE SIGNIN_FAILURES SET LOCKOUTS = LOCKOUTS + 1, LOCKED_UNTIL = ?, FAILURES = 0, "
    "WINDOW_START = 0 WHERE KIND = ? AND NAME = ? AND FAILURES >= ?";
constexpr std::string_view kDeleteFailures =
    "DELETE FROM SIGNIN_FAILURES WHERE KIND = ? AND NAME = ?";

constexpr int64_t kTouchEverySeconds = 60;
constexpr int64_t kForgetSeconds = 24 * 3600;
constexpr int64_t kMaxLockSeconds = 24 * 3600;

PooledSession SystemSession() {
  return SessionPool::For(SettingValue("connections", "Heliq"), GetInstallDir())->Acquire();
}

int64_t NowSeconds() { return Now().ToEpochSeconds(); }

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

void InitializeSodium() {
  if (sodium_init() < 0) {
    throw ComError(err::kCannotCreateComponent, std::string(kSource), "libsodium cannot start");
  }
}

std::string RandomToken() {
  InitializeSodium();
  unsigned char bytes[32];
  randombytes_buf(bytes, sizeof bytes);
  char text[sodium_base64_ENCODED_LEN(sizeof bytes, sodium_base64_VARIANT_URLSAFE_NO_PADDING)];
  sodium_bin2base64(text, sizeof text, bytes, sizeof bytes,
                    sodium_base64_VARIANT_URLSAFE_NO_PADDING);
  return text;
}

// The stored form of a token: its BLAKE2b-256 hash in hex. A fast hash is enough: the token is
// 256 random bits, not a password someone could guess.
std::string TokenHash(std::string_view token) {
  InitializeSodium();
  unsigned char hash[crypto_generichash_BYTES];
  crypto_generichash(hash, sizeof hash, reinterpret_cast<const unsigned char*>(token.data()),
                     token.size(), nullptr, 0);
  char hex[crypto_generichash_BYTES * 2 + 1];
  sodium_bin2hex(hex, sizeof hex, hash, sizeof hash);
  return hex;
}

std::string RolesText(const std::vector<int32_t>& roles) {
  std::string text;
  for (int32_t role : roles) text += (text.empty() ? "" : ",") + std::to_string(role);
  return text;
}

std::vector<int32_t> ParseRoles(std::string_view text) {
  std::vector<int32_t> roles;
  while (!text.empty()) {
    const size_t comma = text.find(',');
    roles.push_back(static_cast<int32_t>(std::stol(std::string(text.substr(0, comma)))));
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return roles;
}

int64_t NumberSetting(std::string_view key, int64_t fallback, int64_t low, int64_t high) {
  const std::string text = SettingValue("session", key);
  if (text.empty()) return fallback;
  size_t used = 0;
  long long value = low - 1;
  try {
    value = std::stoll(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != text.size() || value < low || value > high) {
    throw ComError(err::kTypeMismatch, "Configuration",
                   "[session] " + std::string(key) + " is not a whole number from " +
                       std::to_string(low) + " to " + std::to_string(high) + ": " + text);
  }
  return value;
}

}  // namespace

SessionSettings SessionSettingsFromConfig() {
  SessionSettings settings;
  settings.idle_minutes = NumberSetting("idle_minutes", settings.idle_minutes, 1, 7 * 24 * 60);
  settings.absolute_hours = NumberSetting("absolute_hours", settings.absolute_hours, 1, 90 * 24);
  const std::string secure = SettingValue("session", "cookie_secure");
  settings.cookie_secure = secure == "true" || secure == "1";
  settings.admin_role =
      static_cast<int32_t>(NumberSetting("admin_role", 0, 0, std::numeric_limits<int32_t>::max()));
  return settings;
}

SessionGrant CreateSession(const Caller& caller, const SessionSettings& settings) {
  SessionGrant grant;
  grant.token = RandomToken();
  grant.csrf = RandomToken();
  grant.caller = caller;
  const int64_t now = NowSeconds();
  const int64_t absolute = now + settings.absolute_hours * 3600;
  const int64_t idle = std::min(absolute, now + settings.idle_minutes * 60);
  grant.expires = DateTime::FromEpochSeconds(idle);
  PooledSession session = SystemSession();
  session->Begin(true);
  // Clearing up as sessions start keeps the table small without a job of its own.
  session->Execute(kDeleteExpiredSessions, {Variant(now)});
  session->Execute(kInsertSession,
                   {Variant(TokenHash(grant.token)), Variant(caller.login), Variant(caller.email),
                    Variant(caller.is_prospect ? 1 : 0), Variant(RolesText(caller.directory_roles)),
                    Variant(caller.display_name), Variant(caller.locale), Variant(grant.csrf),
                    Variant(now), Variant(now), Variant(idle), Variant(absolute)});
  session->Commit();
  return grant;
}

std::optional<ActiveSession> FindSession(std::string_view token, const SessionSettings& settings) {
  if (token.empty()) return std::nullopt;
  const std::string hash = TokenHash(token);
  PooledSession session = SystemSession();
  const ResultSet rows = session->Query(kSelectSession, {Variant(hash)});
  if (rows.rows.empty()) return std::nullopt;
  const auto& row = rows.rows[0];
  const int64_t now = NowSeconds();
  const int64_t last_seen = row[7].ToLongLong();
  const int64_t idle = row[8].ToLongLong();
  const int64_t absolute = row[9].ToLongLong();
  if (now >= idle || now >= absolute) {
    session->Execute(kDeleteSession, {Variant(hash)});
    return std::nullopt;
  }
  if (now - last_seen >= kTouchEverySeconds) {
    session->Execute(kTouchSession,
                     {Variant(now), Variant(std::min(absolute, now + settings.idle_minutes * 60)),
                      Variant(hash)});
  }
  ActiveSession active;
  Caller& caller = active.caller;
  caller.login = row[0].ToTextOrEmpty();
  caller.email = row[1].ToTextOrEmpty();
  caller.is_prospect = row[2].ToLong() != 0;
  caller.directory_roles = ParseRoles(row[3].ToTextOrEmpty());
  caller.display_name = row[4].ToTextOrEmpty();
  caller.locale = row[5].IsNull() ? 0 : row[5].ToLong();
  caller.roles = caller.is_prospect ? std::vector<Role>{Role::kProspect}
                                    : RolesFromDirectory(caller.directory_roles,
                                                         settings.admin_role, &caller.centres);
  active.csrf = row[6].ToTextOrEmpty();
  return active;
}

bool EndSession(std::string_view token) {
  if (token.empty()) return false;
  return SystemSession()->Execute(kDeleteSession, {Variant(TokenHash(token))}) > 0;
}

std::string SessionCookie(std::string_view token, const SessionSettings& settings) {
  return std::string(kSessionCookieName) + "=" + std::string(token) +
         "; Path=/; HttpOnly; SameSite=Strict; Max-Age=" +
         std::to_string(settings.absolute_hours * 3600) +
         (settings.cookie_secure ? "; Secure" : "");
}

std::string ClearedSessionCookie(const SessionSettings& settings) {
  return std::string(kSessionCookieName) + "=; Path=/; HttpOnly; SameSite=Strict; Max-Age=0" +
         (settings.cookie_secure ? "; Secure" : "");
}

SignInLimit CheckSignInLimit(std::string_view kind, std::string_view key) {
  const ResultSet rows =
      SystemSession()->Query(kSelectFailures, {Variant(kind), Variant(Lower(key))});
  SignInLimit limit;
  if (rows.rows.empty()) return limit;
  const int64_t until = rows.rows[0][2].ToLongLong();
  const int64_t now = NowSeconds();
  if (until > now) {
    limit.locked = true;
    limit.retry_after_seconds = until - now;
  }
  return limit;
}

void RecordSignInFailure(std::string_view kind, std::string_view key, const SignInPolicy& policy) {
  const std::string name = Lower(key);
  const int64_t now = NowSeconds();
  PooledSession session = SystemSession();
  session->Begin(true);
  session->Execute(kInsertFailureKey, {Variant(kind), Variant(name)});
  session->Execute(kCountFailure,
                   {Variant(now - kForgetSeconds), Variant(now - policy.window_seconds),
                    Variant(now - policy.window_seconds), Variant(now), Variant(now), Variant(kind),
                    Variant(name)});
  const ResultSet rows = session->Query(kSelectFailures, {Variant(kind), Variant(name)});
  const int64_t failures = rows.rows[0][0].ToLongLong();
  const int64_t lockouts = rows.rows[0][1].ToLongLong();
  if (failures >= policy.failures) {
    const int64_t seconds = std::min<int64_t>(
        kMaxLockSeconds, policy.first_lock_seconds << std::min<int64_t>(lockouts, 20));
    session->Execute(kLock, {Variant(now + seconds), Variant(kind), Variant(name),
                             Variant(static_cast<int32_t>(policy.failures))});
  }
  session->Commit();
}

void ClearSignInFailures(std::string_view kind, std::string_view key) {
  SystemSession()->Execute(kDeleteFailures, {Variant(kind), Variant(Lower(key))});
}

}  // namespace heliq
