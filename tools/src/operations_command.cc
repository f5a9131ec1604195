// heliq operations [CLASS]: the operation table as the host serves it, read without a host.
#include <iostream>
#include <memory>
#include <string>

#include "common/heliq_utilities.h"
#include "platform/operation_table.h"
#include "tools/commands.h"

namespace heliq::tools {
namespace {

std::string Flags(const ParamSpec& param) {
  std::string flags;
  if (param.by_ref) flags += ", by reference";
  if (param.optional) flags += ", optional";
  return flags;
}

std::string KeyUse(const DetailKey& key) {
  if (key.read && key.written) return "reads, writes";
  return key.written ? "writes" : "reads";
}

void Print(const OperationSpec& spec) {
  std::cout << spec.class_id << "." << spec.name;
  if (spec.read_only) std::cout << " (reads only)";
  std::cout << "\n";
  if (!spec.summary.empty()) std::cout << "  " << spec.summary << "\n";
  for (const ParamSpec& param : spec.params) {
    std::cout << "  " << param.name << ": " << ParamKindName(param.kind) << Flags(param) << "\n";
    for (const DetailKey& key : param.keys) {
      std::cout << "    " << key.name << ": " << ParamKindName(key.kind) << " (" << KeyUse(key)
                << ")\n";
    }
  }
  if (spec.result != ParamKind::kVariant) {
    std::cout << "  result: " << ParamKindName(spec.result) << "\n";
  }
}

}  // namespace

CommandRunner AddOperationsCommand(CLI::App& app) {
  auto* command = app.add_subcommand(
      "operations",
      "list the public operations, their arguments and the details-dictionary keys they read "
      "and write (no running host needed)");
  auto class_id = std::make_shared<std::string>();
  command->add_option("class", *class_id,
                      "only this class, e.g. HlqServiceRequestMTS.Question (without regard to "
                      "case)");
  return [command, class_id]() -> int {
    if (!command->parsed()) return -1;
    bool found = false;
    for (const OperationSpec* spec : ListOperations()) {
      if (!class_id->empty() && !EqualsIgnoreCase(spec->class_id, *class_id)) continue;
      if (found) std::cout << "\n";
      Print(*spec);
      found = true;
    }
    if (!found) {
      std::cerr << "heliq operations: no class " << *class_id
                << " (heliq operations without an argument lists them all)\n";
      return 1;
    }
    return 0;
  };
}

}  // namespace heliq::tools
