// Passwords of the embedded directory: Argon2id hashes, the check behind the sign-in component,
// and the demo data's password.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "common/directory.h"
#include "common/heliq_utilities.h"
#include "platform/com_error.h"
#include "portal/directory/directory_store.h"
#include "tests/people/settings.h"
#include "tests/support/database_fixture.h"
#include "tests/support/directory_users.h"

namespace heliq {
namespace {

using testing::DatabaseTest;

constexpr std::string_view kPassword = "correct horse battery staple";

class DirectoryPasswordTest : public DatabaseTest {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    testing::UseSettingsWith("");
  }
  DirectoryStore store() const { return DirectoryStore::FromSettings(); }
  std::string StoredHash(std::string_view login) {
    auto session =
        SessionPool::For(SettingValue("connections", "Directory"), GetInstallDir())->Acquire();
    return session->Query("SELECT PASSWORDHASH FROM DIR_USER WHERE LOGIN = ?", {Variant(login)})
        .rows.at(0)
        .at(0)
        .ToTextOrEmpty();
  }
};

TEST_P(DirectoryPasswordTest, ChecksOnlyTheRightPasswordAndKeepsNoClearText) {
  testing::AddDirectoryUser("Cust1", {});
  testing::AddDirectoryUser("cust2", {});
  store().SetPassword("cust1", kPassword);

  EXPECT_EQ(store().CheckPassword("CUST1", kPassword), "Cust1");
  EXPECT_EQ(store().CheckPassword("cust1", "correct horse battery stapl"), std::nullopt);
  EXPECT_EQ(store().CheckPassword("cust1", ""), std::nullopt);
  // Without a password of his own a user cannot sign in, whatever he sends.
  EXPECT_EQ(store().CheckPassword("cust2", ""), std::nullopt);
  EXPECT_EQ(store().CheckPassword("cust2", kPassword), std::nullopt);
  EXPECT_EQ(store().CheckPassword("nobody", kPassword), std::nullopt);

  const std::string hash = StoredHash("cust1");
  EXPECT_TRUE(hash.starts_with("$argon2id$")) << hash;
  EXPECT_EQ(hash.find(kPassword), std::string::npos);

  // A new password replaces the old one, with a fresh salt.
  store().SetPassword("cust1", "second-password");
  EXPECT_EQ(store().CheckPassword("cust1", kPassword), std::nullopt);
  EXPECT_EQ(store().CheckPassword("cust1", "second-password"), "Cust1");
  EXPECT_NE(StoredHash("cust1"), hash);
}

TEST_P(DirectoryPasswordTest, RefusesBadPasswordsWithoutNamingThemOrChangingTheOld) {
  testing::AddDirectoryUser("cust1", {});
  store().SetPassword("cust1", kPassword);
  const std::string before = StoredHash("cust1");
  auto refused = [&](std::string_view login, const std::string& password) {
    try {
      store().SetPassword(login, password);
      ADD_FAILURE() << "accepted a password for " << login;
    } catch (const ComError& e) {
      EXPECT_EQ(e.number(), err::kInvalidProcedureCall);
      if (!password.empty()) {
        EXPECT_EQ(e.description().find(password), std::string::npos);
      }
    }
  };
  refused("cust1", "");
  refused("cust1", std::string(kMaxPasswordBytes + 1, 'x'));
  refused("ghost", "ghost-password-1");
  EXPECT_EQ(StoredHash("cust1"), before);
  // An over-long password is not even hashed on a check.
  EXPECT_EQ(store().CheckPassword("cust1", std::string(kMaxPasswordBytes + 1, 'x')), std::nullopt);
}

TEST_P(DirectoryPasswordTest, SignInComponentAndDemoPassword) {
  std::ifstream in(std::string(HELIQ_SOURCE_DIR) + "/db/stand-ins/Directory.demo.sql");
  std::stringstream script;
  script << in.rdbuf();
  auto session =
      SessionPool::For(SettingValue("connections", "Directory"), GetInstallDir())->Acquire();
  session->ExecuteScript(script.str());

  auto sign_in = CreateObjectAs<DirectorySignIn>(kDirectorySignInClassId);
  EXPECT_EQ(sign_in->CheckPassword("dispatch1", "heliq-demo"), "dispatch1");
  EXPECT_EQ(sign_in->CheckPassword("cust3", "heliq-demo"), "cust3");
  EXPECT_EQ(sign_in->CheckPassword("cust3", "heliq-dem0"), "");
  EXPECT_EQ(sign_in->CheckPassword("no-such-user", "heliq-demo"), "");
}

TEST_P(DirectoryPasswordTest, UnknownHashingCostIsAConfigurationError) {
  testing::AddDirectoryUser("cust1", {});
  SetSettingsText("[connections]\nDirectory = '" + SettingValue("connections", "Directory") +
                  "'\n[log]\nfile = ''\n[directory]\npassword_cost = 'cheap'\n");
  try {
    store().SetPassword("cust1", kPassword);
    FAIL() << "an unknown cost was accepted";
  } catch (const ComError& e) {
    EXPECT_NE(e.description().find("password_cost"), std::string::npos) << e.description();
  }
}

INSTANTIATE_DATABASE_TEST_SUITE(DirectoryPasswordTest);

}  // namespace
}  // namespace heliq
