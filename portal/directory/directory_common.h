// What every directory implementation (the embedded tables, an LDAP server) shares so that their
// answers and errors are the same: the attribute names a member table or a member search may use,
// the member table's columns, the parsing of member-search filters and the checks of the server
// information and of a bound object.
//
// All failures are ComErrors with err::kInvalidProcedureCall (error 5) naming the class and the
// offending name or filter. Thread safety: pure functions over immutable tables.
#ifndef HELIQ_PORTAL_DIRECTORY_DIRECTORY_COMMON_H_
#define HELIQ_PORTAL_DIRECTORY_DIRECTORY_COMMON_H_

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/directory.h"
#include "portal/directory/directory_store.h"

namespace heliq {

// An attribute of a member table or a search filter, and where it lives on a DirectoryUser.
struct DirectoryAttribute {
  std::string_view name;  // as a member table names its column ("cn" is the login)
  std::string DirectoryUser::*field;
};

// Every attribute, "cn" (the login) first.
std::span<const DirectoryAttribute> DirectoryAttributes();

// Raises error 5 from `class_id` with `description`.
[[noreturn]] void DirectoryBadInput(std::string_view class_id, std::string description);

// The attribute called `name` (without regard to case); error 5 naming it when there is none.
const DirectoryAttribute& FindDirectoryAttribute(std::string_view class_id, std::string_view name);

// The attributes a comma-separated list asks for beyond the fixed columns dn, mail and cn, in the
// order asked, without repeats; error 5 for an unknown name.
std::vector<const DirectoryAttribute*> MemberColumns(std::string_view class_id,
                                                     std::string_view attributes);

// A member table: the fixed columns dn, mail, cn, then `extra`; one row per user, `dns[i]` the
// distinguished name of `users[i]`.
MemberTable BuildMemberTable(const std::vector<const DirectoryAttribute*>& extra,
                             const std::vector<DirectoryUser>& users,
                             const std::vector<std::string>& dns);

// One parsed member-search filter: "attribute=value", surrounding parentheses and spaces taken off.
struct MemberFilter {
  const DirectoryAttribute* attribute;
  std::string value;  // "*" matches any run of characters; "" names nobody
};

// Parses member-search filters; error 5 for a filter without "=" or with an unknown attribute.
std::vector<MemberFilter> ParseMemberFilters(std::string_view class_id,
                                             const std::vector<std::string>& filters);

// Remembers a site-configuration path (error 5 when blank).
void StoreServerInfo(std::string_view class_id, const std::string& path, std::string& target);
// Error 5 unless SetServerInfo came first.
void RequireServerInfo(std::string_view class_id, const std::string& server_info);

}  // namespace heliq

#endif  // HELIQ_PORTAL_DIRECTORY_DIRECTORY_COMMON_H_
