// The embedded directory: users with their attributes and roles, and business partners, in tables
// of the "Directory" application's database (DIR_USER, DIR_USER_ROLE, DIR_PARTNER).
//
// The directory lies outside the unit of work: every operation borrows a session of its own
// (autocommit), reads or writes, and gives it back, whether or not a call is running on the
// thread. A write that changes several rows (a user with its roles) is one transaction: all or
// nothing. Logins compare without regard to case. Users' passwords are kept only as Argon2id
// hashes; no operation returns a hash or puts a password into an error or the log.
//
// Failures are ComErrors: err::kInvalidProcedureCall for bad input (an unknown user, a role that
// is not a positive number, a language that is not a number), err::kDbConstraint for a login,
// engineer code, role or business partner that already exists, and the database's own numbers.
//
// Thread safety: a store holds only its connection string; separate calls may run concurrently.
#ifndef HELIQ_PORTAL_DIRECTORY_DIRECTORY_STORE_H_
#define HELIQ_PORTAL_DIRECTORY_DIRECTORY_STORE_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/database.h"

namespace heliq {

struct DirectoryUser {
  std::string login;
  std::string given_name;
  std::string surname;
  std::string mail;
  std::string language_id;  // a locale number as text, "" when none
  std::string country;
  std::string business_partner_id;
  std::string registration_set;
  std::string engineer_code;   // the user's engineer code in the back office
  std::vector<int32_t> roles;  // ascending; filled by FindUser and ListUsers only
};

// Longer passwords are refused: hashing cost must not grow with what a caller sends.
inline constexpr size_t kMaxPasswordBytes = 1024;

struct DirectoryPartner {
  int32_t id = 0;
  std::string name;
};

class DirectoryStore {
 public:
  // The store of the configured "Directory" connection (the system database when none is set),
  // relative paths resolved against the install directory. Error err::kDbConnection when neither
  // is configured.
  static DirectoryStore FromSettings();
  DirectoryStore(std::string connection_string, std::string base_dir);

  // The user `login` with its roles, or nullopt.
  std::optional<DirectoryUser> FindUser(std::string_view login) const;
  // Every user with its roles, ordered by login.
  std::vector<DirectoryUser> ListUsers() const;
  // The holders of `role`, ordered by login.
  std::vector<DirectoryUser> RoleMembers(int32_t role) const;
  // The users whose engineer code is `code` (without regard to case), ordered by login.
  std::vector<DirectoryUser> UsersWithEngineerCode(std::string_view code) const;

  // Adds a user with its roles. Login required; language empty or a whole number; engineer code,
  // when given, not held by another user; roles positive (duplicates are ignored).
  void AddUser(const DirectoryUser& user);
  // Gives `login` the role `role` (no change when it holds it already).
  void AddRole(std::string_view login, int32_t role);
  // Takes the role from `login`; error 5 when the user is unknown or does not hold it.
  void RemoveRole(std::string_view login, int32_t role);

  // Sets the password of `login` (stored as an Argon2id hash at the cost of [directory]
  // password_cost: "interactive", the default, "moderate", "sensitive", or "minimum" for tests).
  // Error 5 for an unknown user, an empty password, one longer than kMaxPasswordBytes or an unknown
  // cost; no error text contains the password.
  void SetPassword(std::string_view login, std::string_view password);
  // The login as the directory spells it when `password` is the password of `login`; nullopt when
  // the user is unknown, has no password or the password is wrong. The three take about the same
  // time, so the answer's timing does not tell whether a login exists.
  std::optional<std::string> CheckPassword(std::string_view login, std::string_view password) const;

  // The name of partner `id`, or nullopt.
  std::optional<std::string> PartnerName(int32_t id) const;
  // Every partner, ordered by number.
  std::vector<DirectoryPartner> ListPartners() const;
  // Adds a partner; number positive, name not blank.
  void AddPartner(int32_t id, std::string_view name);

 private:
  PooledSession Acquire() const;
  std::vector<DirectoryUser> Users(std::string_view sql, const Params& params) const;

  std::string connection_string_;
  std::string base_dir_;
};

}  // namespace heliq

#endif  // HELIQ_PORTAL_DIRECTORY_DIRECTORY_STORE_H_
