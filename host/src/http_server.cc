#include "host/http_server.h"

// Boost 1.74's Asio uses std::exchange without including <utility>.
#include <utility>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <chrono>
#include <future>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>

#include "common/heliq_utilities.h"
#include "host/router.h"
#include "host/src/http_framing.h"
#include "host/static_files.h"
#include "platform/com_error.h"
#include "platform/configuration.h"

namespace heliq {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Milliseconds = std::chrono::milliseconds;

constexpr size_t kMinTokenLength = 16;
// What a connection reads at a time while it waits for a request to begin.
constexpr size_t kReadChunk = 16 << 10;
// After an answer that closes the connection, what the client still sends is read and dropped for
// this long, so that closing with unread bytes does not reset the connection before the client
// has read the answer. Nothing read then is parsed.
constexpr Milliseconds kLingerTime{500};
// Pause before accepting again when accept fails (out of file descriptors, say).
constexpr Milliseconds kAcceptRetry{50};

size_t NumberSetting(std::string_view key, size_t fallback, bool zero_allowed) {
  const std::string text = SettingValue("host", key);
  if (text.empty()) return fallback;
  size_t used = 0;
  long long value = -1;
  try {
    value = std::stoll(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != text.size() || value < (zero_allowed ? 0 : 1) ||
      value > std::numeric_limits<int32_t>::max()) {
    throw ComError(err::kTypeMismatch, "Configuration",
                   "[host] " + std::string(key) + " is not a " +
                       (zero_allowed ? "non-negative" : "positive") + " whole number: " + text);
  }
  return static_cast<size_t>(value);
}

int MillisecondsSetting(std::string_view key, int fallback) {
  return static_cast<int>(NumberSetting(key, static_cast<size_t>(fallback), false));
}

}  // namespace

HttpServerOptions OptionsFromSettings() {
  HttpServerOptions options;
  if (auto address = SettingValue("host", "address"); !address.empty()) options.address = address;
  options.port = static_cast<int>(NumberSetting("port", options.port, false));
  options.token = SettingValue("host", "token");
  options.max_body_bytes = NumberSetting("max_body_bytes", options.max_body_bytes, false);
  options.max_json_depth = NumberSetting("max_json_depth", options.max_json_depth, false);
  options.max_text_bytes = NumberSetting("max_text_bytes", options.max_text_bytes, false);
  options.call_timeout_ms =
      static_cast<int>(NumberSetting("call_timeout_ms", options.call_timeout_ms, true));
  options.threads = static_cast<int>(NumberSetting("threads", options.threads, false));
  options.max_json_keys = NumberSetting("max_json_keys", options.max_json_keys, false);
  options.max_json_elements = NumberSetting("max_json_elements", options.max_json_elements, false);
  options.max_connections = NumberSetting("max_connections", options.max_connections, false);
  options.max_connections_per_address =
      NumberSetting("max_connections_per_address", options.max_connections_per_address, false);
  options.head_timeout_ms = MillisecondsSetting("head_timeout_ms", options.head_timeout_ms);
  options.body_timeout_ms = MillisecondsSetting("body_timeout_ms", options.body_timeout_ms);
  options.keep_alive_timeout_ms =
      MillisecondsSetting("keep_alive_timeout_ms", options.keep_alive_timeout_ms);
  options.max_header_count = NumberSetting("max_header_count", options.max_header_count, false);
  options.max_header_bytes = NumberSetting("max_header_bytes", options.max_header_bytes, false);
  options.max_upload_bytes = NumberSetting("max_upload_bytes", options.max_upload_bytes, false);
  options.web_root = WebRootFromSettings();
  return options;
}

bool IsLoopbackAddress(const std::string& address) {
  return address == "localhost" || address == "::1" || address == "[::1]" ||
         address.starts_with("127.");
}

namespace {

class Connection;

// What the connections share; touched on the I/O thread only, except where noted.
struct Server {
  HttpServerOptions options;
  CallMetrics metrics;
  std::unique_ptr<Router> router;
  asio::io_context io{1};
  tcp::acceptor acceptor{io};
  asio::steady_timer accept_retry{io};
  std::unique_ptr<asio::thread_pool> workers;
  // Keeps the I/O thread running while a call is with the workers (it has no socket operation
  // pending then); released once the workers have finished.
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> keep_running;
  std::unordered_map<Connection*, std::weak_ptr<Connection>> connections;
  std::map<std::string, size_t> per_address;
  bool stopping = false;

