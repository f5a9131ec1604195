// Test support: a throwaway PostgreSQL cluster of the test's own (scripts/pg-test-cluster.sh) on a
// free loopback port, removed when the object goes, however the test ends; optionally a
// synchronous streaming standby of another such cluster, for fail-over tests.
//
// Tests that use it skip themselves unless HELIQ_TEST_PG is set (the test script's sign that
// PostgreSQL tests are wanted and its binaries are there); see PostgresTestsWanted.
#ifndef HELIQ_TESTS_SUPPORT_PG_CLUSTER_H_
#define HELIQ_TESTS_SUPPORT_PG_CLUSTER_H_

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/raw_http.h"

namespace heliq::testing {

inline bool PostgresTestsWanted() {
  const char* pg = std::getenv("HELIQ_TEST_PG");
  return pg != nullptr && *pg != '\0';
}

class PgCluster {
 public:
  // A fresh cluster named `name` (unique within the test process). Check started().
  explicit PgCluster(const std::string& name) : PgCluster(name, nullptr) {}
  // A synchronous standby of `primary`, which then waits for it on every commit.
  PgCluster(const std::string& name, const PgCluster& primary) : PgCluster(name, &primary) {}
  PgCluster(const PgCluster&) = delete;
  PgCluster& operator=(const PgCluster&) = delete;
  ~PgCluster() { Script("stop"); }

  bool started() const { return started_; }
  int port() const { return port_; }
  // libpq keywords of the superuser on this cluster's database `postgres`.
  std::string Keywords() const {
    return "host=127.0.0.1 port=" + std::to_string(port_) + " user=postgres dbname=postgres";
  }

  // SIGKILL of the server and all its processes (a machine that died).
  bool Kill() { return Script("kill") == 0; }
  // A standby starts accepting writes.
  bool Promote() { return Script("promote") == 0; }
  // A fast shutdown keeping the data, and a start again.
  bool Halt() { return Script("halt") == 0; }
  bool Resume() { return Script("resume") == 0; }

 private:
  PgCluster(const std::string& name, const PgCluster* primary)
      : dir_(std::filesystem::temp_directory_path() /
             ("heliq-pg-" + std::to_string(getpid()) + "-" + name)) {
    Script("stop");  // a leftover of an earlier run with this pid
    port_ = FreePort();
    const std::string port = " " + std::to_string(port_);
    started_ = primary == nullptr
                   ? Script("start", port) == 0
                   : Script("standby", port + " '" + primary->dir_.string() + "'") == 0;
  }

  int Script(const std::string& command, const std::string& extra = "") const {
    static const std::filesystem::path script =
        std::filesystem::path(HELIQ_SOURCE_DIR) / "scripts" / "pg-test-cluster.sh";
    const std::string line = "bash '" + script.string() + "' " + command + " '" + dir_.string() +
                             "'" + extra + " >/dev/null";
    return std::system(line.c_str());
  }

  std::filesystem::path dir_;
  int port_ = -1;
  bool started_ = false;
};

}  // namespace heliq::testing

#endif  // HELIQ_TESTS_SUPPORT_PG_CLUSTER_H_
