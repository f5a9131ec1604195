// Who is calling: the shared API token (the trusted front end or the scheduler), a signed-in
// person (a registered user or staff member from the directory), or a prospect signed in by
// e-mail address and PIN. The host builds one Caller per HTTP request from its credentials and
// hands it to the permission check and to the read queries.
//
// RequestScope is the part of a Caller that the read queries need: the requests a caller may see
// at all. A query ANDs it with the filters the caller asked for, so a caller can narrow his view
// but never widen it.
//
// Plain values; copy freely. Thread safety: none needed (no shared state).
#ifndef HELIQ_PEOPLE_CALLER_H_
#define HELIQ_PEOPLE_CALLER_H_

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace heliq {

// Centres as the requests' CENTER column numbers them.
inline constexpr int32_t kCallCentre = 1;
inline constexpr int32_t kSupportCentre = 2;

// What a caller may do; a person may hold several (a dispatcher of both centres).
enum class Role {
  kCustomer,               // a registered user without a staff role
  kProspect,               // known only by an e-mail address
  kCallCentreEngineer,     // directory role 32
  kSupportCentreEngineer,  // directory role 36
  kDispatcher,             // directory roles 31 (call centre) and 38 (support centre)
  kSupervisor,             // directory roles 35 (call centre) and 39 (support centre)
  kAdministrator,          // the directory role named by [session] admin_role
};

// The requests a caller may see or act on. Empty members do not restrict; `all` overrides the
// rest. Otherwise a request is in scope when ANY of these holds:
//   - originator is set and Q_ORIGINATOR = originator (a customer's own requests);
//   - email is set and EMAILID = email, compared without case (a prospect's own requests);
//   - engineer is set and D_DIRECT_TO = engineer (assigned to him, compared without case);
//   - CENTER is in queue_centres and D_DIRECT_TO is null or blank (waiting in his centre's queue);
//   - CENTER is in centres (a dispatcher's or supervisor's whole centre).
// A scope with nothing set and `all` false matches no request.
struct RequestScope {
  bool all = false;
  std::string originator;
  std::string email;
  std::string engineer;
  std::vector<int32_t> queue_centres;
  std::vector<int32_t> centres;
};

struct Caller {
  // The shared API token: may call everything, acts under the names its arguments carry.
  bool is_api_token = false;
  // Signed in by e-mail address and PIN; `email` is the address, `login` empty.
  bool is_prospect = false;
  std::string login;
  std::string email;
  std::string display_name;
  // A locale number, e.g. 1033; 0 when the directory holds none.
  int32_t locale = 0;
  // The directory's role numbers as held (ascending), and the roles they give.
  std::vector<int32_t> directory_roles;
  std::vector<Role> roles;
  // The centres the staff roles belong to (ascending, no duplicates); empty for customers,
  // prospects, the administrator without a centre role and the API token.
  std::vector<int32_t> centres;

  bool HasRole(Role role) const { return std::ranges::find(roles, role) != roles.end(); }
  bool InCentre(int32_t centre) const {
    return std::ranges::find(centres, centre) != centres.end();
  }
  // The API token and administrators see and may do everything.
  bool IsUnrestricted() const { return is_api_token || HasRole(Role::kAdministrator); }
};

// The requests `caller` may see (see RequestScope). Defined in people/src/permissions.cc.
RequestScope ScopeFor(const Caller& caller);

}  // namespace heliq

#endif  // HELIQ_PEOPLE_CALLER_H_
