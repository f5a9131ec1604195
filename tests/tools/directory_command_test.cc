// heliq directory show, test and lookup: against the slapd of the tests (HELIQ_TEST_LDAP) and the
// embedded directory; the commands of the embedded directory refuse to run against LDAP. Runs the
// real program.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/ldap_directory.h"
#include "tests/support/raw_http.h"

namespace heliq {
namespace {

namespace fs = std::filesystem;
using testing::TomlText;

struct Outcome {
  int status = -1;
  std::string output;  // stdout and stderr
};

class DirectoryCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("heliq-directory-command-" + std::to_string(getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    unsetenv("HELIQ_MEMBERSHIP_PASSWORD");
    fs::remove_all(dir_);
  }

  // Writes the configuration: a database of its own and `sections`.
  void Configure(const std::string& sections) {
    std::ofstream(dir_ / "heliq.toml")
        << "install_dir = " << TomlText(dir_.string())
        << "\n[connections]\nHeliq = " << TomlText("sqlite:" + (dir_ / "heliq.db").string())
        << "\n[log]\nfile = ''\n"
        << sections;
  }

  Outcome Heliq(const std::string& arguments) {
    const std::string command = std::string(HELIQ_HELIQ_PATH) + " --config '" +
                                (dir_ / "heliq.toml").string() + "' directory " + arguments +
                                " 2>&1";
    Outcome run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    std::array<char, 4096> buffer;
    for (size_t n; (n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0;) {
      run.output.append(buffer.data(), n);
    }
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
  }

  // The test server with its password in the environment, as a site would give it.
  bool UseLdap(const std::string& uri = "") {
    server_ = testing::TestLdap();
    if (!server_) return false;
    testing::TestLdapServer server = *server_;
    if (!uri.empty()) server.uri = uri;
    Configure(testing::MembershipSection(server.bind_dn, "") +
              testing::LdapDirectorySection(server));
    setenv("HELIQ_MEMBERSHIP_PASSWORD", server_->password.c_str(), 1);
    return true;
  }

  fs::path dir_;
  std::optional<testing::TestLdapServer> server_;
};

bool Has(const Outcome& run, const std::string& text) {
  return run.output.find(text) != std::string::npos;
}

TEST_F(DirectoryCommandTest, ShowTestAndLookUpOverLdapWithoutThePassword) {
  if (!UseLdap()) GTEST_SKIP() << "HELIQ_TEST_LDAP is not set";
  const Outcome show = Heliq("show");
  EXPECT_EQ(show.status, 0) << show.output;
  EXPECT_TRUE(Has(show, "directory: ldap")) << show.output;
  EXPECT_TRUE(Has(show, "role 36 group: cn=role-36,ou=groups,")) << show.output;
  EXPECT_TRUE(Has(show, "password: set")) << show.output;

  const Outcome test = Heliq("test");
  EXPECT_EQ(test.status, 0) << test.output;
  EXPECT_TRUE(Has(test, "answered; bound as " + server_->bind_dn)) << test.output;
  EXPECT_TRUE(Has(test, "role 32 members: 3")) << test.output;
  EXPECT_TRUE(Has(test, "role 36 members: 2")) << test.output;

  const Outcome lookup = Heliq("lookup CCE2");
  EXPECT_EQ(lookup.status, 0) << lookup.output;
  EXPECT_TRUE(Has(lookup, "given name: J\xc3\xbcrgen")) << lookup.output;
  EXPECT_TRUE(Has(lookup, "engineer code: CE02")) << lookup.output;
  EXPECT_TRUE(Has(lookup, "roles: 32\n")) << lookup.output;

  const Outcome injected = Heliq("lookup '*)(uid=*'");
  EXPECT_EQ(injected.status, 1) << injected.output;
  EXPECT_TRUE(Has(injected, "holds no user")) << injected.output;
  for (const Outcome* run : {&show, &test, &lookup, &injected}) {
    EXPECT_FALSE(Has(*run, server_->password)) << run->output;
  }
}

TEST_F(DirectoryCommandTest, FailuresOverLdapSayWhatIsWrong) {
  if (!UseLdap("ldap://127.0.0.1:" + std::to_string(testing::FreePort()))) {
    GTEST_SKIP() << "HELIQ_TEST_LDAP is not set";
  }
  const Outcome down = Heliq("test");
  EXPECT_EQ(down.status, 1) << down.output;
  EXPECT_TRUE(Has(down, "cannot be reached")) << down.output;

  UseLdap();
  setenv("HELIQ_MEMBERSHIP_PASSWORD", "not-the-password", 1);
  const Outcome refused = Heliq("test");
  EXPECT_EQ(refused.status, 1) << refused.output;
  EXPECT_TRUE(Has(refused, "refused to bind account '" + server_->bind_dn + "'")) << refused.output;
  EXPECT_FALSE(Has(refused, "not-the-password")) << refused.output;

  for (const char* embedded_only : {"users", "add-role cce1 32", "set-password cce1", "partners"}) {
    const Outcome run = Heliq(embedded_only);
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_TRUE(Has(run, "works on the embedded directory only")) << run.output;
  }
}

TEST_F(DirectoryCommandTest, ShowNamesTheEmbeddedDirectory) {
  Configure("[membership]\naccount = 'svc'\npassword = 'file-secret'\n");
  const Outcome show = Heliq("show");
  EXPECT_EQ(show.status, 0) << show.output;
  EXPECT_TRUE(Has(show, "directory: embedded")) << show.output;
  EXPECT_TRUE(Has(show, "bind account: svc\npassword: set")) << show.output;
  EXPECT_FALSE(Has(show, "file-secret")) << show.output;
  Configure("[directory]\nkind = 'x500'\n");
  const Outcome unknown = Heliq("show");
  EXPECT_EQ(unknown.status, 1) << unknown.output;
  EXPECT_TRUE(Has(unknown, "'x500' is not known")) << unknown.output;
}

}  // namespace
}  // namespace heliq
