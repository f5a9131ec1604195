#include "host/router.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>

#include "common/heliq_utilities.h"
#include "host/openapi.h"
#include "host/read_api.h"
#include "host/request_store.h"
#include "host/static_files.h"
#include "people/permissions.h"
#include "people/sign_in.h"
#include "people/web.h"
#include "platform/com_error.h"
#include "platform/log.h"
#include "platform/operation_table.h"
#include "portal/filehandling/file_store.h"

namespace heliq {
namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kMaxLoggedAddress = 64;
constexpr size_t kMaxLoggedMethod = 8;
constexpr std::string_view kApi = "/api/v1/";

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

bool LooksLikeSessionToken(std::string_view value) {
  return value.size() == kSessionTokenLength && std::ranges::all_of(value, [](char c) {
           return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                  c == '-' || c == '_';
         });
}

// The check from the head alone: the API token, a value shaped like a session token, or the
// session cookie. Whether the session is live needs the database and is decided in Route; this
// only spares reading the body of a request that carries no credentials at all.
bool MayBeAuthorized(const HttpRequest& request, const std::string& token) {
  const std::string_view header = request.Header("Authorization");
  constexpr std::string_view kScheme = "Bearer ";
  if (header.size() >= kScheme.size() &&
      EqualsIgnoreCase(header.substr(0, kScheme.size()), kScheme)) {
    const std::string_view value = header.substr(kScheme.size());
    return ConstantTimeEquals(value, token) || LooksLikeSessionToken(value);
  }
  return header.empty() &&
         request.Header("Cookie").find(std::string(kSessionCookieName) + "=") != std::string::npos;
}

// A page of the front end, which anybody may read.
bool IsPageRead(const HttpRequest& request) {
  return (request.method == "GET" || request.method == "HEAD") &&
         StaticFiles::IsPagePath(request.path);
}

// The labels of the pages: the sign-in page shows them before anybody has signed in. They are the
// installation's texts, nobody's data.
constexpr std::string_view kTextsPath = "/api/v1/texts";

RequestCredentials CredentialsOf(const HttpRequest& request) {
  return {request.method, request.Header("Authorization"), request.Header("Cookie"),
          request.Header("X-CSRF-Token")};
}

// Who sends `request` (see AuthenticateRequest). A request without credentials is the API token
// when none is set (the server then listens on loopback only) and refused when one is.
Caller CallerOf(const HttpRequest& request, const std::string& token,
                const SessionSettings& sessions) {
  std::optional<Caller> caller = AuthenticateRequest(CredentialsOf(request), token, sessions);
  if (caller) return *std::move(caller);
  if (!token.empty()) {
    throw ComError(err::kUnauthorized, "Host",
                   "missing credentials: send Authorization: Bearer <API token or session "
                   "token>, or sign in with POST /api/v1/session");
  }
  Caller anyone;
  anyone.is_api_token = true;
  return anyone;
}

// The path below /api/v1/ split at its slashes.
std::vector<std::string_view> ApiSegments(std::string_view path) {
  std::vector<std::string_view> segments;
  if (!path.starts_with(kApi)) return segments;
  std::string_view rest = path.substr(kApi.size());
  while (true) {
    const size_t slash = rest.find('/');
    segments.push_back(rest.substr(0, slash));
    if (slash == std::string_view::npos) break;
    rest = rest.substr(slash + 1);
  }
  return segments;
}

// The metrics label of a route; only names the host knows, so the label set stays bounded.
std::string RouteLabel(const HttpRequest& request) {
  if (request.path == "/healthz") return "healthz";
  if (request.path == "/metrics") return "metrics";
  if (StaticFiles::IsPagePath(request.path)) return "page";
  const auto segments = ApiSegments(request.path);
  if (segments.size() == 1 && segments[0] == "openapi.json") return "openapi";
  if (segments.empty() || segments[0].empty()) return "unknown";
  if (segments.size() == 1 && segments[0] == "lookups") return "lookups";
  if (segments.size() == 3 && segments[0] == "centres" && segments[2] == "engineers") {
    return "centres.engineers";
  }
  if (segments[0] == "requests" && segments.size() >= 4 && segments[2] == "attachments") {
    return request.method == "PUT" ? "requests.attachments.upload" : "requests.attachments.read";
  }
  if (segments.size() == 2 && segments[0] == "requests" && segments[1] == "counts") {
    return "requests.counts";
  }
  if (segments[0] == "requests" && request.method != "POST" && segments.size() <= 3) {
    if (segments.size() == 1) return "requests.list";
    if (segments.size() == 2) return "requests.read";
    if (segments[2] == "transactions") return "requests.transactions";
    if (segments[2] == "reminder") return "requests.reminder";
    return "unknown";
  }
  if (segments[0] == "requests" && segments.size() == 1) return "requests.create";
  if (segments.size() == 1 && segments[0] == "session") {
    return request.method == "DELETE" ? "session.end" : "session.start";
  }
  if (segments.size() == 1 && segments[0] == "me") return "me";
  if (segments.size() == 1 &&
      (segments[0] == "engineers" || segments[0] == "texts" || segments[0] == "faq")) {
    return std::string(segments[0]);
  }
  if (segments.size() != 2) return "unknown";
  const OperationSpec* spec = FindOperation(segments[0], segments[1]);
  return spec == nullptr ? "unknown" : spec->class_id + "." + spec->name;
}

// Counts a call in flight for as long as it is being served.
class InFlight {
 public:
  explicit InFlight(std::atomic<int64_t>& count) : count_(count) { ++count_; }
  ~InFlight() { --count_; }
  InFlight(const InFlight&) = delete;
  InFlight& operator=(const InFlight&) = delete;

