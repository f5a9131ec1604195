// heliq registry: shows the registry store the scheduling service reads.
#include <iostream>
#include <memory>
#include <string>

#include "platform/registry_store.h"
#include "tools/commands.h"

namespace heliq::tools {
namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// True when `key` is `filter` or lies below it ("\" separates key names; a trailing one in the
// filter is allowed).
bool KeyIsUnder(const std::string& key, std::string filter) {
  if (!filter.empty() && filter.back() == '\\') filter.pop_back();
  if (key.size() < filter.size()) return false;
  for (size_t i = 0; i < filter.size(); ++i) {
    if (Lower(key[i]) != Lower(filter[i])) return false;
  }
  return key.size() == filter.size() || key[filter.size()] == '\\';
}

// One value a line: line breaks and tabs in a value are shown escaped.
std::string Printable(const std::string& value) {
  std::string out;
  for (char c : value) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

CommandRunner AddRegistryCommand(CLI::App& app) {
  auto* command = app.add_subcommand(
      "registry", "look at the registry store (the scheduled services' settings)");
  command->require_subcommand(1);
  auto key = std::make_shared<std::string>();
  auto* show = command->add_subcommand("show", "list the values of the registry store");
  show->add_option("key", *key,
                   "show only the values under this key path (compared without regard to case)");

  return [=] {
    if (!*command) return -1;
    if (*show) {
      const RegistryStore store = RegistryStore::FromSettings();
      std::cout << "# " << store.file().string() << '\n';
      size_t shown = 0;
      for (const RegistryValue& value : store.List()) {
        if (!key->empty() && !KeyIsUnder(value.key, *key)) continue;
        std::cout << value.key << '\\' << value.name << '\t' << Printable(value.value) << '\n';
        ++shown;
      }
      std::cout << shown << (shown == 1 ? " value" : " values") << std::endl;
    }
    return 0;
  };
}

}  // namespace heliq::tools
