#include "host/src/http_framing.h"

#include <boost/asio/error.hpp>

#include <algorithm>
#include <limits>

#include "common/heliq_utilities.h"
#include "platform/com_error.h"

namespace heliq::internal {
namespace {

namespace http = boost::beast::http;

FramingRefusal BadFraming(std::string description) {
  return {400, err::kBadRequest, std::move(description)};
}

// PUT /api/v1/requests/<id>/attachments/<name>: the one route whose body may be larger.
bool IsUpload(const HttpRequest& head) {
  constexpr std::string_view kRequests = "/api/v1/requests/";
  constexpr std::string_view kAttachments = "/attachments/";
  if (head.method != "PUT" || !head.path.starts_with(kRequests)) return false;
  const size_t slash = head.path.find('/', kRequests.size());
  return slash != std::string::npos &&
         head.path.compare(slash, kAttachments.size(), kAttachments) == 0;
}

size_t BodyLimit(const HttpRequest& head, const HttpServerOptions& options) {
  return IsUpload(head) ? options.max_upload_bytes : options.max_body_bytes;
}

FramingRefusal TooLarge(const HttpRequest& head, const HttpServerOptions& options) {
  return {413, err::kPayloadTooLarge,
          "the request body is larger than the limit of " +
              std::to_string(BodyLimit(head, options)) + " bytes ([host] " +
              (IsUpload(head) ? "max_upload_bytes" : "max_body_bytes") + ")"};
}

}  // namespace

void LimitParser(RequestParser& parser, const HttpServerOptions& options) {
  parser.header_limit(static_cast<std::uint32_t>(
      std::min<size_t>(options.max_header_bytes, std::numeric_limits<uint32_t>::max())));
  // The route, and so its own limit, is known only once the head is in (LimitBody).
  parser.body_limit(std::max(options.max_body_bytes, options.max_upload_bytes));
}

std::optional<FramingRefusal> LimitBody(RequestParser& parser, const HttpRequest& head,
                                        const HttpServerOptions& options) {
  const size_t limit = BodyLimit(head, options);
  const auto length = parser.content_length();
  if (length && *length > limit) return TooLarge(head, options);
  parser.body_limit(limit);
  return std::nullopt;
}

HttpRequest HeadOf(const RequestParser& parser) {
  const auto& message = parser.get();
  HttpRequest head;
  head.method = std::string(message.method_string());
  const std::string_view target(message.target().data(), message.target().size());
  const size_t question = target.find('?');
  head.path = std::string(target.substr(0, question));
  if (question != std::string_view::npos) head.query = std::string(target.substr(question + 1));
  for (const auto& field : message) {
    head.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
  }
  return head;
}

std::optional<FramingRefusal> CheckHead(const HttpRequest& head, const HttpServerOptions& options) {
  if (head.headers.size() > options.max_header_count) {
    return FramingRefusal{431, err::kBadRequest,
                          "the request has more than " + std::to_string(options.max_header_count) +
                              " header fields ([host] max_header_count)"};
  }
  size_t content_lengths = 0;
  bool transfer_encoding = false;
  for (const auto& [name, value] : head.headers) {
    if (EqualsIgnoreCase(name, "Content-Length")) ++content_lengths;
    if (EqualsIgnoreCase(name, "Transfer-Encoding")) transfer_encoding = true;
  }
  // Beast accepts a repeated Content-Length of the same value; a proxy in front may not read it
  // the same way, so neither is taken.
  if (content_lengths > 1 || head.Header("Content-Length").find(',') != std::string_view::npos) {
    return BadFraming("the request has more than one Content-Length");
  }
  if (transfer_encoding &&
      (content_lengths > 0 || !EqualsIgnoreCase(head.Header("Transfer-Encoding"), "chunked"))) {
    return BadFraming(
        "Transfer-Encoding is accepted only as \"chunked\" and never with Content-Length");
  }
  // A compressed body could inflate far past max_body_bytes.
  const std::string_view encoding = head.Header("Content-Encoding");
  if (!encoding.empty() && !EqualsIgnoreCase(encoding, "identity")) {
    return FramingRefusal{415, err::kBadRequest,
                          "request bodies are accepted without Content-Encoding only"};
  }
  return std::nullopt;
}

std::optional<FramingRefusal> ReadRefusal(boost::beast::error_code error, bool deadline_passed,
                                          std::string_view part, const HttpRequest& head,
                                          const HttpServerOptions& options) {
  namespace asio_error = boost::asio::error;
  if (deadline_passed) {
    const int allowed = part == "head" ? options.head_timeout_ms : options.body_timeout_ms;
    return FramingRefusal{408, err::kBadRequest,
                          "the request " + std::string(part) + " did not arrive within " +
                              std::to_string(allowed) + " ms ([host] " + std::string(part) +
                              "_timeout_ms)"};
  }
  if (error == http::error::header_limit || error == http::error::buffer_overflow) {
    return FramingRefusal{431, err::kBadRequest,
                          "the request head is larger than " +
                              std::to_string(options.max_header_bytes) +
                              " bytes ([host] max_header_bytes)"};
  }
  if (error == http::error::body_limit) return TooLarge(head, options);
  if (error == http::error::end_of_stream || error == http::error::partial_message ||
      error == asio_error::eof || error == asio_error::connection_reset ||
      error == asio_error::operation_aborted || error == asio_error::broken_pipe) {
    return std::nullopt;
  }
  // Beast's own words for what was malformed; they quote nothing the caller sent.
  return BadFraming("malformed HTTP request " + std::string(part) + ": " + error.message());
}

}  // namespace heliq::internal
