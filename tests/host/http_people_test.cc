// Signed-in people over HTTP: sign-in and sign-out, sessions by Bearer token and by cookie with
// its CSRF token, what a customer may see and do, the sign-in limit's answer, and the API token
// beside them; on every available database.
#include <gtest/gtest.h>

#include <string>

#include <nlohmann/json.hpp>

#include "people/sessions.h"
#include "platform/com_error.h"
#include "portal/directory/directory_store.h"
#include "tests/people/settings.h"
#include "tests/support/directory_users.h"
#include "tests/support/http_host.h"
#include "tests/support/ldap_directory.h"
#include "tests/support/raw_http.h"

namespace heliq {
namespace {

using nlohmann::json;

constexpr char kToken[] = "s3cr3t-t0ken-0123456789abcdef";
constexpr char kQuestion[] = "/api/v1/HlqServiceRequestMTS.Question/";

json Body(const httplib::Result& result) { return json::parse(result->body, nullptr, false); }

struct Session {
  std::string token;
  std::string csrf;
};

class HttpPeopleTest : public testing::HttpHostTest {
 protected:
  void SetUp() override {
    HttpHostTest::SetUp();
    if (IsSkipped()) return;
    testing::UseSettingsWith("");
    for (const auto& [login, roles] : {std::pair<std::string, std::vector<int32_t>>{"cust1", {}},
                                       {"cust2", {}},
                                       {"disp1", {31}}}) {
      testing::AddDirectoryUser(login, roles);
      DirectoryStore::FromSettings().SetPassword(login, "pw-" + login);
    }
    HttpServerOptions options;
    options.token = kToken;
    StartServer(options);
  }

