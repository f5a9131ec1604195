// The HTTP face of the host: POST /api/v1/<class id>/<operation> with the JSON arguments.
//
// Serves on the configured loopback address until Stop() or SIGTERM/SIGINT.
#ifndef HELIQ_HOST_HTTP_SERVER_H_
#define HELIQ_HOST_HTTP_SERVER_H_

#include <memory>
#include <string>

namespace heliq {

struct HttpServerOptions {
  std::string address = "127.0.0.1";
  int port = 8080;
};

// Address and port from the [host] section of the configuration.
HttpServerOptions OptionsFromSettings();

class HttpServer {
 public:
  explicit HttpServer(HttpServerOptions options);
  ~HttpServer();
  // Binds and serves on the calling thread until Stop(). Returns false when it cannot bind.
  bool Run();
  // Binds to a free port (options.port 0 too) and serves on a thread of its own; returns the port
  // or -1 when it cannot bind.
  int Start();
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace heliq

#endif  // HELIQ_HOST_HTTP_SERVER_H_
