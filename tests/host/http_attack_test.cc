// The host's edge under attack, on raw loopback sockets: slow and idle clients, oversized heads,
// hostile framing, request smuggling after a refusal, pipelining, argument bombs, a stop with
// clients attached. Each case checks the host's answer and that /healthz keeps answering quickly
// while the attack runs.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/http_server.h"
#include "platform/com_error.h"
#include "platform/configuration.h"
#include "tests/support/http_host.h"
#include "tests/support/raw_http.h"

namespace heliq {
namespace {

using nlohmann::json;
using testing::Millis;
using testing::RawClient;
using testing::StatusOf;

constexpr char kToken[] = "attack-test-token-0123456789";
constexpr char kHealth[] = "GET /healthz HTTP/1.1\r\nHost: h\r\n\r\n";

std::string RawPost(std::string_view path, std::string_view body, std::string_view extra = "") {
  return "POST " + std::string(path) +
         " HTTP/1.1\r\nHost: h\r\nContent-Type: application/json\r\n" + std::string(extra) +
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + std::string(body);
}

std::string BodyOf(const std::string& response) {
  const size_t at = response.find("\r\n\r\n");
  return at == std::string::npos ? "" : response.substr(at + 4);
}

class HttpAttackTest : public testing::HttpHostTest {
 protected:
  // /healthz answers 200 within 200 ms on a fresh connection.
  void ExpectHealthy(const std::string& when) {
    SCOPED_TRACE(when);
    const auto started = std::chrono::steady_clock::now();
    auto health = NewClient()->Get("/healthz");
    const auto took = std::chrono::steady_clock::now() - started;
    ASSERT_TRUE(health) << "no answer";
    EXPECT_EQ(health->status, 200) << health->body;
    EXPECT_LT(took, Millis(200));
  }

  std::vector<std::unique_ptr<RawClient>> Connect(size_t count) {
    std::vector<std::unique_ptr<RawClient>> clients;
    for (size_t i = 0; i < count; ++i) {
      clients.push_back(std::make_unique<RawClient>(port_));
      EXPECT_TRUE(clients.back()->connected());
    }
    return clients;
  }

