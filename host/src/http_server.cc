#include "host/http_server.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <limits>
#include <thread>

#include "host/host.h"
#include "host/metrics.h"
#include "host/openapi.h"
#include "host/request_store.h"
#include "platform/com_error.h"
#include "platform/configuration.h"
#include "platform/log.h"
#include "platform/operation_table.h"

namespace heliq {
namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kMaxLoggedAddress = 64;
constexpr size_t kMinTokenLength = 16;

// The request being served on this worker thread: set before routing, read when it is logged
// (httplib serves a request from its headers to its answer on one thread).
struct CallState {
  bool active = false;
  Clock::time_point started;
  std::string label;
  int32_t error_number = 0;
};
thread_local CallState current_call;

// Counts a call in flight for as long as its handler runs.
class InFlight {
 public:
  explicit InFlight(std::atomic<int64_t>& count) : count_(count) { ++count_; }
  ~InFlight() { --count_; }
  InFlight(const InFlight&) = delete;
  InFlight& operator=(const InFlight&) = delete;

 private:
  std::atomic<int64_t>& count_;
};

// Compares without an early exit, so the time taken does not tell how much of a guess was right.
bool ConstantTimeEquals(std::string_view a, std::string_view b) {
  unsigned char difference = a.size() == b.size() ? 0 : 1;
  const size_t n = std::max(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(i < a.size() ? a[i] : 0);
    const auto y = static_cast<unsigned char>(i < b.size() ? b[i] : 0);
    difference |= static_cast<unsigned char>(x ^ y);
  }
  return difference == 0;
}

bool Authorized(const httplib::Request& req, const std::string& token) {
  const std::string header = req.get_header_value("Authorization");
  constexpr std::string_view kScheme = "Bearer ";
  if (header.size() < kScheme.size() ||
      !EqualsIgnoreCase(std::string_view(header).substr(0, kScheme.size()), kScheme)) {
    return ConstantTimeEquals("", token);
  }
  return ConstantTimeEquals(std::string_view(header).substr(kScheme.size()), token);
}

// The metrics label of a route; only names the host knows, so the label set stays bounded.
std::string RouteLabel(const httplib::Request& req) {
  const std::string& path = req.path;
  if (path == "/healthz") return "healthz";
  if (path == "/metrics") return "metrics";
  constexpr std::string_view kApi = "/api/v1/";
  if (!path.starts_with(kApi)) return "unknown";
  const std::string_view rest = std::string_view(path).substr(kApi.size());
  if (rest == "openapi.json") return "openapi";
  if (rest == "requests") return req.method == "POST" ? "requests.create" : "requests.list";
  if (rest.starts_with("requests/")) {
    if (rest.ends_with("/transactions")) return "requests.transactions";
    if (rest.ends_with("/reminder")) return "requests.reminder";
    return "requests.read";
  }
  const size_t slash = rest.find('/');
  if (slash == std::string_view::npos) return "unknown";
  const OperationSpec* spec = FindOperation(rest.substr(0, slash), rest.substr(slash + 1));
  return spec == nullptr ? "unknown" : spec->class_id + "." + spec->name;
}

void Respond(httplib::Response& res, const HostResponse& response) {
  res.status = response.status;
  res.set_content(
      response.body.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace),
      "application/json");
  const auto error = response.body.find("error");
  if (response.status >= 400 && error != response.body.end() && error->contains("number")) {
    current_call.error_number = (*error)["number"].get<int32_t>();
  }
}

HostResponse Answer(int status, nlohmann::ordered_json body) {
  HostResponse response;
  response.status = status;
  response.body = std::move(body);
  return response;
}

int32_t ParseRequestId(const std::string& text) {
  int64_t id = 0;
  bool valid = !text.empty() && text.size() <= 10;
  for (char c : text) {
    valid = valid && c >= '0' && c <= '9';
    if (valid) id = id * 10 + (c - '0');
  }
  if (!valid || id < 1 || id > std::numeric_limits<int32_t>::max()) {
    throw ComError(err::kBadRequest, "Requests",
                   "argument id: a request id is a whole number from 1 to 2147483647, got \"" +
                       text.substr(0, 32) + "\"");
  }
  return static_cast<int32_t>(id);
}

