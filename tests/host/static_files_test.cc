// The pages of the web front end: served without a token while the API still needs one, routes
// of the application answered with index.html, caching and security headers, HEAD, wrong
// methods, and every way out of the web root refused (.., escapes, links); on every database.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <nlohmann/json.hpp>

#include "host/static_files.h"
#include "platform/com_error.h"
#include "tests/people/settings.h"
#include "tests/support/http_host.h"
#include "tests/support/raw_http.h"

namespace heliq {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr char kToken[] = "pages-t0ken-0123456789abcdef";
constexpr char kIndex[] = "<!doctype html><title>Heliq</title><script src=/assets/app-1a2b.js>";
constexpr char kScript[] = "console.log('app');";
constexpr char kSecret[] = "the secret outside the web root";

void Write(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << text;
}

class StaticFilesTest : public testing::HttpHostTest {
 protected:
  void SetUp() override {
    HttpHostTest::SetUp();
    if (IsSkipped()) return;
    root_ = install_dir() / "web";
    Write(root_ / "index.html", kIndex);
    Write(root_ / "assets" / "app-1a2b.js", kScript);
    Write(root_ / "assets" / "app-1a2b.css", "body{}");
    Write(root_ / "favicon.ico", "ico");
    Write(install_dir() / "secret.txt", kSecret);
    fs::create_symlink(install_dir() / "secret.txt", root_ / "leak.txt");
    fs::create_directory_symlink(install_dir(), root_ / "up");
    fs::create_symlink(root_ / "assets" / "app-1a2b.js", root_ / "assets" / "alias.js");
  }
  void Serve(const fs::path& root) {
    HttpServerOptions options;
    options.token = kToken;
    options.web_root = root;
    StartServer(options);
  }
  // The whole answer to `request_line` sent raw (the path exactly as written).
  std::string Raw(const std::string& request_line) {
    testing::RawClient raw(port_);
    EXPECT_TRUE(raw.Send(request_line + "\r\nHost: x\r\nConnection: close\r\n\r\n"));
    return raw.ReadUntilClosed(testing::Millis(5000));
  }
  static void ExpectSecurityHeaders(const httplib::Response& answer) {
    EXPECT_EQ(answer.get_header_value("X-Content-Type-Options"), "nosniff");
    EXPECT_EQ(answer.get_header_value("Referrer-Policy"), "no-referrer");
    const std::string policy = answer.get_header_value("Content-Security-Policy");
    EXPECT_TRUE(policy.starts_with("default-src 'self'")) << policy;
    EXPECT_NE(policy.find("script-src 'self';"), std::string::npos) << policy;
    EXPECT_EQ(policy.find("unsafe-inline"), std::string::npos) << policy;
  }

  fs::path root_;
};

TEST_P(StaticFilesTest, PagesNeedNoTokenRoutesAnswerIndexAndAssetsAreCachedForGood) {
  Serve(root_);
  for (const std::string path : {"/", "/requests/12", "/queue", "/requests/", "/faq?q=x"}) {
    SCOPED_TRACE(path);
    auto page = client_->Get(path);
    ASSERT_TRUE(page);
    ASSERT_EQ(page->status, 200) << page->body;
    EXPECT_EQ(page->body, kIndex);
    EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
    EXPECT_EQ(page->get_header_value("Cache-Control"), "no-cache");
    ExpectSecurityHeaders(*page);
  }
  auto script = client_->Get("/assets/app-1a2b.js");
  ASSERT_TRUE(script);
  ASSERT_EQ(script->status, 200);
  EXPECT_EQ(script->body, kScript);
  EXPECT_EQ(script->get_header_value("Content-Type"), "text/javascript; charset=utf-8");
  EXPECT_EQ(script->get_header_value("Cache-Control"), "public, max-age=31536000, immutable");
  ExpectSecurityHeaders(*script);
  auto style = client_->Get("/assets/app-1a2b.css");
  ASSERT_TRUE(style);
  EXPECT_EQ(style->get_header_value("Content-Type"), "text/css; charset=utf-8");
  // Outside /assets/ a name carries no hash: asked again each time.
  auto icon = client_->Get("/favicon.ico");
  ASSERT_TRUE(icon);
  EXPECT_EQ(icon->get_header_value("Content-Type"), "image/x-icon");
  EXPECT_EQ(icon->get_header_value("Cache-Control"), "no-cache");
  // A link that stays inside the root is served like the file.
  auto alias = client_->Get("/assets/alias.js");
  ASSERT_TRUE(alias);
  EXPECT_EQ(alias->status, 200);
  EXPECT_EQ(alias->body, kScript);

  // A missing asset is no route: 404, not index.html, with the same protective headers.
  auto missing = client_->Get("/assets/gone-9f9f.js");
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->status, 404);
  EXPECT_EQ(json::parse(missing->body)["error"]["number"], err::kResourceNotFound);
  ExpectSecurityHeaders(*missing);

  // The texts of the pages too, since the sign-in page shows them; the rest of the API still wants
  // its token.
  auto texts = client_->Get("/api/v1/texts?locale=1033");
  ASSERT_TRUE(texts);
  EXPECT_EQ(texts->status, 200) << texts->body;
  EXPECT_TRUE(json::parse(texts->body)["texts"].is_object());
  auto posted_texts = client_->Post("/api/v1/texts", "{}", "application/json");
  ASSERT_TRUE(posted_texts);
  EXPECT_EQ(posted_texts->status, 405);
  auto me = client_->Get("/api/v1/me");
  ASSERT_TRUE(me);
  EXPECT_EQ(me->status, 401);
  auto unknown_api = client_->Get("/api/v2/whatever");
  ASSERT_TRUE(unknown_api);
  EXPECT_EQ(unknown_api->status, 401);
}

