// Test support for the host tests that run heliqd processes on PostgreSQL clusters of their own
// (tests/support/pg_cluster.h): an install directory, settings pointing all four databases at one
// connection string, the schema loaded there, and a configuration file per host process.
//
// Use ClusterInstallationTest as a fixture: start the clusters, then Install(connection), then
// WriteHostConfig for each heliqd. The install directory goes in TearDown.
#ifndef HELIQ_TESTS_HOST_RELIABILITY_CLUSTER_INSTALLATION_H_
#define HELIQ_TESTS_HOST_RELIABILITY_CLUSTER_INSTALLATION_H_

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "host/host.h"
#include "platform/configuration.h"
#include "platform/database.h"

namespace heliq::testing {

inline constexpr const char* kInstallationApplications[] = {"Heliq", "RAvuruvo", "BackOffice",
                                                            "Directory"};

class ClusterInstallationTest : public ::testing::Test {
 protected:
  void TearDown() override {
    SessionPool::ResetAll();
    std::error_code ignored;
    if (!install_dir_.empty()) std::filesystem::remove_all(install_dir_, ignored);
  }

  // Settings of this process for `connection` (a heliq connection string) and the schema with its
  // reference data in that database; the demo data too when `demo`.
  void Install(const std::string& connection, bool demo = false) {
    connection_ = connection;
    install_dir_ = std::filesystem::temp_directory_path() /
                   ("heliq-cluster-" + std::to_string(getpid()) + "-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(install_dir_);
    std::filesystem::create_directories(install_dir_);
    SetSettingsText(Settings("") + "[log]\nfile = \"\"\n");
    InitializeSystem();
    SessionPool::ResetAll();
    InitializeDatabases(std::filesystem::path(HELIQ_SOURCE_DIR) / "db", true, demo);
  }

  // A configuration file for a heliqd on 127.0.0.1:`port` logging to `name`.log; `extra` is
  // appended (more sections).
  std::filesystem::path WriteHostConfig(const std::string& name, int port,
                                        const std::string& extra = "") const {
    const auto path = install_dir_ / (name + ".toml");
    std::ofstream out(path);
    out << Settings(extra) << "[log]\nfile = '" << name << ".log'\n[host]\naddress = '127.0.0.1'\n"
        << "port = " << port << "\n";
    return path;
  }

  // What a heliqd wrote to `name`.out and `name`.log, for a failing test's message.
  std::string HostOutput(const std::string& name) const {
    std::ostringstream text;
    for (const char* ending : {".out", ".log"}) {
      std::ifstream in(install_dir_ / (name + ending));
      text << in.rdbuf();
    }
    return text.str();
  }

  const std::filesystem::path& install_dir() const { return install_dir_; }

 private:
  std::string Settings(const std::string& extra) const {
    std::string text =
        "install_dir = '" + install_dir_.string() + "'\ndefault_language = 1033\n[connections]\n";
    for (const char* application : kInstallationApplications) {
      text += std::string(application) + " = '" + connection_ + "'\n";
    }
    return text + extra;
  }

  std::filesystem::path install_dir_;
  std::string connection_;
};

}  // namespace heliq::testing

#endif  // HELIQ_TESTS_HOST_RELIABILITY_CLUSTER_INSTALLATION_H_