HostResponse FoundOr404(const Variant& value, int32_t id) {
  if (value.IsNull()) {
    throw ComError(err::kResourceNotFound, "Requests", "no request has Q_ID " + std::to_string(id));
  }
  return Answer(200, VariantToJson(value));
}

HostResponse RefusedByTransport(int status, const HttpServerOptions& options) {
  if (status == 413) {
    return ErrorResponse(ComError(err::kPayloadTooLarge, "Host",
                                  "the request body is larger than the limit of " +
                                      std::to_string(options.max_body_bytes) +
                                      " bytes ([host] max_body_bytes)"));
  }
  HostResponse response = ErrorResponse(ComError(
      err::kBadRequest, "Host",
      status == 404 ? "no such resource: see GET /api/v1/openapi.json for the routes"
                    : "the HTTP request was refused (status " + std::to_string(status) + ")"));
  response.status = status;
  return response;
}

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
  return options;
}

bool IsLoopbackAddress(const std::string& address) {
  return address == "localhost" || address == "::1" || address == "[::1]" ||
         address.starts_with("127.");
}

struct HttpServer::Impl {
  HttpServerOptions options;
  CallLimits limits;
  httplib::Server server;
  std::thread thread;
  CallMetrics metrics;
  std::atomic<bool> stopping{false};

