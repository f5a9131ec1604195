// The routes of the host, apart from the transport that carries them.
//
// The HTTP server (host/http_server.h) reads and frames requests; the Router decides what each one
// means: who may call it (the API token or a person's session), which route serves it, the answer,
// the access-log line and the metrics. A new route or a new way of authenticating a caller belongs
// here; nothing here knows about sockets.
//
// Thread safety: Admit and Handle may run on any number of threads at once; BeginStopping from any
// thread.
#ifndef HELIQ_HOST_ROUTER_H_
#define HELIQ_HOST_ROUTER_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/host.h"
#include "host/http_server.h"
#include "host/metrics.h"
#include "people/sessions.h"

namespace heliq {

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

// One request as the transport received it.
struct HttpRequest {
  std::string method;  // as sent: "GET", "POST", ...
  std::string path;    // the target up to '?', not decoded
  std::string query;   // the target after '?', not decoded
  HttpHeaders headers;
  std::string body;
  std::string peer;  // the client's address

  // The first header of that name (compared without regard to case), or "" when none.
  std::string_view Header(std::string_view name) const;
  // The percent-decoded value of the query parameter `name` ("+" is a space), or "" when none.
  std::string QueryParameter(std::string_view name) const;
};

// One answer. The transport adds the framing headers (Content-Length, Connection, Date).
struct HttpResponse {
  int status = 200;
  std::string content_type = "application/json";
  HttpHeaders headers;  // may hold a name more than once (Set-Cookie)
  std::string body;
  int32_t error_number = 0;  // of an error body, for the metrics; 0 otherwise
};

class StaticFiles;

class Router {
 public:
  // `options` supplies the token and the argument limits; `metrics` outlives the router. Reads the
  // [session] settings (raises err::kTypeMismatch for a bad one).
  Router(const HttpServerOptions& options, CallMetrics& metrics);
  ~Router();

  // Decides on a request from its head alone, before its body is read: the refusal (no API token
  // and nothing shaped like a session's credentials, say), or nullopt to read the body and Handle
  // it. A refused request's body is never read, so the transport closes the connection after the
  // answer. Runs on the server's one I/O thread: it must not block (no database, no file); a check
  // that needs one belongs in Handle.
  std::optional<HttpResponse> Admit(const HttpRequest& head);
  // Serves a whole request: routes it, runs the operation on the calling thread, logs and counts
  // it. Never throws; every failure becomes an error answer.
  HttpResponse Handle(const HttpRequest& request);
  // The answer for a request the transport refused (framing, limits, deadlines): error body with
  // `number` and `description`, HTTP `status`; logged and counted like any other answer.
  // `head` may be partly filled (method and path when they were read).
  HttpResponse Refuse(const HttpRequest& head, int status, int32_t number,
                      const std::string& description);
  // From now on calls not yet started answer 503 (error 1106) and /healthz says "stopping".
  void BeginStopping() { stopping_ = true; }

 private:
  HttpResponse Route(const HttpRequest& request);
  // The access-log line and the metrics of one answer.
  void Finish(const HttpRequest& request, const HttpResponse& response, const std::string& label,
              double seconds);

  HttpServerOptions options_;
  CallLimits limits_;
  SessionSettings sessions_;
  CallMetrics& metrics_;
  std::unique_ptr<StaticFiles> pages_;
  std::atomic<bool> stopping_{false};
};

}  // namespace heliq

#endif  // HELIQ_HOST_ROUTER_H_
