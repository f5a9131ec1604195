// The HTTP face of sign-in, apart from any transport: who sends a request (the API token, a
// session by Bearer token or cookie), and the bodies of POST /api/v1/session (sign in), DELETE
// /api/v1/session (sign out) and GET /api/v1/me. The router calls these and writes the answer.
//
// Browsers carry the session in the cookie "heliq_session" (HttpOnly, SameSite=Strict, Path=/,
// Secure with [session] cookie_secure). A call with the cookie that may change state (any method
// but GET, HEAD and OPTIONS) must repeat the session's CSRF token in X-CSRF-Token. Programs send
// "Authorization: Bearer <session token>" and need no CSRF token: no browser adds that header
// by itself.
//
// Failures are ComErrors: err::kBadRequest for a malformed body (naming the field),
// err::kUnauthorized for wrong or expired credentials, err::kForbidden for a missing or wrong
// CSRF token, err::kTooManyAttempts from the sign-in limits.
//
// Thread safety: every function may run concurrently.
#ifndef HELIQ_PEOPLE_WEB_H_
#define HELIQ_PEOPLE_WEB_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "people/caller.h"
#include "people/sessions.h"

namespace heliq {

// The parts of a request that say who sends it.
struct RequestCredentials {
  std::string_view method;
  std::string_view authorization;  // the Authorization header, "" when none
  std::string_view cookie;         // the Cookie header, "" when none
  std::string_view csrf;           // the X-CSRF-Token header, "" when none
};

// The caller of a request: the API token when `api_token` is set and the Bearer value is it, the
// session of the Bearer value or of the cookie, or nullopt when the request carries neither. An
// Authorization header that is not "Bearer " + the token or a live session's token, or a cookie
// of no live session, raises err::kUnauthorized; a state-changing call on a cookie session without
// its CSRF token raises err::kForbidden.
std::optional<Caller> AuthenticateRequest(const RequestCredentials& credentials,
                                          std::string_view api_token,
                                          const SessionSettings& settings);

struct PeopleAnswer {
  int status = 200;
  nlohmann::ordered_json body;
  std::vector<std::string> set_cookies;  // values of Set-Cookie headers
};

// POST /api/v1/session with {"login", "password"} or {"email", "pin"}: 200 with the cookie and
// {"token", "login", "roles", "expires", "csrf"} (a prospect's "login" is his address).
PeopleAnswer SignInRoute(std::string_view body, std::string_view peer,
                         const SessionSettings& settings);
// DELETE /api/v1/session: ends the session of the Bearer token or cookie; 200 {"signed_out":
// true|false} and a cookie that removes the browser's.
PeopleAnswer SignOutRoute(const RequestCredentials& credentials, std::string_view peer,
                          const SessionSettings& settings);
// GET /api/v1/me: {"login", "display_name", "roles", "centres", "locale", "email", "prospect"};
// the API token answers {"login": "", "roles": ["api-token"]}.
nlohmann::ordered_json MeBody(const Caller& caller);

// The names of the caller's roles as the answers list them ("customer", "cce", "administrator").
std::vector<std::string> RoleNames(const Caller& caller);

}  // namespace heliq

#endif  // HELIQ_PEOPLE_WEB_H_
