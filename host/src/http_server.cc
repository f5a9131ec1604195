#include "host/http_server.h"

#include <httplib.h>

#include <chrono>
#include <thread>

#include "host/host.h"
#include "platform/com_error.h"
#include "platform/configuration.h"
#include "platform/log.h"

namespace heliq {

HttpServerOptions OptionsFromSettings() {
  HttpServerOptions options;
  if (auto address = SettingValue("host", "address"); !address.empty()) options.address = address;
  if (auto port = SettingValue("host", "port"); !port.empty()) {
    try {
      options.port = std::stoi(port);
    } catch (const std::exception&) {
      throw ComError(err::kTypeMismatch, "Configuration", "[host] port is not a number: " + port);
    }
  }
  return options;
}

struct HttpServer::Impl {
  HttpServerOptions options;
  httplib::Server server;
  std::thread thread;
};

HttpServer::HttpServer(HttpServerOptions options) : impl_(std::make_unique<Impl>()) {
  impl_->options = std::move(options);
  auto& server = impl_->server;
  server.Post(R"(/api/v1/([^/]+)/([^/]+))", [](const httplib::Request& req,
                                               httplib::Response& res) {
    const auto started = std::chrono::steady_clock::now();
    const std::string class_id = req.matches[1];
    const std::string operation = req.matches[2];
    HostResponse response = InvokeOperation(class_id, operation, req.body);
    res.status = response.status;
    res.set_content(response.body.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace),
                    "application/json");
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::steady_clock::now() - started)
                            .count();
    LogInfo("call " + class_id + "." + operation + " status " + std::to_string(res.status) +
            " " + std::to_string(micros) + "us");
  });
  server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (!res.body.empty()) return;
    nlohmann::ordered_json body = {{"error",
                            {{"number", 1100},
                             {"source", "Host"},
                             {"description", "no such resource: POST /api/v1/<class>/<operation>"}}}};
    res.set_content(body.dump(), "application/json");
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
  impl_->server.stop();
  if (impl_->thread.joinable()) impl_->thread.join();
}

}  // namespace heliq
