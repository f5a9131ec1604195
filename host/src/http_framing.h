// How the host frames one HTTP request: Beast's parser under the [host] limits, and the rules the
// host adds to Beast's own. Internal to the host; the HTTP server and the fuzz target share it, so
// the fuzzer reads requests exactly as a connection does.
//
// Thread safety: plain functions over their arguments.
#ifndef HELIQ_HOST_SRC_HTTP_FRAMING_H_
#define HELIQ_HOST_SRC_HTTP_FRAMING_H_

// Boost 1.74's Asio uses std::exchange without including <utility>.
#include <utility>

#include <boost/beast/http.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "host/http_server.h"
#include "host/router.h"

namespace heliq::internal {

using RequestParser = boost::beast::http::request_parser<boost::beast::http::string_body>;

// Why a request is refused before it reaches the router; the connection closes after it.
struct FramingRefusal {
  int status;
  int32_t number;
  std::string description;
};

// Sets the header limit and the largest body limit of a parser for the next request.
void LimitParser(RequestParser& parser, const HttpServerOptions& options);

// After the head: the body limit of its route (max_upload_bytes for an attachment upload,
// max_body_bytes for the rest), or the 413 when its Content-Length is over it already.
std::optional<FramingRefusal> LimitBody(RequestParser& parser, const HttpRequest& head,
                                        const HttpServerOptions& options);

// The method, path, query and header fields of what the parser has read so far (the peer and body
// are the caller's to fill).
HttpRequest HeadOf(const RequestParser& parser);

// The host's rules on a complete head: at most max_header_count fields, at most one
// Content-Length and no list in it, Transfer-Encoding only "chunked" and never with
// Content-Length, no Content-Encoding.
std::optional<FramingRefusal> CheckHead(const HttpRequest& head, const HttpServerOptions& options);

// The refusal for a read of the head or body (`part`) that failed with `error`, or nullopt when
// the client went away or the read was cancelled (then the connection just closes).
// `deadline_passed`: the read was cancelled because its deadline passed (408). `head`: what was
// read of the head (it names the body limit that applied).
std::optional<FramingRefusal> ReadRefusal(boost::beast::error_code error, bool deadline_passed,
                                          std::string_view part, const HttpRequest& head,
                                          const HttpServerOptions& options);

}  // namespace heliq::internal

#endif  // HELIQ_HOST_SRC_HTTP_FRAMING_H_