 private:
  std::atomic<int64_t>& count_;
};

HttpResponse JsonAnswer(const HostResponse& answer) {
  HttpResponse response;
  response.status = answer.status;
  response.body =
      answer.body.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  const auto error = answer.body.find("error");
  if (answer.status >= 400 && error != answer.body.end() && error->contains("number")) {
    response.error_number = (*error)["number"].get<int32_t>();
  }
  return response;
}

HostResponse Answer(int status, nlohmann::ordered_json body) {
  HostResponse response;
  response.status = status;
  response.body = std::move(body);
  return response;
}

HostResponse ErrorWithStatus(int status, int32_t number, const std::string& description) {
  HostResponse response = ErrorResponse(ComError(number, "Host", description));
  response.status = status;
  return response;
}

int32_t ParseRequestId(std::string_view text) {
  int64_t id = 0;
  bool valid = !text.empty() && text.size() <= 10;
  for (char c : text) {
    valid = valid && c >= '0' && c <= '9';
    if (valid) id = id * 10 + (c - '0');
  }
  if (!valid || id < 1 || id > std::numeric_limits<int32_t>::max()) {
    throw ComError(err::kBadRequest, "Requests",
                   "argument id: a request id is a whole number from 1 to 2147483647, got " +
                       QuoteCallerText(text, 32));
  }
  return static_cast<int32_t>(id);
}

[[noreturn]] void NoSuchRequest(int32_t id) {
  throw ComError(err::kResourceNotFound, "Requests", "no request has Q_ID " + std::to_string(id));
}

HostResponse FoundOr404(const Variant& value, int32_t id) {
  if (value.IsNull()) NoSuchRequest(id);
  return Answer(200, VariantToJson(value));
}

// A request the caller may not see answers as an unknown one, so nobody learns which numbers
// exist.
void CheckMaySeeOr404(const Caller& caller, int32_t id) {
  try {
    CheckMaySeeRequest(caller, id);
  } catch (const ComError& e) {
    if (e.number() == err::kForbidden) NoSuchRequest(id);
    throw;
  }
}

void Challenge(HttpResponse& response) {
  if (response.status == 401) response.headers.emplace_back("WWW-Authenticate", "Bearer");
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// `plus_is_space`: a query's "+" is a space; in a path it is a "+".
std::string PercentDecode(std::string_view text, bool plus_is_space = true) {
  std::string decoded;
  decoded.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+' && plus_is_space) {
      decoded += ' ';
    } else if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
               HexValue(text[i + 2]) >= 0) {
      decoded += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      decoded += text[i];
    }
  }
  return decoded;
}

