#include "portal/ldap/ldap_components.h"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/lookups.h"
#include "platform/com_error.h"
#include "platform/configuration.h"
#include "platform/database.h"
#include "platform/text.h"
#include "portal/directory/directory_common.h"
#include "portal/directory/directory_store.h"
#include "portal/ldap/ldap_connection.h"

namespace heliq {
namespace {

constexpr std::string_view kMembershipSection = "membership";

// The LDAP attributes to read for a person: every mapped one.
std::vector<std::string> PersonAttributes(const LdapSettings& settings) {
  std::vector<std::string> names;
  for (const auto& attribute : DirectoryAttributes()) {
    names.push_back(settings.attributes.*(attribute.field));
  }
  return names;
}

DirectoryUser PersonOf(const LdapSettings& settings, const LdapEntry& entry) {
  DirectoryUser user;
  for (const auto& attribute : DirectoryAttributes()) {
    user.*(attribute.field) = entry.First(settings.attributes.*(attribute.field));
  }
  return user;
}

std::string And(const std::vector<std::string>& parts) {
  std::string filter = "(&";
  for (const auto& part : parts) filter += part;
  return filter + ")";
}

std::string Equals(std::string_view attribute, std::string_view value, bool keep_wildcards) {
  return "(" + std::string(attribute) + "=" + EscapeFilterValue(value, keep_wildcards) + ")";
}

// The group filter of the settings for the group `group_dn`.
std::string GroupFilter(const LdapSettings& settings, std::string_view group_dn) {
  std::string filter = settings.group_filter;
  const std::string escaped = EscapeFilterValue(group_dn);
  for (size_t at = filter.find("{group}"); at != std::string::npos;
       at = filter.find("{group}", at + escaped.size())) {
    filter.replace(at, 7, escaped);
  }
  return filter;
}

// A bind with the service account, refused as error 1101 naming the account.
void BindService(std::string_view class_id, LdapConnection& connection, std::string_view bind_user,
                 std::string_view bind_password) {
  if (!connection.Bind(bind_user, bind_password)) {
    throw ComError(err::kUnauthorized, std::string(class_id),
                   "the directory refused to bind account '" + std::string(bind_user) +
                       "': wrong account or password" +
                       (bind_password.empty() ? " (no password is set)" : ""));
  }
}

// A connection bound with the [membership] account of the configuration.
LdapConnection ServiceConnection(std::string_view class_id, const LdapSettings& settings) {
  LdapConnection connection = LdapConnection::Open(settings, class_id);
  BindService(class_id, connection,
              MembershipBindName(SettingValue(kMembershipSection, "account"),
                                 SettingValue(kMembershipSection, "root")),
              SettingValue(kMembershipSection, "password"));
  return connection;
}

// The people whose login is `login` (escaped in full: a login is never a pattern).
std::vector<LdapEntry> FindPeople(LdapConnection& connection, const LdapSettings& settings,
                                  std::string_view login) {
  const std::string key(TrimSpace(login));
  if (key.empty()) return {};
  return connection.Search(
      settings.base_dn, LdapConnection::Scope::kSubtree,
      And({settings.user_filter, Equals(settings.attributes.login, key, false)}),
      PersonAttributes(settings));
}

// The one person with `login`, or nullopt. Two entries with one login are a directory fault the
// caller must hear of, not a coin toss.
std::optional<LdapEntry> FindPerson(std::string_view class_id, LdapConnection& connection,
                                    const LdapSettings& settings, std::string_view login) {
  std::vector<LdapEntry> found = FindPeople(connection, settings, login);
  if (found.empty()) return std::nullopt;
  if (found.size() > 1) {
    DirectoryBadInput(class_id, "the login '" + std::string(login) + "' names " +
                                    std::to_string(found.size()) + " directory entries");
  }
  return std::move(found.front());
}

// Members sorted by login, as the embedded directory orders them.
MemberTable TableOf(const LdapSettings& settings,
                    const std::vector<const DirectoryAttribute*>& extra,
                    std::vector<LdapEntry> entries) {
  std::vector<std::pair<DirectoryUser, std::string>> people;
  people.reserve(entries.size());
  for (auto& entry : entries) people.emplace_back(PersonOf(settings, entry), std::move(entry.dn));
  std::sort(people.begin(), people.end(),
            [](const auto& a, const auto& b) { return a.first.login < b.first.login; });
  std::vector<DirectoryUser> users;
  std::vector<std::string> dns;
  users.reserve(people.size());
  dns.reserve(people.size());
  for (auto& [user, dn] : people) {
    users.push_back(std::move(user));
    dns.push_back(std::move(dn));
  }
  return BuildMemberTable(extra, users, dns);
}

class LdapMembershipUser final : public MembershipUser {
 public:
  void SetServerInfo(const std::string& config_path) override {
    StoreServerInfo(kMembershipUserClassId, config_path, server_info_);
  }