  void Accept();
  void CloseIdle();
};

// One client connection: waits for a request, reads its head then its body, hands it to a worker,
// writes the answer, and starts over. Every step runs on the I/O thread.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  enum class State { kWaiting, kHead, kBody, kCalling, kWriting, kClosed };

  Connection(Server& server, tcp::socket socket, std::string peer)
      : server_(server),
        stream_(std::move(socket)),
        deadline_(server.io),
        buffer_(server.options.max_header_bytes + kReadChunk),
        peer_(std::move(peer)) {}

  void Start(bool counted) {
    counted_ = counted;
    server_.connections[this] = weak_from_this();
    if (counted_) ++server_.per_address[peer_];
    WaitForRequest(true);
  }

  // Refuses a connection over a cap: the answer, then close.
  void Refuse(const std::string& why) {
    server_.connections[this] = weak_from_this();
    HttpRequest head;
    head.peer = peer_;
    Answer(server_.router->Refuse(head, 503, err::kBadRequest, why), true);
  }

  // Closes at once unless a call is being served or answered (that one closes after its answer).
  void CloseIfIdle() {
    if (state_ == State::kCalling || state_ == State::kWriting) return;
    Close();
  }

 private:
  Milliseconds Option(int ms) const { return Milliseconds(ms); }

  void WaitForRequest(bool first) {
    state_ = State::kWaiting;
    if (buffer_.size() > 0) return ReadHead();
    stream_.expires_after(
        Option(first ? server_.options.head_timeout_ms : server_.options.keep_alive_timeout_ms));
    stream_.async_read_some(buffer_.prepare(kReadChunk),
                            [self = shared_from_this()](beast::error_code ec, size_t n) {
                              if (ec) return self->Close();
                              self->buffer_.commit(n);
                              self->ReadHead();
                            });
  }

  void ReadHead() {
    state_ = State::kHead;
    parser_.emplace();
    internal::LimitParser(*parser_, server_.options);
    stream_.expires_never();
    Arm(server_.options.head_timeout_ms);
    http::async_read_header(
        stream_, buffer_, *parser_,
        [self = shared_from_this()](beast::error_code ec, size_t) { self->OnHead(ec); });
  }

  void OnHead(beast::error_code ec) {
    if (state_ == State::kClosed) return;
    deadline_.cancel();
    // What was parsed of the head names the route in the access log, even of a refusal.
    head_ = internal::HeadOf(*parser_);
    head_.peer = peer_;
    const auto& message = parser_->get();
    version_ = message.version() == 10 ? 10 : 11;
    if (ec) return RefuseRead(ec, "head");
    keep_alive_ = message.keep_alive();
    if (auto refusal = internal::CheckHead(head_, server_.options)) return RefuseAndClose(*refusal);
    if (auto refusal = internal::LimitBody(*parser_, head_, server_.options)) {
      return RefuseAndClose(*refusal);
    }
    if (auto refusal = server_.router->Admit(head_)) {
      // The body stays unread, so the connection cannot carry another request.
      return Answer(std::move(*refusal), !parser_->is_done() || !keep_alive_);
    }
    if (parser_->is_done()) return Call();
    if (EqualsIgnoreCase(head_.Header("Expect"), "100-continue")) {
      auto proceed = std::make_shared<http::response<http::empty_body>>(http::status::continue_,
                                                                        message.version());
      state_ = State::kWriting;
      stream_.expires_after(Option(server_.options.body_timeout_ms));
      return http::async_write(
          stream_, *proceed,
          [self = shared_from_this(), proceed](beast::error_code write_error, size_t) {
            if (write_error) return self->Close();
            self->ReadBody();
          });
    }
    ReadBody();
  }

  void ReadBody() {
    state_ = State::kBody;
    stream_.expires_never();
    Arm(server_.options.body_timeout_ms);
    http::async_read(stream_, buffer_, *parser_,
                     [self = shared_from_this()](beast::error_code ec, size_t) {
                       if (self->state_ == State::kClosed) return;
                       self->deadline_.cancel();
                       if (ec) return self->RefuseRead(ec, "body");
                       self->Call();
                     });
  }

  // A read that failed: the answer that says why, or a silent close when the client went away.
  void RefuseRead(beast::error_code ec, std::string_view part) {
    if (auto refusal = internal::ReadRefusal(ec, deadline_passed_, part, head_, server_.options)) {
      return RefuseAndClose(*refusal);
    }
    Close();
  }

  void RefuseAndClose(const internal::FramingRefusal& refusal) {
    Answer(server_.router->Refuse(head_, refusal.status, refusal.number, refusal.description),
           true);
  }