TEST_P(StaticFilesTest, AnUnchangedPageAnswers304AndAChangedOneItsNewContent) {
  Serve(root_);
  auto first = client_->Get("/queue");
  ASSERT_TRUE(first);
  const std::string tag = first->get_header_value("ETag");
  ASSERT_FALSE(tag.empty());
  auto again = client_->Get("/queue", {{"If-None-Match", "\"other\", W/" + tag}});
  ASSERT_TRUE(again);
  EXPECT_EQ(again->status, 304);
  EXPECT_TRUE(again->body.empty());
  EXPECT_EQ(again->get_header_value("ETag"), tag);
  EXPECT_EQ(again->get_header_value("Cache-Control"), "no-cache");
  ExpectSecurityHeaders(*again);
  // A new build of the front end: the old tag no longer matches.
  Write(root_ / "index.html", std::string(kIndex) + "<!-- rebuilt -->");
  auto rebuilt = client_->Get("/queue", {{"If-None-Match", tag}});
  ASSERT_TRUE(rebuilt);
  EXPECT_EQ(rebuilt->status, 200);
  EXPECT_EQ(rebuilt->body, std::string(kIndex) + "<!-- rebuilt -->");
  EXPECT_NE(rebuilt->get_header_value("ETag"), tag);
}

TEST_P(StaticFilesTest, NoPathLeadsOutOfTheWebRoot) {
  Serve(root_);
  struct Attempt {
    std::string path;
    int status;
  };
  for (const Attempt& attempt :
       {Attempt{"/../secret.txt", 400}, Attempt{"/%2e%2e/secret.txt", 400},
        Attempt{"/assets/%2E%2E/%2e%2e/secret.txt", 400}, Attempt{"/assets/..%2fsecret.txt", 400},
        Attempt{"/..%5csecret.txt", 400}, Attempt{"/a%00.txt", 400}, Attempt{"/a%0a.txt", 400},
        Attempt{"/a%zz.txt", 400}, Attempt{"/leak.txt", 404}, Attempt{"/up/secret.txt", 404}}) {
    SCOPED_TRACE(attempt.path);
    const std::string answer = Raw("GET " + attempt.path + " HTTP/1.1");
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 " + std::to_string(attempt.status))) << answer;
    EXPECT_EQ(answer.find(kSecret), std::string::npos) << answer;
    EXPECT_NE(answer.find("X-Content-Type-Options: nosniff"), std::string::npos) << answer;
  }
}

TEST_P(StaticFilesTest, HeadAnswersTheFieldsWithoutTheBodyAndOtherMethodsAre405) {
  Serve(root_);
  const std::string head = Raw("HEAD /assets/app-1a2b.js HTTP/1.1");
  EXPECT_TRUE(head.starts_with("HTTP/1.1 200")) << head;
  EXPECT_NE(head.find("Content-Length: " + std::to_string(std::string(kScript).size())),
            std::string::npos)
      << head;
  EXPECT_TRUE(head.ends_with("\r\n\r\n")) << "a body followed: " << head;
  EXPECT_NE(head.find("Cache-Control: public, max-age=31536000, immutable"), std::string::npos);

  auto posted = Post("/index.html", "{}", kToken);
  ASSERT_TRUE(posted);
  EXPECT_EQ(posted->status, 405);
  EXPECT_EQ(posted->get_header_value("Allow"), "GET, HEAD");
  // Without credentials a write is refused before its body is read, page path or not.
  auto anonymous = Post("/requests/12", "{}");
  ASSERT_TRUE(anonymous);
  EXPECT_EQ(anonymous->status, 401);
}

TEST_P(StaticFilesTest, AMissingWebRootLeavesTheApiServedAndPagesAt404) {
  Serve(install_dir() / "no-such-folder");
  auto page = client_->Get("/");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 404);
  EXPECT_EQ(json::parse(page->body)["error"]["number"], err::kResourceNotFound);
  auto health = client_->Get("/healthz");
  ASSERT_TRUE(health);
  EXPECT_EQ(health->status, 200) << health->body;
  auto me = Get("/api/v1/me", kToken);
  ASSERT_TRUE(me);
  EXPECT_EQ(me->status, 200) << me->body;
}

TEST_P(StaticFilesTest, TheWebRootAndUploadLimitComeFromTheHostSettings) {
  testing::UseSettingsWith("[host]\nweb_root = 'site\\pages'\nmax_upload_bytes = 5\n");
  EXPECT_EQ(WebRootFromSettings(), install_dir() / "site" / "pages");
  const HttpServerOptions options = OptionsFromSettings();
  EXPECT_EQ(options.web_root, install_dir() / "site" / "pages");
  EXPECT_EQ(options.max_upload_bytes, 5u);
  testing::UseSettingsWith("[host]\nweb_root = '/srv/heliq'\n");
  EXPECT_EQ(WebRootFromSettings(), fs::path("/srv/heliq"));
  // Unset: share/heliq/web beside the program's folder.
  testing::UseSettingsWith("");
  const fs::path fallback = WebRootFromSettings();
  EXPECT_TRUE(fallback.generic_string().ends_with("/share/heliq/web")) << fallback;
  testing::UseSettingsWith("[host]\nmax_upload_bytes = 'ten'\n");
  try {
    OptionsFromSettings();
    ADD_FAILURE() << "a bad max_upload_bytes was taken";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kTypeMismatch);
    EXPECT_NE(e.description().find("max_upload_bytes"), std::string::npos) << e.description();
  }
}

INSTANTIATE_DATABASE_TEST_SUITE(StaticFilesTest);

}  // namespace
}  // namespace heliq
