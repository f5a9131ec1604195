// Signing in and out, sessions and their expiry, and the failed sign-in limits, on every available
// database.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "people/sessions.h"
#include "people/sign_in.h"
#include "platform/clock.h"
#include "platform/com_error.h"
#include "portal/directory/directory_store.h"
#include "tests/people/settings.h"
#include "tests/support/database_fixture.h"
#include "tests/support/directory_users.h"

namespace heliq {
namespace {

using testing::DatabaseTest;
using testing::kTestNow;
using testing::RecordingLog;

constexpr std::string_view kPassword = "Tr0ub4dor&3-long";
constexpr std::string_view kPeer = "127.0.0.9";

class SignInTest : public DatabaseTest {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    if (IsSkipped()) return;
    testing::UseSettingsWith("[session]\nidle_minutes = 30\nabsolute_hours = 2\nadmin_role = 90\n");
    settings_ = SessionSettingsFromConfig();
    testing::AddDirectoryUser("cce1", {32});
    testing::AddDirectoryUser("cust1", {});
    DirectoryStore::FromSettings().SetPassword("cce1", kPassword);
    DirectoryStore::FromSettings().SetPassword("cust1", kPassword);
    Exec("insert into PROSPECT (EMAILID, PIN, PENDINGQUESTIONS) values ('p@example.com', 4711, 0)");
  }

  ComError Failure(const std::function<void()>& body) {
    try {
      body();
    } catch (const ComError& e) {
      return e;
    }
    return ComError(0, "", "");
  }
  ComError PasswordFailure(std::string_view login, std::string_view password,
                           std::string_view peer = kPeer) {
    return Failure([&] { SignInWithPassword(login, password, peer, settings_); });
  }
  void At(int64_t seconds_after_start) { SetFixedTime(kTestNow.AddSeconds(seconds_after_start)); }

