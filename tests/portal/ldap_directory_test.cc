// The LDAP directory against the real slapd of scripts/ldap-test-server.sh (HELIQ_TEST_LDAP):
// sign-in by a bind as the person, filter escaping, paged groups of 2,000, fail-over, a server
// that is down, TLS that cannot be had, bad settings and concurrent callers. Sign-in also runs on
// the embedded directory with the same expected answers.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "common/directory.h"
#include "common/heliq_utilities.h"
#include "common/lookups.h"
#include "platform/com_error.h"
#include "platform/object_context.h"
#include "portal/ldap/ldap_connection.h"
#include "tests/support/database_fixture.h"
#include "tests/support/ldap_directory.h"
#include "tests/support/raw_http.h"

namespace heliq {
namespace {

using testing::DatabaseTest;
using testing::DirectoryAccount;
using testing::DirectoryKind;
using testing::ForEachDirectory;
using testing::LdapDirectorySection;
using testing::MembershipSection;
using testing::TestLdapServer;
using testing::UseFixtureSettingsWith;

constexpr std::string_view kDemoPassword = "heliq-demo";

std::vector<std::string> Logins(const MemberTable& table) {
  std::vector<std::string> logins;
  for (int32_t row = 0; row < table.row_count(); ++row) logins.push_back(table.Value(row, "cn"));
  return logins;
}

std::string SignIn(std::string_view login, std::string_view password) {
  return CreateObjectAs<DirectorySignIn>(kDirectorySignInClassId)->CheckPassword(login, password);
}

class LdapDirectoryTest : public DatabaseTest {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    if (IsSkipped()) return;
    LoadDemoData();
    server_ = testing::TestLdap();
  }

  // The test server with [directory] `extra` keys; skips the test when there is no server.
  bool UseLdap(const std::string& extra = "") {
    if (!server_) return false;
    UseFixtureSettingsWith(MembershipSection(server_->bind_dn, server_->password) +
                           LdapDirectorySection(*server_, extra));
    return true;
  }

  // The test server's settings with its URI replaced by `uri`.
  void UseLdapAt(const std::string& uri, const std::string& extra = "") {
    TestLdapServer elsewhere = *server_;
    elsewhere.uri = uri;
    UseFixtureSettingsWith(MembershipSection(server_->bind_dn, server_->password) +
                           LdapDirectorySection(elsewhere, extra));
  }

  std::string ClosedUri() { return "ldap://127.0.0.1:" + std::to_string(testing::FreePort()); }

  std::optional<TestLdapServer> server_;
};

#define REQUIRE_LDAP(...) \
  if (!UseLdap(__VA_ARGS__)) GTEST_SKIP() << "HELIQ_TEST_LDAP is not set"

TEST(LdapFilterEscape, EveryFilterCharacterBecomesAValue) {
  EXPECT_EQ(EscapeFilterValue("*)(uid=*"), "\\2a\\29\\28uid=\\2a");
  EXPECT_EQ(EscapeFilterValue(std::string("a\\b\0c", 5)), "a\\5cb\\00c");
  EXPECT_EQ(EscapeFilterValue("SE*(x)", true), "SE*\\28x\\29");
  EXPECT_EQ(EscapeFilterValue("**S***", true), "*S*");
  EXPECT_EQ(EscapeFilterValue("J\xc3\xbcrgen"), "J\xc3\xbcrgen") << "UTF-8 stays as it is";
}

TEST_P(LdapDirectoryTest, SignInBindsAsThePersonAndNeverAnonymously) {
  ForEachDirectory([](DirectoryKind) {
    EXPECT_EQ(SignIn("CCE1", kDemoPassword), "cce1");
    EXPECT_EQ(SignIn("cce1", "heliq-demo-wrong"), "");
    EXPECT_EQ(SignIn("cce1", ""), "") << "an empty password is an anonymous bind";
    EXPECT_EQ(SignIn("ghost", kDemoPassword), "");
    EXPECT_EQ(SignIn("*", kDemoPassword), "");
    EXPECT_EQ(SignIn("*)(uid=*", kDemoPassword), "");
    EXPECT_EQ(SignIn("cce1)(|(uid=*", kDemoPassword), "");
    EXPECT_EQ(SignIn("", kDemoPassword), "");
  });
}

TEST_P(LdapDirectoryTest, SignInWithARefusedServiceAccountIsAnErrorNotAWrongPassword) {
  if (!server_) GTEST_SKIP() << "HELIQ_TEST_LDAP is not set";
  UseFixtureSettingsWith(MembershipSection(server_->bind_dn, "not-the-password") +
                         LdapDirectorySection(*server_));
  try {
    SignIn("cce1", kDemoPassword);
    FAIL() << "signed in through a refused service account";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kUnauthorized);
    EXPECT_EQ(e.description().find("not-the-password"), std::string::npos) << e.description();
    EXPECT_EQ(e.description().find(kDemoPassword), std::string::npos) << e.description();
  }
}