  httplib::Result SignInAs(const std::string& login, const std::string& password) {
    return client_->Post("/api/v1/session", json{{"login", login}, {"password", password}}.dump(),
                         "application/json");
  }
  Session SignIn(const std::string& login) {
    auto answer = SignInAs(login, "pw-" + login);
    EXPECT_TRUE(answer && answer->status == 200) << (answer ? answer->body : "no answer");
    if (!answer || answer->status != 200) return {};
    return {Body(answer)["token"], Body(answer)["csrf"]};
  }
  static httplib::Headers WithCookie(const Session& session, const std::string& csrf) {
    httplib::Headers headers{{"Cookie", "lang=en; heliq_session=" + session.token}};
    if (!csrf.empty()) headers.emplace("X-CSRF-Token", csrf);
    return headers;
  }
  // A request of `originator`, filed with the API token.
  int32_t FileRequest(const std::string& originator) {
    auto created =
        Post("/api/v1/requests",
             json{{"Q_DESC", "Printer jams"}, {"Q_ORIGINATOR", originator}}.dump(), kToken);
    EXPECT_TRUE(created && created->status == 201) << (created ? created->body : "no answer");
    return created && created->status == 201 ? Body(created)["Q_ID"].get<int32_t>() : 0;
  }
  std::string Originator(int32_t id) {
    return Value("select Q_ORIGINATOR from QUESTIONS where Q_ID = ?", {Variant(id)})
        .ToTextOrEmpty();
  }
};

TEST_P(HttpPeopleTest, SignInGivesAStrictCookieAndATokenAndWrongCredentialsLookAlike) {
  auto answer = SignInAs("CUST1", "pw-cust1");
  ASSERT_TRUE(answer);
  ASSERT_EQ(answer->status, 200) << answer->body;
  const json body = Body(answer);
  EXPECT_EQ(body["login"], "cust1");
  EXPECT_EQ(body["roles"], json::array({"customer"}));
  EXPECT_TRUE(body.contains("expires"));
  const std::string token = body["token"];
  const std::string cookie = answer->get_header_value("Set-Cookie");
  EXPECT_TRUE(cookie.starts_with("heliq_session=" + token + ";")) << cookie;
  EXPECT_NE(cookie.find("HttpOnly"), std::string::npos) << cookie;
  EXPECT_NE(cookie.find("SameSite=Strict"), std::string::npos) << cookie;
  EXPECT_EQ(answer->get_header_value("Cache-Control"), "no-store");

  // The session works as a Bearer token and as the cookie (reading needs no CSRF token).
  auto me = Get("/api/v1/me", token);
  ASSERT_TRUE(me);
  ASSERT_EQ(me->status, 200) << me->body;
  EXPECT_EQ(Body(me)["login"], "cust1");
  auto by_cookie = client_->Get("/api/v1/me", WithCookie({token, ""}, ""));
  ASSERT_TRUE(by_cookie);
  EXPECT_EQ(by_cookie->status, 200) << by_cookie->body;
  auto token_me = Get("/api/v1/me", kToken);
  ASSERT_TRUE(token_me);
  EXPECT_EQ(Body(token_me)["roles"], json::array({"api-token"}));

  auto wrong_login = SignInAs("nobody", "pw-cust1");
  auto wrong_password = SignInAs("cust1", "pw-cust2");
  ASSERT_TRUE(wrong_login && wrong_password);
  EXPECT_EQ(wrong_login->status, 401);
  EXPECT_EQ(wrong_password->status, 401);
  EXPECT_EQ(wrong_login->body, wrong_password->body);
  EXPECT_EQ(Body(wrong_login)["error"]["number"], err::kUnauthorized);
  EXPECT_FALSE(wrong_login->has_header("Set-Cookie"));
  EXPECT_EQ(wrong_login->body.find("pw-cust1"), std::string::npos);

  auto malformed = client_->Post("/api/v1/session", "{\"login\":", "application/json");
  ASSERT_TRUE(malformed);
  EXPECT_EQ(malformed->status, 400);
  auto no_credentials = Get("/api/v1/me");
  ASSERT_TRUE(no_credentials);
  EXPECT_EQ(no_credentials->status, 401);
  EXPECT_EQ(no_credentials->get_header_value("WWW-Authenticate"), "Bearer");
}

TEST_P(HttpPeopleTest, ACustomerSeesAndActsOnlyOnHisOwnRequestsUnderHisOwnName) {
  const int32_t theirs = FileRequest("cust2");
  const Session cust1 = SignIn("cust1");

  // His request is his whatever the body says.
  auto created = Post("/api/v1/requests",
                      R"({"Q_DESC": "Screen flickers", "Q_ORIGINATOR": "cust2"})", cust1.token);
  ASSERT_TRUE(created);
  ASSERT_EQ(created->status, 201) << created->body;
  const int32_t mine = Body(created)["Q_ID"].get<int32_t>();
  EXPECT_EQ(Originator(mine), "cust1");

  // Another's request answers like one that does not exist, on every read route.
  for (const std::string tail : {"", "/transactions", "/reminder"}) {
    SCOPED_TRACE(tail);
    auto hidden = Get("/api/v1/requests/" + std::to_string(theirs) + tail, cust1.token);
    auto unknown = Get("/api/v1/requests/99999" + tail, cust1.token);
    ASSERT_TRUE(hidden && unknown);
    EXPECT_EQ(hidden->status, 404) << hidden->body;
    EXPECT_EQ(unknown->status, 404) << unknown->body;
    EXPECT_EQ(Body(hidden)["error"]["number"], Body(unknown)["error"]["number"]);
  }
  auto own = Get("/api/v1/requests/" + std::to_string(mine), cust1.token);
  ASSERT_TRUE(own);
  EXPECT_EQ(own->status, 200) << own->body;
  auto by_token = Get("/api/v1/requests/" + std::to_string(theirs), kToken);
  ASSERT_TRUE(by_token);
  EXPECT_EQ(by_token->status, 200) << by_token->body;

  // Lists hold his own requests only; the dispatchers' engineer list is not his.
  auto listed = Get("/api/v1/requests?limit=50", cust1.token);
  ASSERT_TRUE(listed);
  ASSERT_EQ(listed->status, 200) << listed->body;
  ASSERT_EQ(Body(listed)["requests"].size(), 1u) << listed->body;
  EXPECT_EQ(Body(listed)["requests"][0]["Q_ID"], mine);
  for (const std::string& path : {std::string("/api/v1/requests?email=cust2%40example.com"),
                                  "/api/v1/engineers?request=" + std::to_string(mine)}) {
    auto refused = Get(path, cust1.token);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 403) << path << ": " << refused->body;
  }
  auto all = Get("/api/v1/requests?limit=50", kToken);
  ASSERT_TRUE(all);
  EXPECT_EQ(Body(all)["requests"].size(), 2u) << all->body;