  void CheckExposure() const {
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

  // Serves one route: counts it in flight, turns every failure into the error answer, and logs
  // and counts it before the answer goes out (so a client that reads /metrics next sees it).
  void Serve(const httplib::Request& req, httplib::Response& res,
             const std::function<HostResponse()>& body) {
    InFlight in_flight(metrics.in_flight());
    Respond(res, Guarded(body));
    Finish(req, res);
  }

  httplib::Server::HandlerResponse BeforeRouting(const httplib::Request& req,
                                                 httplib::Response& res) {
    current_call = CallState{true, Clock::now(), RouteLabel(req), 0};
    if (stopping) {
      res.set_header("Connection", "close");
      Respond(res, ErrorResponse(ComError(err::kHostStopping, "Host",
                                          "the host is shutting down; call again elsewhere")));
      Finish(req, res);
      return httplib::Server::HandlerResponse::Handled;
    }
    if (req.path != "/healthz" && !options.token.empty() && !Authorized(req, options.token)) {
      res.set_header("WWW-Authenticate", "Bearer");
      Respond(res, ErrorResponse(ComError(err::kUnauthorized, "Host",
                                          "missing or wrong API token: send the header "
                                          "Authorization: Bearer <token>")));
      Finish(req, res);
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  }

  // The access-log line and the metrics of one request.
  void Finish(const httplib::Request& req, const httplib::Response& res) {
    const CallState call = std::exchange(current_call, CallState{});
    const double seconds =
        call.active ? std::chrono::duration<double>(Clock::now() - call.started).count() : 0.0;
    const std::string label = call.active ? call.label : "unknown";
    metrics.Record(label, res.status, call.error_number, seconds);
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.3f", seconds * 1000);
    LogInfo("access " + req.method.substr(0, 8) + " " + label + " status " +
            std::to_string(res.status) + " " + duration + " ms from " +
            req.remote_addr.substr(0, kMaxLoggedAddress));
  }

  void AddRoutes() {
    server.Post("/api/v1/requests", [this](const httplib::Request& req, httplib::Response& res) {
      Serve(req, res, [&] {
        const int32_t id = CreateUnregisteredRequest(*ParseArguments(req.body, limits.json));
        res.set_header("Location", "/api/v1/requests/" + std::to_string(id));
        return Answer(201, {{"Q_ID", id}});
      });
    });
    server.Get("/api/v1/requests", [this](const httplib::Request& req, httplib::Response& res) {
      Serve(req, res, [&] {
        const std::string email = req.get_param_value("email");
        if (email.empty()) {
          throw ComError(err::kBadRequest, "Requests", "argument email: missing (?email=...)");
        }
        if (email.size() > limits.json.max_text_bytes) {
          throw ComError(err::kBadRequest, "Requests", "argument email: too long");
        }
        return Answer(200, {{"requests", VariantToJson(ListProspectRequests(email))}});
      });
    });
    server.Get(R"(/api/v1/requests/([^/]+))",
               [this](const httplib::Request& req, httplib::Response& res) {
                 Serve(req, res, [&] {
                   const int32_t id = ParseRequestId(req.matches[1]);
                   return FoundOr404(ReadRequest(id), id);
                 });
               });
    server.Get(R"(/api/v1/requests/([^/]+)/transactions)",
               [this](const httplib::Request& req, httplib::Response& res) {
                 Serve(req, res, [&] {
                   const int32_t id = ParseRequestId(req.matches[1]);
                   const Variant log = ReadTransactionLog(id);
                   HostResponse response = FoundOr404(log, id);
                   response.body = {{"Q_ID", id}, {"transactions", response.body}};
                   return response;
                 });
               });
    server.Get(R"(/api/v1/requests/([^/]+)/reminder)",
               [this](const httplib::Request& req, httplib::Response& res) {
                 Serve(req, res, [&] {
                   const int32_t id = ParseRequestId(req.matches[1]);
                   HostResponse response = FoundOr404(ReadReminder(id), id);
                   response.body = {{"Q_ID", id}, {"reminder", response.body["reminder"]}};
                   return response;
                 });
               });
    server.Get("/api/v1/openapi.json", [this](const httplib::Request& req, httplib::Response& res) {
      Serve(req, res, [] { return Answer(200, OpenApiDocument()); });
    });
    server.Post(
        R"(/api/v1/([^/]+)/([^/]+))", [this](const httplib::Request& req, httplib::Response& res) {
          Serve(req, res, [&] {
            return InvokeOperation(req.matches[1].str(), req.matches[2].str(), req.body, limits);
          });
        });
    server.Get("/healthz", [this](const httplib::Request& req, httplib::Response& res) {
      Serve(req, res, [this] {
        if (stopping) return Answer(503, {{"status", "stopping"}});
        return CheckHealth();
      });
    });
    server.Get("/metrics", [this](const httplib::Request& req, httplib::Response& res) {
      InFlight in_flight(metrics.in_flight());
      res.status = 200;
      res.set_content(metrics.Render(), "text/plain; version=0.0.4");
      Finish(req, res);
    });
  }
};

HttpServer::HttpServer(HttpServerOptions options) : impl_(std::make_unique<Impl>()) {
  Impl& impl = *impl_;
  impl.options = std::move(options);
  impl.CheckExposure();
  impl.limits.json.max_depth = impl.options.max_json_depth;
  impl.limits.json.max_text_bytes = impl.options.max_text_bytes;
  impl.limits.deadline = std::chrono::milliseconds(impl.options.call_timeout_ms);
  const size_t threads = static_cast<size_t>(std::max(1, impl.options.threads));
  impl.server.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
  impl.server.set_payload_max_length(impl.options.max_body_bytes);
  // Answers are small and written in pieces: without this, Nagle's algorithm holds the last piece
  // until the client's delayed acknowledgement, some 40 ms per call.
  impl.server.set_tcp_nodelay(true);
  impl.server.set_pre_routing_handler([&impl](const httplib::Request& req, httplib::Response& res) {
    return impl.BeforeRouting(req, res);
  });
  impl.AddRoutes();
  // Answers that no route wrote (no such path, a body over the limit, a malformed request).
  impl.server.set_error_handler([&impl](const httplib::Request& req, httplib::Response& res) {
    if (!res.body.empty()) return;
    const int status = res.status;
    Respond(res, RefusedByTransport(status, impl.options));
    impl.Finish(req, res);
  });
}

HttpServer::~HttpServer() { Stop(); }

bool HttpServer::Run() { return impl_->server.listen(impl_->options.address, impl_->options.port); }

int HttpServer::Start() {
  int port = impl_->options.port;
  if (port == 0) {
    port = impl_->server.bind_to_any_port(impl_->options.address);
  } else if (!impl_->server.bind_to_port(impl_->options.address, port)) {
    port = -1;
  }
  if (port < 0) return -1;
  impl_->thread = std::thread([this] { impl_->server.listen_after_bind(); });
  while (!impl_->server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return port;
}

void HttpServer::Stop() {
  impl_->stopping = true;
  impl_->server.stop();
  if (impl_->thread.joinable()) impl_->thread.join();
}

}  // namespace heliq
