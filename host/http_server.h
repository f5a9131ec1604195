// The HTTP face of the host.
//
// Routes (docs/api.md): POST /api/v1/<class id>/<operation> with the JSON arguments; the front
// end's part of a request under /api/v1/requests; GET /api/v1/openapi.json (generated from the
// operation table); GET /healthz (open to all); GET /metrics (Prometheus text).
//
// Security and limits: when a token is set, every route but /healthz requires
// "Authorization: Bearer <token>" (compared in constant time; 401 otherwise), and a server
// without a token refuses to listen on anything but a loopback address. A request body over
// max_body_bytes is refused with 413, JSON nesting and texts over their limits with 400 naming
// the argument, and a call that runs past call_timeout_ms is rolled back (503).
//
// Each request writes one access-log line (route, status, duration) and is counted in the
// metrics. Stop() is graceful: the listening socket closes at once, calls in progress finish and
// are answered, then the worker threads end.
#ifndef HELIQ_HOST_HTTP_SERVER_H_
#define HELIQ_HOST_HTTP_SERVER_H_

#include <cstddef>
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
};

// The options from the [host] section of the configuration (token: HELIQ_API_TOKEN overrides
// [host] token). A value that is not a positive whole number raises err::kTypeMismatch naming the
// key.
HttpServerOptions OptionsFromSettings();

// True for 127.0.0.0/8, ::1 and "localhost".
bool IsLoopbackAddress(const std::string& address);

class HttpServer {
 public:
  // Raises err::kInvalidProcedureCall for a non-loopback address without a token, or a token
  // shorter than 16 characters.
  explicit HttpServer(HttpServerOptions options);
  ~HttpServer();
  // Binds and serves on the calling thread until Stop(). Returns false when it cannot bind.
  bool Run();
  // Binds to a free port (options.port 0 too) and serves on a thread of its own; returns the port
  // or -1 when it cannot bind.
  int Start();
  // Stops accepting, lets the calls in progress finish, and returns when they have (for Start;
  // Run returns on its own thread). Safe to call more than once and from any thread.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace heliq

#endif  // HELIQ_HOST_HTTP_SERVER_H_