  // Acting on another's request, or a dispatcher's operation on his own: 403, nothing written.
  const int64_t rows = Count("TRANSACTIONS");
  auto add = Post(
      std::string(kQuestion) + "AddtoQuestion",
      json{{"i_dictDetails", {{"Q_ID", theirs}, {"T_NAME", "cust2"}, {"USERCOMMENT", "mine now"}}}}
          .dump(),
      cust1.token);
  auto assign = Post(std::string(kQuestion) + "AssignToEngineer",
                     json{{"i_aQList", {mine}}, {"i_sEngineer", "cust1"}}.dump(), cust1.token);
  ASSERT_TRUE(add && assign);
  EXPECT_EQ(add->status, 403) << add->body;
  EXPECT_EQ(Body(add)["error"]["number"], err::kForbidden);
  EXPECT_EQ(assign->status, 403) << assign->body;
  EXPECT_EQ(Count("TRANSACTIONS"), rows);
  EXPECT_EQ(Originator(theirs), "cust2");

  // A customer action on his own request runs under his login, not the one sent, and
  // registering cannot hand the request to another.
  auto registered = Post(std::string(kQuestion) + "RegisterQuestion",
                         json{{"i_dictDetails",
                               {{"Q_ID", mine},
                                {"T_NAME", "someone-else"},
                                {"Q_ORIGINATOR", "cust2"},
                                {"T_COMMENT", "new"},
                                {"USERCOMMENT", ""},
                                {"CENTER", 1}}}}
                             .dump(),
                         cust1.token);
  ASSERT_TRUE(registered);
  ASSERT_EQ(registered->status, 200) << registered->body;
  EXPECT_EQ(
      Value("select T_NAME from TRANSACTIONS where Q_ID = ? order by T_ID desc", {Variant(mine)})
          .ToTextOrEmpty(),
      "cust1");
  EXPECT_EQ(Originator(mine), "cust1");

  // The metrics stay the API token's.
  auto metrics = Get("/metrics", cust1.token);
  ASSERT_TRUE(metrics);
  EXPECT_EQ(metrics->status, 403);
  auto token_metrics = Get("/metrics", kToken);
  ASSERT_TRUE(token_metrics);
  EXPECT_EQ(token_metrics->status, 200);
}

TEST_P(HttpPeopleTest, ACookieChangesStateOnlyWithItsCsrfTokenAndSignOutEndsTheSession) {
  const Session session = SignIn("cust1");
  const std::string body = R"({"Q_DESC": "Printer jams"})";
  for (const std::string& csrf : {std::string(), std::string("forged"), session.token}) {
    SCOPED_TRACE(csrf);
    auto refused =
        client_->Post("/api/v1/requests", WithCookie(session, csrf), body, "application/json");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 403) << refused->body;
    EXPECT_EQ(Body(refused)["error"]["number"], err::kForbidden);
  }
  EXPECT_EQ(Count("QUESTIONS"), 0);
  auto accepted = client_->Post("/api/v1/requests", WithCookie(session, session.csrf), body,
                                "application/json");
  ASSERT_TRUE(accepted);
  EXPECT_EQ(accepted->status, 201) << accepted->body;
  EXPECT_EQ(Count("QUESTIONS"), 1);

  // A forged sign-out leaves the session alive; a Bearer call needs no CSRF token.
  auto forged = client_->Delete("/api/v1/session", WithCookie(session, ""));
  ASSERT_TRUE(forged);
  EXPECT_EQ(forged->status, 403) << forged->body;
  auto alive = Post("/api/v1/requests", body, session.token);
  ASSERT_TRUE(alive);
  EXPECT_EQ(alive->status, 201) << alive->body;

