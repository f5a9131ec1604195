// heliq: the command line of the system.
//   heliq init [--demo]                     create the schema (and demo data)
//   heliq call <class id> <operation> JSON  run one operation in process, as heliqd would
//   heliq serve                             run the HTTP host (same as heliqd)
#include <iostream>

#include <CLI/CLI.hpp>

#include "host/host.h"
#include "host/http_server.h"
#include "platform/com_error.h"
#include "platform/configuration.h"
#include "platform/log.h"

namespace {

int Serve() {
  heliq::HttpServerOptions options;
  if (auto address = heliq::SettingValue("host", "address"); !address.empty()) {
    options.address = address;
  }
  if (auto port = heliq::SettingValue("host", "port"); !port.empty()) {
    options.port = std::stoi(port);
  }
  heliq::HttpServer server(options);
  std::cout << "heliq serve: listening on http://" << options.address << ":" << options.port
            << std::endl;
  return server.Run() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"heliq: command line of the Heliq service desk back end"};
  app.require_subcommand(1);
  std::string config;
  app.add_option("--config", config,
                 "configuration file (default: $HELIQ_CONFIG or config/heliq.toml)");

  auto* init = app.add_subcommand("init", "create the schema on the configured database");
  bool demo = false;
  init->add_flag("--demo", demo, "also load the demo data");

  auto* call = app.add_subcommand(
      "call", "run one operation in process through the operation table; prints the JSON result");
  std::string class_id, operation, arguments = "{}";
  call->add_option("class", class_id, "class identifier, e.g. HlqServiceRequestMTS.Prospect")
      ->required();
  call->add_option("operation", operation, "operation name, e.g. CreateNewProspect")->required();
  call->add_option("arguments", arguments, "named arguments as a JSON object");

  auto* serve = app.add_subcommand("serve", "run the HTTP host (same as heliqd)");

  CLI11_PARSE(app, argc, argv);
  try {
    if (!config.empty()) heliq::LoadSettings(config);
    heliq::EnsureSettingsLoaded();
    heliq::InitializeSystem();
    if (*init) {
      std::cout << heliq::InitializeDatabase(demo) << std::endl;
      return 0;
    }
    if (*call) {
      heliq::HostResponse response = heliq::InvokeOperation(class_id, operation, arguments);
      std::cout << response.body.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
                << std::endl;
      return response.status == 200 ? 0 : 1;
    }
    if (*serve) return Serve();
  } catch (const heliq::ComError& e) {
    std::cerr << "heliq: " << heliq::RedactSecrets(e.description()) << std::endl;
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "heliq: " << e.what() << std::endl;
    return 1;
  }
  return 0;
}
