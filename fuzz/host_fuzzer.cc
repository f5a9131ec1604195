// libFuzzer target over the host's request handling: one input is one POST of
// /api/v1/<class id>/<operation> with a JSON body, run through InvokeOperation (the whole handler
// behind the HTTP route) on a throwaway SQLite installation that holds the demo data.
//
// Input: either "<class id>/<operation>\n<body>", or a first byte below 0x20 that picks a row of
// the operation table (modulo its size) followed by the body, so every operation is one byte away,
// or raw HTTP bytes starting "GET " or "POST ": one connection's worth of requests read as the
// server reads them (Beast's parser under the host's limits and framing rules) and served by the
// router, one after the other, until one closes the connection.
//
// Besides the sanitizers' findings, the target aborts when an answer breaks the host's contract:
// 200 exactly when the body holds "result"; otherwise {"error": {"number", ...}} whose number maps
// to the answer's status; the body always serialises; and arguments that parse convert back to
// JSON that parses to the same values.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "host/host.h"
#include "host/json_convert.h"
#include "host/metrics.h"
#include "host/router.h"
#include "host/src/http_framing.h"
#include "platform/com_error.h"
#include "platform/configuration.h"
#include "platform/database.h"
#include "platform/operation_table.h"

namespace {

std::filesystem::path installation;

void Require(bool condition, const char* what, const std::string& detail) {
  if (condition) return;
  std::fprintf(stderr, "contract broken: %s\n%s\n", what, detail.c_str());
  std::abort();
}

void CheckResponse(const heliq::HostResponse& response) {
  const std::string text =
      response.body.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  if (response.status == 200) {
    Require(response.body.contains("result"), "200 without a result", text);
    return;
  }
  Require(response.body.contains("error") && response.body["error"].contains("number") &&
              response.body["error"]["number"].is_number_integer(),
          "a failure without an error number", text);
  const auto number = response.body["error"]["number"].get<int32_t>();
  Require(number != 0, "a failure with error number 0", text);
  Require(heliq::HttpStatusFor(number) == response.status, "status does not match the number",
          std::to_string(response.status) + " " + text);
}

// Arguments that parse must survive the way back to JSON and in again unchanged.
void CheckRoundTrip(std::string_view body) {
  heliq::DictionaryPtr first;
  try {
    first = heliq::ParseArguments(body);
  } catch (const heliq::ComError& e) {
    Require(e.number() == heliq::err::kBadRequest, "a parse failure that is not a bad request",
            e.description());
    return;
  }
  const nlohmann::ordered_json json = heliq::VariantToJson(heliq::Variant(first));
  const std::string again = json.dump();
  const nlohmann::ordered_json second =
      heliq::VariantToJson(heliq::Variant(heliq::ParseArguments(again)));
  Require(json == second, "arguments change on the way back to JSON", again);
}

// Limits small enough that the fuzzer reaches them.
heliq::HttpServerOptions RawOptions() {
  heliq::HttpServerOptions options;
  options.max_body_bytes = 4096;
  options.max_header_bytes = 2048;
  options.max_header_count = 16;
  options.max_json_keys = 64;
  options.max_json_elements = 64;
  return options;
}

void CheckHttpResponse(const heliq::HttpResponse& response) {
  Require(response.status >= 200 && response.status <= 599, "an HTTP status out of range",
          std::to_string(response.status));
  if (response.content_type != "application/json") return;
  const auto body = nlohmann::ordered_json::parse(response.body, nullptr, false);
  Require(!body.is_discarded(), "an answer that is not JSON", response.body);
  if (response.status >= 400) {
    Require(body.contains("error") && body["error"].contains("number") &&
                body["error"]["number"].get<int32_t>() != 0,
            "a refusal without an error number", response.body);
  }
}

void ServeRawHttp(std::string_view bytes) {
  namespace beast = boost::beast;
  namespace http = beast::http;
  static const heliq::HttpServerOptions options = RawOptions();
  static heliq::CallMetrics metrics;
  static heliq::Router router(options, metrics);
  size_t offset = 0;
  // Feeds the parser until `done` or the input ends (a client that went away: error).
  auto feed = [&](heliq::internal::RequestParser& parser, auto done) {
    beast::error_code error;
    while (!done()) {
      // In the body Beast takes an empty buffer without complaint, so the end of the input has to
      // be noticed here.
      if (offset == bytes.size()) {
        error = http::error::need_more;
        break;
      }
      const size_t used =
          parser.put(boost::asio::buffer(bytes.data() + offset, bytes.size() - offset), error);
      offset += used;
      if (error == http::error::need_more && used > 0) {
        error = {};
        continue;
      }
      if (error) break;
    }
    return error;
  };
  auto refuse = [&](const heliq::HttpRequest& head, const heliq::internal::FramingRefusal& why) {
    CheckHttpResponse(router.Refuse(head, why.status, why.number, why.description));
  };
  for (int served = 0; served < 8 && offset < bytes.size(); ++served) {
    heliq::internal::RequestParser parser;
    heliq::internal::LimitParser(parser, options);
    parser.eager(true);
    beast::error_code error = feed(parser, [&] { return parser.is_header_done(); });
    heliq::HttpRequest request = heliq::internal::HeadOf(parser);
    request.peer = "127.0.0.1";
    if (error) {
      if (auto why = heliq::internal::ReadRefusal(error, false, "head", request, options)) {
        refuse(request, *why);
      }
      return;
    }
    if (auto why = heliq::internal::CheckHead(request, options)) return refuse(request, *why);
    if (auto why = heliq::internal::LimitBody(parser, request, options)) {
      return refuse(request, *why);
    }
    if (auto refusal = router.Admit(request)) {
      CheckHttpResponse(*refusal);
      if (!parser.is_done()) return;
      continue;
    }
    error = feed(parser, [&] { return parser.is_done(); });
    if (error) {
      if (auto why = heliq::internal::ReadRefusal(error, false, "body", request, options)) {
        refuse(request, *why);
      }
      return;
    }
    request.body = parser.get().body();
    CheckHttpResponse(router.Handle(request));
    if (!parser.get().keep_alive()) return;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  installation =
      std::filesystem::temp_directory_path() / ("heliq-fuzz-" + std::to_string(getpid()));
  std::filesystem::remove_all(installation);
  std::filesystem::create_directories(installation);
  const std::string dir = installation.string();
  heliq::SetSettingsText("install_dir = '" + dir + "'\ndefault_language = 1033\n[connections]\n" +
                         "Heliq = 'sqlite:" + dir + "/heliq.db'\nRAvuruvo = 'sqlite:" + dir +
                         "/heliq.db'\nBackOffice = 'sqlite:" + dir + "/BackOffice.db'\n" +
                         "Directory = 'sqlite:" + dir + "/Directory.db'\n" +
                         "[log]\nfile = '/dev/null'\n");
  heliq::InitializeSystem();
  heliq::InitializeDatabases(std::filesystem::path(HELIQ_SOURCE_DIR) / "db", true, true);
  std::atexit([] {
    heliq::SessionPool::ResetAll();
    std::error_code ignored;
    std::filesystem::remove_all(installation, ignored);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (input.starts_with("GET ") || input.starts_with("POST ")) {
    ServeRawHttp(input);
    return 0;
  }
  std::string class_id;
  std::string operation;
  std::string_view body;
  if (!input.empty() && static_cast<unsigned char>(input[0]) < 0x20) {
    const auto operations = heliq::ListOperations();
    const heliq::OperationSpec* spec =
        operations[static_cast<unsigned char>(input[0]) % operations.size()];
    class_id = spec->class_id;
    operation = spec->name;
    body = input.substr(1);
  } else {
    const size_t end = input.find('\n');
    const std::string_view path = input.substr(0, end);
    body = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
    const size_t slash = path.find('/');
    class_id = std::string(path.substr(0, slash));
    if (slash != std::string_view::npos) operation = std::string(path.substr(slash + 1));
  }
  CheckResponse(heliq::InvokeOperation(class_id, operation, body));
  CheckRoundTrip(body);
  return 0;
}
