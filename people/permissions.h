// The permission table: for every public operation, whether HTTP serves it by default, which
// roles may call it, where its request number and its acting user's name are among its arguments.
// docs/permissions.md is the same table in prose; a test keeps the two equal.
//
// The API token and the administrator may call every served operation on every request, under
// the names their arguments carry. Everybody else may call an operation only when one of his roles
// is in its row, and only on requests in that role's scope (people/caller.h, RequestScope); his
// own name replaces the acting-user argument. Operations not served by default are served only
// with [host] serve_all_operations = true, and then to the API token alone (diagnostics).
//
// Refusals are ComErrors err::kForbidden naming the operation and, for a request, its number,
// raised before the operation writes anything.
//
// Thread safety: the table is constant; every function may run concurrently.
#ifndef HELIQ_PEOPLE_PERMISSIONS_H_
#define HELIQ_PEOPLE_PERMISSIONS_H_

#include <cstdint>
#include <string_view>
#include <vector>

#include "people/caller.h"
#include "platform/operation_table.h"
#include "platform/variant.h"

namespace heliq {

struct Permission {
  std::string_view class_id;
  std::string_view operation;
  // Served over HTTP by default (a front end or the scheduler calls it).
  bool served = false;
  // Roles besides the administrator and the API token, as role names separated by spaces
  // (customer, prospect, cce, sce, dispatcher, supervisor); "" for none.
  std::string_view roles;
  // Where the request number is: "i_lQID", "i_dictDetails.Q_ID" (a key of a dictionary
  // argument), "i_aQList[]" (every element of an array); "" when the operation names none.
  std::string_view request;
  // The argument (or dictionary key) that names the acting user; set to the caller's login (a
  // prospect's address). "" when the operation has none.
  std::string_view acting_user;
  // The argument that names the request's originator; set to the stored Q_ORIGINATOR.
  std::string_view originator;
};

// Every row, in the order of docs/permissions.md.
const std::vector<Permission>& PermissionTable();

// A route of the host's own (not an operation) that signed-in people may call: who may, and on
// what. The API token and the administrator may call every route on everything.
struct RoutePermission {
  std::string_view method;  // "GET", "PUT"
  std::string_view route;   // as documented: "/api/v1/centres/<c>/engineers"
  // Role names as in Permission::roles.
  std::string_view roles;
  // "request": only on a request in the scope of one of those roles; "centre": only for a centre
  // one of those roles belongs to; "" everywhere.
  std::string_view scope;
};

// Every route row, in the order of docs/permissions.md.
const std::vector<RoutePermission>& RoutePermissionTable();
// The row of `method` `route` (exactly as in the table); raises err::kForbidden when none, so a
// route without a row is closed to people.
const RoutePermission& FindRoutePermission(std::string_view method, std::string_view route);

// Whether `caller` may call the route at all, and (scope "centre") for `centre`. Raises
// err::kForbidden when not. No-op for the API token and the administrator.
void CheckRouteAllowed(const Caller& caller, const RoutePermission& route, int32_t centre = 0);

// For a route of scope "request": raises err::kForbidden unless request `id` (active, or with
// `archived_too` archived) is in the scope of one of the caller's roles the row lists (an
// unknown id alike, also for the API token and the administrator, whose scope is everything).
// One read of its own.
void CheckRouteOnRequest(const Caller& caller, const RoutePermission& route, int32_t id,
                         bool archived_too);
// The row of class.operation (without regard to case), or nullptr.
const Permission* FindPermission(std::string_view class_id, std::string_view operation);

// The role names of `roles` of a Permission.
bool PermissionNamesRole(const Permission& permission, Role role);

// The roles that the directory's role numbers `directory_roles` give (31/38 dispatcher, 32 and 36
// engineers, 35/39 supervisor, `admin_role` administrator when positive; customer when none of
// these), and into `centres` (when not null) the centres of the staff roles, ascending.
std::vector<Role> RolesFromDirectory(const std::vector<int32_t>& directory_roles,
                                     int32_t admin_role, std::vector<int32_t>* centres);

// Whether `caller` may call the operation at all (before its arguments are looked at). Raises
// err::kForbidden when not: unknown to the table, not served (and serving all is off or the
// caller is not the API token), or none of his roles listed.
void CheckOperationAllowed(const Caller& caller, const Permission* permission,
                           std::string_view class_id, std::string_view operation,
                           bool serve_all_operations);

// Inside the call's unit of work, before the operation runs: checks that every request the
// arguments name is in the scope of one of the caller's roles that the row lists, then forces
// the acting-user and originator arguments. `args` are the converted arguments of the call.
// Raises err::kForbidden (nothing is written: the call rolls back). No-op for the API token and
// the administrator.
void AuthorizeArguments(const Caller& caller, const Permission& permission, Dictionary& args);

// For the read routes of one request (GET /api/v1/requests/<id>...): raises err::kForbidden
// unless request `id`, active or archived, is in ScopeFor(caller). An unknown id is refused alike
// for restricted callers, so the answer does not tell which numbers exist. One read of its own.
void CheckMaySeeRequest(const Caller& caller, int32_t id);

// For POST /api/v1/requests by a restricted caller: the new row is his, whatever the body said
// (Q_ORIGINATOR his login; a prospect: EMAILID his address and PROSPECT 1, no originator).
void ForceRequestOwner(const Caller& caller, Dictionary& columns);

// The row `spec` as `caller` may run it: CheckOperationAllowed now (raises err::kForbidden), and
// an invoker that runs AuthorizeArguments inside the unit of work before the operation. The host
// runs the result with CallOperation; the returned row refers to `spec`, which must outlive it
// (rows of the operation table live for the process).
OperationSpec AuthorizedOperation(const Caller& caller, const OperationSpec& spec,
                                  bool serve_all_operations);

}  // namespace heliq

#endif  // HELIQ_PEOPLE_PERMISSIONS_H_
