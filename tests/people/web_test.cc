// Who sends a request (API token, Bearer session, cookie with CSRF token) and the sign-in, sign-out
// and me answers, on every available database.
#include <gtest/gtest.h>

#include <string>

#include "people/web.h"
#include "platform/com_error.h"
#include "portal/directory/directory_store.h"
#include "tests/people/settings.h"
#include "tests/support/database_fixture.h"
#include "tests/support/directory_users.h"

namespace heliq {
namespace {

constexpr std::string_view kApiToken = "0123456789abcdef-api-token";
constexpr std::string_view kPeer = "127.0.0.5";

class SessionWebTest : public testing::DatabaseTest {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    if (IsSkipped()) return;
    testing::UseSettingsWith("[session]\ncookie_secure = true\nadmin_role = 90\n");
    settings_ = SessionSettingsFromConfig();
    testing::AddDirectoryUser("disp1", {31});
    DirectoryStore::FromSettings().SetPassword("disp1", "pass-of-disp1");
  }

  int32_t Refusal(const RequestCredentials& credentials) {
    try {
      AuthenticateRequest(credentials, kApiToken, settings_);
    } catch (const ComError& e) {
      return e.number();
    }
    return 0;
  }
  int32_t SignInRefusal(std::string_view body) {
    try {
      SignInRoute(body, kPeer, settings_);
    } catch (const ComError& e) {
      return e.number();
    }
    return 0;
  }

  SessionSettings settings_;
};

TEST_P(SessionWebTest, SignInSetsAStrictCookieAndAnswersWhoSignedIn) {
  const PeopleAnswer answer =
      SignInRoute(R"({"login":"DISP1","password":"pass-of-disp1"})", kPeer, settings_);
  EXPECT_EQ(answer.status, 200);
  EXPECT_EQ(answer.body["login"], "disp1");
  EXPECT_EQ(answer.body["roles"], nlohmann::json::array({"dispatcher"}));
  ASSERT_EQ(answer.set_cookies.size(), 1u);
  const std::string& cookie = answer.set_cookies[0];
  const std::string token = answer.body["token"];
  EXPECT_TRUE(cookie.starts_with("heliq_session=" + token + ";")) << cookie;
  for (const char* attribute : {"; HttpOnly", "; SameSite=Strict", "; Path=/", "; Secure"}) {
    EXPECT_NE(cookie.find(attribute), std::string::npos) << attribute << " in " << cookie;
  }

  const auto me = AuthenticateRequest({"GET", "Bearer " + token, "", ""}, kApiToken, settings_);
  ASSERT_TRUE(me.has_value());
  const nlohmann::ordered_json body = MeBody(*me);
  EXPECT_EQ(body["login"], "disp1");
  EXPECT_EQ(body["display_name"], "Given Name");
  EXPECT_EQ(body["centres"], nlohmann::json::array({kCallCentre}));
  EXPECT_EQ(body["locale"], 1033);

  const PeopleAnswer out = SignOutRoute({"DELETE", "", "a=b; heliq_session=" + token, ""}, kPeer,
                                        settings_);
  EXPECT_EQ(out.body["signed_out"], true);
  EXPECT_NE(out.set_cookies.at(0).find("Max-Age=0"), std::string::npos);
  EXPECT_EQ(Refusal({"GET", "Bearer " + token, "", ""}), err::kUnauthorized);
}

TEST_P(SessionWebTest, ACookieWithoutItsCsrfTokenChangesNothingButBearerNeedsNone) {
  const PeopleAnswer answer =
      SignInRoute(R"({"login":"disp1","password":"pass-of-disp1"})", kPeer, settings_);
  const std::string token = answer.body["token"];
  const std::string csrf = answer.body["csrf"];
  const std::string cookie = "heliq_session=" + token;

  EXPECT_EQ(Refusal({"GET", "", cookie, ""}), 0) << "reads need no CSRF token";
  EXPECT_EQ(Refusal({"POST", "", cookie, ""}), err::kForbidden);
  EXPECT_EQ(Refusal({"DELETE", "", cookie, csrf + "x"}), err::kForbidden);
  EXPECT_EQ(Refusal({"POST", "", cookie, csrf}), 0);
  EXPECT_EQ(Refusal({"POST", "Bearer " + token, "", ""}), 0);

  // The API token; a wrong Bearer value; a cookie of no session; nothing at all.
  const auto token_caller =
      AuthenticateRequest({"POST", "bearer " + std::string(kApiToken), "", ""}, kApiToken,
                          settings_);
  ASSERT_TRUE(token_caller.has_value());
  EXPECT_TRUE(token_caller->is_api_token);
  EXPECT_EQ(Refusal({"POST", "Bearer " + std::string(kApiToken) + "0", "", ""}),
            err::kUnauthorized);
  EXPECT_EQ(Refusal({"GET", "", "heliq_session=forged", ""}), err::kUnauthorized);
  EXPECT_FALSE(AuthenticateRequest({"GET", "", "", ""}, kApiToken, settings_).has_value());
  // Without a configured API token, no Bearer value is the token.
  EXPECT_THROW(AuthenticateRequest({"GET", "Bearer ", "", ""}, "", settings_), ComError);
}

TEST_P(SessionWebTest, BadSignInBodiesAreRefusedClearly) {
  EXPECT_EQ(SignInRefusal("not json"), err::kBadRequest);
  EXPECT_EQ(SignInRefusal("[]"), err::kBadRequest);
  EXPECT_EQ(SignInRefusal(R"({"password":"x"})"), err::kBadRequest);
  EXPECT_EQ(SignInRefusal(R"({"login":"disp1","email":"a@b.c"})"), err::kBadRequest);
  EXPECT_EQ(SignInRefusal(R"({"login":["disp1"],"password":"x"})"), err::kBadRequest);
  EXPECT_EQ(SignInRefusal(R"({"login":"disp1"})"), err::kUnauthorized);
  EXPECT_EQ(SignInRefusal(R"({"login":"disp1","password":"wrong"})"), err::kUnauthorized);
  EXPECT_EQ(SignInRefusal(std::string(9000, ' ')), err::kBadRequest);
  EXPECT_EQ(Count("SESSIONS"), 0);
}

INSTANTIATE_DATABASE_TEST_SUITE(SessionWebTest);

}  // namespace
}  // namespace heliq
