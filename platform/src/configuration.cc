#include "platform/configuration.h"

#include <toml++/toml.h>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>

#include "platform/com_error.h"

namespace heliq {
namespace {

struct Settings {
  toml::table table;
  std::string install_dir;
  std::string file;
};

constexpr std::string_view kCheckoutConfiguration = "config/heliq.toml";
constexpr std::string_view kSystemConfiguration = "/etc/heliq/heliq.toml";

std::mutex settings_mutex;
std::shared_ptr<const Settings> current_settings;

std::shared_ptr<const Settings> Current() {
  EnsureSettingsLoaded();
  std::lock_guard lock(settings_mutex);
  return current_settings;
}

void Install(toml::table table, std::string file) {
  auto settings = std::make_shared<Settings>();
  settings->file = std::move(file);
  std::string dir = table["install_dir"].value_or(std::string("."));
  settings->install_dir = std::filesystem::absolute(dir).lexically_normal().string();
  while (settings->install_dir.size() > 1 && settings->install_dir.back() == '/') {
    settings->install_dir.pop_back();
  }
  settings->table = std::move(table);
  std::lock_guard lock(settings_mutex);
  current_settings = std::move(settings);
}

std::string EnvOr(const char* name, std::string fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::string(value) : std::move(fallback);
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// Environment variables that override (section, key).
const char* OverrideVariable(std::string_view section, std::string_view key) {
  if (section == "membership" && key == "password") return "HELIQ_MEMBERSHIP_PASSWORD";
  if (section == "mail" && key == "smtp_password") return "HELIQ_SMTP_PASSWORD";
  if (section == "host" && key == "token") return "HELIQ_API_TOKEN";
  return nullptr;
}

std::string TextOf(const toml::node* node) {
  if (node == nullptr) return "";
  if (auto s = node->value<std::string>()) return *s;
  if (auto i = node->value<int64_t>()) return std::to_string(*i);
  if (auto b = node->value<bool>()) return *b ? "1" : "0";
  if (auto d = node->value<double>()) return std::to_string(*d);
  return "";
}

// The password inside a connection string ("password=..." keyword or "user:pass@" in a URI).
std::string PasswordIn(const std::string& cs) {
  const auto at = cs.find('@');
  const auto scheme = cs.find("://");
  if (scheme != std::string::npos && at != std::string::npos) {
    const auto colon = cs.find(':', scheme + 3);
    if (colon != std::string::npos && colon < at) return cs.substr(colon + 1, at - colon - 1);
  }
  const auto key = cs.find("password=");
  if (key == std::string::npos) return "";
  const auto start = key + 9;
  const auto end = cs.find(' ', start);
  return cs.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

class TomlConfiguration final : public Configuration {
 public:
  void SelectApplication(std::string_view application, int32_t) override {
    application_ = std::string(application);
  }

  std::string GetConnectionString(std::string_view application) override {
    std::string value = SettingValue("connections", application);
    if (value.empty()) {
      throw ComError(
          err::kInvalidProcedureCall, "Xentra.Configuration",
          "no connection string is configured for application " + std::string(application));
    }
    return value;
  }

  std::string GetInstallDir() override { return Current()->install_dir; }

  std::string GetValue(std::string_view section, std::string_view key) override {
    return SettingValue(section, key);
  }

 private:
  std::string application_;
};

}  // namespace

std::string ConfigurationPath(std::string_view explicit_path) {
  if (!explicit_path.empty()) return std::string(explicit_path);
  if (std::string from_env = EnvOr("HELIQ_CONFIG", ""); !from_env.empty()) return from_env;
  for (std::string_view candidate : {kCheckoutConfiguration, kSystemConfiguration}) {
    if (std::filesystem::exists(candidate)) return std::string(candidate);
  }
  throw ComError(err::kFileNotFound, "Xentra.Configuration",
                 "no configuration file: give --config FILE or set HELIQ_CONFIG, or create " +
                     std::string(kCheckoutConfiguration) + " (in " +
                     std::filesystem::current_path().string() + ") or " +
                     std::string(kSystemConfiguration));
}

void LoadSettings(const std::string& path) {
  if (!std::filesystem::exists(path)) {
    throw ComError(err::kFileNotFound, "Xentra.Configuration",
                   "configuration file not found: " + path);
  }
  try {
    Install(toml::parse_file(path), std::filesystem::absolute(path).lexically_normal().string());
  } catch (const toml::parse_error& e) {
    throw ComError(
        err::kTypeMismatch, "Xentra.Configuration",
        "configuration file " + path + " is not valid TOML: " + std::string(e.description()));
  }
}

void SetSettingsText(std::string_view toml_text) {
  try {
    Install(toml::parse(toml_text), "");
  } catch (const toml::parse_error& e) {
    throw ComError(err::kTypeMismatch, "Xentra.Configuration",
                   "configuration is not valid TOML: " + std::string(e.description()));
  }
}

void EnsureSettingsLoaded() {
  {
    std::lock_guard lock(settings_mutex);
    if (current_settings) return;
  }
  LoadSettings(ConfigurationPath());
}

std::string SettingsFile() { return Current()->file; }

std::string SettingValue(std::string_view section, std::string_view key) {
  if (const char* variable = OverrideVariable(section, key)) {
    if (const char* value = std::getenv(variable); value != nullptr && *value != '\0') {
      return value;
    }
  }
  if (section == "connections") {
    const std::string variable = "HELIQ_CONNECTION_" + Upper(key);
    if (const char* value = std::getenv(variable.c_str()); value != nullptr && *value != '\0') {
      return value;
    }
  }
  auto settings = Current();
  if (section.empty()) return TextOf(settings->table.get(key));
  const toml::table* table = settings->table[section].as_table();
  if (table == nullptr) return "";
  // Section keys are looked up exactly, then without regard to case (application names).
  if (const toml::node* node = table->get(key)) return TextOf(node);
  for (const auto& [name, node] : *table) {
    if (Upper(name.str()) == Upper(key)) return TextOf(&node);
  }
  return "";
}

std::vector<std::string> SecretValues() {
  std::vector<std::string> secrets;
  for (auto [section, key] : {std::pair{"membership", "password"},
                              std::pair{"mail", "smtp_password"}, std::pair{"host", "token"}}) {
    if (auto value = SettingValue(section, key); !value.empty()) secrets.push_back(value);
  }
  auto settings = Current();
  if (const toml::table* connections = settings->table["connections"].as_table()) {
    for (const auto& [name, node] : *connections) {
      if (auto pw = PasswordIn(SettingValue("connections", name.str())); !pw.empty()) {
        secrets.push_back(pw);
      }
    }
  }
  return secrets;
}

void RegisterConfigurationComponent() {
  ComponentRegistry::Global().Register(kConfigurationClassId,
                                       [] { return std::make_unique<TomlConfiguration>(); });
}

}  // namespace heliq
