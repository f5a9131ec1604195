#include "people/sign_in.h"

#include <algorithm>
#include <string>
#include <vector>

#include "common/directory.h"
#include "common/heliq_utilities.h"
#include "common/lookups.h"
#include "people/permissions.h"
#include "platform/com_error.h"
#include "platform/configuration.h"
#include "platform/database.h"
#include "platform/log.h"
#include "platform/text.h"

namespace heliq {
namespace {

constexpr std::string_view kSource = "SignIn";
constexpr std::string_view kAccount = "account";
constexpr std::string_view kAddress = "address";
constexpr std::string_view kProspectKind = "prospect";
constexpr size_t kMaxLogged = 64;

constexpr std::string_view kSelectProspectPin =
    "SELECT EMAILID, PIN FROM PROSPECT WHERE EMAILID = ? ORDER BY PROSPECT_ID";

// Directory roles a person may hold that mean something here.
constexpr int32_t kKnownRoles[] = {31, 32, 35, 36, 38, 39};

// A login or address as the log shows it: cut and with control characters escaped, so a crafted
// login cannot forge log lines.
std::string Shown(std::string_view text) {
  std::string shown = "\"";
  for (char c : text.substr(0, kMaxLogged)) {
    const auto byte = static_cast<unsigned char>(c);
    shown += byte < 0x20 || byte == 0x7f || c == '"' ? '?' : c;
  }
  return shown + (text.size() > kMaxLogged ? "...\"" : "\"");
}

// Sign-in events go to the portal log like failures, so they land where an operator looks and
// tests can read them.
void Audit(const std::string& text, int32_t level) {
  CreateObjectAs<Log>(kLogClassId)->LogEvent(kSource, text, level, Variant());
}

constexpr int32_t kWarning = 1;
constexpr int32_t kInformation = 2;

[[noreturn]] void WrongCredentials() {
  throw ComError(err::kUnauthorized, std::string(kSource), "wrong login or password");
}

void RefuseWhenLocked(std::string_view kind, std::string_view key, std::string_view peer) {
  for (const auto& [limit_kind, limit_key] : {std::pair{kind, key}, std::pair{kAddress, peer}}) {
    const SignInLimit limit = CheckSignInLimit(limit_kind, limit_key);
    if (!limit.locked) continue;
    Audit("sign-in refused without a check for " + Shown(key) + " from " + Shown(peer) +
              ": too many failures of the " + std::string(limit_kind),
          kWarning);
    throw SignInLocked(std::string(kSource),
                       "too many failed sign-ins; try again in " +
                           std::to_string(limit.retry_after_seconds) + " seconds",
                       limit.retry_after_seconds);
  }
}

// A PIN guesser's address is held to the PIN's limit too, so spreading guesses over many
// prospects' addresses gains him nothing.
void Failed(std::string_view kind, std::string_view key, std::string_view peer) {
  const SignInPolicy& policy = kind == kProspectKind ? kPinPolicy : kPasswordPolicy;
  RecordSignInFailure(kind, key, policy);
  RecordSignInFailure(kAddress, peer, policy);
  Audit("sign-in failed for " + Shown(key) + " from " + Shown(peer), kWarning);
  WrongCredentials();
}

SessionGrant Granted(std::string_view kind, std::string_view key, const Caller& caller,
                     std::string_view peer, const SessionSettings& settings) {
  ClearSignInFailures(kind, key);
  SessionGrant grant = CreateSession(caller, settings);
  Audit("signed in: " + Shown(caller.is_prospect ? caller.email : caller.login) + " from " +
            Shown(peer),
        kInformation);
  return grant;
}

}  // namespace

Caller CallerForLogin(std::string_view login, const SessionSettings& settings) {
  std::unique_ptr<MembershipUser> user;
  try {
    user = BindDirectoryUser(login);
  } catch (const ComError&) {
    WrongCredentials();
  }
  Caller caller;
  caller.login = user->Login();
  caller.email = user->Mail();
  caller.display_name = std::string(TrimSpace(user->GivenName() + " " + user->Surname()));
  const std::string locale = user->LanguageId();
  caller.locale = locale.empty() ? 0 : static_cast<int32_t>(std::stol(locale));
  for (int32_t role : kKnownRoles) {
    if (user->IsInRole(role)) caller.directory_roles.push_back(role);
  }
  if (settings.admin_role > 0 && user->IsInRole(settings.admin_role)) {
    caller.directory_roles.push_back(settings.admin_role);
  }
  std::ranges::sort(caller.directory_roles);
  caller.roles = RolesFromDirectory(caller.directory_roles, settings.admin_role, &caller.centres);
  return caller;
}

SessionGrant SignInWithPassword(std::string_view login, std::string_view password,
                                std::string_view peer, const SessionSettings& settings) {
  const std::string key(TrimSpace(login));
  if (key.empty() || password.empty()) WrongCredentials();
  RefuseWhenLocked(kAccount, key, peer);
  const std::string stored =
      CreateObjectAs<DirectorySignIn>(kDirectorySignInClassId)->CheckPassword(key, password);
  if (stored.empty()) Failed(kAccount, key, peer);
  return Granted(kAccount, key, CallerForLogin(stored, settings), peer, settings);
}

SessionGrant SignInProspect(std::string_view email, std::string_view pin, std::string_view peer,
                            const SessionSettings& settings) {
  const std::string key(TrimSpace(email));
  if (key.empty() || pin.empty()) WrongCredentials();
  RefuseWhenLocked(kProspectKind, key, peer);
  auto connection = GetHeliqConnection();
  const ResultSet rows = connection->Query(kSelectProspectPin, {Variant(key)});
  connection->Close();
  // Compared as text of the stored number, so "0042" is not 42 and no PIN parses as another.
  std::string stored_email;
  for (const auto& row : rows.rows) {
    if (!row[1].IsNull() && std::to_string(row[1].ToLong()) == TrimSpace(pin)) {
      stored_email = row[0].ToTextOrEmpty();
    }
  }
  if (stored_email.empty()) Failed(kProspectKind, key, peer);
  Caller caller;
  caller.is_prospect = true;
  caller.email = stored_email;
  caller.roles = {Role::kProspect};
  return Granted(kProspectKind, key, caller, peer, settings);
}

bool SignOut(std::string_view token, std::string_view peer) {
  const std::optional<ActiveSession> session = FindSession(token, SessionSettingsFromConfig());
  const bool ended = EndSession(token);
  if (ended && session) {
    Audit("signed out: " +
              Shown(session->caller.is_prospect ? session->caller.email : session->caller.login) +
              " from " + Shown(peer),
          kInformation);
  }
  return ended;
}

}  // namespace heliq
