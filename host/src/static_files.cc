#include "host/static_files.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

#include "common/heliq_utilities.h"
#include "platform/com_error.h"
#include "platform/configuration.h"
#include "platform/log.h"
#include "platform/text.h"

namespace heliq {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kSource = "Pages";
constexpr std::string_view kIndex = "index.html";
constexpr std::string_view kAssets = "assets";
constexpr std::string_view kNeverCached = "no-cache";
constexpr std::string_view kCachedForGood = "public, max-age=31536000, immutable";
// Only the pages' own files: no inline script or style, no plug-ins, no framing. Images and
// fonts may also be data: URLs, which the build inlines small assets as.
constexpr std::string_view kContentSecurityPolicy =
    "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
    "font-src 'self' data:; object-src 'none'; base-uri 'self'; form-action 'self'; "
    "frame-ancestors 'none'";

struct ContentType {
  std::string_view extension;
  std::string_view type;
};

constexpr ContentType kContentTypes[] = {
    {".html", "text/html; charset=utf-8"},
    {".js", "text/javascript; charset=utf-8"},
    {".mjs", "text/javascript; charset=utf-8"},
    {".css", "text/css; charset=utf-8"},
    {".svg", "image/svg+xml"},
    {".png", "image/png"},
    {".ico", "image/x-icon"},
    {".json", "application/json"},
    {".webmanifest", "application/manifest+json"},
    {".woff2", "font/woff2"},
    {".txt", "text/plain; charset=utf-8"},
    {".map", "application/json"},
};

std::string_view ContentTypeOf(const fs::path& file) {
  const std::string extension = file.extension().string();
  for (const ContentType& entry : kContentTypes) {
    if (EqualsIgnoreCase(entry.extension, extension)) return entry.type;
  }
  return "application/octet-stream";
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

[[noreturn]] void RefusePath(std::string_view path, std::string_view why) {
  throw ComError(err::kBadRequest, std::string(kSource),
                 "path " + QuoteCallerText(path) + ": " + std::string(why));
}

[[noreturn]] void NoSuchPage(std::string_view path) {
  throw ComError(err::kResourceNotFound, std::string(kSource),
                 "no such page: " + QuoteCallerText(path));
}

// The decoded segments of `path`, empty segments dropped; refuses what could lead elsewhere.
std::vector<std::string> Segments(std::string_view path) {
  std::vector<std::string> segments;
  size_t start = 0;
  while (start <= path.size()) {
    const size_t slash = std::min(path.find('/', start), path.size());
    const std::string_view raw = path.substr(start, slash - start);
    start = slash + 1;
    std::string segment;
    for (size_t i = 0; i < raw.size(); ++i) {
      char c = raw[i];
      if (c == '%') {
        if (i + 2 >= raw.size()) RefusePath(path, "bad escape");
        const int high = HexValue(raw[i + 1]);
        const int low = HexValue(raw[i + 2]);
        if (high < 0 || low < 0) RefusePath(path, "bad escape");
        c = static_cast<char>(high * 16 + low);
        i += 2;
      }
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
        RefusePath(path, "a control character");
      }
      if (c == '/' || c == '\\') RefusePath(path, "a slash or backslash inside a name");
      segment += c;
    }
    if (segment == "." || segment == "..") RefusePath(path, "\".\" and \"..\" are not allowed");
    if (!segment.empty()) segments.push_back(std::move(segment));
  }
  return segments;
}

// `file` lies inside `root` (both canonical).
bool Inside(const fs::path& root, const fs::path& file) {
  auto r = root.begin();
  auto f = file.begin();
  for (; r != root.end(); ++r, ++f) {
    if (f == file.end() || *r != *f) return false;
  }
  return f != file.end();
}

// A validator that changes whenever the file does: its size and modification time. "" when
// they cannot be read (then the answer has none).
std::string EntityTag(const fs::path& file) {
  std::error_code error;
  const auto size = fs::file_size(file, error);
  if (error) return "";
  const auto modified = fs::last_write_time(file, error);
  if (error) return "";
  char tag[64];
  std::snprintf(tag, sizeof tag, "\"%jx-%jx\"", static_cast<uintmax_t>(size),
                static_cast<uintmax_t>(modified.time_since_epoch().count()));
  return tag;
}

// Whether the If-None-Match value `header` ("*", or a list of tags, weak ones too) names `tag`.
bool NamesTag(std::string_view header, std::string_view tag) {
  while (!header.empty()) {
    const size_t comma = header.find(',');
    std::string_view entry = TrimSpace(header.substr(0, comma));
    if (entry.starts_with("W/")) entry.remove_prefix(2);
    if (entry == "*" || entry == tag) return true;
    if (comma == std::string_view::npos) break;
    header.remove_prefix(comma + 1);
  }
  return false;
}

}  // namespace

fs::path WebRootFromSettings() {
  std::string setting = SettingValue("host", "web_root");
  if (!setting.empty()) {
    std::replace(setting.begin(), setting.end(), '\\', '/');
    fs::path root(setting);
    return root.is_relative() ? fs::path(GetInstallDir()) / root : root;
  }
  std::error_code error;
  const fs::path program = fs::read_symlink("/proc/self/exe", error);
  if (error) return {};
  return (program.parent_path() / ".." / "share" / "heliq" / "web").lexically_normal();
}

StaticFiles::StaticFiles(const fs::path& root) {
  std::error_code error;
  if (!root.empty()) root_ = fs::canonical(root, error);
  if (root.empty() || error || !fs::is_directory(root_, error)) {
    root_.clear();
    LogInfo("warning: web root " + (root.empty() ? std::string("(none)") : root.string()) +
            " is not a folder: the API is served, pages answer 404 (build the front end, or set "
            "[host] web_root)");
  }
}

bool StaticFiles::IsPagePath(std::string_view path) {
  return !(path == "/api" || path.starts_with("/api/") || path == "/healthz" || path == "/metrics");
}

void StaticFiles::AddSecurityHeaders(HttpResponse& response) {
  response.headers.emplace_back("X-Content-Type-Options", "nosniff");
  response.headers.emplace_back("Content-Security-Policy", std::string(kContentSecurityPolicy));
  response.headers.emplace_back("Referrer-Policy", "no-referrer");
}

HttpResponse StaticFiles::Serve(std::string_view path, std::string_view if_none_match) const {
  std::vector<std::string> segments = Segments(path);
  if (root_.empty()) NoSuchPage(path);
  const bool route = segments.empty() || segments.back().find('.') == std::string::npos;
  fs::path wanted = root_;
  if (route) {
    wanted /= kIndex;
  } else {
    for (const std::string& segment : segments) wanted /= segment;
  }
  std::error_code error;
  const fs::path file = fs::canonical(wanted, error);
  if (error || !Inside(root_, file) || !fs::is_regular_file(file, error)) NoSuchPage(path);
  HttpResponse response;
  response.content_type = std::string(ContentTypeOf(file));
  const bool asset = !route && segments.size() > 1 && segments.front() == kAssets;
  response.headers.emplace_back("Cache-Control",
                                std::string(asset ? kCachedForGood : kNeverCached));
  const std::string tag = EntityTag(file);
  if (!tag.empty()) response.headers.emplace_back("ETag", tag);
  AddSecurityHeaders(response);
  if (!tag.empty() && NamesTag(if_none_match, tag)) {
    response.status = 304;
    return response;
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) NoSuchPage(path);
  response.body.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    throw ComError(err::kFileServer, std::string(kSource), "cannot read " + file.string());
  }
  return response;
}

}  // namespace heliq