  SessionSettings settings_;
};

TEST_P(SignInTest, PasswordSignInGivesASessionAndWrongCredentialsLookAlike) {
  const SessionGrant grant = SignInWithPassword("CCE1", kPassword, kPeer, settings_);
  EXPECT_EQ(grant.caller.login, "cce1");
  EXPECT_GE(grant.token.size(), 43u) << "32 random bytes in base64url";
  EXPECT_NE(grant.token, grant.csrf);
  const auto session = FindSession(grant.token, settings_);
  ASSERT_TRUE(session.has_value());
  EXPECT_EQ(session->caller.roles, std::vector<Role>{Role::kCallCentreEngineer});
  EXPECT_EQ(session->caller.centres, std::vector<int32_t>{kCallCentre});
  EXPECT_EQ(session->csrf, grant.csrf);
  EXPECT_FALSE(FindSession(grant.token + "x", settings_).has_value());

  // The database holds neither the token nor the password.
  const auto stored = Rows("select TOKEN_HASH from SESSIONS").rows;
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_NE(stored[0][0].ToText(), grant.token);

  const ComError wrong_password = PasswordFailure("cce1", "Tr0ub4dor&3-lonG");
  const ComError unknown_login = PasswordFailure("nobody", "Tr0ub4dor&3-lonG");
  EXPECT_EQ(wrong_password.number(), err::kUnauthorized);
  EXPECT_EQ(unknown_login.number(), wrong_password.number());
  EXPECT_EQ(unknown_login.description(), wrong_password.description());
  for (const auto& entry : RecordingLog::Entries()) {
    EXPECT_EQ(entry.text.find("Tr0ub4dor"), std::string::npos) << entry.text;
  }
  bool logged_failure = false, logged_success = false;
  for (const auto& entry : RecordingLog::Entries()) {
    logged_failure |= entry.text.find("sign-in failed for \"nobody\"") != std::string::npos;
    logged_success |= entry.text.find("signed in: \"cce1\"") != std::string::npos;
  }
  EXPECT_TRUE(logged_failure && logged_success);

  EXPECT_TRUE(SignOut(grant.token, kPeer));
  EXPECT_FALSE(FindSession(grant.token, settings_).has_value());
  EXPECT_FALSE(SignOut(grant.token, kPeer));
  EXPECT_NE(RecordingLog::Entries().back().text.find("signed out: \"cce1\""), std::string::npos);
}

TEST_P(SignInTest, SessionsEndWhenIdleAndAtTheirAbsoluteLimit) {
  At(0);
  const SessionGrant grant = SignInWithPassword("cust1", kPassword, kPeer, settings_);
  EXPECT_EQ(grant.caller.roles, std::vector<Role>{Role::kCustomer});
  // Used every 25 minutes it stays, past the 30 idle minutes...
  for (int64_t t = 25 * 60; t < 2 * 3600; t += 25 * 60) {
    At(t);
    EXPECT_TRUE(FindSession(grant.token, settings_).has_value()) << t;
  }
  // ...but not past the absolute two hours.
  At(2 * 3600);
  EXPECT_FALSE(FindSession(grant.token, settings_).has_value());

  At(3 * 3600);
  const SessionGrant idle = SignInWithPassword("cust1", kPassword, kPeer, settings_);
  At(3 * 3600 + 30 * 60);
  EXPECT_FALSE(FindSession(idle.token, settings_).has_value());
  EXPECT_EQ(Count("SESSIONS"), 0) << "expired sessions are deleted";
}

TEST_P(SignInTest, TheEleventhWrongPasswordWithinAMinuteIsRefusedWithoutACheck) {
  At(0);
  for (int i = 0; i < kPasswordPolicy.failures; ++i) {
    At(i * 5);
    EXPECT_EQ(PasswordFailure("cce1", "guess").number(), err::kUnauthorized) << i;
  }
  // Locked: even the right password is not checked.
  At(50);
  EXPECT_EQ(PasswordFailure("cce1", kPassword, "127.0.0.77").number(), err::kTooManyAttempts);
  // The address that guessed is locked for other accounts too.
  EXPECT_EQ(PasswordFailure("cust1", kPassword).number(), err::kTooManyAttempts);
  // After the first lock's minute the account signs in, and that forgets its failures.
  At(111);
  EXPECT_NO_THROW(SignInWithPassword("cce1", kPassword, "127.0.0.77", settings_));

  // Failures spread over more than a minute do not lock.
  for (int i = 0; i < 2 * kPasswordPolicy.failures; ++i) {
    At(200 + i * 7);
    EXPECT_EQ(PasswordFailure("cust1", "guess", "127.0.0." + std::to_string(100 + i)).number(),
              err::kUnauthorized)
        << i;
  }
}

TEST_P(SignInTest, ConcurrentFailuresFromManyHostsAllCount) {
  // Hosts share the counts through the database: failures recorded at once on many sessions
  // must still reach the lock, and none may fail on a busy database.
  At(0);
  std::vector<std::thread> threads;
  std::atomic<int> errors{0};
  for (int i = 0; i < 2 * kPasswordPolicy.failures; ++i) {
    threads.emplace_back([&] {
      try {
        RecordSignInFailure("account", "cce1");
      } catch (const ComError&) {
        ++errors;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(errors, 0);
  EXPECT_TRUE(CheckSignInLimit("account", "CCE1").locked);
  EXPECT_EQ(PasswordFailure("cce1", kPassword).number(), err::kTooManyAttempts);
}

TEST_P(SignInTest, ProspectsSignInWithTheirPinBehindTheLimit) {
  At(0);
  const SessionGrant grant = SignInProspect("P@Example.com", "4711", kPeer, settings_);
  EXPECT_TRUE(grant.caller.is_prospect);
  EXPECT_EQ(grant.caller.email, "p@example.com");
  const auto session = FindSession(grant.token, settings_);
  ASSERT_TRUE(session.has_value());
  EXPECT_EQ(session->caller.roles, std::vector<Role>{Role::kProspect});

  // Five wrong PINs lock the address even when they are spread over hours and many clients: a
  // per-minute window would let a patient guesser through the 9,000 PINs in days.
  EXPECT_EQ(Failure([&] { SignInProspect("p@example.com", "04711", kPeer, settings_); }).number(),
            err::kUnauthorized);
  for (int i = 1; i < kPinPolicy.failures; ++i) {
    SCOPED_TRACE(i);
    At(i * 1200);
    EXPECT_EQ(Failure([&] {
                SignInProspect("p@example.com", std::to_string(1000 + i),
                               "10.0.0." + std::to_string(i), settings_);
              }).number(),
              err::kUnauthorized);
  }
  const int64_t last_failure = (kPinPolicy.failures - 1) * 1200;
  At(last_failure + kPinPolicy.first_lock_seconds - 1);
  EXPECT_EQ(
      Failure([&] { SignInProspect("p@example.com", "4711", "10.1.1.1", settings_); }).number(),
      err::kTooManyAttempts);
  At(last_failure + kPinPolicy.first_lock_seconds);
  EXPECT_NO_THROW(SignInProspect("p@example.com", "4711", "10.1.1.1", settings_));
}

INSTANTIATE_DATABASE_TEST_SUITE(SignInTest);

}  // namespace
}  // namespace heliq
