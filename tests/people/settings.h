// Test support for sign-in tests: the fixture's settings plus sections of one's own.
#ifndef HELIQ_TESTS_PEOPLE_SETTINGS_H_
#define HELIQ_TESTS_PEOPLE_SETTINGS_H_

#include <string>
#include <string_view>

#include "tests/support/ldap_directory.h"

namespace heliq::testing {

// The settings DatabaseTest made (install dir, connections, no log file), the cheapest password
// hashing (so sanitizer builds stay fast), and `sections` (TOML text) after them.
inline void UseSettingsWith(std::string_view sections) {
  UseFixtureSettingsWith("[directory]\npassword_cost = 'minimum'\n" + std::string(sections));
}

}  // namespace heliq::testing

#endif  // HELIQ_TESTS_PEOPLE_SETTINGS_H_
