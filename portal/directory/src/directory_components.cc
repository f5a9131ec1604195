#include "portal/directory/directory_components.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/directory.h"
#include "common/lookups.h"
#include "platform/com_error.h"
#include "platform/configuration.h"
#include "platform/text.h"
#include "portal/directory/directory_common.h"
#include "portal/directory/directory_store.h"
#include "portal/ldap/ldap_components.h"

namespace heliq {
namespace {

constexpr std::string_view kMembershipSection = "membership";

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// Compares without regard to (ASCII) case; "*" in `pattern` matches any run of characters.
bool Matches(std::string_view pattern, std::string_view text) {
  size_t p = 0, t = 0;
  size_t star = std::string_view::npos, resume = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = t;
    } else if (p < pattern.size() && Lower(pattern[p]) == Lower(text[t])) {
      ++p;
      ++t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

// Constant-time comparison, so that a bind does not reveal how much of a password was right.
bool SameSecret(std::string_view a, std::string_view b) {
  unsigned char difference = a.size() == b.size() ? 0 : 1;
  const size_t length = std::max(a.size(), b.size());
  for (size_t i = 0; i < length; ++i) {
    const char x = i < a.size() ? a[i] : '\0';
    const char y = i < b.size() ? b[i] : '\0';
    difference |= static_cast<unsigned char>(x ^ y);
  }
  return difference == 0;
}

// Checks a bind against the configured membership account (see the header). The error names the
// account, never a password.
void CheckBind(std::string_view class_id, std::string_view bind_user,
               std::string_view bind_password) {
  const std::string account = SettingValue(kMembershipSection, "account");
  if (account.empty()) return;
  const std::string expected =
      MembershipBindName(account, SettingValue(kMembershipSection, "root"));
  const bool user_matches = EqualsIgnoreCase(bind_user, expected);
  const bool password_matches =
      SameSecret(bind_password, SettingValue(kMembershipSection, "password"));
  if (!user_matches || !password_matches) {
    throw ComError(err::kUnauthorized, std::string(class_id),
                   "the directory refused to bind account '" + std::string(bind_user) +
                       "': wrong account or password");
  }
}

// The distinguished name of a member: its login below the configured directory root.
std::string DistinguishedName(const DirectoryUser& user, const std::string& root) {
  return "cn=" + user.login + (root.empty() ? "" : "," + root);
}

class DirectoryMembershipUser final : public MembershipUser {
 public:
  void SetServerInfo(const std::string& config_path) override {
    StoreServerInfo(kMembershipUserClassId, config_path, server_info_);
  }

  void BindAs(std::string_view login, std::string_view bind_user,
              std::string_view bind_password) override {
    user_.reset();
    RequireServerInfo(kMembershipUserClassId, server_info_);
    CheckBind(kMembershipUserClassId, bind_user, bind_password);
    std::optional<DirectoryUser> user = DirectoryStore::FromSettings().FindUser(login);
    if (!user) {
      DirectoryBadInput(kMembershipUserClassId,
                        "the directory holds no user '" + std::string(login) + "'");
    }
    user_ = std::move(user);
  }

  std::string Login() const override { return Bound().login; }
  std::string GivenName() const override { return Bound().given_name; }
  std::string Surname() const override { return Bound().surname; }
  std::string Mail() const override { return Bound().mail; }
  std::string LanguageId() const override { return Bound().language_id; }
  std::string Country() const override { return Bound().country; }
  std::string BusinessPartnerId() const override { return Bound().business_partner_id; }
  std::string RegistrationSet() const override { return Bound().registration_set; }
  std::string EngineerCode() const override { return Bound().engineer_code; }

  bool IsInRole(int32_t role) const override {
    const auto& roles = Bound().roles;
    return std::find(roles.begin(), roles.end(), role) != roles.end();
  }

 private:
  const DirectoryUser& Bound() const {
    if (!user_) {
      DirectoryBadInput(kMembershipUserClassId, "the user object is not bound: call BindAs first");
    }
    return *user_;
  }

  std::string server_info_;
  std::optional<DirectoryUser> user_;
};

class DirectoryMembershipMembers final : public MembershipMembers {
 public:
  void SetServerInfo(const std::string& config_path) override {
    StoreServerInfo(kMembershipMembersClassId, config_path, server_info_);
  }

  void BindAs(std::string_view bind_user, std::string_view bind_password) override {
    store_.reset();
    RequireServerInfo(kMembershipMembersClassId, server_info_);
    CheckBind(kMembershipMembersClassId, bind_user, bind_password);
    store_ = DirectoryStore::FromSettings();
  }

  MemberTable ListRoleMembers(int32_t role, std::string_view attributes) override {
    const auto columns = Columns(attributes);
    return Table(columns, Store().RoleMembers(role));
  }

  MemberTable SearchMembers(const std::vector<std::string>& filters,
                            std::string_view attributes) override {
    const auto columns = Columns(attributes);
    const std::vector<MemberFilter> parsed = ParseMemberFilters(kMembershipMembersClassId, filters);
    // An empty value names nothing: no member matches it.
    for (const auto& filter : parsed) {
      if (filter.value.empty()) return Table(columns, {});
    }
    // Let the database narrow the candidates by an exact login or engineer code.
    std::vector<DirectoryUser> candidates;
    auto exact = [&](std::string DirectoryUser::*field) -> const MemberFilter* {
      for (const auto& filter : parsed) {
        if (filter.attribute->field == field && filter.value.find('*') == std::string::npos) {
          return &filter;
        }
      }
      return nullptr;
    };
    if (const MemberFilter* code = exact(&DirectoryUser::engineer_code)) {
      candidates = Store().UsersWithEngineerCode(code->value);
    } else if (const MemberFilter* login = exact(&DirectoryUser::login)) {
      if (auto user = Store().FindUser(login->value)) candidates.push_back(std::move(*user));
    } else {
      candidates = Store().ListUsers();
    }
    std::vector<DirectoryUser> found;
    for (auto& user : candidates) {
      const bool all = std::all_of(parsed.begin(), parsed.end(), [&](const MemberFilter& filter) {
        const std::string& value = user.*(filter.attribute->field);
        return !value.empty() && Matches(filter.value, value);
      });
      if (all) found.push_back(std::move(user));
    }
    return Table(columns, found);
  }

 private:
  const DirectoryStore& Store() const {
    if (!store_) {
      DirectoryBadInput(kMembershipMembersClassId,
                        "the members object is not bound: call BindAs first");
    }
    return *store_;
  }

  static std::vector<const DirectoryAttribute*> Columns(std::string_view attributes) {
    return MemberColumns(kMembershipMembersClassId, attributes);
  }

  static MemberTable Table(const std::vector<const DirectoryAttribute*>& extra,
                           const std::vector<DirectoryUser>& users) {
    const std::string root = SettingValue(kMembershipSection, "root");
    std::vector<std::string> dns;
    dns.reserve(users.size());
    for (const auto& user : users) dns.push_back(DistinguishedName(user, root));
    return BuildMemberTable(extra, users, dns);
  }

  std::string server_info_;
  std::optional<DirectoryStore> store_;
};

class DirectoryPortalUser final : public PortalUser {
 public:
  bool UserExists(std::string_view login) override {
    return DirectoryStore::FromSettings().FindUser(login).has_value();
  }

  std::string GetEngineerCode(std::string_view login) override {
    auto user = DirectoryStore::FromSettings().FindUser(login);
    return user ? user->engineer_code : std::string();
  }
};

class EmbeddedDirectorySignIn final : public DirectorySignIn {
 public:
  std::string CheckPassword(std::string_view login, std::string_view password) override {
    return DirectoryStore::FromSettings().CheckPassword(login, password).value_or("");
  }
};

class DirectoryBusinessPartner final : public BusinessPartner {
 public:
  std::string GetBusinessPartnerName(int32_t business_partner) override {
    return DirectoryStore::FromSettings().PartnerName(business_partner).value_or("");
  }
};

// The embedded object or the LDAP one, as [directory] kind says when the object is created: a
// changed setting takes effect for the next object.
template <typename Embedded, typename Interface>
ComponentFactory ByKind(std::unique_ptr<Interface> (*ldap)()) {
  return [ldap]() -> std::unique_ptr<Component> {
    if (DirectoryIsLdap()) return ldap();
    return std::make_unique<Embedded>();
  };
}

}  // namespace

void RegisterDirectoryComponents() {
  auto& registry = ComponentRegistry::Global();
  registry.Register(kMembershipUserClassId,
                    ByKind<DirectoryMembershipUser>(&NewLdapMembershipUser));
  registry.Register(kMembershipMembersClassId,
                    ByKind<DirectoryMembershipMembers>(&NewLdapMembershipMembers));
  registry.Register(kPortalUserClassId, ByKind<DirectoryPortalUser>(&NewLdapPortalUser));
  registry.Register(kBusinessPartnerClassId,
                    ByKind<DirectoryBusinessPartner>(&NewLdapBusinessPartner));
  registry.Register(kDirectorySignInClassId,
                    ByKind<EmbeddedDirectorySignIn>(&NewLdapDirectorySignIn));
}

}  // namespace heliq
