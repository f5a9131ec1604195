#include "people/permissions.h"

#include <optional>
#include <string>

#include "common/heliq_utilities.h"
#include "platform/com_error.h"
#include "platform/database.h"
#include "platform/object_context.h"
#include "platform/text.h"

namespace heliq {
namespace {

constexpr std::string_view kSource = "Permissions";
constexpr std::string_view kQuestion = "HlqServiceRequestMTS.Question";
constexpr std::string_view kDispatch = "HlqServiceRequestMTS.Dispatch";
constexpr std::string_view kProspect = "HlqServiceRequestMTS.Prospect";
constexpr std::string_view kDaemon = "HlqServiceRequestMTS.Daemon";
constexpr std::string_view kEscalation = "HeliqProcessMTS.SolveOnNoResponse";

constexpr std::string_view kSelectRequest =
    "SELECT Q_ORIGINATOR, EMAILID, D_DIRECT_TO, CENTER FROM QUESTIONS WHERE Q_ID = ?";
constexpr std::string_view kSelectArchivedRequest =
    "SELECT Q_ORIGINATOR, EMAILID, D_DIRECT_TO, CENTER FROM QUESTIONHISTORY WHERE Q_ID = ?";

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

struct RoleName {
  Role role;
  std::string_view name;
};

constexpr RoleName kRoleNames[] = {
    {Role::kCustomer, "customer"},      {Role::kProspect, "prospect"},
    {Role::kCallCentreEngineer, "cce"}, {Role::kSupportCentreEngineer, "sce"},
    {Role::kDispatcher, "dispatcher"},  {Role::kSupervisor, "supervisor"},
};

constexpr std::string_view kCustomerActions = "customer prospect";
constexpr std::string_view kEngineers = "cce sce";

// The table. Keep docs/permissions.md in step (a test compares them).
const std::vector<Permission> kTable = {
    {kQuestion, "RegisterQuestion", true, kCustomerActions, "i_dictDetails.Q_ID",
     "i_dictDetails.T_NAME", "i_dictDetails.Q_ORIGINATOR"},
    {kQuestion, "AddtoQuestion", true, kCustomerActions, "i_dictDetails.Q_ID",
     "i_dictDetails.T_NAME", ""},
    {kQuestion, "customerClarifySR", true, kCustomerActions, "i_dictDetails.Q_ID",
     "i_dictDetails.T_NAME", ""},
    {kQuestion, "ConcludeQuestion", true, kCustomerActions, "i_dictDetails.Q_ID",
     "i_dictDetails.T_NAME", ""},
    {kQuestion, "AcceptQuestion", true, kCustomerActions, "i_dictDetails.Q_ID",
     "i_dictDetails.T_NAME", ""},
    {kQuestion, "AcceptQuestionByCustomer", true, kCustomerActions, "i_dictDetails.Q_ID",
     "i_dictDetails.T_NAME", ""},
    {kQuestion, "ReopenQuestion", true, kCustomerActions, "i_dictDetails.Q_ID",
     "i_dictDetails.T_NAME", ""},
    {kQuestion, "customerCancelSR", true, kCustomerActions, "i_dictDetails.Q_ID",
     "i_dictDetails.T_NAME", ""},
    {kQuestion, "TakeInHand", true, kEngineers, "i_dictDetails.Q_ID", "i_dictDetails.T_NAME", ""},
    {kQuestion, "SetToWaiting", true, kEngineers, "i_dictDetails.Q_ID", "i_dictDetails.T_NAME", ""},
    {kQuestion, "ClarifyQuestion", true, kEngineers, "i_dictDetails.Q_ID", "i_dictDetails.T_NAME",
     ""},
    {kQuestion, "SaveQuestion", true, kEngineers, "i_dictDetails.Q_ID", "i_dictDetails.T_NAME", ""},
    {kQuestion, "AnswerQuestion", true, kEngineers, "i_dictDetails.Q_ID", "i_dictDetails.T_NAME",
     ""},
    {kQuestion, "CloseQuestion", true, "cce sce dispatcher", "i_dictDetails.Q_ID",
     "i_dictDetails.T_NAME", ""},
    {kQuestion, "CancelQuestion", true, "cce sce dispatcher", "i_dictDetails.Q_ID",
     "i_dictDetails.T_NAME", ""},
    {kQuestion, "SetToToPublish", true, kEngineers, "i_dictDetails.Q_ID", "i_dictDetails.T_NAME",
     ""},
    {kQuestion, "PublishQuestion", true, kEngineers, "i_dictDetails.Q_ID", "i_dictDetails.T_NAME",
     ""},
    {kQuestion, "UpdateAdvancedDetails", true, kEngineers, "i_oDict.Q_ID", "i_oDict.T_NAME", ""},
    {kQuestion, "GetEngineerTime", true, "cce sce dispatcher supervisor", "i_lQID", "", ""},
    {kQuestion, "AssignToEngineer", true, "dispatcher", "i_aQList[]", "", ""},
    {kQuestion, "TransferQuestions", true, "", "", "", ""},
    {kQuestion, "CheckIfQuestionAlreadyExists", true, "", "", "", ""},
    {kQuestion, "UpdateBackendChangesToQuestion", true, "", "", "", ""},
    {kQuestion, "UpdateSvcOrderDetails", true, "", "", "", ""},
    {kQuestion, "UpdateHLQAccordingtoStatus", false, "", "", "", ""},
    {kQuestion, "MaptoFrontEndStatus", false, "", "", "", ""},
    {kQuestion, "CreateTransactionLog1", false, "", "", "", ""},
    {kQuestion, "SQLEncodeStrForheliq", false, "", "", "", ""},
    {kDispatch, "DispatchHDS", true, "dispatcher", "i_lQID", "", "i_sUserId"},
    {kDispatch, "DispatchAHDS", true, "dispatcher", "i_lQID", "", "i_sUserId"},
    {kDispatch, "AutomaticdispatchingNeededforCC", true, "dispatcher", "", "", ""},
    {kDispatch, "AutomaticdispatchingNeededforSC", true, "dispatcher", "", "", ""},
    {kDispatch, "assignQuestiontoCCE", true, "dispatcher", "i_odictDetails.Q_ID",
     "i_odictDetails.T_NAME", ""},
    {kDispatch, "assignQuestiontoSCE", true, "dispatcher", "i_odictDetails.Q_ID",
     "i_odictDetails.T_NAME", ""},
    {kDispatch, "AssignQuestionToSCQueue", true, "cce dispatcher", "i_oDictQDetails.Q_ID",
     "i_oDictQDetails.T_NAME", ""},
    {kDispatch, "ReassignQuestiontoSCE", true, "dispatcher", "i_odictDetails.Q_ID",
     "i_odictDetails.T_NAME", ""},
    {kDispatch, "updateQueuesizeofCCE", false, "", "", "", ""},
    {kDispatch, "updateExperienceofCCE", false, "", "", "", ""},
    {kDispatch, "updateQueuesizeofSCE", false, "", "", "", ""},
    {kDispatch, "updateExperienceofSCE", false, "", "", "", ""},
    {kProspect, "CreateNewProspect", true, "", "", "", ""},
    {kProspect, "UpdateProspect", true, "", "", "", ""},
    {kDaemon, "SaveDaemonData", true, "", "", "", ""},
    {kEscalation, "SendingEscalationMails", true, "", "", "", ""},
    {kEscalation, "GetBPIDOFOriginator", false, "", "", "", ""},
    {kEscalation, "Setheaders", false, "", "", "", ""},
    {kEscalation, "GetBPNameofBPID", false, "", "", "", ""},
    {kEscalation, "SendEscalaltionMail", false, "", "", "", ""},
    {kEscalation, "GetMaildidOFEngineer", false, "", "", "", ""},
    {kEscalation, "SQLEncodeDateTimeforEscalations", false, "", "", "", ""},
};

constexpr std::string_view kEverybody = "customer prospect cce sce dispatcher supervisor";
constexpr std::string_view kCentreStaff = "dispatcher supervisor";

// The routes of the host's own. Keep docs/permissions.md in step (a test compares them).
const std::vector<RoutePermission> kRoutes = {
    {"GET", "/api/v1/lookups", kEverybody, ""},
    {"GET", "/api/v1/centres/<c>/engineers", kCentreStaff, "centre"},
    {"GET", "/api/v1/requests/counts", kCentreStaff, "centre"},
    {"PUT", "/api/v1/requests/<id>/attachments/<name>", "customer prospect cce sce dispatcher",
     "request"},
    {"GET", "/api/v1/requests/<id>/attachments/<path>", kEverybody, "request"},
};

// Whether the space-separated role names `names` name `role`.
bool NamesRole(std::string_view names, Role role) {
  for (const RoleName& entry : kRoleNames) {
    if (entry.role != role) continue;
    std::string_view rest = names;
    while (!rest.empty()) {
      const size_t space = rest.find(' ');
      if (rest.substr(0, space) == entry.name) return true;
      if (space == std::string_view::npos) break;
      rest.remove_prefix(space + 1);
    }
  }
  return false;
}

bool Holds(const Caller& caller, int32_t number) {
  return std::ranges::find(caller.directory_roles, number) != caller.directory_roles.end();
}

void AddCentre(std::vector<int32_t>& centres, int32_t centre) {
  if (std::ranges::find(centres, centre) == centres.end()) centres.push_back(centre);
}

// The scope of `caller` limited to the roles `allowed` names (nullopt: every role he holds).
RequestScope ScopeOf(const Caller& caller, std::optional<std::string_view> allowed) {
  RequestScope scope;
  if (caller.IsUnrestricted()) {
    scope.all = true;
    return scope;
  }
  auto counts = [&](Role role) {
    return caller.HasRole(role) && (!allowed || NamesRole(*allowed, role));
  };
  if (caller.is_prospect) {
    if (counts(Role::kProspect)) scope.email = caller.email;
    return scope;
  }
  // Staff may file requests of their own too: everybody with a login is also a customer.
  if (!allowed || NamesRole(*allowed, Role::kCustomer)) {
    scope.originator = caller.login;
  }
  for (const StaffRole& staff : kStaffRoles) {
    if (!Holds(caller, staff.number) || !counts(staff.role)) continue;
    if (staff.role == Role::kCallCentreEngineer || staff.role == Role::kSupportCentreEngineer) {
      scope.engineer = caller.login;
      AddCentre(scope.queue_centres, staff.centre);
    } else {
      AddCentre(scope.centres, staff.centre);
    }
  }
  return scope;
}

struct RequestRow {
  std::string originator;
  std::string email;
  std::string engineer;
  int32_t centre = 0;
};

bool Contains(const std::vector<int32_t>& centres, int32_t centre) {
  return std::ranges::find(centres, centre) != centres.end();
}

bool InScope(const RequestScope& scope, const RequestRow& row) {
  if (scope.all) return true;
  if (!scope.originator.empty() && EqualsIgnoreCase(row.originator, scope.originator)) {
    return true;
  }
  if (!scope.email.empty() && EqualsIgnoreCase(row.email, scope.email)) return true;
  if (!scope.engineer.empty() && EqualsIgnoreCase(row.engineer, scope.engineer)) return true;
  if (Contains(scope.queue_centres, row.centre) && TrimSpace(row.engineer).empty()) return true;
  return Contains(scope.centres, row.centre);
}

[[noreturn]] void Refuse(std::string description) {
  throw ComError(err::kForbidden, std::string(kSource), std::move(description));
}

std::string Name(const Permission& permission) {
  return std::string(permission.class_id) + "." + std::string(permission.operation);
}

// Splits "i_dictDetails.Q_ID" into the argument and the key ("" when none).
std::pair<std::string_view, std::string_view> SplitPath(std::string_view path) {
  const size_t dot = path.find('.');
  if (dot == std::string_view::npos) return {path, {}};
  return {path.substr(0, dot), path.substr(dot + 1)};
}

Variant Read(const Dictionary& args, std::string_view path) {
  const auto [argument, key] = SplitPath(path);
  const Variant value = args.Get(argument);
  if (key.empty()) return value;
  if (value.type() != Variant::Type::kDictionary) return Variant();
  return value.ToDictionary()->Get(key);
}

void Write(Dictionary& args, std::string_view path, const Variant& value) {
  const auto [argument, key] = SplitPath(path);
  if (key.empty()) {
    args.Set(argument, value);
    return;
  }
  Variant holder = args.Get(argument);
  if (holder.type() != Variant::Type::kDictionary) {
    holder = Variant(std::make_shared<Dictionary>());
    args.Set(argument, holder);
  }
  holder.ToDictionary()->Set(key, value);
}

// The request numbers the arguments name; a value that is no whole number is refused, since the
// check could not tell whose request it is.
std::vector<int32_t> RequestNumbers(const Permission& permission, const Dictionary& args) {
  std::vector<int32_t> ids;
  std::string_view path = permission.request;
  const bool list = path.ends_with("[]");
  if (list) path.remove_suffix(2);
  auto number = [&](const Variant& value) {
    try {
      ids.push_back(value.ToLong());
    } catch (const ComError&) {
      Refuse(Name(permission) + ": " + std::string(path) + " is not a request number");
    }
  };
  const Variant value = Read(args, path);
  if (!list) {
    number(value);
  } else if (value.type() == Variant::Type::kArray) {
    for (const Variant& element : *value.ToArray()) number(element);
  }
  return ids;
}

std::optional<RequestRow> LoadRequest(Connection& connection, int32_t id,
                                      std::string_view sql = kSelectRequest) {
  const ResultSet rows = connection.Query(sql, {Variant(id)});
  if (rows.rows.empty()) return std::nullopt;
  const auto& row = rows.rows[0];
  return RequestRow{row[0].ToTextOrEmpty(), row[1].ToTextOrEmpty(), row[2].ToTextOrEmpty(),
                    row[3].IsNull() ? 0 : row[3].ToLong()};
}

}  // namespace

const std::vector<Permission>& PermissionTable() { return kTable; }

const Permission* FindPermission(std::string_view class_id, std::string_view operation) {
  for (const Permission& permission : kTable) {
    if (EqualsIgnoreCase(permission.class_id, class_id) &&
        EqualsIgnoreCase(permission.operation, operation)) {
      return &permission;
    }
  }
  return nullptr;
}

bool PermissionNamesRole(const Permission& permission, Role role) {
  return NamesRole(permission.roles, role);
}

const std::vector<RoutePermission>& RoutePermissionTable() { return kRoutes; }

const RoutePermission& FindRoutePermission(std::string_view method, std::string_view route) {
  for (const RoutePermission& row : kRoutes) {
    if (row.method == method && row.route == route) return row;
  }
  Refuse(std::string(method) + " " + std::string(route) + " is not open to signed-in people");
}

void CheckRouteAllowed(const Caller& caller, const RoutePermission& route, int32_t centre) {
  if (caller.IsUnrestricted()) return;
  const std::string name = std::string(route.method) + " " + std::string(route.route);
  const std::string who = caller.is_prospect ? std::string("a prospect") : "user " + caller.login;
  if (route.scope == "centre") {
    for (const StaffRole& staff : kStaffRoles) {
      if (staff.centre == centre && Holds(caller, staff.number) &&
          NamesRole(route.roles, staff.role)) {
        return;
      }
    }
    Refuse(who + " may not call " + name + " for centre " + std::to_string(centre));
  }
  // Everybody with a login may act as the customer of what he filed (the scope checks that).
  if (!caller.is_prospect && NamesRole(route.roles, Role::kCustomer)) return;
  for (Role role : caller.roles) {
    if (NamesRole(route.roles, role)) return;
  }
  Refuse(who + " may not call " + name);
}

void CheckRouteOnRequest(const Caller& caller, const RoutePermission& route, int32_t id,
                         bool archived_too) {
  const bool allowed = RunUnitOfWork(
      [&] {
        auto connection = GetHeliqConnection();
        std::optional<RequestRow> row = LoadRequest(*connection, id);
        if (!row && archived_too) row = LoadRequest(*connection, id, kSelectArchivedRequest);
        return row.has_value() && InScope(ScopeOf(caller, route.roles), *row);
      },
      true);
  if (!allowed) {
    Refuse("request " + std::to_string(id) + " is not a request of yours or of your centre");
  }
}

RequestScope ScopeFor(const Caller& caller) { return ScopeOf(caller, std::nullopt); }

std::vector<Role> RolesFromDirectory(const std::vector<int32_t>& directory_roles,
                                     int32_t admin_role, std::vector<int32_t>* centres) {
  std::vector<Role> roles;
  bool staff = false;
  for (const StaffRole& entry : kStaffRoles) {
    if (std::ranges::find(directory_roles, entry.number) == directory_roles.end()) continue;
    staff = true;
    if (std::ranges::find(roles, entry.role) == roles.end()) roles.push_back(entry.role);
    if (centres != nullptr) AddCentre(*centres, entry.centre);
  }
  if (admin_role > 0 && std::ranges::find(directory_roles, admin_role) != directory_roles.end()) {
    roles.push_back(Role::kAdministrator);
    staff = true;
  }
  if (!staff) roles.push_back(Role::kCustomer);
  if (centres != nullptr) std::ranges::sort(*centres);
  return roles;
}

void CheckOperationAllowed(const Caller& caller, const Permission* permission,
                           std::string_view class_id, std::string_view operation,
                           bool serve_all_operations) {
  const std::string name = std::string(class_id) + "." + std::string(operation);
  if (permission == nullptr || !permission->served) {
    if (serve_all_operations && caller.is_api_token) return;
    Refuse(name + " is not served over HTTP" +
           (serve_all_operations ? std::string(" to signed-in people")
                                 : std::string(" ([host] serve_all_operations is off)")));
  }
  if (caller.IsUnrestricted()) return;
  // Everybody with a login may act as the customer of what he filed (the scope checks that).
  if (!caller.is_prospect && PermissionNamesRole(*permission, Role::kCustomer)) return;
  for (Role role : caller.roles) {
    if (PermissionNamesRole(*permission, role)) return;
  }
  Refuse((caller.is_prospect ? std::string("a prospect") : "user " + caller.login) +
         " may not call " + name);
}

void AuthorizeArguments(const Caller& caller, const Permission& permission, Dictionary& args) {
  if (caller.IsUnrestricted()) return;
  std::string originator;
  if (!permission.request.empty()) {
    const RequestScope scope = ScopeOf(caller, permission.roles);
    auto connection = GetHeliqConnection();
    for (int32_t id : RequestNumbers(permission, args)) {
      const std::optional<RequestRow> row = LoadRequest(*connection, id);
      // An unknown number is refused like another's request: the answer must not tell which
      // numbers exist.
      if (!row || !InScope(scope, *row)) {
        Refuse(Name(permission) + " on request " + std::to_string(id) +
               ": not a request of yours or of your centre");
      }
      originator = row->originator;
    }
  }
  if (!permission.acting_user.empty()) {
    Write(args, permission.acting_user, Variant(caller.is_prospect ? caller.email : caller.login));
  }
  if (!permission.originator.empty()) Write(args, permission.originator, Variant(originator));
}

void CheckMaySeeRequest(const Caller& caller, int32_t id) {
  if (caller.IsUnrestricted()) return;
  const bool visible = RunUnitOfWork(
      [&] {
        auto connection = GetHeliqConnection();
        std::optional<RequestRow> row = LoadRequest(*connection, id);
        if (!row) row = LoadRequest(*connection, id, kSelectArchivedRequest);
        return row.has_value() && InScope(ScopeFor(caller), *row);
      },
      true);
  if (!visible) {
    Refuse("request " + std::to_string(id) + " is not a request of yours or of your centre");
  }
}

void ForceRequestOwner(const Caller& caller, Dictionary& columns) {
  if (caller.IsUnrestricted()) return;
  if (caller.is_prospect) {
    columns.Set("Q_ORIGINATOR", Variant::Null());
    columns.Set("EMAILID", Variant(caller.email));
    columns.Set("PROSPECT", Variant(1));
  } else {
    columns.Set("Q_ORIGINATOR", Variant(caller.login));
    columns.Set("EMAILID", Variant::Null());
    columns.Set("PROSPECT", Variant(0));
  }
}

OperationSpec AuthorizedOperation(const Caller& caller, const OperationSpec& spec,
                                  bool serve_all_operations) {
  const Permission* permission = FindPermission(spec.class_id, spec.name);
  CheckOperationAllowed(caller, permission, spec.class_id, spec.name, serve_all_operations);
  OperationSpec authorized = spec;
  if (caller.IsUnrestricted()) return authorized;
  authorized.invoke = [caller, permission, &spec](Dictionary& args) {
    AuthorizeArguments(caller, *permission, args);
    return spec.invoke(args);
  };
  return authorized;
}

}  // namespace heliq