// The routes of attachments, as the permission table names them.
constexpr std::string_view kUploadRoute = "/api/v1/requests/<id>/attachments/<name>";
constexpr std::string_view kDownloadRoute = "/api/v1/requests/<id>/attachments/<path>";

// A route on a request the caller may not act on answers as an unknown request.
void CheckRouteOnRequestOr404(const Caller& caller, const RoutePermission& route, int32_t id,
                              bool archived_too) {
  try {
    CheckRouteOnRequest(caller, route, id, archived_too);
  } catch (const ComError& e) {
    if (e.number() == err::kForbidden) NoSuchRequest(id);
    throw;
  }
}

// filename="..." with what a quoted string cannot hold replaced, and filename* with the name
// itself, so every browser saves the file under its name and nothing can break the header.
std::string ContentDisposition(const std::string& name) {
  std::string plain;
  std::string encoded;
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (unsigned char c : name) {
    plain += (c < 0x20 || c >= 0x7f || c == '"' || c == '\\') ? '_' : static_cast<char>(c);
    if (std::isalnum(c) || c == '.' || c == '-' || c == '_') {
      encoded += static_cast<char>(c);
    } else {
      encoded += '%';
      encoded += kHex[c >> 4];
      encoded += kHex[c & 15];
    }
  }
  return "attachment; filename=\"" + plain + "\"; filename*=UTF-8''" + encoded;
}

}  // namespace

std::string_view HttpRequest::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (EqualsIgnoreCase(key, name)) return value;
  }
  return {};
}

std::string HttpRequest::QueryParameter(std::string_view name) const {
  std::string_view rest = query;
  while (!rest.empty()) {
    const size_t amp = rest.find('&');
    const std::string_view pair = rest.substr(0, amp);
    const size_t eq = pair.find('=');
    if (PercentDecode(pair.substr(0, eq)) == name) {
      return eq == std::string_view::npos ? std::string() : PercentDecode(pair.substr(eq + 1));
    }
    if (amp == std::string_view::npos) break;
    rest = rest.substr(amp + 1);
  }
  return {};
}

Router::Router(const HttpServerOptions& options, CallMetrics& metrics)
    : options_(options),
      sessions_(SessionSettingsFromConfig()),
      metrics_(metrics),
      pages_(std::make_unique<StaticFiles>(options.web_root)) {
  limits_.json.max_depth = options.max_json_depth;
  limits_.json.max_text_bytes = options.max_text_bytes;
  limits_.json.max_object_keys = options.max_json_keys;
  limits_.json.max_array_elements = options.max_json_elements;
  limits_.deadline = std::chrono::milliseconds(options.call_timeout_ms);
}

Router::~Router() = default;

std::optional<HttpResponse> Router::Admit(const HttpRequest& head) {
  HostResponse refusal;
  if (stopping_) {
    refusal =
        ErrorWithStatus(503, err::kHostStopping, "the host is shutting down; call again elsewhere");
  } else if (head.path != "/healthz" && head.path != "/api/v1/session" && head.path != kTextsPath &&
             !options_.token.empty() && !IsPageRead(head) &&
             !MayBeAuthorized(head, options_.token)) {
    refusal = ErrorResponse(ComError(err::kUnauthorized, "Host",
                                     "missing or wrong API token: send the header "
                                     "Authorization: Bearer <token> (the API token or a session "
                                     "token), or sign in with POST /api/v1/session"));
  } else {
    return std::nullopt;
  }
  HttpResponse response = JsonAnswer(refusal);
  Challenge(response);
  Finish(head, response, RouteLabel(head), 0.0);
  return response;
}

HttpResponse Router::Handle(const HttpRequest& request) {
  const auto started = Clock::now();
  HttpResponse response = Route(request);
  Challenge(response);
  Finish(request, response, RouteLabel(request),
         std::chrono::duration<double>(Clock::now() - started).count());
  return response;
}

HttpResponse Router::Refuse(const HttpRequest& head, int status, int32_t number,
                            const std::string& description) {
  HttpResponse response = JsonAnswer(ErrorWithStatus(status, number, description));
  Finish(head, response, RouteLabel(head), 0.0);
  return response;
}