TEST_P(LdapDirectoryTest, BigGroupsArriveWholeThroughPages) {
  if (!server_) GTEST_SKIP() << "HELIQ_TEST_LDAP is not set";
  // The server hands out at most 500 entries per search unless paged.
  auto engineers = [&](const std::string& page_size) {
    UseFixtureSettingsWith(
        MembershipSection(server_->bind_dn, server_->password) +
        LdapDirectorySection(*server_,
                             "role_32 = 'cn=bulk-32,ou=groups," + server_->base + "'\n" + page_size,
                             "ou=bulk"));
    return BindDirectoryMembers()->ListRoleMembers(kRoleCallCentreEngineers, "givenname,sn");
  };
  for (const std::string page_size : {"", "page_size = 7\n", "page_size = 500\n"}) {
    SCOPED_TRACE(page_size);
    const MemberTable table = engineers(page_size);
    ASSERT_EQ(table.row_count(), 2000);
    EXPECT_EQ(table.Value(0, "cn"), "eng0001");
    EXPECT_EQ(table.Value(1999, "cn"), "eng2000");
    EXPECT_EQ(table.Value(41, "sn"), "No 42");
    EXPECT_EQ(table.Value(41, "dn"), "cn=eng0042,ou=bulk," + server_->base);
  }
  EXPECT_TRUE(BindDirectoryUser("eng1234")->IsInRole(kRoleCallCentreEngineers));
}

TEST_P(LdapDirectoryTest, FailOverToTheNextServer) {
  if (!server_) GTEST_SKIP() << "HELIQ_TEST_LDAP is not set";
  UseLdapAt(ClosedUri() + " " + server_->uri);
  EXPECT_EQ(Logins(BindDirectoryMembers()->ListRoleMembers(36, "")),
            (std::vector<std::string>{"sce1", "sce2"}));
  EXPECT_EQ(SignIn("sce1", kDemoPassword), "sce1");
}

TEST_P(LdapDirectoryTest, ServerDownIsAClearErrorAndTheCallCommitsNothing) {
  if (!server_) GTEST_SKIP() << "HELIQ_TEST_LDAP is not set";
  const std::string uri = ClosedUri();
  UseLdapAt(uri, "timeout = 2\n");
  for (auto operation :
       {+[] { BindDirectoryMembers(); }, +[] { BindDirectoryUser("cce1"); },
        +[] { SignIn("cce1", "heliq-demo"); },
        +[] { CreateObjectAs<PortalUser>(kPortalUserClassId)->UserExists("x"); },
        +[] {
          CreateObjectAs<BusinessPartner>(kBusinessPartnerClassId)->GetBusinessPartnerName(1000);
        }}) {
    try {
      operation();
      ADD_FAILURE() << "an operation succeeded without a server";
    } catch (const ComError& e) {
      EXPECT_EQ(e.number(), err::kDbConnection) << e.description();
      EXPECT_NE(e.description().find(uri), std::string::npos) << e.description();
      EXPECT_NE(e.description().find("cannot be reached"), std::string::npos) << e.description();
      EXPECT_EQ(e.description().find(server_->password), std::string::npos) << e.description();
    }
  }
  // A call that reads the directory after writing rolls back as a whole.
  const int64_t before = Count("PARAMETERS");
  EXPECT_THROW(RunUnitOfWork([&] {
                 GetHeliqConnection()->Execute(
                     "insert into PARAMETERS (PARAM_NAME, PARAM_VALUE) values ('probe', 'x')", {});
                 BindDirectoryUser("cce1");
               }),
               ComError);
  EXPECT_EQ(Count("PARAMETERS"), before);
  // GetUserFromID's "no such user" answer does not hide a server that is down.
  EXPECT_THROW(RunUnitOfWork([] {
                 try {
                   throw ComError(err::kInvalidProcedureCall, "probe", "failure path");
                 } catch (...) {
                   GetUserFromID("cce1");
                 }
               }),
               ComError);
}

