// kill -9 of the host program in the middle of a load, again and again: after every restart the
// database passes its own integrity check and the recount of requests, reminders, archive and
// counters, and every unanswered call either committed as a whole or left no trace.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "platform/configuration.h"
#include "tests/host/reliability/request_load.h"
#include "tests/support/database_fixture.h"

namespace heliq {
namespace {

using testing::Backend;
using testing::DatabaseTest;

constexpr int kRequests = 150;
constexpr int kClients = 6;
constexpr int kKills = 4;
constexpr std::string_view kIntegrityCheck = "PRAGMA integrity_check";

// A port that was free a moment ago (the host binds it right after).
int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  int port = -1;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  close(fd);
  return port;
}

// heliqd in a process of its own, killed with SIGKILL (if still running) when destroyed.
class HostProcess {
 public:
  HostProcess(const std::filesystem::path& config, const std::filesystem::path& output) {
    pid_ = fork();
    if (pid_ == 0) {
      const int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      if (fd >= 0) {
        dup2(fd, STDOUT_FILENO);
        dup2(fd, STDERR_FILENO);
      }
      execl(HELIQ_HELIQD_PATH, "heliqd", "--config", config.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;
  ~HostProcess() { Kill(); }

  // True once the host answers on `port`; false when it exited or did not answer within 60 s.
  bool WaitUntilServing(int port) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
      if (pid_ <= 0 || waitpid(pid_, nullptr, WNOHANG) == pid_) return false;
      httplib::Client client("127.0.0.1", port);
      client.set_connection_timeout(1);
      if (client.Get("/")) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }
  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

class CrashTest : public DatabaseTest {
 protected:
  // The settings of this test's databases, for the host process, serving on `port`.
  std::filesystem::path WriteConfig(int port) {
    const auto path = install_dir() / "heliqd.toml";
    std::ofstream out(path);
    out << "install_dir = '" << install_dir().string() << "'\ndefault_language = 1033\n"
        << "[connections]\n";
    for (const char* application : {"Heliq", "RAvuruvo", "BackOffice", "Directory"}) {
      out << application << " = '" << SettingValue("connections", application) << "'\n";
    }
    out << "[log]\nfile = 'heliqd.log'\n[host]\naddress = '127.0.0.1'\nport = " << port << "\n";
    return path;
  }
  std::string HostOutput() const {
    std::ifstream in(install_dir() / "heliqd.out");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  void CheckDatabase(const std::string& when) {
    SCOPED_TRACE(when);
    if (backend() == Backend::kSqlite) {
      EXPECT_EQ(Value(kIntegrityCheck).ToTextOrEmpty(), "ok");
    }
    const auto violations = testing::CheckInvariants(db());
    for (size_t i = 0; i < violations.size() && i < 20; ++i) ADD_FAILURE() << violations[i];
  }
};

TEST_P(CrashTest, KilledMidLoadTheHostLeavesNoHalfDoneUnitOfWork) {
  testing::SeedLoad(db(), kRequests);
  testing::RequestLoad load(kRequests, 1234);
  std::mt19937 random(99);
  int unanswered = 0;
  for (int cycle = 0; cycle <= kKills; ++cycle) {
    const bool last = cycle == kKills;
    const int port = FreePort();
    ASSERT_GT(port, 0);
    HostProcess host(WriteConfig(port), install_dir() / "heliqd.out");
    ASSERT_TRUE(host.WaitUntilServing(port)) << HostOutput();
    std::thread killer;
    if (!last) {
      const auto delay =
          std::chrono::milliseconds(std::uniform_int_distribution<int>(150, 700)(random));
      killer = std::thread([&host, delay] {
        std::this_thread::sleep_for(delay);
        host.Kill();
      });
    }
    // The last cycle runs undisturbed: the database must still serve after all the kills.
    const testing::LoadStats stats = load.Run(port, kClients, last ? 40 : 100000);
    if (killer.joinable()) killer.join();
    host.Kill();
    unanswered += stats.unanswered;
    if (last) {
      EXPECT_EQ(stats.unanswered, 0);
      EXPECT_GT(stats.confirmed, 0) << HostOutput();
    }
    std::vector<std::string> unsettled;
    load.Settle(db(), &unsettled);
    for (const auto& line : unsettled) ADD_FAILURE() << line;
    CheckDatabase("after cycle " + std::to_string(cycle));
    if (HasFailure()) break;
  }
  EXPECT_GT(unanswered, 0) << "no kill hit a call in flight; the test proved little";
  const auto confirmed = load.CheckConfirmed(db());
  for (const auto& line : confirmed) ADD_FAILURE() << line;
}

INSTANTIATE_DATABASE_TEST_SUITE(CrashTest);

}  // namespace
}  // namespace heliq
