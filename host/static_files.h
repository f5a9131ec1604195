// The pages of the web front end: the built files under one folder (the web root), served by the
// host to anybody. The pages hold no data (every API call they make still needs a session), so
// no credentials are asked for them.
//
// A page path is any path outside /api/, /healthz and /metrics. An existing regular file under
// the root is served; a path whose last segment has no "." (a route of the single-page
// application, "/requests/12") answers index.html; anything else 404 (err::kResourceNotFound).
// A segment "." or "..", a backslash, a control character or an escaped "/" in the path is
// refused with 400 (err::kBadRequest); a file reached through a link that leads out of the root
// is not served (404). index.html and other files outside /assets/ are never cached
// ("no-cache": the browser asks again each time), files under /assets/ (hashed names) for good.
// Every answer carries nosniff, a Content-Security-Policy that allows only the pages' own
// scripts and styles, and Referrer-Policy: no-referrer.
//
// Thread safety: Serve may run on any number of threads at once; the files are read per request,
// so a rebuilt front end is served at once without a restart.
#ifndef HELIQ_HOST_STATIC_FILES_H_
#define HELIQ_HOST_STATIC_FILES_H_

#include <filesystem>
#include <string>
#include <string_view>

#include "host/router.h"

namespace heliq {

// The web root as configured: [host] web_root (relative: to install_dir), or by default
// share/heliq/web beside the program's bin/ folder (in a build folder that is a link to the
// build's web/dist).
std::filesystem::path WebRootFromSettings();

class StaticFiles {
 public:
  // `root` need not exist: then every page answers 404 and one warning is logged here.
  explicit StaticFiles(const std::filesystem::path& root);

  // True for the paths this component serves (see above).
  static bool IsPagePath(std::string_view path);

  // The answer to GET (or HEAD: the transport drops the body) of the page path `path` (not
  // decoded). Every file answer carries an ETag (size and modification time); when
  // `if_none_match` (the request's If-None-Match) names it, the answer is 304 without the body.
  // Raises ComError err::kBadRequest or err::kResourceNotFound as described above.
  HttpResponse Serve(std::string_view path, std::string_view if_none_match = {}) const;

  // The headers every page answer carries, errors included.
  static void AddSecurityHeaders(HttpResponse& response);

 private:
  std::filesystem::path root_;  // canonical; empty when the folder is missing
};

}  // namespace heliq

#endif  // HELIQ_HOST_STATIC_FILES_H_
