// Subcommands of the heliq command line. Each Add*Command registers its subcommand on `app` and
// returns the function that runs it once the command line is parsed (exit status as result).
// The settings are loaded and the system initialised before a command runs.
#ifndef HELIQ_TOOLS_COMMANDS_H_
#define HELIQ_TOOLS_COMMANDS_H_

#include <functional>

#include <CLI/CLI.hpp>

namespace heliq::tools {

using CommandRunner = std::function<int()>;

// heliq init [--demo]
CommandRunner AddInitCommand(CLI::App& app);
// heliq call <class id> <operation> [JSON]
CommandRunner AddCallCommand(CLI::App& app);
// heliq serve
CommandRunner AddServeCommand(CLI::App& app);
// heliq backoffice list | show <call> | set <call> [...] | refuse-next <message> | requests
CommandRunner AddBackOfficeCommand(CLI::App& app);
// heliq request new|show
CommandRunner AddRequestCommand(CLI::App& app);
// heliq directory users|add-user|add-role|remove-role|partners|add-partner
CommandRunner AddDirectoryCommand(CLI::App& app);
// heliq registry show [key]
CommandRunner AddRegistryCommand(CLI::App& app);
// heliq escalate
CommandRunner AddEscalateCommand(CLI::App& app);
// heliq scheduler [--poll seconds]
CommandRunner AddSchedulerCommand(CLI::App& app);
// heliq operations [class id]
CommandRunner AddOperationsCommand(CLI::App& app);

}  // namespace heliq::tools

#endif  // HELIQ_TOOLS_COMMANDS_H_