  auto out = client_->Delete("/api/v1/session", WithCookie(session, session.csrf));
  ASSERT_TRUE(out);
  ASSERT_EQ(out->status, 200) << out->body;
  EXPECT_EQ(Body(out)["signed_out"], true);
  EXPECT_NE(out->get_header_value("Set-Cookie").find("Max-Age=0"), std::string::npos);
  for (const char* path : {"/api/v1/me", "/api/v1/requests/1"}) {
    auto ended = Get(path, session.token);
    ASSERT_TRUE(ended);
    EXPECT_EQ(ended->status, 401) << path;
    EXPECT_EQ(ended->get_header_value("WWW-Authenticate"), "Bearer");
  }
  auto by_cookie = client_->Get("/api/v1/me", WithCookie(session, ""));
  ASSERT_TRUE(by_cookie);
  EXPECT_EQ(by_cookie->status, 401);
  EXPECT_EQ(Count("QUESTIONS"), 2);
}

TEST_P(HttpPeopleTest, TheEleventhWrongPasswordInAMinuteIsRefusedWithRetryAfter) {
  for (int i = 0; i < kPasswordPolicy.failures; ++i) {
    auto wrong = SignInAs("disp1", "guess-" + std::to_string(i));
    ASSERT_TRUE(wrong);
    EXPECT_EQ(wrong->status, 401) << i;
  }
  // Refused without a check: the right password does not help now.
  auto locked = SignInAs("disp1", "pw-disp1");
  ASSERT_TRUE(locked);
  EXPECT_EQ(locked->status, 429) << locked->body;
  EXPECT_EQ(Body(locked)["error"]["number"], err::kTooManyAttempts);
  ASSERT_TRUE(locked->has_header("Retry-After"));
  const int retry_after = std::stoi(locked->get_header_value("Retry-After"));
  EXPECT_GT(retry_after, 0);
  EXPECT_LE(retry_after, 60);
  EXPECT_FALSE(locked->has_header("Set-Cookie"));

  // The API token is no session and is not limited.
  auto token = Get("/api/v1/requests/" + std::to_string(FileRequest("cust2")), kToken);
  ASSERT_TRUE(token);
  EXPECT_EQ(token->status, 200) << token->body;
}

// Signing in against the LDAP directory: a bind as the person, behind the same answers; a server
// that is down is the service's fault (503), not a wrong password, and starts no session.
TEST_P(HttpPeopleTest, SignInAgainstTheLdapDirectoryBindsAsThePerson) {
  auto server = testing::TestLdap();
  if (!server) GTEST_SKIP() << "HELIQ_TEST_LDAP is not set";
  const std::string membership = testing::MembershipSection(server->bind_dn, server->password);
  testing::UseFixtureSettingsWith(membership + testing::LdapDirectorySection(*server));
  auto granted = SignInAs("CCE1", "heliq-demo");
  ASSERT_TRUE(granted);
  EXPECT_EQ(granted->status, 200) << granted->body;
  for (const auto& [login, password] :
       {std::pair{"cce1", "heliq-demo-wrong"}, std::pair{"*)(uid=*", "heliq-demo"},
        std::pair{"*", "heliq-demo"}, std::pair{"cce1", ""}}) {
    auto refused = SignInAs(login, password);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 401) << login << ": " << refused->body;
  }
  const int64_t sessions = Count("SESSIONS");
  server->uri = "ldap://127.0.0.1:" + std::to_string(testing::FreePort());
  testing::UseFixtureSettingsWith(membership +
                                  testing::LdapDirectorySection(*server, "timeout = 2\n"));
  auto down = SignInAs("cce1", "heliq-demo");
  ASSERT_TRUE(down);
  EXPECT_EQ(down->status, 503) << down->body;
  EXPECT_EQ(down->body.find("heliq-demo"), std::string::npos) << down->body;
  EXPECT_EQ(Count("SESSIONS"), sessions);
}

INSTANTIATE_DATABASE_TEST_SUITE(HttpPeopleTest);

}  // namespace
}  // namespace heliq
