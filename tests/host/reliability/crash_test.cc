// kill -9 of the host program in the middle of a load, again and again: after every restart the
// database passes its own integrity check and the recount of requests, reminders, archive and
// counters, and every unanswered call either committed as a whole or left no trace.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "platform/configuration.h"
#include "tests/host/reliability/request_load.h"
#include "tests/support/database_fixture.h"
#include "tests/support/raw_http.h"

namespace heliq {
namespace {

using testing::Backend;
using testing::DatabaseTest;

constexpr int kRequests = 150;
constexpr int kClients = 6;
constexpr int kKills = 4;
constexpr std::string_view kIntegrityCheck = "PRAGMA integrity_check";

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
    const int port = testing::FreePort();
    ASSERT_GT(port, 0);
    testing::HeliqdProcess host(WriteConfig(port), install_dir() / "heliqd.out", HELIQ_HELIQD_PATH);
    ASSERT_TRUE(host.WaitUntilListening(port)) << HostOutput();
    std::thread killer;
    if (!last) {
      const auto delay =
          std::chrono::milliseconds(std::uniform_int_distribution<int>(150, 700)(random));
      killer = std::thread([&host, delay] {
        std::this_thread::sleep_for(delay);
        host.Signal(SIGKILL);
      });
    }
    // The last cycle runs undisturbed: the database must still serve after all the kills.
    const testing::LoadStats stats = load.Run(port, kClients, last ? 40 : 100000);
    if (killer.joinable()) killer.join();
    host.Signal(SIGKILL);
    host.WaitForExit(testing::Millis(30000));
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
