// heliqd: the component host. Serves the operation table over HTTP on the configured address.
#include <csignal>
#include <iostream>

#include <CLI/CLI.hpp>

#include "host/host.h"
#include "host/http_server.h"
#include "platform/com_error.h"
#include "platform/configuration.h"
#include "platform/log.h"

namespace {

heliq::HttpServer* running_server = nullptr;

void StopOnSignal(int) {
  if (running_server != nullptr) running_server->Stop();
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"heliqd: the Heliq component host. Serves POST /api/v1/<class id>/<operation> "
               "with JSON arguments; each call is one unit of work."};
  std::string config;
  app.add_option("--config", config, "configuration file (default: $HELIQ_CONFIG or "
                                      "config/heliq.toml)");
  CLI11_PARSE(app, argc, argv);
  try {
    if (!config.empty()) heliq::LoadSettings(config);
    heliq::EnsureSettingsLoaded();
    heliq::InitializeSystem();
    const heliq::HttpServerOptions options = heliq::OptionsFromSettings();
    heliq::HttpServer server(options);
    running_server = &server;
    std::signal(SIGTERM, StopOnSignal);
    std::signal(SIGINT, StopOnSignal);
    std::cout << "heliqd listening on http://" << options.address << ":" << options.port
              << std::endl;
    heliq::LogInfo("heliqd listening on " + options.address + ":" + std::to_string(options.port));
    if (!server.Run()) {
      std::cerr << "heliqd: cannot listen on " << options.address << ":" << options.port
                << std::endl;
      return 1;
    }
    running_server = nullptr;
    return 0;
  } catch (const heliq::ComError& e) {
    std::cerr << "heliqd: " << heliq::RedactSecrets(e.description()) << std::endl;
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "heliqd: " << e.what() << std::endl;
    return 1;
  }
}
