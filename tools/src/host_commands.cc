// heliq init, call and serve: the host's operations from the command line.
#include <iostream>
#include <memory>
#include <string>

#include "host/host.h"
#include "host/http_server.h"
#include "host/outbox_sender.h"
#include "tools/commands.h"

namespace heliq::tools {

CommandRunner AddInitCommand(CLI::App& app) {
  auto* command = app.add_subcommand(
      "init",
      "create the schema and load the reference data on every configured database (new ones)");
  auto demo = std::make_shared<bool>(false);
  command->add_flag("--demo", *demo,
                    "also load the demo data (users, dispatch rules, master data, an FAQ entry)");
  return [command, demo] {
    if (!*command) return -1;
    std::cout << InitializeDatabase(*demo) << std::endl;
    return 0;
  };
}

CommandRunner AddCallCommand(CLI::App& app) {
  auto* command = app.add_subcommand(
      "call", "run one operation in process through the operation table; prints the JSON answer");
  struct Args {
    std::string class_id, operation, arguments = "{}";
  };
  auto args = std::make_shared<Args>();
  command
      ->add_option("class", args->class_id, "class identifier, e.g. HlqServiceRequestMTS.Prospect")
      ->required();
  command->add_option("operation", args->operation, "operation name, e.g. CreateNewProspect")
      ->required();
  command->add_option("arguments", args->arguments, "named arguments as a JSON object");
  return [command, args] {
    if (!*command) return -1;
    HostResponse response = InvokeOperation(args->class_id, args->operation, args->arguments);
    // The call's mails (notifications) go out before the command ends, heliqd running or not;
    // what cannot be delivered now stays in the outbox for a sender's retry.
    OutboxSender(OutboxPollPeriod()).Pass();
    std::cout << response.body.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
              << std::endl;
    return response.status == 200 ? 0 : 1;
  };
}

CommandRunner AddServeCommand(CLI::App& app) {
  auto* command = app.add_subcommand("serve", "run the HTTP host (same as heliqd)");
  return [command] {
    if (!*command) return -1;
    const HttpServerOptions options = OptionsFromSettings();
    HttpServer server(options);
    OutboxSender sender(OutboxPollPeriod());
    sender.Start();
    std::cout << "heliq serve: listening on http://" << options.address << ":" << options.port
              << std::endl;
    return server.Run() ? 0 : 1;
  };
}

}  // namespace heliq::tools