  // Hands the whole request to a worker; the answer comes back to the I/O thread.
  void Call() {
    state_ = State::kCalling;
    stream_.expires_never();
    head_.body = std::move(parser_->get().body());
    parser_.reset();
    asio::post(*server_.workers, [self = shared_from_this()]() mutable {
      HttpResponse response = self->server_.router->Handle(self->head_);
      Connection& connection = *self;
      asio::post(connection.server_.io,
                 [self = std::move(self), response = std::move(response)]() mutable {
                   self->Answer(std::move(response), !self->keep_alive_ || self->server_.stopping);
                 });
    });
  }

  void Answer(HttpResponse answer, bool close) {
    if (state_ == State::kClosed) return;
    state_ = State::kWriting;
    auto message = std::make_shared<http::response<http::string_body>>();
    message->version(version_);
    message->result(static_cast<unsigned>(answer.status));
    for (auto& [name, value] : answer.headers) message->insert(name, value);
    message->set(http::field::content_type, answer.content_type);
    message->body() = std::move(answer.body);
    message->keep_alive(!close);
    message->prepare_payload();
    // HEAD: the fields GET would answer, Content-Length included, without the body.
    if (head_.method == "HEAD") {
      const size_t length = message->body().size();
      message->body().clear();
      message->content_length(length);
    }
    stream_.expires_after(Option(server_.options.body_timeout_ms));
    http::async_write(stream_, *message,
                      [self = shared_from_this(), message, close](beast::error_code ec, size_t) {
                        if (ec) return self->Close();
                        if (close || self->server_.stopping) return self->Linger();
                        self->WaitForRequest(false);
                      });
  }

  // Starts the deadline of a head or body: when it passes, the read is cancelled (not the socket
  // closed, as the stream's own timeout would) so that the 408 can still be written.
  void Arm(int ms) {
    deadline_passed_ = false;
    deadline_.expires_after(Option(ms));
    deadline_.async_wait([weak = weak_from_this()](beast::error_code ec) {
      auto self = weak.lock();
      if (ec || !self) return;
      self->deadline_passed_ = true;
      beast::error_code ignored;
      self->stream_.socket().cancel(ignored);
    });
  }

  // Stops sending, drops what the client still sends for a moment, then closes.
  void Linger() {
    if (server_.stopping) return Close();
    state_ = State::kWaiting;
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    stream_.expires_after(kLingerTime);
    Drain();
  }

  void Drain() {
    buffer_.clear();
    stream_.async_read_some(buffer_.prepare(kReadChunk),
                            [self = shared_from_this()](beast::error_code ec, size_t) {
                              if (ec) return self->Close();
                              self->Drain();
                            });
  }

  void Close() {
    if (state_ == State::kClosed) return;
    state_ = State::kClosed;
    deadline_.cancel();
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
    stream_.socket().close(ignored);
    server_.connections.erase(this);
    if (counted_) {
      auto it = server_.per_address.find(peer_);
      if (it != server_.per_address.end() && --it->second == 0) server_.per_address.erase(it);
    }
  }

  Server& server_;
  beast::tcp_stream stream_;
  asio::steady_timer deadline_;
  bool deadline_passed_ = false;
  beast::flat_buffer buffer_;
  std::optional<internal::RequestParser> parser_;
  std::string peer_;
  State state_ = State::kWaiting;
  HttpRequest head_;
  unsigned version_ = 11;
  bool keep_alive_ = true;
  bool counted_ = false;
};

void Server::Accept() {
  acceptor.async_accept([this](beast::error_code ec, tcp::socket socket) {
    if (stopping || !acceptor.is_open()) return;
    if (ec) {
      accept_retry.expires_after(kAcceptRetry);
      accept_retry.async_wait([this](beast::error_code) {
        if (!stopping) Accept();
      });
      return;
    }
    beast::error_code peer_error;
    const auto endpoint = socket.remote_endpoint(peer_error);
    const std::string peer = peer_error ? std::string("?") : endpoint.address().to_string();
    socket.set_option(tcp::no_delay(true), peer_error);
    auto connection = std::make_shared<Connection>(*this, std::move(socket), peer);
    const auto from_peer = per_address.find(peer);
    if (connections.size() >= options.max_connections) {
      connection->Refuse("too many connections (" + std::to_string(options.max_connections) +
                         ", [host] max_connections); call again later");
    } else if (from_peer != per_address.end() &&
               from_peer->second >= options.max_connections_per_address) {
      connection->Refuse("too many connections from one address (" +
                         std::to_string(options.max_connections_per_address) +
                         ", [host] max_connections_per_address); call again later");
    } else {
      connection->Start(true);
    }
    Accept();
  });
}

void Server::CloseIdle() {
  std::vector<std::shared_ptr<Connection>> open;
  for (auto& [raw, weak] : connections) {
    if (auto connection = weak.lock()) open.push_back(std::move(connection));
  }
  for (auto& connection : open) connection->CloseIfIdle();
}

}  // namespace

