// Directory, dispatch-rule and back-end lookups of the shared module: display names shortened for
// engineer lists, removal of an engineer's dispatch rules, binding directory objects with the
// membership account, the last master-data synchronisation date, and the component identifier of
// the default back office.
//
// The membership account is read afresh from the configuration on every bind ([membership]
// account, password, root; the password may come from HELIQ_MEMBERSHIP_PASSWORD). Nothing is
// cached, and the password only passes through memory: it is never logged or written.
//
// Thread safety: all functions may run concurrently; none keeps state between calls.
#ifndef HELIQ_COMMON_LOOKUPS_H_
#define HELIQ_COMMON_LOOKUPS_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "common/directory.h"
#include "platform/configuration.h"

namespace heliq {

// Names in engineer lists must fit 24 characters (first name, blank, last name). When they do not,
// the given name is cut to its initial and "." and the surname to 16 characters; for locale 1041,
// where the family name comes first, the other way round. Lengths count characters, not bytes.
// Failures are reported under "GetExactFirstName" (both functions) and re-raised.
std::string GetExactFirstName(std::string_view first_name, std::string_view last_name,
                              int32_t locale);
std::string GetExactLastName(std::string_view first_name, std::string_view last_name,
                             int32_t locale);

// Deletes every call-centre (CCEDISRULE) or support-centre (SCEDISRULE) dispatch rule of `login`
// on a connection of its own; inside a unit of work the deletion belongs to the call. Failures are
// not trapped: they reach the caller's failure path unreported.
void DeleteCCEDispatchRules(std::string_view login);
void DeleteSCEDispatchRules(std::string_view login);

// The directory account of the configuration, as the directory objects are bound with it.
struct MembershipAccount {
  std::string config_path;  // the site configuration file, for SetServerInfo
  std::string bind_user;    // MembershipBindName(account, root)
  std::string password;     // secret: never log, store or put into an error text
};

// `account` alone when `root` is empty, else account + "," + root.
std::string MembershipBindName(std::string_view account, std::string_view root);
// The path of the site configuration file: the file the settings were loaded from (wherever the
// configuration search found it); for settings set from text, $HELIQ_CONFIG when set, else
// <install dir>/config/heliq.toml.
std::string SiteConfigurationPath(Configuration& configuration);
// Reads [membership] account, password and root through `configuration`.
MembershipAccount ReadMembershipAccount(Configuration& configuration);

// A directory user object for `login`, created directly (outside the call) and bound with the
// membership account. No trap: a missing component (429), a wrong account (1101) or an unknown
// login (5) reaches the caller.
std::unique_ptr<MembershipUser> BindDirectoryUser(std::string_view login);
// A directory members object, created directly and bound with the membership account. No trap.
std::unique_ptr<MembershipMembers> BindDirectoryMembers();

// The directory user object of `user_id`, bound with the membership account. Called normally, any
// failure (unknown user, wrong account or password, missing component) gives nullptr and is
// reported nowhere. Called while a failure is being handled (inside a catch handler), a failure
// propagates to the caller instead.
std::unique_ptr<MembershipUser> GetUserFromID(std::string_view user_id);

// The trimmed PARAM_VALUE of the "LastSynchronizedDate" parameter of `parameter_type` (a whole
// number as text; the last row when there are several); "" when there is none. Reports nothing: a
// failure gives what was read before it ("" when nothing).
std::string GetLastSynchronizedDate(std::string_view parameter_type);

// The "componentid" property of the default back end of the back-end selector. Reports nothing: a
// failure (no selector, no default back end) gives "".
std::string GetBackendComponentId();

}  // namespace heliq

#endif  // HELIQ_COMMON_LOOKUPS_H_