HttpResponse Router::Route(const HttpRequest& request) {
  InFlight in_flight(metrics_.in_flight());
  const std::string& method = request.method;
  const bool post = method == "POST";
  // The methods a path answers to; a request with another method gets 405 naming them.
  auto only = [&](std::string_view allowed) -> std::optional<HttpResponse> {
    if (method == allowed) return std::nullopt;
    HttpResponse refused =
        JsonAnswer(ErrorWithStatus(405, err::kBadRequest,
                                   "method " + QuoteCallerText(method, 16) +
                                       " is not allowed here; use " + std::string(allowed)));
    refused.headers.emplace_back("Allow", std::string(allowed));
    return refused;
  };
  auto json = [](const std::function<HostResponse()>& body) { return JsonAnswer(Guarded(body)); };
  if (stopping_) {
    return json([] {
      return ErrorWithStatus(503, err::kHostStopping,
                             "the host is shutting down; call again elsewhere");
    });
  }
  if (request.path == "/healthz") {
    if (auto refused = only("GET")) return *refused;
    return json([this] {
      if (stopping_) return Answer(503, {{"status", "stopping"}});
      HostResponse health = CheckHealth();
      if (health.status == 200) return health;
      // Open to all, so it tells only that the database is down; what failed (which can name the
      // database's host and port) goes to the log.
      const auto& error = health.body["error"];
      LogInfo("healthz: the system database is unavailable: " +
              error.value("description", std::string()));
      return Answer(503, {{"status", "unavailable"}, {"error", {{"number", error["number"]}}}});
    });
  }
  if (IsPageRead(request)) {
    std::optional<HttpResponse> page;
    HttpResponse failed = json([&] {
      page = pages_->Serve(request.path, request.Header("If-None-Match"));
      return HostResponse{};
    });
    if (page) return *std::move(page);
    StaticFiles::AddSecurityHeaders(failed);
    return failed;
  }
  const auto segments = ApiSegments(request.path);
  if (segments.size() == 1 && segments[0] == "session") {
    if (method == "DELETE") {
      PeopleAnswer answer;
      HttpResponse response = json([&] {
        // Authenticated first, so a cookie without its CSRF token cannot sign anybody out.
        CallerOf(request, options_.token, sessions_);
        answer = SignOutRoute(CredentialsOf(request), request.peer, sessions_);
        return Answer(answer.status, answer.body);
      });
      for (const auto& cookie : answer.set_cookies)
        response.headers.emplace_back("Set-Cookie", cookie);
      return response;
    }
    if (auto refused = only("POST")) {
      refused->headers.back().second = "POST, DELETE";
      return *refused;
    }
    PeopleAnswer answer;
    int64_t retry_after = 0;
    HttpResponse response = json([&] {
      try {
        answer = SignInRoute(request.body, request.peer, sessions_);
      } catch (const SignInLocked& locked) {
        retry_after = locked.retry_after_seconds();
        throw;
      }
      return Answer(answer.status, answer.body);
    });
    for (const auto& cookie : answer.set_cookies)
      response.headers.emplace_back("Set-Cookie", cookie);
    if (response.status == 200) response.headers.emplace_back("Cache-Control", "no-store");
    if (response.status == 429) {
      response.headers.emplace_back("Retry-After",
                                    std::to_string(std::max<int64_t>(retry_after, 1)));
    }
    return response;
  }
  if (request.path == kTextsPath) {
    if (auto refused = only("GET")) return *refused;
    return json([&] { return Answer(200, TextsJson(ParseQueryString(request.query))); });
  }
  // Every route below answers to a known caller.
  std::optional<Caller> caller;
  HttpResponse unauthenticated = json([&] {
    caller = CallerOf(request, options_.token, sessions_);
    return HostResponse{};
  });
  if (!caller) return unauthenticated;
  if (StaticFiles::IsPagePath(request.path)) {
    HttpResponse refused = *only("GET");
    refused.headers.back().second = "GET, HEAD";
    StaticFiles::AddSecurityHeaders(refused);
    return refused;
  }
  if (request.path == "/metrics") {
    if (auto refused = only("GET")) return *refused;
    if (!caller->IsUnrestricted()) {
      return json([] {
        return ErrorWithStatus(403, err::kForbidden, "the metrics are for the API token");
      });
    }
    HttpResponse response;
    response.content_type = "text/plain; version=0.0.4";
    response.body = metrics_.Render();
    return response;
  }
  if (segments.size() == 1 && segments[0] == "me") {
    if (auto refused = only("GET")) return *refused;
    return json([&] { return Answer(200, MeBody(*caller)); });
  }
  if (segments.size() == 1 && segments[0] == "openapi.json") {
    if (auto refused = only("GET")) return *refused;
    return json([] { return Answer(200, OpenApiDocument()); });
  }
  if (segments.size() == 1 && segments[0] == "requests") {
    if (post) {
      int32_t id = 0;
      HttpResponse response = json([&] {
        DictionaryPtr columns = ParseArguments(request.body, limits_.json);
        ForceRequestOwner(*caller, *columns);
        id = CreateUnregisteredRequest(*columns);
        return Answer(201, {{"Q_ID", id}});
      });
      if (response.status == 201) {
        response.headers.emplace_back("Location", "/api/v1/requests/" + std::to_string(id));
      }
      return response;
    }
    if (auto refused = only("GET")) {
      refused->headers.back().second = "GET, POST";
      return *refused;
    }
    return json([&] {
      const std::string email = request.QueryParameter("email");
      const QueryParams query = ParseQueryString(request.query);
      // email alone is the prospect's list of active and archived requests; anything else is the
      // list of active requests, of those the caller may see.
      if (email.empty() || query.size() > 1) {
        return Answer(200, ListRequestsJson(query, ScopeFor(*caller)));
      }
      if (!caller->IsUnrestricted() &&
          !(caller->is_prospect && EqualsIgnoreCase(email, caller->email))) {
        throw ComError(err::kForbidden, "Requests",
                       "argument email: a signed-in person lists his own requests only (leave "
                       "email out)");
      }
      if (email.size() > limits_.json.max_text_bytes) {
        throw ComError(err::kBadRequest, "Requests", "argument email: too long");
      }
      return Answer(200, {{"requests", VariantToJson(ListProspectRequests(email))}});
    });
  }
  if (segments.size() == 1 && (segments[0] == "engineers" || segments[0] == "faq")) {
    if (auto refused = only("GET")) return *refused;
    return json([&] {
      const QueryParams query = ParseQueryString(request.query);
      if (segments[0] == "engineers" && !caller->IsUnrestricted()) {
        // The list manual dispatching picks from: a dispatcher's or supervisor's, for a request of
        // his centre.
        if (!caller->HasRole(Role::kDispatcher) && !caller->HasRole(Role::kSupervisor)) {
          throw ComError(err::kForbidden, "Requests",
                         "the engineer list is for dispatchers and supervisors");
        }
        CheckMaySeeOr404(*caller, ParseRequestId(request.QueryParameter("request")));
      }
      if (segments[0] == "engineers") return Answer(200, EngineerListJson(query));
      return Answer(200, FaqJson(query));
    });
  }
  if (segments.size() == 1 && segments[0] == "lookups") {
    if (auto refused = only("GET")) return *refused;
    return json([&] {
      CheckRouteAllowed(*caller, FindRoutePermission("GET", "/api/v1/lookups"));
      return Answer(200, LookupsJson(*caller));
    });
  }
  if (segments.size() == 3 && segments[0] == "centres" && segments[2] == "engineers") {
    if (auto refused = only("GET")) return *refused;
    return json([&] {
      const int32_t centre = CentreArgument("centre", PercentDecode(segments[1], false));
      CheckRouteAllowed(*caller, FindRoutePermission("GET", "/api/v1/centres/<c>/engineers"),
                        centre);
      return Answer(200, CentreEngineersJson(centre));
    });
  }
  if (segments.size() == 2 && segments[0] == "requests" && segments[1] == "counts") {
    if (auto refused = only("GET")) return *refused;
    return json([&] {
      const int32_t centre = CentreArgument("centre", request.QueryParameter("centre"));
      CheckRouteAllowed(*caller, FindRoutePermission("GET", "/api/v1/requests/counts"), centre);
      return Answer(200, RequestCountsJson(ParseQueryString(request.query)));
    });
  }
  if (segments.size() >= 4 && segments[0] == "requests" && segments[2] == "attachments") {
    if (method == "PUT" && segments.size() == 4) {
      return json([&] {
        const int32_t id = ParseRequestId(segments[1]);
        const RoutePermission& route = FindRoutePermission("PUT", kUploadRoute);
        CheckRouteAllowed(*caller, route);
        CheckRouteOnRequestOr404(*caller, route, id, false);
        const std::string name = PercentDecode(segments[3], false);
        std::string path;
        try {
          path = StoreIncomingFile(id, name, request.body);
        } catch (const ComError& e) {
          if (e.number() != err::kInvalidProcedureCall) throw;
          throw ComError(err::kBadRequest, "Attachments", "argument name: " + e.description());
        }
        return Answer(
            201,
            {{"path", path}, {"name", name}, {"bytes", static_cast<int64_t>(request.body.size())}});
      });
    }
    if (auto refused = only("GET")) {
      refused->headers.back().second = segments.size() == 4 ? "GET, PUT" : "GET";
      return *refused;
    }
    std::optional<HttpResponse> file;
    HttpResponse failed = json([&] {
      const int32_t id = ParseRequestId(segments[1]);
      const RoutePermission& route = FindRoutePermission("GET", kDownloadRoute);
      CheckRouteAllowed(*caller, route);
      CheckRouteOnRequestOr404(*caller, route, id, true);
      std::string relative;
      for (size_t i = 3; i < segments.size(); ++i) {
        relative += (i == 3 ? "" : "/") + PercentDecode(segments[i], false);
      }
      const std::optional<std::filesystem::path> found = RequestFile(id, relative);
      std::ifstream in;
      if (found) in.open(*found, std::ios::binary);
      if (!found || !in) {
        throw ComError(
            err::kResourceNotFound, "Attachments",
            "request " + std::to_string(id) + " has no attachment " + QuoteCallerText(relative));
      }
      HttpResponse answer;
      answer.content_type = "application/octet-stream";
      answer.body.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      answer.headers.emplace_back("Content-Disposition",
                                  ContentDisposition(found->filename().string()));
      answer.headers.emplace_back("X-Content-Type-Options", "nosniff");
      answer.headers.emplace_back("Cache-Control", "private, no-store");
      file = std::move(answer);
      return HostResponse{};
    });
    if (file) return *std::move(file);
    return failed;
  }
  if (segments.size() >= 2 && segments.size() <= 3 && segments[0] == "requests" && !post) {
    if (segments.size() == 3 && segments[2] != "transactions" && segments[2] != "reminder") {
      return json([] { return ErrorWithStatus(404, err::kBadRequest, "no such resource"); });
    }
    if (auto refused = only("GET")) return *refused;
    return json([&] {
      const int32_t id = ParseRequestId(segments[1]);
      CheckMaySeeOr404(*caller, id);
      if (segments.size() == 2) return FoundOr404(ReadRequest(id), id);
      if (segments[2] == "transactions") {
        HostResponse response = FoundOr404(ReadTransactionLog(id), id);
        response.body = {{"Q_ID", id}, {"transactions", response.body}};
        return response;
      }
      HostResponse response = FoundOr404(ReadReminder(id), id);
      response.body = {{"Q_ID", id}, {"reminder", response.body["reminder"]}};
      return response;
    });
  }
  if (segments.size() == 2 && !segments[0].empty() && !segments[1].empty()) {
    if (auto refused = only("POST")) return *refused;
    return json(
        [&] { return InvokeOperation(segments[0], segments[1], request.body, limits_, &*caller); });
  }
  return json([] {
    return ErrorWithStatus(404, err::kBadRequest,
                           "no such resource: see GET /api/v1/openapi.json for the routes");
  });
}

void Router::Finish(const HttpRequest& request, const HttpResponse& response,
                    const std::string& label, double seconds) {
  metrics_.Record(label, response.status, response.error_number, seconds);
  char duration[32];
  std::snprintf(duration, sizeof duration, "%.3f", seconds * 1000);
  LogInfo("access " + request.method.substr(0, kMaxLoggedMethod) + " " + label + " status " +
          std::to_string(response.status) + " " + duration + " ms from " +
          request.peer.substr(0, kMaxLoggedAddress));
}

}  // namespace heliq
