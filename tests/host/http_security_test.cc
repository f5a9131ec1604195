// The host's guards: the bearer token, the exposure rule, the input limits and the deadline, and
// secrets kept out of error bodies and log lines.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "common/heliq_utilities.h"
#include "host/host.h"
#include "host/http_server.h"
#include "platform/com_error.h"
#include "platform/configuration.h"
#include "platform/log.h"
#include "platform/operation_table.h"
#include "tests/people/settings.h"
#include "tests/support/http_host.h"

namespace heliq {
namespace {

using nlohmann::json;

constexpr char kToken[] = "s3cr3t-t0ken-0123456789abcdef";
constexpr char kCreateProspect[] = "/api/v1/HlqServiceRequestMTS.Prospect/CreateNewProspect";
constexpr char kProspectArgs[] = R"({"i_sEmailID": "p@example.com", "i_sContactInfo": "x"})";
constexpr std::string_view kInsertProspect =
    "insert into PROSPECT (EMAILID, PIN, INFORMATION, PENDINGQUESTIONS) values (?, 1, '', 0)";

json ErrorOf(const httplib::Result& result) { return json::parse(result->body)["error"]; }

class HttpSecurityTest : public testing::HttpHostTest {};

TEST_P(HttpSecurityTest, EveryRouteButHealthNeedsTheToken) {
  HttpServerOptions options;
  options.token = kToken;
  StartServer(options);
  const std::string wrong(std::string(kToken).size(), 'x');
  for (const std::string& token : {std::string(), wrong, std::string(kToken).substr(1)}) {
    SCOPED_TRACE(token);
    auto refused = Post(kCreateProspect, kProspectArgs, token);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 401);
    EXPECT_EQ(ErrorOf(refused)["number"], err::kUnauthorized);
    EXPECT_EQ(refused->get_header_value("WWW-Authenticate"), "Bearer");
    for (const char* path : {"/metrics", "/api/v1/openapi.json", "/api/v1/requests/1"}) {
      auto read = Get(path, token);
      ASSERT_TRUE(read);
      EXPECT_EQ(read->status, 401) << path;
    }
  }
  auto basic = client_->Post(kCreateProspect, {{"Authorization", std::string("Basic ") + kToken}},
                             kProspectArgs, "application/json");
  ASSERT_TRUE(basic);
  EXPECT_EQ(basic->status, 401);
  EXPECT_EQ(Count("PROSPECT"), 0);

  auto health = Get("/healthz");
  ASSERT_TRUE(health);
  EXPECT_EQ(health->status, 200);
  auto accepted = Post(kCreateProspect, kProspectArgs, kToken);
  ASSERT_TRUE(accepted);
  EXPECT_EQ(accepted->status, 200) << accepted->body;
  EXPECT_EQ(Count("PROSPECT"), 1);
  auto metrics = Get("/metrics", kToken);
  ASSERT_TRUE(metrics);
  EXPECT_EQ(metrics->status, 200);
}

TEST_P(HttpSecurityTest, LimitsAreRefusedNamingTheArgumentAndWriteNothing) {
  HttpServerOptions options;
  options.max_body_bytes = 2048;
  options.max_json_depth = 3;
  options.max_text_bytes = 64;
  StartServer(options);
  struct Case {
    std::string path;
    std::string body;
    int status;
    int32_t number;
    std::string named;
  };
  const std::string long_text(65, 'a');
  const Case cases[] = {
      {kCreateProspect,
       R"({"i_sEmailID": "p@example.com", "i_sContactInfo": ")" + long_text + "\"}", 400,
       err::kBadRequest, "i_sContactInfo"},
      {kCreateProspect,
       R"({"i_sEmailID": "p@example.com", "i_sContactInfo": {"a": {"b": {"c": {"d": 1}}}}})", 400,
       err::kBadRequest, "i_sContactInfo.a.b"},
      {"/api/v1/requests", R"({"Q_DESC": "x", "Q_TEXT": ")" + long_text + "\"}", 400,
       err::kBadRequest, "Q_TEXT"},
      // Last: the host answers before reading the body and closes the connection.
      {kCreateProspect,
       R"({"i_sEmailID": "p@example.com", "i_sContactInfo": ")" + std::string(4096, 'a') + "\"}",
       413, err::kPayloadTooLarge, "max_body_bytes"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body.substr(0, 120));
    auto refused = Post(c.path, c.body);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, c.status);
    const json error = ErrorOf(refused);
    EXPECT_EQ(error["number"], c.number);
    EXPECT_NE(error["description"].get<std::string>().find(c.named), std::string::npos)
        << error.dump();
  }
  EXPECT_EQ(Count("PROSPECT"), 0);
  EXPECT_EQ(Count("QUESTIONS"), 0);
}