TEST_P(LdapDirectoryTest, RequiredTlsThatCannotBeHadIsRefusedNotPlain) {
  if (!server_) GTEST_SKIP() << "HELIQ_TEST_LDAP is not set";
  // The test server offers no TLS at all.
  UseLdap("start_tls = true\n");
  for (auto operation : {+[] { BindDirectoryMembers(); }, +[] { SignIn("cce1", "heliq-demo"); }}) {
    try {
      operation();
      ADD_FAILURE() << "went on without TLS";
    } catch (const ComError& e) {
      EXPECT_EQ(e.number(), err::kDbConnection) << e.description();
      EXPECT_NE(e.description().find("StartTLS"), std::string::npos) << e.description();
      EXPECT_NE(e.description().find("without TLS"), std::string::npos) << e.description();
    }
  }
  // A CA file that cannot be read is no reason to trust anybody else.
  UseLdap("start_tls = true\nca_file = '/nonexistent/heliq-ca.pem'\n");
  try {
    BindDirectoryMembers();
    ADD_FAILURE() << "went on without the CA file";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kDbConnection) << e.description();
  }
  std::string ldaps = server_->uri;
  ldaps.replace(0, 4, "ldaps");
  UseLdapAt(ldaps, "timeout = 2\n");
  try {
    BindDirectoryMembers();
    ADD_FAILURE() << "ldaps:// to a plain server worked";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kDbConnection) << e.description();
  }
}

TEST_P(LdapDirectoryTest, BadSettingsAreNamed) {
  if (!server_) GTEST_SKIP() << "HELIQ_TEST_LDAP is not set";
  const std::string membership = MembershipSection(server_->bind_dn, server_->password);
  try {
    UseFixtureSettingsWith(membership + "[directory]\nkind = 'x500'\n");
    BindDirectoryMembers();
    ADD_FAILURE() << "an unknown kind of directory was accepted";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kCannotCreateComponent) << e.description();
    EXPECT_NE(e.description().find("'x500' is not known"), std::string::npos) << e.description();
  }
  const std::pair<std::string, std::string> cases[] = {
      {"[directory]\nkind = 'ldap'\nbase_dn = 'dc=example'\n", "uri"},
      {"[directory]\nkind = 'ldap'\nuri = 'http://127.0.0.1'\nbase_dn = 'dc=example'\n", "http"},
      {"[directory]\nkind = 'ldap'\nuri = " + testing::TomlText(server_->uri) + "\n", "base_dn"},
      {LdapDirectorySection(*server_, "timeout = 'soon'\n"), "timeout"},
      {LdapDirectorySection(*server_, "page_size = -1\n"), "page_size"},
      {LdapDirectorySection(*server_, "", "ou=nowhere"), "ou=nowhere,dc=example"},
  };
  for (const auto& [sections, named] : cases) {
    UseFixtureSettingsWith(membership + sections);
    try {
      BindDirectoryMembers()->ListRoleMembers(kRoleCallCentreEngineers, "");
      ADD_FAILURE() << "accepted: " << sections;
    } catch (const ComError& e) {
      EXPECT_EQ(e.number(), err::kInvalidProcedureCall) << e.description();
      EXPECT_NE(e.description().find(named), std::string::npos) << e.description();
    }
  }
}

TEST_P(LdapDirectoryTest, NoPasswordMeansNoBindAtAll) {
  if (!server_) GTEST_SKIP() << "HELIQ_TEST_LDAP is not set";
  // Even against a server that is down the answer is the refused account, since the server is
  // never asked.
  UseFixtureSettingsWith(MembershipSection(server_->bind_dn, "") +
                         LdapDirectorySection(TestLdapServer{ClosedUri(), server_->base, "", ""}));
  try {
    BindDirectoryMembers();
    FAIL() << "bound without a password";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kUnauthorized) << e.description();
    EXPECT_NE(e.description().find("no password"), std::string::npos) << e.description();
  }
}

TEST_P(LdapDirectoryTest, ConcurrentCallersEachGetTheirOwnAnswers) {
  REQUIRE_LDAP();
  constexpr int kThreads = 8, kRounds = 10;
  std::atomic<int> right{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        try {
          const bool call_centre = (t + round) % 2 == 0;
          const auto logins = Logins(BindDirectoryMembers()->ListRoleMembers(
              call_centre ? kRoleCallCentreEngineers : kRoleSupportCentreEngineers, "mail"));
          const std::string login = call_centre ? "cce" + std::to_string(1 + round % 3)
                                                : "sce" + std::to_string(1 + round % 2);
          const bool listed = logins.size() == (call_centre ? 3u : 2u);
          const bool user = BindDirectoryUser(login)->Login() == login;
          const bool signed_in = round % 5 != 0 || SignIn(login, kDemoPassword) == login;
          if (listed && user && signed_in) ++right;
        } catch (const ComError& e) {
          ADD_FAILURE() << e.description();
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(right.load(), kThreads * kRounds);
}

INSTANTIATE_DATABASE_TEST_SUITE(LdapDirectoryTest);

}  // namespace
}  // namespace heliq
