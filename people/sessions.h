// Sessions of signed-in people, and the record of failed sign-ins, in the system database so that
// any number of hosts share them and a restart keeps them.
//
// A session token is 32 random bytes (base64url, no padding). The database keeps only its
// BLAKE2b hash (crypto_generichash): a stolen copy of the table signs nobody in. Each session has
// an idle expiry (pushed forward on use, at most once a minute to spare the database a write per
// call) and an absolute one, and a CSRF token that state-changing calls sent with the cookie must
// repeat in the X-CSRF-Token header.
//
// Times are Now() (platform/clock.h), so tests fix them. Every function opens its own session on
// the system database and commits what it wrote at once, outside any unit of work: a sign-in that
// fails still counts, and a refused call does not undo a sign-out.
//
// Thread safety: every function may run concurrently; the database serialises the writes.
#ifndef HELIQ_PEOPLE_SESSIONS_H_
#define HELIQ_PEOPLE_SESSIONS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "people/caller.h"
#include "platform/variant.h"

namespace heliq {

// The [session] section of the configuration.
struct SessionSettings {
  int64_t idle_minutes = 30;
  int64_t absolute_hours = 12;
  // The cookie carries Secure: set when the host is reached over TLS (behind a proxy).
  bool cookie_secure = false;
  // The directory role that makes a person an administrator; 0: nobody is one.
  int32_t admin_role = 0;
};

// Reads [session]; a value that is not a whole number in range raises err::kTypeMismatch naming
// the key.
SessionSettings SessionSettingsFromConfig();

struct SessionGrant {
  std::string token;  // give to the client once; never logged
  std::string csrf;
  DateTime expires;  // the idle expiry as it stands now
  Caller caller;
};

struct ActiveSession {
  Caller caller;
  std::string csrf;
};

// Starts a session for `caller` (a person or a prospect, not the API token).
SessionGrant CreateSession(const Caller& caller, const SessionSettings& settings);
// The session of `token`, or nullopt when there is none or it has expired (an expired one is
// deleted). Refreshes the idle expiry.
std::optional<ActiveSession> FindSession(std::string_view token, const SessionSettings& settings);
// Ends the session of `token`; false when there was none.
bool EndSession(std::string_view token);

// The value of the Set-Cookie header that hands `token` to a browser, and the one that removes it.
std::string SessionCookie(std::string_view token, const SessionSettings& settings);
std::string ClearedSessionCookie(const SessionSettings& settings);
inline constexpr std::string_view kSessionCookieName = "heliq_session";
// The length of a session token as CreateSession makes it (32 bytes, base64url without padding).
inline constexpr size_t kSessionTokenLength = 43;

// Failed sign-ins, per account (the login, without case) and per client address. `failures`
// within `window_seconds` lock the key: every further attempt is refused without a check until the
// lock ends. The first lock lasts `first_lock_seconds`, each further one twice as long as the one
// before (at most a day) while failures go on; a day without failures forgets the key.
struct SignInPolicy {
  int failures;
  int64_t window_seconds;
  int64_t first_lock_seconds;
};
// Passwords: ten failures within a minute, a first lock of a minute.
inline constexpr SignInPolicy kPasswordPolicy{10, 60, 60};
// A four-digit PIN has only 9,000 values: five wrong ones within a day lock for an hour, so a
// guesser gets a few dozen tries a day instead of thousands.
inline constexpr SignInPolicy kPinPolicy{5, 24 * 3600, 3600};

struct SignInLimit {
  bool locked = false;
  int64_t retry_after_seconds = 0;
};
SignInLimit CheckSignInLimit(std::string_view kind, std::string_view key);
// Counts one failure of `key` under `policy`, locking it when the failure reaches the limit.
void RecordSignInFailure(std::string_view kind, std::string_view key,
                         const SignInPolicy& policy = kPasswordPolicy);
// Forgets the failures of `key` (after a successful sign-in of the account).
void ClearSignInFailures(std::string_view kind, std::string_view key);

}  // namespace heliq

#endif  // HELIQ_PEOPLE_SESSIONS_H_
