// heliq request new|show: the front end's part of a request from the command line.
#include <iostream>
#include <memory>
#include <string>

#include "host/json_convert.h"
#include "host/request_store.h"
#include "tools/commands.h"

namespace heliq::tools {

CommandRunner AddRequestCommand(CLI::App& app) {
  auto* command = app.add_subcommand("request", "create or show a service request row");
  command->require_subcommand(1);
  auto* create = command->add_subcommand(
      "new", "insert an unregistered request (status 0) and print its Q_ID");
  auto fields = std::make_shared<std::string>("{}");
  create->add_option("fields", *fields,
                     "request fields as a JSON object, e.g. "
                     "'{\"Q_DESC\":\"Printer jams\",\"Q_ORIGINATOR\":\"cust1\",\"CENTER\":1}'");
  auto* show = command->add_subcommand(
      "show", "print a request (active or archived), its reminder and its transaction log");
  auto id = std::make_shared<int32_t>(0);
  show->add_option("id", *id, "request id (Q_ID)")->required();
  return [command, create, show, fields, id] {
    if (!*command) return -1;
    if (*create) {
      std::cout << CreateUnregisteredRequest(*ParseArguments(*fields)) << std::endl;
      return 0;
    }
    const Variant request = ReadRequest(*id);
    if (request.IsNull()) {
      std::cerr << "heliq: no request " << *id << std::endl;
      return 1;
    }
    std::cout << VariantToJson(request).dump(2, ' ', false,
                                             nlohmann::ordered_json::error_handler_t::replace)
              << std::endl;
    return show->parsed() ? 0 : 1;
  };
}

}  // namespace heliq::tools
