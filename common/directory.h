// The directory, business-partner, back-end selector and language-list components: interfaces of
// outside components the system only calls, created by class identifier per use.
//
// Directory objects ("XeMembership.User", "XeMembership.Members") must be given the path of the
// site configuration (SetServerInfo) and bound with the directory account (BindAs) before they
// answer; the bind name is the configured account, followed by "," and the directory root when a
// root is configured. A bind password is a secret: implementations never put it into a log entry,
// an error text or a file. Operations used before a successful bind raise error 5.
//
// The portal user and business-partner components ("XeCommon.User", "XeCommon.BusinessPartner"),
// the back-end selector ("EBackend.Selector") and the language list ("LanguageList") need no bind.
//
// All of them are outside the unit of work: they only read what the directory holds, and nothing a
// call rolls back changes what they answer.
//
// Thread safety: one object per use; separate objects may run concurrently.
#ifndef HELIQ_COMMON_DIRECTORY_H_
#define HELIQ_COMMON_DIRECTORY_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/com_error.h"
#include "platform/component.h"
#include "platform/database.h"
#include "platform/variant.h"

namespace heliq {

inline constexpr std::string_view kMembershipUserClassId = "XeMembership.User";
inline constexpr std::string_view kMembershipMembersClassId = "XeMembership.Members";
inline constexpr std::string_view kPortalUserClassId = "XeCommon.User";
inline constexpr std::string_view kBusinessPartnerClassId = "XeCommon.BusinessPartner";
inline constexpr std::string_view kBackendSelectorClassId = "EBackend.Selector";
inline constexpr std::string_view kLanguageListClassId = "LanguageList";
inline constexpr std::string_view kDirectorySignInClassId = "Heliq.DirectorySignIn";

// Role numbers of the directory that the system asks for.
inline constexpr int32_t kRoleDispatchers = 31;
inline constexpr int32_t kRoleCallCentreEngineers = 32;
inline constexpr int32_t kRoleSupervisors = 35;
inline constexpr int32_t kRoleSupportCentreEngineers = 36;
// Read after 31 and 35 respectively when those have members.
inline constexpr int32_t kRoleFurtherDispatchers = 38;
inline constexpr int32_t kRoleFurtherSupervisors = 39;

// A table of directory members: one row per member, text fields. The first three columns are
// always "dn" (the member's distinguished name), "mail" and "cn" (the login), in this order; the
// attributes the caller asked for follow in the order asked.
class MemberTable {
 public:
  MemberTable() = default;
  MemberTable(std::vector<std::string> columns, std::vector<std::vector<std::string>> rows)
      : columns_(std::move(columns)), rows_(std::move(rows)) {}

  int32_t row_count() const { return static_cast<int32_t>(rows_.size()); }
  const std::vector<std::string>& columns() const { return columns_; }
  // The field of `row` by position; error 9 when the row or the field is out of range.
  const std::string& Value(size_t row, size_t field) const {
    if (row >= rows_.size() || field >= rows_[row].size()) {
      throw ComError::Of(err::kSubscriptOutOfRange, "XeMembership.Members");
    }
    return rows_[row][field];
  }
  // The field of `row` by column name, found without regard to case; error 3265 for an unknown
  // column, error 9 for a row out of range.
  const std::string& Value(size_t row, std::string_view column) const {
    const int index = FindColumn(columns_, column);
    if (index < 0) {
      throw ComError(err::kItemNotFound, "XeMembership.Members",
                     "the member table has no column " + std::string(column));
    }
    return Value(row, static_cast<size_t>(index));
  }

 private:
  std::vector<std::string> columns_;
  std::vector<std::vector<std::string>> rows_;
};

// "XeMembership.User": one directory user, bound by login.
class MembershipUser : public Component {
 public:
  // Remembers the path of the site configuration the account comes from. Must precede BindAs.
  virtual void SetServerInfo(const std::string& config_path) = 0;
  // Binds to the directory with the account `bind_user`/`bind_password` and loads the user
  // `login` (found without regard to case). A wrong account or password raises error 1101, an
  // unknown login error 5; neither error text contains the password.
  virtual void BindAs(std::string_view login, std::string_view bind_user,
                      std::string_view bind_password) = 0;