  void BindAs(std::string_view login, std::string_view bind_user,
              std::string_view bind_password) override {
    bound_.reset();
    RequireServerInfo(kMembershipUserClassId, server_info_);
    LdapSettings settings = LdapSettings::Read(kMembershipUserClassId);
    LdapConnection connection = LdapConnection::Open(settings, kMembershipUserClassId);
    BindService(kMembershipUserClassId, connection, bind_user, bind_password);
    std::optional<LdapEntry> entry =
        FindPerson(kMembershipUserClassId, connection, settings, login);
    if (!entry) {
      DirectoryBadInput(kMembershipUserClassId,
                        "the directory holds no user '" + std::string(login) + "'");
    }
    DirectoryUser user = PersonOf(settings, *entry);
    bound_.emplace(
        Bound{std::move(settings), std::move(connection), std::move(entry->dn), std::move(user)});
  }

  std::string Login() const override { return Person().user.login; }
  std::string GivenName() const override { return Person().user.given_name; }
  std::string Surname() const override { return Person().user.surname; }
  std::string Mail() const override { return Person().user.mail; }
  std::string LanguageId() const override { return Person().user.language_id; }
  std::string Country() const override { return Person().user.country; }
  std::string BusinessPartnerId() const override { return Person().user.business_partner_id; }
  std::string RegistrationSet() const override { return Person().user.registration_set; }
  std::string EngineerCode() const override { return Person().user.engineer_code; }

  // Asks the server whether the bound entry matches the role's group filter, so that membership
  // means the same here as in ListRoleMembers (nested groups included where the filter says so).
  bool IsInRole(int32_t role) const override {
    Bound& bound = Person();
    const std::string group = bound.settings.RoleGroup(role);
    if (group.empty()) return false;
    return !bound.connection
                .Search(bound.dn, LdapConnection::Scope::kBase,
                        And({bound.settings.user_filter, GroupFilter(bound.settings, group)}), {})
                .empty();
  }

 private:
  struct Bound {
    LdapSettings settings;
    LdapConnection connection;
    std::string dn;
    DirectoryUser user;
  };

  Bound& Person() const {
    if (!bound_) {
      DirectoryBadInput(kMembershipUserClassId, "the user object is not bound: call BindAs first");
    }
    return *bound_;
  }

  std::string server_info_;
  // The connection answers IsInRole, which the interface declares const.
  mutable std::optional<Bound> bound_;
};

class LdapMembershipMembers final : public MembershipMembers {
 public:
  void SetServerInfo(const std::string& config_path) override {
    StoreServerInfo(kMembershipMembersClassId, config_path, server_info_);
  }

  void BindAs(std::string_view bind_user, std::string_view bind_password) override {
    bound_.reset();
    RequireServerInfo(kMembershipMembersClassId, server_info_);
    LdapSettings settings = LdapSettings::Read(kMembershipMembersClassId);
    LdapConnection connection = LdapConnection::Open(settings, kMembershipMembersClassId);
    BindService(kMembershipMembersClassId, connection, bind_user, bind_password);
    bound_.emplace(Bound{std::move(settings), std::move(connection)});
  }

  MemberTable ListRoleMembers(int32_t role, std::string_view attributes) override {
    const auto extra = MemberColumns(kMembershipMembersClassId, attributes);
    Bound& bound = Connected();
    const std::string group = bound.settings.RoleGroup(role);
    if (group.empty()) return BuildMemberTable(extra, {}, {});
    return TableOf(bound.settings, extra,
                   bound.connection.Search(
                       bound.settings.base_dn, LdapConnection::Scope::kSubtree,
                       And({bound.settings.user_filter, GroupFilter(bound.settings, group)}),
                       PersonAttributes(bound.settings)));
  }

