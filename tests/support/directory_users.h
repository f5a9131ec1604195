// Test support: users of the embedded directory, with the attributes dispatching and escalation
// read (name, mail, language 1033, country US). Settings must point at the test databases.
#ifndef HELIQ_TESTS_SUPPORT_DIRECTORY_USERS_H_
#define HELIQ_TESTS_SUPPORT_DIRECTORY_USERS_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "portal/directory/directory_store.h"

namespace heliq::testing {

// Adds `login` with `roles` (none: a customer), business partner `bp` and registration set
// `regset`.
inline void AddDirectoryUser(const std::string& login, std::vector<int32_t> roles,
                             std::string bp = "", std::string regset = "") {
  DirectoryUser user;
  user.login = login;
  user.given_name = "Given";
  user.surname = "Name";
  user.mail = login + "@example.com";
  user.language_id = "1033";
  user.country = "US";
  user.business_partner_id = std::move(bp);
  user.registration_set = std::move(regset);
  user.roles = std::move(roles);
  DirectoryStore::FromSettings().AddUser(user);
}

}  // namespace heliq::testing

#endif  // HELIQ_TESTS_SUPPORT_DIRECTORY_USERS_H_
