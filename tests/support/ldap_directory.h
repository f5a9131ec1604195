// Test support: the directory under test, embedded or the LDAP server of
// scripts/ldap-test-server.sh, which the tests get in HELIQ_TEST_LDAP
// ("uri=ldap://127.0.0.1:PORT base=dc=example bind=cn=svc-heliq,ou=desk,dc=example password=...").
// The server holds the same demo people, roles and partners as db/demo.sql, so a check that
// passes on one directory must pass on the other. Settings must point at the test databases.
#ifndef HELIQ_TESTS_SUPPORT_LDAP_DIRECTORY_H_
#define HELIQ_TESTS_SUPPORT_LDAP_DIRECTORY_H_

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>

#include "common/heliq_utilities.h"
#include "platform/configuration.h"

namespace heliq::testing {

struct TestLdapServer {
  std::string uri;
  std::string base;      // the suffix, dc=example
  std::string bind_dn;   // the service account
  std::string password;  // its password
};

// The server named by HELIQ_TEST_LDAP; nullopt when it is not set.
inline std::optional<TestLdapServer> TestLdap() {
  const char* text = std::getenv("HELIQ_TEST_LDAP");
  if (text == nullptr || *text == '\0') return std::nullopt;
  TestLdapServer server;
  std::istringstream words(text);
  for (std::string word; words >> word;) {
    const size_t equals = word.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = word.substr(0, equals), value = word.substr(equals + 1);
    if (key == "uri") server.uri = value;
    if (key == "base") server.base = value;
    if (key == "bind") server.bind_dn = value;
    if (key == "password") server.password = value;
  }
  return server;
}

// `text` as a TOML string: a literal one, or a basic one when it holds a quote.
inline std::string TomlText(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') return "\"" + text + "\"";  // a literal string cannot hold a quote
    out += c;
  }
  return out + "'";
}

// The fixture's settings (install dir, default language, the four connections, no log file)
// followed by `sections` (TOML text).
inline void UseFixtureSettingsWith(const std::string& sections) {
  std::string text = "install_dir = " + TomlText(GetInstallDir()) + "\n";
  if (const std::string language = SettingValue("", "default_language"); !language.empty()) {
    text += "default_language = " + language + "\n";
  }
  text += "[connections]\n";
  for (const char* application : {"Heliq", "RAvuruvo", "BackOffice", "Directory"}) {
    text += std::string(application) + " = " + TomlText(SettingValue("connections", application)) +
            "\n";
  }
  SetSettingsText(text + "[log]\nfile = ''\n" + sections);
}

// The service account as [membership] splits it: the first RDN and the rest (the root).
inline std::string MembershipSection(const std::string& bind_dn, const std::string& password) {
  const size_t comma = bind_dn.find(',');
  return "[membership]\naccount = " + TomlText(bind_dn.substr(0, comma)) +
         "\nroot = " + TomlText(comma == std::string::npos ? "" : bind_dn.substr(comma + 1)) +
         "\npassword = " + TomlText(password) + "\n";
}

// [directory] for the test server's tree: people below `people` (the demo people of ou=desk, or
// the 2,000 engineers of ou=bulk), role groups cn=role-<n>,ou=groups, partners below ou=partners;
// `extra` keys (TOML lines) besides.
inline std::string LdapDirectorySection(const TestLdapServer& server, const std::string& extra = "",
                                        const std::string& people = "ou=desk") {
  return "[directory]\nkind = 'ldap'\nuri = " + TomlText(server.uri) +
         "\nbase_dn = " + TomlText(people + "," + server.base) +
         "\nrole_group = " + TomlText("cn=role-{role},ou=groups," + server.base) +
         "\npartner_base = " + TomlText("ou=partners," + server.base) + "\n" + extra;
}

enum class DirectoryKind { kEmbedded, kLdap };

// The account both directories are bound with in ForEachDirectory.
inline TestLdapServer DirectoryAccount() {
  if (auto server = TestLdap()) return *server;
  return TestLdapServer{"", "dc=example", "cn=svc-heliq,ou=desk,dc=example", "svc-heliq-test"};
}

// The sections of one directory kind: [membership] with the service account of DirectoryAccount()
// and `password` in the file, and for LDAP [directory] of the test server.
inline std::string DirectorySections(DirectoryKind kind, const std::string& password) {
  const TestLdapServer account = DirectoryAccount();
  std::string sections = MembershipSection(account.bind_dn, password);
  if (kind == DirectoryKind::kLdap) sections += LdapDirectorySection(account);
  return sections;
}

// Points the settings at the directory of `kind` (DirectorySections with the account's password,
// then `sections`); false, changing nothing, when `kind` is LDAP and HELIQ_TEST_LDAP is not set.
inline bool UseDirectory(DirectoryKind kind, const std::string& sections = "") {
  if (kind == DirectoryKind::kLdap && !TestLdap()) return false;
  UseFixtureSettingsWith(DirectorySections(kind, DirectoryAccount().password) + sections);
  return true;
}

// Runs `checks` on the embedded directory holding the demo data, then, when HELIQ_TEST_LDAP names
// a server, on that server; both with DirectorySections(kind, the account's password) and
// `sections` (TOML text) besides. The settings stay on the last directory run.
inline void ForEachDirectory(const std::function<void(DirectoryKind)>& checks,
                             const std::string& sections = "") {
  const std::string password = DirectoryAccount().password;
  {
    SCOPED_TRACE("embedded directory");
    UseFixtureSettingsWith(DirectorySections(DirectoryKind::kEmbedded, password) + sections);
    checks(DirectoryKind::kEmbedded);
  }
  const std::optional<TestLdapServer> server = TestLdap();
  if (!server) {
    std::cout << "[ NOTE     ] HELIQ_TEST_LDAP is not set: the LDAP directory is not tested\n";
    return;
  }
  SCOPED_TRACE("LDAP directory at " + server->uri);
  UseFixtureSettingsWith(DirectorySections(DirectoryKind::kLdap, password) + sections);
  checks(DirectoryKind::kLdap);
}

}  // namespace heliq::testing

#endif  // HELIQ_TESTS_SUPPORT_LDAP_DIRECTORY_H_