  // Attributes of the bound user ("" when the directory holds none).
  virtual std::string Login() const = 0;
  virtual std::string GivenName() const = 0;
  virtual std::string Surname() const = 0;
  virtual std::string Mail() const = 0;
  // A locale number as text, for example "1033".
  virtual std::string LanguageId() const = 0;
  virtual std::string Country() const = 0;
  // The business-partner number as text.
  virtual std::string BusinessPartnerId() const = 0;
  virtual std::string RegistrationSet() const = 0;
  // The user's engineer code in the back office.
  virtual std::string EngineerCode() const = 0;
  // True when the bound user holds `role`.
  virtual bool IsInRole(int32_t role) const = 0;
};

// "XeMembership.Members": lists and searches directory members.
class MembershipMembers : public Component {
 public:
  // Remembers the path of the site configuration the account comes from. Must precede BindAs.
  virtual void SetServerInfo(const std::string& config_path) = 0;
  // Binds with the directory account; a wrong account or password raises error 1101 (the error
  // text never contains the password).
  virtual void BindAs(std::string_view bind_user, std::string_view bind_password) = 0;
  // The members of `role`, ordered by login. `attributes` is a comma-separated list of further
  // attributes for the table ("givenname,sn"); "" adds none. Attribute names: cn, givenname, sn,
  // mail, languageid, c, BusinessPartnerID, registrationset, EmployeeNumber (any case). An
  // unknown name raises error 5.
  virtual MemberTable ListRoleMembers(int32_t role, std::string_view attributes) = 0;
  // The members matching every filter ("attribute=value", for example "EmployeeNumber=SE01"),
  // ordered by login. Values compare without regard to case; "*" in a value matches any run of
  // characters. No filter lists everybody. A filter without "=" or with an unknown attribute
  // raises error 5. `attributes` as for ListRoleMembers.
  virtual MemberTable SearchMembers(const std::vector<std::string>& filters,
                                    std::string_view attributes) = 0;
};

// "XeCommon.User": the portal's view of its users.
class PortalUser : public Component {
 public:
  // True when the directory holds `login` (without regard to case).
  virtual bool UserExists(std::string_view login) = 0;
  // The back-office engineer code of `login`; "" when the user has none or is unknown.
  virtual std::string GetEngineerCode(std::string_view login) = 0;
};

// "XeCommon.BusinessPartner".
class BusinessPartner : public Component {
 public:
  // The partner's name; "" for a number the directory does not hold.
  virtual std::string GetBusinessPartnerName(int32_t business_partner) = 0;
};

// "EBackend.Selector": the back offices the portal knows and which one is the default.
class BackendSelector : public Component {
 public:
  // The identifier of the default back end (1 Mk4, 3 Mk5, 8 Mk6). Error 5 when none is configured
  // or the configured one is not known.
  virtual int32_t SelectDefaultBackend() = 0;
  // Properties of a back end: "id" (Long), "name" (text), "componentid" (text: the integration
  // component that serves it), "isdefault" (Boolean). Error 5 for an unknown identifier.
  virtual DictionaryPtr GetBackendProperties(int32_t backend_id) = 0;
};

// "Heliq.DirectorySignIn": checks a person's own password. The embedded directory compares with
// the stored Argon2id hash; a directory server binds as the user. Needs no service-account bind.
class DirectorySignIn : public Component {
 public:
  // The login as the directory spells it when `password` is the password of `login`; "" when the
  // login is unknown, has no password, or the password is wrong (the three are not told apart).
  // The password never reaches a log entry or an error text.
  virtual std::string CheckPassword(std::string_view login, std::string_view password) = 0;
};

// "LanguageList": names of locale numbers.
class LanguageList : public Component {
 public:
  // The English name of the language of `locale` ("English" for 1033 and 2057, "Spanish" for 1034
  // and 3082, ...); "" for a locale the list does not know.
  virtual std::string GetLanguageName(int32_t locale) = 0;
};

}  // namespace heliq

#endif  // HELIQ_COMMON_DIRECTORY_H_