struct HttpServer::Impl {
  Server server;
  std::thread thread;
  std::mutex mutex;
  std::string bind_failure;
  bool stopped = false;
  bool listening = false;

  void CheckExposure() const {
    const HttpServerOptions& options = server.options;
    if (!options.token.empty() && options.token.size() < kMinTokenLength) {
      throw ComError(err::kInvalidProcedureCall, "Host",
                     "the API token is shorter than " + std::to_string(kMinTokenLength) +
                         " characters; choose a long random one (e.g. openssl rand -hex 32)");
    }
    if (options.token.empty() && !IsLoopbackAddress(options.address)) {
      throw ComError(err::kInvalidProcedureCall, "Host",
                     "refusing to listen on " + options.address +
                         " without an API token: set [host] token or HELIQ_API_TOKEN, or listen "
                         "on a loopback address");
    }
  }

  // Opens the listening socket; returns the port, or -1 with bind_failure set. SO_REUSEADDR (so a
  // restart does not wait for old connections to time out) lets no second listener share the
  // port; SO_REUSEPORT would, and is never set.
  int Bind() {
    const HttpServerOptions& options = server.options;
    std::string host = options.address;
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
      host = host.substr(1, host.size() - 2);
    }
    const std::string where = options.address + ":" + std::to_string(options.port);
    beast::error_code ec;
    tcp::resolver resolver(server.io);
    const auto endpoints =
        resolver.resolve(host, std::to_string(options.port), tcp::resolver::passive, ec);
    if (ec || endpoints.empty()) {
      bind_failure = where + ": " + (ec ? ec.message() : "no such address");
      return -1;
    }
    const tcp::endpoint endpoint = endpoints.begin()->endpoint();
    server.acceptor.open(endpoint.protocol(), ec);
    if (!ec) server.acceptor.set_option(asio::socket_base::reuse_address(true), ec);
    if (!ec) server.acceptor.bind(endpoint, ec);
    if (!ec) server.acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
      bind_failure = where + ": " + ec.message();
      beast::error_code ignored;
      server.acceptor.close(ignored);
      return -1;
    }
    server.keep_running.emplace(server.io.get_executor());
    server.Accept();
    listening = true;
    return server.acceptor.local_endpoint().port();
  }
};

HttpServer::HttpServer(HttpServerOptions options) : impl_(std::make_unique<Impl>()) {
  Server& server = impl_->server;
  server.options = std::move(options);
  impl_->CheckExposure();
  server.router = std::make_unique<Router>(server.options, server.metrics);
  server.workers =
      std::make_unique<asio::thread_pool>(static_cast<size_t>(std::max(1, server.options.threads)));
}

HttpServer::~HttpServer() { Stop(); }

bool HttpServer::Run() {
  if (impl_->Bind() < 0) return false;
  impl_->server.io.run();
  return true;
}

int HttpServer::Start() {
  const int port = impl_->Bind();
  if (port < 0) return -1;
  impl_->thread = std::thread([this] { impl_->server.io.run(); });
  return port;
}

std::string HttpServer::BindFailure() const { return impl_->bind_failure; }

void HttpServer::Stop() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  Server& server = impl_->server;
  if (!impl_->stopped) {
    impl_->stopped = true;
    server.router->BeginStopping();
    if (impl_->listening) {
      // Once this has run on the I/O thread no connection can hand a new call to the workers.
      std::promise<void> closed;
      asio::post(server.io, [&server, &closed] {
        server.stopping = true;
        beast::error_code ignored;
        server.acceptor.close(ignored);
        server.accept_retry.cancel();
        server.CloseIdle();
        closed.set_value();
      });
      closed.get_future().wait();
    }
    // The calls in progress finish; their answers are written by the I/O thread, which then runs
    // out of work and returns.
    server.workers->join();
    if (impl_->listening) asio::post(server.io, [&server] { server.keep_running.reset(); });
  }
  if (impl_->thread.joinable() && impl_->thread.get_id() != std::this_thread::get_id()) {
    impl_->thread.join();
  }
}

}  // namespace heliq
