#include "portal/directory/directory_store.h"

#include <sodium.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>
#include <utility>

#include "common/heliq_utilities.h"
#include "platform/com_error.h"
#include "platform/configuration.h"
#include "platform/text.h"

namespace heliq {
namespace {

constexpr std::string_view kSource = "Directory";

constexpr std::string_view kSelectUser =
    "SELECT LOGIN, GIVENNAME, SURNAME, MAIL, LANGUAGEID, COUNTRY, BUSINESSPARTNERID, "
    "REGISTRATIONSET, ENGINEERCODE FROM DIR_USER WHERE LOGIN = ?";
constexpr std::string_view kSelectUsers =
    "SELECT LOGIN, GIVENNAME, SURNAME, MAIL, LANGUAGEID, COUNTRY, BUSINESSPARTNERID, "
    "REGISTRATIONSET, ENGINEERCODE FROM DIR_USER ORDER BY LOGIN";
constexpr std::string_view kSelectRoleMembers =
    "SELECT U.LOGIN, U.GIVENNAME, U.SURNAME, U.MAIL, U.LANGUAGEID, U.COUNTRY, "
    "U.BUSINESSPARTNERID, U.REGISTRATIONSET, U.ENGINEERCODE FROM DIR_USER U "
    "JOIN DIR_USER_ROLE R ON R.LOGIN = U.LOGIN WHERE R.ROLE_ID = ? ORDER BY R.LOGIN";
constexpr std::string_view kSelectUsersByEngineerCode =
    "SELECT LOGIN, GIVENNAME, SURNAME, MAIL, LANGUAGEID, COUNTRY, BUSINESSPARTNERID, "
    "REGISTRATIONSET, ENGINEERCODE FROM DIR_USER WHERE ENGINEERCODE = ? ORDER BY LOGIN";
constexpr std::string_view kSelectRolesOfUser =
    "SELECT ROLE_ID FROM DIR_USER_ROLE WHERE LOGIN = ? ORDER BY ROLE_ID";
constexpr std::string_view kSelectAllRoles =
    "SELECT LOGIN, ROLE_ID FROM DIR_USER_ROLE ORDER BY LOGIN, ROLE_ID";
constexpr std::string_view kCountRole =
    "SELECT COUNT(*) FROM DIR_USER_ROLE WHERE LOGIN = ? AND ROLE_ID = ?";
constexpr std::string_view kInsertUser =
    "INSERT INTO DIR_USER (LOGIN, GIVENNAME, SURNAME, MAIL, LANGUAGEID, COUNTRY, "
    "BUSINESSPARTNERID, REGISTRATIONSET, ENGINEERCODE) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)";
constexpr std::string_view kInsertRole = "INSERT INTO DIR_USER_ROLE (LOGIN, ROLE_ID) VALUES (?, ?)";
constexpr std::string_view kDeleteRole =
    "DELETE FROM DIR_USER_ROLE WHERE LOGIN = ? AND ROLE_ID = ?";
constexpr std::string_view kSelectPasswordHash =
    "SELECT LOGIN, PASSWORDHASH FROM DIR_USER WHERE LOGIN = ?";
constexpr std::string_view kUpdatePasswordHash =
    "UPDATE DIR_USER SET PASSWORDHASH = ? WHERE LOGIN = ?";
constexpr std::string_view kSelectPartner = "SELECT NAME FROM DIR_PARTNER WHERE BP_ID = ?";
constexpr std::string_view kSelectPartners = "SELECT BP_ID, NAME FROM DIR_PARTNER ORDER BY BP_ID";
constexpr std::string_view kInsertPartner = "INSERT INTO DIR_PARTNER (BP_ID, NAME) VALUES (?, ?)";

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool IsWholeNumber(std::string_view text) {
  return !text.empty() && text.size() <= 9 && std::all_of(text.begin(), text.end(), [](char c) {
    return std::isdigit(static_cast<unsigned char>(c));
  });
}

[[noreturn]] void BadInput(std::string description) {
  throw ComError(err::kInvalidProcedureCall, std::string(kSource), std::move(description));
}

void CheckRole(int32_t role) {
  if (role <= 0) BadInput("a role is a positive number, not " + std::to_string(role));
}

// A text that is blank is stored as null, so that "no value" has one form.
Variant NullIfBlank(std::string_view text) {
  text = TrimSpace(text);
  return text.empty() ? Variant::Null() : Variant(text);
}

std::string Text(const std::vector<Variant>& row, size_t column) {
  return row[column].ToTextOrEmpty();
}

DirectoryUser UserOf(const std::vector<Variant>& row) {
  DirectoryUser user;
  user.login = Text(row, 0);
  user.given_name = Text(row, 1);
  user.surname = Text(row, 2);
  user.mail = Text(row, 3);
  user.language_id = Text(row, 4);
  user.country = Text(row, 5);
  user.business_partner_id = Text(row, 6);
  user.registration_set = Text(row, 7);
  user.engineer_code = Text(row, 8);
  return user;
}

std::vector<int32_t> RolesOf(Session& session, std::string_view login) {
  std::vector<int32_t> roles;
  for (const auto& row : session.Query(kSelectRolesOfUser, {Variant(login)}).rows) {
    roles.push_back(row[0].ToLong());
  }
  return roles;
}

struct HashCost {
  std::string_view name;
  unsigned long long ops;
  size_t memory;
};

constexpr HashCost kHashCosts[] = {
    {"interactive", crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE},
    {"moderate", crypto_pwhash_OPSLIMIT_MODERATE, crypto_pwhash_MEMLIMIT_MODERATE},
    {"sensitive", crypto_pwhash_OPSLIMIT_SENSITIVE, crypto_pwhash_MEMLIMIT_SENSITIVE},
    {"minimum", crypto_pwhash_OPSLIMIT_MIN, crypto_pwhash_MEMLIMIT_MIN},
};

const HashCost& ConfiguredCost() {
  const std::string name = SettingValue("directory", "password_cost");
  if (name.empty()) return kHashCosts[0];
  for (const auto& cost : kHashCosts) {
    if (EqualsIgnoreCase(cost.name, name)) return cost;
  }
  BadInput("[directory] password_cost is '" + name +
           "'; use interactive, moderate, sensitive or minimum");
}

void InitializeSodium() {
  if (sodium_init() < 0) {
    throw ComError(err::kCannotCreateComponent, std::string(kSource), "libsodium cannot start");
  }
}

std::string HashPassword(std::string_view password, const HashCost& cost) {
  InitializeSodium();
  char hash[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str(hash, password.data(), password.size(), cost.ops, cost.memory) != 0) {
    throw ComError(err::kInvalidProcedureCall, std::string(kSource),
                   "not enough memory to hash a password at cost " + std::string(cost.name));
  }
  return hash;
}

bool Verify(const std::string& hash, std::string_view password) {
  InitializeSodium();
  return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

// Verified against when a user is unknown or has no password, so that such a check costs what a
// real one does. Hashed once per cost on first use.
const std::string& DecoyHash(const HashCost& cost) {
  static std::mutex mutex;
  static std::map<std::string_view, std::string> decoys;
  std::lock_guard lock(mutex);
  std::string& decoy = decoys[cost.name];
  if (decoy.empty()) {
    unsigned char random[16];
    InitializeSodium();
    randombytes_buf(random, sizeof random);
    decoy =
        HashPassword(std::string_view(reinterpret_cast<const char*>(random), sizeof random), cost);
  }
  return decoy;
}

}  // namespace

DirectoryStore DirectoryStore::FromSettings() {
  std::string connection = SettingValue("connections", "Directory");
  if (connection.empty()) connection = SettingValue("connections", "Heliq");
  if (connection.empty()) {
    throw ComError(err::kDbConnection, std::string(kSource),
                   "no database is configured for the directory ([connections] Directory)");
  }
  return DirectoryStore(std::move(connection), GetInstallDir());
}

DirectoryStore::DirectoryStore(std::string connection_string, std::string base_dir)
    : connection_string_(std::move(connection_string)), base_dir_(std::move(base_dir)) {}

PooledSession DirectoryStore::Acquire() const {
  return SessionPool::For(connection_string_, base_dir_)->Acquire();
}

std::vector<DirectoryUser> DirectoryStore::Users(std::string_view sql, const Params& params) const {
  PooledSession session = Acquire();
  std::vector<DirectoryUser> users;
  for (const auto& row : session->Query(sql, params).rows) users.push_back(UserOf(row));
  return users;
}

std::optional<DirectoryUser> DirectoryStore::FindUser(std::string_view login) const {
  PooledSession session = Acquire();
  const ResultSet rows = session->Query(kSelectUser, {Variant(login)});
  if (rows.rows.empty()) return std::nullopt;
  DirectoryUser user = UserOf(rows.rows[0]);
  user.roles = RolesOf(*session.get(), user.login);
  return user;
}

std::vector<DirectoryUser> DirectoryStore::ListUsers() const {
  PooledSession session = Acquire();
  std::vector<DirectoryUser> users;
  for (const auto& row : session->Query(kSelectUsers, {}).rows) users.push_back(UserOf(row));
  std::map<std::string, std::vector<int32_t>> roles;  // by lower-case login
  for (const auto& row : session->Query(kSelectAllRoles, {}).rows) {
    roles[Lower(row[0].ToTextOrEmpty())].push_back(row[1].ToLong());
  }
  for (auto& user : users) {
    if (auto held = roles.find(Lower(user.login)); held != roles.end()) {
      user.roles = std::move(held->second);
    }
  }
  return users;
}

std::vector<DirectoryUser> DirectoryStore::RoleMembers(int32_t role) const {
  return Users(kSelectRoleMembers, {Variant(role)});
}

std::vector<DirectoryUser> DirectoryStore::UsersWithEngineerCode(std::string_view code) const {
  return Users(kSelectUsersByEngineerCode, {Variant(code)});
}

void DirectoryStore::AddUser(const DirectoryUser& user) {
  const std::string login(TrimSpace(user.login));
  if (login.empty()) BadInput("a user needs a login");
  const std::string language(TrimSpace(user.language_id));
  if (!language.empty() && !IsWholeNumber(language)) {
    BadInput("the language of a user is a locale number such as 1033, not '" + language + "'");
  }
  for (int32_t role : user.roles) CheckRole(role);
  std::vector<int32_t> roles = user.roles;
  std::sort(roles.begin(), roles.end());
  roles.erase(std::unique(roles.begin(), roles.end()), roles.end());

  PooledSession session = Acquire();
  session->Begin(true);
  if (!session->Query(kSelectUser, {Variant(login)}).rows.empty()) {
    throw ComError(err::kDbConstraint, std::string(kSource),
                   "the directory already holds a user '" + login + "'");
  }
  const std::string code(TrimSpace(user.engineer_code));
  if (!code.empty()) {
    const ResultSet owners = session->Query(kSelectUsersByEngineerCode, {Variant(code)});
    if (!owners.rows.empty()) {
      throw ComError(err::kDbConstraint, std::string(kSource),
                     "engineer code '" + code + "' already belongs to user '" +
                         owners.rows[0][0].ToTextOrEmpty() + "'");
    }
  }
  session->Execute(kInsertUser,
                   {Variant(login), NullIfBlank(user.given_name), NullIfBlank(user.surname),
                    NullIfBlank(user.mail), NullIfBlank(language), NullIfBlank(user.country),
                    NullIfBlank(user.business_partner_id), NullIfBlank(user.registration_set),
                    NullIfBlank(code)});
  for (int32_t role : roles) session->Execute(kInsertRole, {Variant(login), Variant(role)});
  session->Commit();
}

void DirectoryStore::AddRole(std::string_view login, int32_t role) {
  CheckRole(role);
  PooledSession session = Acquire();
  session->Begin(true);
  const ResultSet found = session->Query(kSelectUser, {Variant(login)});
  if (found.rows.empty()) BadInput("the directory holds no user '" + std::string(login) + "'");
  // The role row carries the login as the user row spells it.
  const std::string stored = found.rows[0][0].ToTextOrEmpty();
  const ResultSet held = session->Query(kCountRole, {Variant(stored), Variant(role)});
  if (held.rows[0][0].ToLong() == 0) {
    session->Execute(kInsertRole, {Variant(stored), Variant(role)});
  }
  session->Commit();
}

void DirectoryStore::RemoveRole(std::string_view login, int32_t role) {
  PooledSession session = Acquire();
  session->Begin(true);
  if (session->Query(kSelectUser, {Variant(login)}).rows.empty()) {
    BadInput("the directory holds no user '" + std::string(login) + "'");
  }
  if (session->Execute(kDeleteRole, {Variant(login), Variant(role)}) == 0) {
    BadInput("user '" + std::string(login) + "' does not hold role " + std::to_string(role));
  }
  session->Commit();
}

void DirectoryStore::SetPassword(std::string_view login, std::string_view password) {
  if (password.empty()) BadInput("a password must not be empty");
  if (password.size() > kMaxPasswordBytes) {
    BadInput("a password is at most " + std::to_string(kMaxPasswordBytes) + " bytes long");
  }
  const std::string hash = HashPassword(password, ConfiguredCost());
  PooledSession session = Acquire();
  if (session->Execute(kUpdatePasswordHash, {Variant(hash), Variant(login)}) == 0) {
    BadInput("the directory holds no user '" + std::string(login) + "'");
  }
}

std::optional<std::string> DirectoryStore::CheckPassword(std::string_view login,
                                                         std::string_view password) const {
  if (password.empty() || password.size() > kMaxPasswordBytes) return std::nullopt;
  std::optional<std::string> stored_login;
  std::string hash;
  {
    // Back to the pool before the slow part.
    PooledSession session = Acquire();
    const ResultSet rows = session->Query(kSelectPasswordHash, {Variant(login)});
    if (!rows.rows.empty() && !rows.rows[0][1].IsNull()) {
      stored_login = rows.rows[0][0].ToTextOrEmpty();
      hash = rows.rows[0][1].ToTextOrEmpty();
    }
  }
  if (!stored_login) {
    Verify(DecoyHash(ConfiguredCost()), password);
    return std::nullopt;
  }
  if (!Verify(hash, password)) return std::nullopt;
  return stored_login;
}

std::optional<std::string> DirectoryStore::PartnerName(int32_t id) const {
  PooledSession session = Acquire();
  const ResultSet rows = session->Query(kSelectPartner, {Variant(id)});
  if (rows.rows.empty()) return std::nullopt;
  return rows.rows[0][0].ToTextOrEmpty();
}

std::vector<DirectoryPartner> DirectoryStore::ListPartners() const {
  PooledSession session = Acquire();
  std::vector<DirectoryPartner> partners;
  for (const auto& row : session->Query(kSelectPartners, {}).rows) {
    partners.push_back({row[0].ToLong(), row[1].ToTextOrEmpty()});
  }
  return partners;
}

void DirectoryStore::AddPartner(int32_t id, std::string_view name) {
  if (id <= 0) BadInput("a business partner number is positive, not " + std::to_string(id));
  if (TrimSpace(name).empty()) BadInput("business partner " + std::to_string(id) + " needs a name");
  PooledSession session = Acquire();
  session->Begin(true);
  if (!session->Query(kSelectPartner, {Variant(id)}).rows.empty()) {
    throw ComError(err::kDbConstraint, std::string(kSource),
                   "the directory already holds business partner " + std::to_string(id));
  }
  session->Execute(kInsertPartner, {Variant(id), Variant(TrimSpace(name))});
  session->Commit();
}

}  // namespace heliq
