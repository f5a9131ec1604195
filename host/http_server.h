// The HTTP transport of the host: an event-driven server (Boost.Beast over Asio).
//
// One I/O thread accepts connections, reads and frames requests and writes answers; a slow or
// idle client costs a socket and a small buffer, never a worker. Each complete request goes to a
// bounded pool of worker threads, which run it through the Router (host/router.h: routes, token,
// access log, metrics). Requests on one connection are served one after the other, so pipelined
// requests are answered in order.
//
// Framing is strict and every limit has its own answer, after which the connection closes (a body
// that was not read is never taken for a next request): a head or body not received within its
// deadline 408; too many or too large header fields 431; a body over max_body_bytes 413;
// Content-Encoding on a request 415; Content-Length with Transfer-Encoding, a repeated or malformed
// Content-Length, or any other malformed head 400. Connections beyond the total or per-address cap
// are answered 503 and closed. An idle keep-alive connection closes after its timeout.
//
// Stop() is graceful: the listening socket and every connection that is idle or half received
// close at once, calls in progress finish (within their deadline) and are answered, then the
// threads end.
#ifndef HELIQ_HOST_HTTP_SERVER_H_
#define HELIQ_HOST_HTTP_SERVER_H_

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>

namespace heliq {

struct HttpServerOptions {
  std::string address = "127.0.0.1";
  int port = 8080;
  // Bearer token every call must send; empty: none required (loopback addresses only).
  std::string token;
  size_t max_body_bytes = 1 << 20;
  size_t max_json_depth = 16;
  size_t max_text_bytes = 256 << 10;
  // Per-call deadline in milliseconds; 0: none.
  int call_timeout_ms = 30000;
  // Worker threads, and so the most calls (and database sessions) served at once.
  int threads = 8;
  // Keys in one JSON object and elements in one JSON array of the arguments.
  size_t max_json_keys = 1000;
  size_t max_json_elements = 10000;
  // Open connections in all and from one client address.
  size_t max_connections = 1024;
  size_t max_connections_per_address = 256;
  // A new connection must begin a request within head_timeout_ms, and the whole head must arrive
  // within head_timeout_ms of its first byte; the body within body_timeout_ms of the head; the
  // client must take the answer within body_timeout_ms too.
  int head_timeout_ms = 10000;
  int body_timeout_ms = 30000;
  // A keep-alive connection with no request begun closes after this long.
  int keep_alive_timeout_ms = 30000;
  size_t max_header_count = 100;
  size_t max_header_bytes = 16 << 10;
  // The built web front end served at / (host/static_files.h); empty or missing: pages answer 404.
  std::filesystem::path web_root;
  // The largest attachment one PUT may upload; a larger body is refused with 413 unread.
  size_t max_upload_bytes = 10 << 20;
};

// The options from the [host] section of the configuration (token: HELIQ_API_TOKEN overrides
// [host] token; web_root: see WebRootFromSettings). A value that is not a positive whole number
// raises err::kTypeMismatch naming the key.
HttpServerOptions OptionsFromSettings();

// True for 127.0.0.0/8, ::1 and "localhost".
bool IsLoopbackAddress(const std::string& address);

class HttpServer {
 public:
  // Raises err::kInvalidProcedureCall for a non-loopback address without a token, or a token
  // shorter than 16 characters.
  explicit HttpServer(HttpServerOptions options);
  ~HttpServer();
  // Binds and serves on the calling thread until Stop(). Returns false when it cannot bind
  // (BindFailure says why).
  bool Run();
  // Binds (options.port 0: a free port) and serves on a thread of its own; returns the port, or -1
  // when it cannot bind (BindFailure says why). The port is never shared with another process.
  int Start();
  // Why the last Run or Start could not bind, e.g. "127.0.0.1:8080: Address already in use".
  std::string BindFailure() const;
  // Stops accepting, closes idle and half-received connections, lets the calls in progress finish
  // and returns when they have been answered (for Start; Run returns on its own thread). Safe to
  // call more than once and from any thread.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace heliq

#endif  // HELIQ_HOST_HTTP_SERVER_H_