  // Sends `request` on a new connection: the one answer, then the connection closes.
  std::string AnsweredThenClosed(const std::string& request) {
    RawClient client(port_);
    client.Send(request);
    const std::string received = client.ReadUntilClosed(Millis(5000));
    EXPECT_TRUE(client.closed()) << "the connection stays open after " << received.substr(0, 200);
    EXPECT_EQ(testing::CountAnswers(received), 1u) << received;
    return received;
  }
};

TEST_P(HttpAttackTest, SlowAndIdleClientsCostNoWorkerAndMeetTheirDeadlines) {
  HttpServerOptions options;
  options.threads = 2;
  options.head_timeout_ms = 1500;
  options.max_connections_per_address = 300;
  StartServer(options);
  auto idle = Connect(200);
  auto slow = Connect(64);
  for (auto& client : slow) client->Send("GET /healthz HTTP/1.1\r\nHost: h\r\nX-Slow: ");
  for (int round = 0; round < 3; ++round) {
    for (auto& client : slow) client->Send("a");
    ExpectHealthy("slow headers, round " + std::to_string(round));
    std::this_thread::sleep_for(Millis(100));
  }
  for (auto& client : slow) {
    const std::string received = client->ReadUntilClosed(Millis(5000));
    EXPECT_EQ(StatusOf(received), 408) << received;
    EXPECT_NE(received.find("head_timeout_ms"), std::string::npos) << received;
  }
  for (auto& client : idle) {
    EXPECT_EQ(client->ReadUntilClosed(Millis(3000)), "") << "closed without an answer";
    EXPECT_TRUE(client->closed());
  }
  ExpectHealthy("after the deadlines");

  // A body that stops coming, and a keep-alive connection left idle.
  RawClient half(port_);
  half.Send("POST /api/v1/requests HTTP/1.1\r\nHost: h\r\nContent-Length: 10\r\n\r\n{\"a\"");
  RawClient kept(port_);
  kept.Send(kHealth);
  ASSERT_TRUE(kept.ReadResponse(Millis(2000)));
  server_->Stop();
  server_.reset();
  options.body_timeout_ms = 300;
  options.keep_alive_timeout_ms = 300;
  StartServer(options);
  RawClient late_body(port_);
  late_body.Send("POST /api/v1/requests HTTP/1.1\r\nHost: h\r\nContent-Length: 10\r\n\r\n{\"a\"");
  const std::string timed_out = late_body.ReadUntilClosed(Millis(3000));
  EXPECT_EQ(StatusOf(timed_out), 408) << timed_out;
  RawClient keep_alive(port_);
  keep_alive.Send(kHealth);
  ASSERT_TRUE(keep_alive.ReadResponse(Millis(2000)));
  EXPECT_EQ(keep_alive.ReadUntilClosed(Millis(3000)), "");
  EXPECT_TRUE(keep_alive.closed()) << "an idle keep-alive connection closes";
  EXPECT_EQ(Count("QUESTIONS"), 0);
}

TEST_P(HttpAttackTest, ConnectionsBeyondTheCapsAreRefused) {
  HttpServerOptions options;
  options.max_connections_per_address = 3;
  StartServer(options);
  auto held = Connect(3);
  const std::string refused = AnsweredThenClosed(kHealth);
  EXPECT_EQ(StatusOf(refused), 503) << refused;
  EXPECT_NE(refused.find("max_connections_per_address"), std::string::npos) << refused;
  held.pop_back();
  std::this_thread::sleep_for(Millis(100));
  RawClient again(port_);
  again.Send(kHealth);
  auto answered = again.ReadResponse(Millis(2000));
  ASSERT_TRUE(answered);
  EXPECT_EQ(StatusOf(*answered), 200) << *answered;
}

TEST_P(HttpAttackTest, OversizedHeadsAreRefusedWith431) {
  StartServer();
  std::thread flood([port = port_] {
    RawClient client(port);
    client.Send("GET /healthz HTTP/1.1\r\nHost: h\r\n");
    const std::string lines = [] {
      std::string text;
      for (int i = 0; i < 10000; ++i) text += "X-Line: value\r\n";
      return text;
    }();
    // 1,000,000 header lines, unless the host closes first.
    for (int i = 0; i < 100 && client.Send(lines); ++i) {
    }
    const std::string received = client.ReadUntilClosed(Millis(5000));
    EXPECT_EQ(StatusOf(received), 431) << received.substr(0, 300);
  });
  ExpectHealthy("during a flood of header lines");
  flood.join();

  std::string many = "GET /healthz HTTP/1.1\r\nHost: h\r\n";
  for (int i = 0; i < 120; ++i) many += "X-" + std::to_string(i) + ": v\r\n";
  const std::string counted = AnsweredThenClosed(many + "\r\n");
  EXPECT_EQ(StatusOf(counted), 431) << counted;
  EXPECT_NE(counted.find("max_header_count"), std::string::npos) << counted;
  ExpectHealthy("after");
}

TEST_P(HttpAttackTest, AmbiguousFramingAndEncodedBodiesAreRefusedAndClosed) {
  StartServer();
  const std::string args = R"({"Q_DESC": "x"})";
  struct Case {
    std::string name;
    std::string request;
    int status;
  };
  const std::string head = "POST /api/v1/requests HTTP/1.1\r\nHost: h\r\n";
  const Case cases[] = {
      {"gzip body",
       RawPost("/api/v1/requests", std::string("\x1f\x8b\x08\x00", 4) + "zzzz",
               "Content-Encoding: gzip\r\n"),
       415},
      {"CL and TE", head + "Content-Length: 4\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 400},
      {"TE and CL", head + "Transfer-Encoding: chunked\r\nContent-Length: 4\r\n\r\n0\r\n\r\n", 400},
      {"duplicate CL", head + "Content-Length: 15\r\nContent-Length: 15\r\n\r\n" + args, 400},
      {"CL list", head + "Content-Length: 15, 15\r\n\r\n" + args, 400},
      {"CL 42abc", head + "Content-Length: 42abc\r\n\r\n" + args, 400},
      {"TE not chunked", head + "Transfer-Encoding: gzip\r\n\r\n" + args, 400},
      {"garbage", "\x16\x03\x01\x02\x00 not http\r\n\r\n", 400},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string received = AnsweredThenClosed(c.request);
    EXPECT_EQ(StatusOf(received), c.status) << received;
  }
  EXPECT_EQ(Count("QUESTIONS"), 0);
  ExpectHealthy("after");
}

TEST_P(HttpAttackTest, BytesAfterARefusalAreNeverTakenForARequest) {
  HttpServerOptions options;
  options.token = kToken;
  options.max_body_bytes = 4096;
  StartServer(options);
  std::string smuggled;
  for (int i = 0; i < 100; ++i) smuggled += kHealth;
  ASSERT_LT(smuggled.size(), 4096u);
  // Unauthorized: answered from the head; the body (which looks like requests) stays unread.
  const std::string unauthorized = AnsweredThenClosed(RawPost("/api/v1/requests", smuggled));
  smuggled += smuggled;
  EXPECT_EQ(StatusOf(unauthorized), 401) << unauthorized;
  // Too large, declared and chunked.
  const std::string auth = std::string("Authorization: Bearer ") + kToken + "\r\n";
  const std::string declared = AnsweredThenClosed(RawPost("/api/v1/requests", smuggled, auth));
  EXPECT_EQ(StatusOf(declared), 413) << declared;
  EXPECT_NE(declared.find("max_body_bytes"), std::string::npos);
  std::string chunked =
      "POST /api/v1/requests HTTP/1.1\r\nHost: h\r\n" + auth + "Transfer-Encoding: chunked\r\n\r\n";
  for (int i = 0; i < 3; ++i) chunked += "800\r\n" + std::string(2048, ' ') + "\r\n";
  const std::string streamed = AnsweredThenClosed(chunked + smuggled);
  EXPECT_EQ(StatusOf(streamed), 413) << streamed.substr(0, 300);
  EXPECT_EQ(Count("QUESTIONS"), 0);

  // A body-less refusal on a keep-alive connection leaves it usable.
  RawClient client(port_);
  client.Send("GET /metrics HTTP/1.1\r\nHost: h\r\n\r\n" + std::string(kHealth));
  auto first = client.ReadResponse(Millis(2000));
  auto second = client.ReadResponse(Millis(2000));
  ASSERT_TRUE(first && second);
  EXPECT_EQ(StatusOf(*first), 401);
  EXPECT_EQ(StatusOf(*second), 200);
}

TEST_P(HttpAttackTest, PipelinedRequestsAreAnsweredInOrder) {
  StartServer();
  RawClient client(port_);
  client.Send(RawPost("/api/v1/requests", R"({"Q_DESC": "first"})") + kHealth +
              "GET /api/v1/requests/1 HTTP/1.1\r\nHost: h\r\n\r\n" +
              "GET /api/v1/HlqServiceRequestMTS.Prospect/CreateNewProspect HTTP/1.1\r\n"
              "Host: h\r\nConnection: close\r\n\r\n");
  std::vector<std::string> answers;
  while (auto answer = client.ReadResponse(Millis(5000))) answers.push_back(*answer);
  ASSERT_EQ(answers.size(), 4u);
  EXPECT_EQ(StatusOf(answers[0]), 201) << answers[0];
  EXPECT_EQ(StatusOf(answers[1]), 200);
  EXPECT_EQ(BodyOf(answers[1]), R"({"status":"ok"})");
  EXPECT_EQ(StatusOf(answers[2]), 200) << answers[2];
  EXPECT_EQ(json::parse(BodyOf(answers[2]))["request"]["Q_DESC"], "first");
  EXPECT_EQ(StatusOf(answers[3]), 405) << "GET on a POST route";
  EXPECT_NE(answers[3].find("Allow: POST\r\n"), std::string::npos) << answers[3];
  EXPECT_EQ(client.ReadUntilClosed(Millis(2000)), "");
  EXPECT_TRUE(client.closed()) << "Connection: close is honoured";
}

TEST_P(HttpAttackTest, AnObjectOfManyKeysIsRefusedByTheKeyCap) {
  StartServer();
  std::string keys;
  for (int i = 0; i < 80000; ++i) keys += (i ? ",\"k" : "\"k") + std::to_string(i) + "\":1";
  const std::string body = R"({"Q_DESC": "x", "Q_TEXT": {)" + keys + "}}";
  ASSERT_LT(body.size(), size_t{1} << 20);
  std::vector<std::thread> bombs;
  for (int i = 0; i < 4; ++i) {
    bombs.emplace_back([this, &body] {
      auto refused = NewClient()->Post("/api/v1/requests", body, "application/json");
      ASSERT_TRUE(refused);
      EXPECT_EQ(refused->status, 400);
      const std::string description = json::parse(refused->body)["error"]["description"];
      EXPECT_NE(description.find("more than 1000 keys"), std::string::npos) << description;
      EXPECT_NE(description.find("at Q_TEXT"), std::string::npos) << description;
    });
  }
  ExpectHealthy("while objects of 80,000 keys arrive");
  for (auto& bomb : bombs) bomb.join();
  EXPECT_EQ(Count("QUESTIONS"), 0);
}

TEST_P(HttpAttackTest, ErrorsEchoCallerTextAsSentWithoutRevealingSecrets) {
  const std::string guess = "smtp-pass-guess-42";
  std::string settings = "install_dir = '" + install_dir().string() + "'\n[connections]\n";
  for (const char* application : {"Heliq", "RAvuruvo", "BackOffice", "Directory"}) {
    settings +=
        std::string(application) + " = '" + SettingValue("connections", application) + "'\n";
  }
  SetSettingsText(settings + "[log]\nfile = ''\n[mail]\nsmtp_password = '" + guess + "'\n");
  ASSERT_EQ(SecretValues(), std::vector<std::string>{guess});
  StartServer();
  auto unknown = Post("/api/v1/requests", "{\"Q_DESC\": \"x\", \"" + guess + "\": 1}");
  ASSERT_TRUE(unknown);
  EXPECT_EQ(unknown->status, 400);
  EXPECT_NE(unknown->body.find(guess), std::string::npos) << unknown->body;
  EXPECT_EQ(unknown->body.find("***"), std::string::npos) << unknown->body;
  // Caller text in an error is cut short and escaped.
  const std::string id = "/api/v1/requests/1%0D%0Ainjected" + std::string(300, 'y');
  auto long_id = Get(id);
  ASSERT_TRUE(long_id);
  EXPECT_EQ(long_id->status, 400);
  EXPECT_LT(long_id->body.size(), 300u) << long_id->body;
  ExpectHealthy("after");
}

INSTANTIATE_TEST_SUITE_P(Db, HttpAttackTest, ::testing::Values(testing::Backend::kSqlite),
                         testing::BackendName);

// heliqd itself: a stop with clients attached, and a port that is taken.
class HeliqdEdgeTest : public testing::DatabaseTest {
 protected:
  std::filesystem::path WriteConfig(int port, const std::string& name) {
    const auto path = install_dir() / (name + ".toml");
    std::ofstream out(path);
    out << "install_dir = '" << install_dir().string() << "'\ndefault_language = 1033\n"
        << "[connections]\n";
    for (const char* application : {"Heliq", "RAvuruvo", "BackOffice", "Directory"}) {
      out << application << " = '" << SettingValue("connections", application) << "'\n";
    }
    out << "[log]\nfile = '" << name << ".log'\n[host]\naddress = '127.0.0.1'\nport = " << port
        << "\n";
    return path;
  }
  std::string Output(const std::string& name) const {
    std::ifstream in(install_dir() / (name + ".out"));
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
};

TEST_P(HeliqdEdgeTest, StopsAtOnceWithIdleClientsAndNeverSharesItsPort) {
  const int port = testing::FreePort();
  testing::HeliqdProcess first(WriteConfig(port, "first"), install_dir() / "first.out",
                               HELIQ_HELIQD_PATH);
  ASSERT_TRUE(first.WaitUntilListening(port)) << Output("first");

  testing::HeliqdProcess second(WriteConfig(port, "second"), install_dir() / "second.out",
                                HELIQ_HELIQD_PATH);
  EXPECT_EQ(second.WaitForExit(Millis(20000)), 1) << Output("second");
  EXPECT_NE(Output("second").find("Address already in use"), std::string::npos) << Output("second");

  std::vector<std::unique_ptr<RawClient>> idle;
  for (int i = 0; i < 100; ++i) idle.push_back(std::make_unique<RawClient>(port));
  RawClient half(port);
  half.Send("GET /healthz HTTP/1.1\r\nHost: h\r\n");
  RawClient served(port);
  served.Send(kHealth);
  ASSERT_TRUE(served.ReadResponse(Millis(5000))) << Output("first");
  const auto signalled = std::chrono::steady_clock::now();
  first.Signal(SIGTERM);
  EXPECT_EQ(first.WaitForExit(Millis(3000)), 0) << Output("first");
  EXPECT_LT(std::chrono::steady_clock::now() - signalled, Millis(3000));
  for (auto& client : idle) {
    client->ReadUntilClosed(Millis(500));
    EXPECT_TRUE(client->closed());
  }
}

INSTANTIATE_TEST_SUITE_P(Db, HeliqdEdgeTest, ::testing::Values(testing::Backend::kSqlite),
                         testing::BackendName);

}  // namespace
}  // namespace heliq
