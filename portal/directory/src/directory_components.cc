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
#include "portal/directory/directory_store.h"

namespace heliq {
namespace {

constexpr std::string_view kMembershipSection = "membership";

// The attributes a member table or a search filter may name, and where each lives on a user.
struct Attribute {
  std::string_view name;
  std::string DirectoryUser::*field;
};

const Attribute kAttributes[] = {
    {"cn", &DirectoryUser::login},
    {"givenname", &DirectoryUser::given_name},
    {"sn", &DirectoryUser::surname},
    {"mail", &DirectoryUser::mail},
    {"languageid", &DirectoryUser::language_id},
    {"c", &DirectoryUser::country},
    {"BusinessPartnerID", &DirectoryUser::business_partner_id},
    {"registrationset", &DirectoryUser::registration_set},
    {"EmployeeNumber", &DirectoryUser::engineer_code},
};

// Every member table starts with these columns, in this order.
constexpr std::string_view kFixedColumns[] = {"dn", "mail", "cn"};

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

[[noreturn]] void BadInput(std::string_view class_id, std::string description) {
  throw ComError(err::kInvalidProcedureCall, std::string(class_id), std::move(description));
}

const Attribute& FindAttribute(std::string_view class_id, std::string_view name) {
  for (const auto& attribute : kAttributes) {
    if (EqualsIgnoreCase(attribute.name, name)) return attribute;
  }
  BadInput(class_id, "the directory has no attribute '" + std::string(name) + "'");
}

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

void RequireServerInfo(std::string_view class_id, const std::string& server_info) {
  if (server_info.empty()) {
    BadInput(class_id, "no site configuration is set: SetServerInfo must precede BindAs");
  }
}

void StoreServerInfo(std::string_view class_id, const std::string& path, std::string& target) {
  if (TrimSpace(path).empty()) BadInput(class_id, "the site configuration path is empty");
  target = path;
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
      BadInput(kMembershipUserClassId, "the directory holds no user '" + std::string(login) + "'");
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
    if (!user_) BadInput(kMembershipUserClassId, "the user object is not bound: call BindAs first");
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
    struct Filter {
      const Attribute* attribute;
      std::string value;
    };
    std::vector<Filter> parsed;
    for (const auto& text : filters) {
      std::string_view filter = TrimSpace(text);
      if (filter.size() >= 2 && filter.front() == '(' && filter.back() == ')') {
        filter = TrimSpace(filter.substr(1, filter.size() - 2));
      }
      const size_t equals = filter.find('=');
      if (equals == std::string_view::npos) {
        BadInput(kMembershipMembersClassId,
                 "member search filter '" + text + "' is not of the form attribute=value");
      }
      parsed.push_back(
          {&FindAttribute(kMembershipMembersClassId, TrimSpace(filter.substr(0, equals))),
           std::string(TrimSpace(filter.substr(equals + 1)))});
    }
    // An empty value names nothing: no member matches it.
    for (const auto& filter : parsed) {
      if (filter.value.empty()) return Table(columns, {});
    }
    // Let the database narrow the candidates by an exact login or engineer code.
    std::vector<DirectoryUser> candidates;
    auto exact = [&](std::string DirectoryUser::*field) -> const Filter* {
      for (const auto& filter : parsed) {
        if (filter.attribute->field == field && filter.value.find('*') == std::string::npos) {
          return &filter;
        }
      }
      return nullptr;
    };
    if (const Filter* code = exact(&DirectoryUser::engineer_code)) {
      candidates = Store().UsersWithEngineerCode(code->value);
    } else if (const Filter* login = exact(&DirectoryUser::login)) {
      if (auto user = Store().FindUser(login->value)) candidates.push_back(std::move(*user));
    } else {
      candidates = Store().ListUsers();
    }
    std::vector<DirectoryUser> found;
    for (auto& user : candidates) {
      const bool all = std::all_of(parsed.begin(), parsed.end(), [&](const Filter& filter) {
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
      BadInput(kMembershipMembersClassId, "the members object is not bound: call BindAs first");
    }
    return *store_;
  }

  // The fixed columns, then the attributes asked for (unknown names raise error 5; names already
  // among the columns are not repeated).
  static std::vector<const Attribute*> Columns(std::string_view attributes) {
    std::vector<const Attribute*> extra;
    size_t start = 0;
    while (start <= attributes.size()) {
      size_t comma = attributes.find(',', start);
      if (comma == std::string_view::npos) comma = attributes.size();
      const std::string_view name = TrimSpace(attributes.substr(start, comma - start));
      start = comma + 1;
      if (name.empty()) continue;
      const Attribute* attribute = &FindAttribute(kMembershipMembersClassId, name);
      const bool fixed = std::any_of(std::begin(kFixedColumns), std::end(kFixedColumns),
                                     [&](std::string_view c) { return c == attribute->name; });
      if (!fixed && std::find(extra.begin(), extra.end(), attribute) == extra.end()) {
        extra.push_back(attribute);
      }
    }
    return extra;
  }

  static MemberTable Table(const std::vector<const Attribute*>& extra,
                           const std::vector<DirectoryUser>& users) {
    std::vector<std::string> columns(std::begin(kFixedColumns), std::end(kFixedColumns));
    for (const Attribute* attribute : extra) columns.emplace_back(attribute->name);
    const std::string root = SettingValue(kMembershipSection, "root");
    std::vector<std::vector<std::string>> rows;
    rows.reserve(users.size());
    for (const auto& user : users) {
      std::vector<std::string> row = {DistinguishedName(user, root), user.mail, user.login};
      for (const Attribute* attribute : extra) row.push_back(user.*(attribute->field));
      rows.push_back(std::move(row));
    }
    return MemberTable(std::move(columns), std::move(rows));
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

}  // namespace

void RegisterDirectoryComponents() {
  auto& registry = ComponentRegistry::Global();
  registry.Register(kMembershipUserClassId,
                    [] { return std::make_unique<DirectoryMembershipUser>(); });
  registry.Register(kMembershipMembersClassId,
                    [] { return std::make_unique<DirectoryMembershipMembers>(); });
  registry.Register(kPortalUserClassId, [] { return std::make_unique<DirectoryPortalUser>(); });
  registry.Register(kBusinessPartnerClassId,
                    [] { return std::make_unique<DirectoryBusinessPartner>(); });
  registry.Register(kDirectorySignInClassId,
                    [] { return std::make_unique<EmbeddedDirectorySignIn>(); });
}

}  // namespace heliq
