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
  // Options a subcommand does not know go up to here, so the global options work after the
  // subcommand too (heliq init --config FILE). Inherited by the subcommands added below.
  app.fallthrough();
  app.set_version_flag("--version", std::string("heliq ") + HELIQ_VERSION);
  std::string config;
  app.add_option("--config", config,
                 "configuration file (default: $HELIQ_CONFIG, else config/heliq.toml in the "
                 "current directory, else /etc/heliq/heliq.toml)");
  const std::vector<heliq::tools::CommandRunner> commands = {
      heliq::tools::AddInitCommand(app),      heliq::tools::AddCallCommand(app),
      heliq::tools::AddServeCommand(app),     heliq::tools::AddBackOfficeCommand(app),
      heliq::tools::AddRequestCommand(app),   heliq::tools::AddDirectoryCommand(app),
      heliq::tools::AddRegistryCommand(app),  heliq::tools::AddEscalateCommand(app),
      heliq::tools::AddSchedulerCommand(app), heliq::tools::AddOperationsCommand(app),
  };
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Without a subcommand a leftover word is a misspelt one: say so rather than "a subcommand is
    // required".
    if (app.get_subcommands().empty() && !app.remaining().empty() &&
        !app.remaining().front().starts_with("-")) {
      std::cerr << "heliq: unknown subcommand '" << app.remaining().front()
                << "' (heliq --help lists the subcommands)" << std::endl;
      return 2;
    }
    return app.exit(e);
  }
  try {
    heliq::LoadSettings(heliq::ConfigurationPath(config));
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