TEST_P(HttpSecurityTest, ACallPastItsDeadlineIsRolledBack) {
  // Its own operation is outside the permission table: served to the token as for diagnostics.
  testing::UseSettingsWith("[host]\nserve_all_operations = true\n");
  AddOperation(
      {"HeliqTest.Slow", "Write", {In("i_sEmailID", ParamKind::kText)}, [](Dictionary& args) {
         GetHeliqConnection()->Execute(kInsertProspect, {args.Get("i_sEmailID")});
         std::this_thread::sleep_for(std::chrono::milliseconds(300));
         return Variant("written");
       }});
  HttpServerOptions options;
  options.call_timeout_ms = 100;
  StartServer(options);
  auto late = Post("/api/v1/HeliqTest.Slow/Write", R"({"i_sEmailID": "late@example.com"})");
  ASSERT_TRUE(late);
  EXPECT_EQ(late->status, 503);
  EXPECT_EQ(ErrorOf(late)["number"], err::kCallDeadlineExceeded);
  EXPECT_EQ(Count("PROSPECT"), 0);
}

// Sets an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) { setenv(name, value, 1); }
  ~ScopedEnv() { unsetenv(name_); }

 private:
  const char* name_;
};

TEST_P(HttpSecurityTest, SecretsStayOutOfErrorBodiesAndLogLines) {
  // Its own operation is outside the permission table: served to the token as for diagnostics.
  testing::UseSettingsWith("[host]\nserve_all_operations = true\n");
  const ScopedEnv token("HELIQ_API_TOKEN", kToken);
  const std::string leak = std::string("cannot open postgresql:host=db password = 'pw one' ") +
                           "user=x, postgresql://u:pw-two@db/x, postgresql:password=pw-three, "
                           "token " +
                           kToken;
  AddOperation({"HeliqTest.Leak", "Fail", {}, [leak](Dictionary&) -> Variant {
                  throw ComError(err::kDbConnection, "HeliqTest.Leak", leak);
                }});
  HttpServerOptions options = OptionsFromSettings();
  EXPECT_EQ(options.token, kToken) << "the environment supplies the token";
  StartServer(options);
  ::testing::internal::CaptureStderr();
  auto failed = Post("/api/v1/HeliqTest.Leak/Fail", "{}", kToken);
  auto refused = Post("/api/v1/HeliqTest.Leak/Fail", "{}", "pw-two-and-more-characters");
  LogInfo(leak);
  const std::string logged = ::testing::internal::GetCapturedStderr();
  ASSERT_TRUE(failed);
  ASSERT_TRUE(refused);
  EXPECT_EQ(failed->status, 503);
  EXPECT_NE(logged.find("access POST HeliqTest.Leak.Fail status 503"), std::string::npos) << logged;
  for (const std::string& text : {failed->body, refused->body, logged, RedactSecrets(leak)}) {
    for (const char* secret : {"pw one", "pw-two", "pw-three", kToken}) {
      EXPECT_EQ(text.find(secret), std::string::npos) << secret << " in " << text;
    }
  }
  EXPECT_NE(failed->body.find("postgresql:host=db password = *** user=x"), std::string::npos)
      << "only the secrets are blanked: " << failed->body;
}

INSTANTIATE_DATABASE_TEST_SUITE(HttpSecurityTest);

TEST(HttpServerExposureTest, RefusesToServeOtherAddressesWithoutALongToken) {
  // The host reads its session settings when it is made; this test runs without a file.
  SetSettingsText("");
  for (const char* address : {"127.0.0.1", "127.1.2.3", "::1", "localhost"}) {
    EXPECT_TRUE(IsLoopbackAddress(address)) << address;
  }
  for (const char* address : {"0.0.0.0", "10.0.0.1", "::", "128.0.0.1"}) {
    EXPECT_FALSE(IsLoopbackAddress(address)) << address;
  }
  HttpServerOptions open;
  open.address = "0.0.0.0";
  open.port = 0;
  try {
    HttpServer(open).Start();
    ADD_FAILURE() << "served on 0.0.0.0 without a token";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kInvalidProcedureCall);
    EXPECT_NE(e.description().find("token"), std::string::npos) << e.description();
  }
  open.token = "short";
  EXPECT_THROW(HttpServer(open).Start(), ComError);
  open.token = kToken;
  HttpServer guarded(open);
  EXPECT_GT(guarded.Start(), 0);
  guarded.Stop();
}

TEST(HttpServerExposureTest, BadLimitSettingsNameTheKey) {
  SetSettingsText("[host]\nmax_body_bytes = 100\ncall_timeout_ms = 0\nthreads = 2\n");
  const HttpServerOptions options = OptionsFromSettings();
  EXPECT_EQ(options.max_body_bytes, 100u);
  EXPECT_EQ(options.call_timeout_ms, 0);
  EXPECT_EQ(options.threads, 2);
  for (const char* text : {"[host]\nthreads = 0\n", "[host]\nmax_json_depth = \"deep\"\n",
                           "[host]\nport = \"80x\"\n"}) {
    SetSettingsText(text);
    try {
      OptionsFromSettings();
      ADD_FAILURE() << text;
    } catch (const ComError& e) {
      EXPECT_EQ(e.number(), err::kTypeMismatch);
      const std::string key = std::string(text).substr(7, std::string(text).find(' ') - 7);
      EXPECT_NE(e.description().find(key), std::string::npos) << e.description();
    }
  }
}

}  // namespace
}  // namespace heliq
