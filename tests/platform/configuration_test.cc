// Which configuration file the programs read, and what a bad one does to the settings in force.
#include "platform/configuration.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/com_error.h"

namespace heliq {
namespace {

namespace fs = std::filesystem;

// A temporary folder as the current directory, HELIQ_CONFIG unset; both restored afterwards.
class ConfigurationPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_cwd_ = fs::current_path();
    if (const char* value = std::getenv("HELIQ_CONFIG")) previous_env_ = value;
    unsetenv("HELIQ_CONFIG");
    dir_ = fs::temp_directory_path() / ("heliq-config-test-" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(previous_cwd_);
    if (previous_env_) {
      setenv("HELIQ_CONFIG", previous_env_->c_str(), 1);
    } else {
      unsetenv("HELIQ_CONFIG");
    }
    fs::remove_all(dir_);
  }

  static void Write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
  }

  fs::path dir_;

 private:
  fs::path previous_cwd_;
  std::optional<std::string> previous_env_;
};

TEST_F(ConfigurationPathTest, OptionThenEnvironmentThenCheckoutFile) {
  Write(dir_ / "config" / "heliq.toml", "install_dir = 'checkout'\n");
  EXPECT_EQ(ConfigurationPath(), "config/heliq.toml");

  setenv("HELIQ_CONFIG", "/from/environment.toml", 1);
  EXPECT_EQ(ConfigurationPath(), "/from/environment.toml");
  EXPECT_EQ(ConfigurationPath("given.toml"), "given.toml");

  unsetenv("HELIQ_CONFIG");
  LoadSettings(ConfigurationPath());
  EXPECT_EQ(SettingsFile(), (dir_ / "config" / "heliq.toml").string());
  EXPECT_EQ(SettingValue("", "install_dir"), "checkout");
}

TEST_F(ConfigurationPathTest, NoFileAnywhereNamesThePlacesSearched) {
  if (fs::exists("/etc/heliq/heliq.toml")) GTEST_SKIP() << "this machine has /etc/heliq/heliq.toml";
  try {
    ConfigurationPath();
    FAIL() << "no error";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kFileNotFound);
    EXPECT_NE(e.description().find("--config"), std::string::npos) << e.description();
    EXPECT_NE(e.description().find("config/heliq.toml (in " + dir_.string() + ")"),
              std::string::npos)
        << e.description();
    EXPECT_NE(e.description().find("/etc/heliq/heliq.toml"), std::string::npos);
  }
}

// A given file that is missing or broken is refused and the settings in force stay.
TEST_F(ConfigurationPathTest, BadFileKeepsTheSettingsInForce) {
  Write(dir_ / "good.toml", "install_dir = 'kept'\n");
  Write(dir_ / "broken.toml", "install_dir = \n");
  LoadSettings("good.toml");
  setenv("HELIQ_CONFIG", "missing.toml", 1);
  try {
    LoadSettings(ConfigurationPath());
    FAIL() << "no error";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kFileNotFound);
    EXPECT_NE(e.description().find("missing.toml"), std::string::npos);
  }
  try {
    LoadSettings(ConfigurationPath("broken.toml"));
    FAIL() << "no error";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kTypeMismatch);
    EXPECT_NE(e.description().find("broken.toml"), std::string::npos);
  }
  EXPECT_EQ(SettingsFile(), (dir_ / "good.toml").string());
  EXPECT_EQ(SettingValue("", "install_dir"), "kept");

  SetSettingsText("install_dir = '/text'\n");
  EXPECT_EQ(SettingsFile(), "");
}

}  // namespace
}  // namespace heliq
