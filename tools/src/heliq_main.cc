// heliq: the command line of the system. `heliq --help` lists the subcommands.
#include <iostream>
#include <vector>

#include "host/host.h"
#include "platform/com_error.h"
#include "platform/configuration.h"
#include "platform/log.h"
#include "tools/commands.h"

int main(int argc, char** argv) {
  CLI::App app{"heliq: command line of the Heliq service desk back end"};
  app.require_subcommand(1);
  std::string config;
  app.add_option("--config", config,
                 "configuration file (default: $HELIQ_CONFIG or config/heliq.toml)");
  const std::vector<heliq::tools::CommandRunner> commands = {
      heliq::tools::AddInitCommand(app),      heliq::tools::AddCallCommand(app),
      heliq::tools::AddServeCommand(app),     heliq::tools::AddBackOfficeCommand(app),
      heliq::tools::AddRequestCommand(app),   heliq::tools::AddDirectoryCommand(app),
      heliq::tools::AddRegistryCommand(app),  heliq::tools::AddEscalateCommand(app),
      heliq::tools::AddSchedulerCommand(app),
  };
  CLI11_PARSE(app, argc, argv);
  try {
    if (!config.empty()) heliq::LoadSettings(config);
    heliq::EnsureSettingsLoaded();
    heliq::InitializeSystem();
    for (const auto& run : commands) {
      if (int status = run(); status >= 0) return status;
    }
  } catch (const heliq::ComError& e) {
    std::cerr << "heliq: " << heliq::RedactSecrets(e.description()) << std::endl;
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "heliq: " << e.what() << std::endl;
    return 1;
  }
  return 0;
}
