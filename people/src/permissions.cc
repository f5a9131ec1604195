#include "people/caller.h"

namespace heliq {
namespace {

struct StaffRole {
  int32_t number;
  Role role;
  int32_t centre;
};

// Which centre each staff role of the directory belongs to.
constexpr StaffRole kStaffRoles[] = {
    {31, Role::kDispatcher, kCallCentre},    {32, Role::kCallCentreEngineer, kCallCentre},
    {35, Role::kSupervisor, kCallCentre},    {36, Role::kSupportCentreEngineer, kSupportCentre},
    {38, Role::kDispatcher, kSupportCentre}, {39, Role::kSupervisor, kSupportCentre},
};

}  // namespace

RequestScope ScopeFor(const Caller& caller) {
  RequestScope scope;
  if (caller.IsUnrestricted()) {
    scope.all = true;
    return scope;
  }
  if (caller.is_prospect) {
    scope.email = caller.email;
    return scope;
  }
  // Everybody signed in with a login sees what he filed himself, staff included: an engineer may
  // also be a customer of the desk.
  scope.originator = caller.login;
  const bool call_centre = caller.HasRole(Role::kCallCentreEngineer);
  const bool support_centre = caller.HasRole(Role::kSupportCentreEngineer);
  if (call_centre || support_centre) {
    scope.engineer = caller.login;
    if (call_centre) scope.queue_centres.push_back(kCallCentre);
    if (support_centre) scope.queue_centres.push_back(kSupportCentre);
  }
  // A dispatcher or supervisor sees his centre whole; an engineer of the other centre who is also
  // one of them must not widen that to both.
  for (const StaffRole& staff : kStaffRoles) {
    if (staff.role != Role::kDispatcher && staff.role != Role::kSupervisor) continue;
    if (std::ranges::find(caller.directory_roles, staff.number) == caller.directory_roles.end()) {
      continue;
    }
    if (std::ranges::find(scope.centres, staff.centre) == scope.centres.end()) {
      scope.centres.push_back(staff.centre);
    }
  }
  return scope;
}

}  // namespace heliq
