// Test support: an HTTP host on a free loopback port over the test database, with a client and
// test operations that a host test may register.
//
// Use HttpHostTest as a DatabaseTest: StartServer(options) in the test, then Post/Get. The server
// is stopped in TearDown.
#ifndef HELIQ_TESTS_SUPPORT_HTTP_HOST_H_
#define HELIQ_TESTS_SUPPORT_HTTP_HOST_H_

#include <httplib.h>

#include <memory>
#include <string>

#include "host/http_server.h"
#include "tests/support/database_fixture.h"

namespace heliq::testing {

class HttpHostTest : public DatabaseTest {
 protected:
  void TearDown() override {
    client_.reset();
    if (server_) server_->Stop();
    server_.reset();
    DatabaseTest::TearDown();
  }

  // Starts a host with `options` on a free port (options.port is ignored) and a client to it.
  void StartServer(HttpServerOptions options = {}) {
    options.address = "127.0.0.1";
    options.port = 0;
    server_ = std::make_unique<HttpServer>(options);
    port_ = server_->Start();
    ASSERT_GT(port_, 0);
    client_ = NewClient();
  }
  std::unique_ptr<httplib::Client> NewClient() const {
    auto client = std::make_unique<httplib::Client>("127.0.0.1", port_);
    client->set_connection_timeout(5);
    client->set_read_timeout(30);
    return client;
  }
  // The request with "Authorization: Bearer <token>" when `token` is not empty.
  httplib::Result Post(const std::string& path, const std::string& body,
                       const std::string& token = "") {
    return client_->Post(path, Headers(token), body, "application/json");
  }
  httplib::Result Get(const std::string& path, const std::string& token = "") {
    return client_->Get(path, Headers(token));
  }
  static httplib::Headers Headers(const std::string& token) {
    if (token.empty()) return {};
    return {{"Authorization", "Bearer " + token}};
  }

  std::unique_ptr<HttpServer> server_;
  std::unique_ptr<httplib::Client> client_;
  int port_ = -1;
};

}  // namespace heliq::testing

#endif  // HELIQ_TESTS_SUPPORT_HTTP_HOST_H_