  MemberTable SearchMembers(const std::vector<std::string>& filters,
                            std::string_view attributes) override {
    const auto extra = MemberColumns(kMembershipMembersClassId, attributes);
    const std::vector<MemberFilter> parsed = ParseMemberFilters(kMembershipMembersClassId, filters);
    Bound& bound = Connected();
    std::vector<std::string> parts = {bound.settings.user_filter};
    for (const auto& filter : parsed) {
      // An empty value names nothing: no member matches it.
      if (filter.value.empty()) return BuildMemberTable(extra, {}, {});
      parts.push_back(
          Equals(bound.settings.attributes.*(filter.attribute->field), filter.value, true));
    }
    return TableOf(bound.settings, extra,
                   bound.connection.Search(bound.settings.base_dn, LdapConnection::Scope::kSubtree,
                                           And(parts), PersonAttributes(bound.settings)));
  }

 private:
  struct Bound {
    LdapSettings settings;
    LdapConnection connection;
  };

  Bound& Connected() {
    if (!bound_) {
      DirectoryBadInput(kMembershipMembersClassId,
                        "the members object is not bound: call BindAs first");
    }
    return *bound_;
  }

  std::string server_info_;
  std::optional<Bound> bound_;
};

class LdapPortalUser final : public PortalUser {
 public:
  bool UserExists(std::string_view login) override { return Find(login).has_value(); }

  std::string GetEngineerCode(std::string_view login) override {
    const std::optional<DirectoryUser> user = Find(login);
    return user ? user->engineer_code : std::string();
  }

 private:
  static std::optional<DirectoryUser> Find(std::string_view login) {
    const LdapSettings settings = LdapSettings::Read(kPortalUserClassId);
    LdapConnection connection = ServiceConnection(kPortalUserClassId, settings);
    std::optional<LdapEntry> entry = FindPerson(kPortalUserClassId, connection, settings, login);
    if (!entry) return std::nullopt;
    return PersonOf(settings, *entry);
  }
};

class LdapBusinessPartner final : public BusinessPartner {
 public:
  std::string GetBusinessPartnerName(int32_t business_partner) override {
    const LdapSettings settings = LdapSettings::Read(kBusinessPartnerClassId);
    LdapConnection connection = ServiceConnection(kBusinessPartnerClassId, settings);
    const std::vector<LdapEntry> found = connection.Search(
        settings.partner_base, LdapConnection::Scope::kSubtree,
        And({settings.partner_filter,
             Equals(settings.partner_id_attribute, std::to_string(business_partner), false)}),
        {settings.partner_name_attribute});
    return found.empty() ? "" : found.front().First(settings.partner_name_attribute);
  }
};

class LdapDirectorySignIn final : public DirectorySignIn {
 public:
  std::string CheckPassword(std::string_view login, std::string_view password) override {
    // An empty password would make the bind below anonymous, which the server accepts.
    if (password.empty() || password.size() > kMaxPasswordBytes) return "";
    const LdapSettings settings = LdapSettings::Read(kDirectorySignInClassId);
    LdapConnection connection = ServiceConnection(kDirectorySignInClassId, settings);
    const std::vector<LdapEntry> found = FindPeople(connection, settings, login);
    // Two entries with one login: signing in as either would be a guess.
    if (found.size() != 1) return "";
    if (!connection.Bind(found.front().dn, password)) return "";
    return found.front().First(settings.attributes.login);
  }
};

}  // namespace

bool DirectoryIsLdap() {
  const std::string kind(TrimSpace(SettingValue("directory", "kind")));
  if (kind.empty() || EqualsIgnoreCase(kind, "embedded")) return false;
  if (EqualsIgnoreCase(kind, "ldap")) return true;
  throw ComError(err::kInvalidProcedureCall, "directory",
                 "[directory] kind = '" + kind + "' is not known: use \"embedded\" or \"ldap\"");
}

std::unique_ptr<MembershipUser> NewLdapMembershipUser() {
  return std::make_unique<LdapMembershipUser>();
}
std::unique_ptr<MembershipMembers> NewLdapMembershipMembers() {
  return std::make_unique<LdapMembershipMembers>();
}
std::unique_ptr<PortalUser> NewLdapPortalUser() { return std::make_unique<LdapPortalUser>(); }
std::unique_ptr<BusinessPartner> NewLdapBusinessPartner() {
  return std::make_unique<LdapBusinessPartner>();
}
std::unique_ptr<DirectorySignIn> NewLdapDirectorySignIn() {
  return std::make_unique<LdapDirectorySignIn>();
}

}  // namespace heliq
