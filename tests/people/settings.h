// Test support for sign-in tests: the fixture's settings plus sections of one's own.
#ifndef HELIQ_TESTS_PEOPLE_SETTINGS_H_
#define HELIQ_TESTS_PEOPLE_SETTINGS_H_

#include <string>
#include <string_view>

#include "common/heliq_utilities.h"
#include "platform/configuration.h"

namespace heliq::testing {

// The settings DatabaseTest made (install dir, connections, no log file), the cheapest password
// hashing (so sanitizer builds stay fast), and `sections` (TOML text) after them.
inline void UseSettingsWith(std::string_view sections) {
  auto literal = [](const std::string& text) { return "'" + text + "'"; };
  std::string text = "install_dir = " + literal(GetInstallDir()) + "\n[connections]\n";
  for (const char* application : {"Heliq", "RAvuruvo", "BackOffice", "Directory"}) {
    text +=
        std::string(application) + " = " + literal(SettingValue("connections", application)) + "\n";
  }
  SetSettingsText(text + "[log]\nfile = ''\n[directory]\npassword_cost = 'minimum'\n" +
                  std::string(sections));
}

}  // namespace heliq::testing

#endif  // HELIQ_TESTS_PEOPLE_SETTINGS_H_
