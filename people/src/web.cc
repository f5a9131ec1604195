#include "people/web.h"

#include <sodium.h>

#include <string>

#include "common/heliq_utilities.h"
#include "people/sign_in.h"
#include "platform/com_error.h"
#include "platform/configuration.h"
#include "platform/database.h"
#include "platform/text.h"

namespace heliq {
namespace {

constexpr std::string_view kSource = "Session";
constexpr std::string_view kBearer = "Bearer ";
// Sign-in bodies are small; a larger one is not a sign-in.
constexpr size_t kMaxSignInBody = 8192;

bool ChangesState(std::string_view method) {
  return method != "GET" && method != "HEAD" && method != "OPTIONS";
}

// Compares two secrets in time that depends on neither (both hashed to one length first).
bool SameSecret(std::string_view a, std::string_view b) {
  if (sodium_init() < 0) return false;
  unsigned char x[crypto_generichash_BYTES];
  unsigned char y[crypto_generichash_BYTES];
  crypto_generichash(x, sizeof x, reinterpret_cast<const unsigned char*>(a.data()), a.size(),
                     nullptr, 0);
  crypto_generichash(y, sizeof y, reinterpret_cast<const unsigned char*>(b.data()), b.size(),
                     nullptr, 0);
  return sodium_memcmp(x, y, sizeof x) == 0;
}

// The value of cookie `name` in a Cookie header ("a=1; b=2"), "" when absent.
std::string_view CookieValue(std::string_view header, std::string_view name) {
  while (!header.empty()) {
    const size_t end = header.find(';');
    std::string_view pair = TrimSpace(header.substr(0, end));
    const size_t equals = pair.find('=');
    if (equals != std::string_view::npos && pair.substr(0, equals) == name) {
      return pair.substr(equals + 1);
    }
    if (end == std::string_view::npos) break;
    header.remove_prefix(end + 1);
  }
  return {};
}

std::string_view BearerValue(std::string_view header) {
  if (header.size() < kBearer.size() ||
      !EqualsIgnoreCase(header.substr(0, kBearer.size()), kBearer)) {
    return {};
  }
  return TrimSpace(header.substr(kBearer.size()));
}

[[noreturn]] void BadBody(const std::string& description) {
  throw ComError(err::kBadRequest, std::string(kSource), description);
}

std::string TextField(const nlohmann::json& body, const char* name) {
  const auto field = body.find(name);
  if (field == body.end()) return {};
  if (field->is_string()) return field->get<std::string>();
  if (field->is_number_unsigned()) return std::to_string(field->get<uint64_t>());
  BadBody(std::string("argument ") + name + ": a text is expected");
}

}  // namespace

std::vector<std::string> RoleNames(const Caller& caller) {
  if (caller.is_api_token) return {"api-token"};
  std::vector<std::string> names;
  for (Role role : caller.roles) {
    switch (role) {
      case Role::kCustomer:
        names.push_back("customer");
        break;
      case Role::kProspect:
        names.push_back("prospect");
        break;
      case Role::kCallCentreEngineer:
        names.push_back("cce");
        break;
      case Role::kSupportCentreEngineer:
        names.push_back("sce");
        break;
      case Role::kDispatcher:
        names.push_back("dispatcher");
        break;
      case Role::kSupervisor:
        names.push_back("supervisor");
        break;
      case Role::kAdministrator:
        names.push_back("administrator");
        break;
    }
  }
  return names;
}

std::optional<Caller> AuthenticateRequest(const RequestCredentials& credentials,
                                          std::string_view api_token,
                                          const SessionSettings& settings) {
  if (!TrimSpace(credentials.authorization).empty()) {
    const std::string_view bearer = BearerValue(credentials.authorization);
    if (!bearer.empty() && !api_token.empty() && SameSecret(bearer, api_token)) {
      Caller caller;
      caller.is_api_token = true;
      return caller;
    }
    if (!bearer.empty()) {
      if (auto session = FindSession(bearer, settings)) return std::move(session->caller);
    }
    throw ComError(err::kUnauthorized, std::string(kSource),
                   "the Authorization header is neither \"Bearer <API token>\" nor \"Bearer "
                   "<session token>\" of a live session: sign in again");
  }
  const std::string_view cookie = CookieValue(credentials.cookie, kSessionCookieName);
  if (cookie.empty()) return std::nullopt;
  std::optional<ActiveSession> session = FindSession(cookie, settings);
  if (!session) {
    throw ComError(err::kUnauthorized, std::string(kSource),
                   "the session has ended: sign in again");
  }
  if (ChangesState(credentials.method) &&
      (credentials.csrf.empty() || !SameSecret(credentials.csrf, session->csrf))) {
    throw ComError(err::kForbidden, std::string(kSource),
                   "a call with the session cookie that changes anything must send the session's "
                   "CSRF token in the X-CSRF-Token header");
  }
  return std::move(session->caller);
}

PeopleAnswer SignInRoute(std::string_view body, std::string_view peer,
                         const SessionSettings& settings) {
  if (body.size() > kMaxSignInBody) BadBody("a sign-in body is at most 8192 bytes");
  const nlohmann::json json = nlohmann::json::parse(body, nullptr, false);
  if (!json.is_object()) {
    BadBody(R"(the body is a JSON object: {"login", "password"} or {"email", "pin"})");
  }
  const std::string login = TextField(json, "login");
  const std::string email = TextField(json, "email");
  if (login.empty() == email.empty()) {
    BadBody("send either login and password, or email and pin");
  }
  const SessionGrant grant =
      login.empty() ? SignInProspect(email, TextField(json, "pin"), peer, settings)
                    : SignInWithPassword(login, TextField(json, "password"), peer, settings);
  PeopleAnswer answer;
  answer.body = {{"token", grant.token},
                 {"login", grant.caller.is_prospect ? grant.caller.email : grant.caller.login},
                 {"roles", RoleNames(grant.caller)},
                 {"expires", grant.expires.ToText()},
                 {"csrf", grant.csrf}};
  answer.set_cookies.push_back(SessionCookie(grant.token, settings));
  return answer;
}

PeopleAnswer SignOutRoute(const RequestCredentials& credentials, std::string_view peer,
                          const SessionSettings& settings) {
  std::string_view token = BearerValue(credentials.authorization);
  if (token.empty()) token = CookieValue(credentials.cookie, kSessionCookieName);
  PeopleAnswer answer;
  answer.body = {{"signed_out", SignOut(token, peer)}};
  answer.set_cookies.push_back(ClearedSessionCookie(settings));
  return answer;
}

nlohmann::ordered_json MeBody(const Caller& caller) {
  int32_t locale = caller.locale;
  if (locale == 0) {
    const std::string fallback = SettingValue("", "default_language");
    locale = fallback.empty() ? 1033 : static_cast<int32_t>(std::stol(fallback));
  }
  return {{"login", caller.is_prospect ? caller.email : caller.login},
          {"display_name", caller.display_name},
          {"roles", RoleNames(caller)},
          {"centres", caller.centres},
          {"locale", locale},
          {"email", caller.email},
          {"prospect", caller.is_prospect}};
}

}  // namespace heliq
