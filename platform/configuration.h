// Configuration: the portal configuration component over one TOML file.
//
// The file is parsed once per process by LoadSettings; which file, ConfigurationPath decides
// (--config, $HELIQ_CONFIG, ./config/heliq.toml, /etc/heliq/heliq.toml). The
// "Xentra.Configuration" component answers from the parsed settings. Secrets may come from the
// environment instead of the file: HELIQ_MEMBERSHIP_PASSWORD, HELIQ_SMTP_PASSWORD,
// HELIQ_API_TOKEN, and HELIQ_CONNECTION_<APPLICATION> (upper case) for a connection string.
// SecretValues() lists every secret in force so the log can blank them out.
//
// Thread safety: settings are immutable once loaded; LoadSettings and SetSettingsText replace them
// atomically.
#ifndef HELIQ_PLATFORM_CONFIGURATION_H_
#define HELIQ_PLATFORM_CONFIGURATION_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/component.h"

namespace heliq {

inline constexpr std::string_view kConfigurationClassId = "Xentra.Configuration";

class Configuration : public Component {
 public:
  // Selects the application whose settings later queries read (`flags` is passed through, 0).
  virtual void SelectApplication(std::string_view application, int32_t flags) = 0;
  // The connection string of an application ("Heliq", "RAvuruvo"); error 5 when none is set.
  virtual std::string GetConnectionString(std::string_view application) = 0;
  // The installation directory, absolute.
  virtual std::string GetInstallDir() = 0;
  // A value by section and key as text ("" section: top level); "" when absent.
  virtual std::string GetValue(std::string_view section, std::string_view key) = 0;
};

// The configuration file to read: `explicit_path` when not empty (a --config option), else
// $HELIQ_CONFIG when set, else the first of ./config/heliq.toml (a source checkout) and
// /etc/heliq/heliq.toml (an installed system) that exists. An explicit path or $HELIQ_CONFIG is
// returned even when the file does not exist (LoadSettings then says so). Error: ComError 53
// naming every place searched when neither fallback exists.
std::string ConfigurationPath(std::string_view explicit_path = "");
// Parses the configuration file. Relative paths in it (install_dir) are resolved against the
// current directory. Errors: ComError 53 (file not found) or 13 (not valid TOML), naming the file.
void LoadSettings(const std::string& path);
// Parses the settings from text (tests, embedded defaults).
void SetSettingsText(std::string_view toml_text);
// Loads ConfigurationPath() unless settings were already loaded or set.
void EnsureSettingsLoaded();
// The absolute path of the file the settings came from; "" when they were set from text.
std::string SettingsFile();
// Reads a setting directly (same rules as Configuration::GetValue, environment overrides included).
std::string SettingValue(std::string_view section, std::string_view key);
// Every non-empty secret in force (passwords, token, passwords inside connection strings).
std::vector<std::string> SecretValues();
// Registers the "Xentra.Configuration" component.
void RegisterConfigurationComponent();

}  // namespace heliq

#endif  // HELIQ_PLATFORM_CONFIGURATION_H_
