// A database fail-over under a running heliqd: a primary with a synchronous standby (clusters of
// the test's own), random work steps from many clients through heliqd, the primary killed with
// SIGKILL mid-load and the standby promoted. The host is never restarted: calls in progress fail
// cleanly (503, rolled back), calls succeed again soon after the promotion, and every call the host
// confirmed is on the new primary, whole.
#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "tests/host/reliability/cluster_installation.h"
#include "tests/host/reliability/request_load.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/raw_http.h"

namespace heliq {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using std::chrono::steady_clock;

constexpr int kRequests = 600;
constexpr int kClients = 8;
constexpr auto kLoadBeforeKill = milliseconds(2500);
constexpr auto kOutage = milliseconds(1500);  // between the kill and the promotion
constexpr auto kLoadAfterRecovery = seconds(3);
constexpr auto kRecoveryBound = seconds(10);
constexpr std::string_view kInRecovery = "select pg_is_in_recovery()";

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (size_t i = 0; i < lines.size() && i < 20; ++i) text += lines[i] + "\n";
  return text;
}

class FailoverTest : public testing::ClusterInstallationTest {};

// True once a call that writes is answered 200, trying until `bound` has passed.
bool WritesWithin(int port, steady_clock::duration bound) {
  httplib::Client client("127.0.0.1", port);
  client.set_connection_timeout(2);
  client.set_read_timeout(30);
  const auto deadline = steady_clock::now() + bound;
  for (int i = 0; steady_clock::now() < deadline; ++i) {
    const std::string body = R"({"i_sEmailID":"probe)" + std::to_string(i) +
                             R"(@example.com","i_sContactInfo":"x","i_sPendingQuestions":""})";
    auto response = client.Post("/api/v1/HlqServiceRequestMTS.Prospect/CreateNewProspect", body,
                                "application/json");
    if (response && response->status == 200) return true;
    std::this_thread::sleep_for(milliseconds(100));
  }
  return false;
}

TEST_F(FailoverTest, AKilledPrimaryIsReplacedByItsStandbyWithoutRestartingTheHost) {
  if (!testing::PostgresTestsWanted()) GTEST_SKIP() << "HELIQ_TEST_PG is not set";
  testing::PgCluster primary("failover-primary");
  ASSERT_TRUE(primary.started());
  testing::PgCluster standby("failover-standby", primary);
  ASSERT_TRUE(standby.started());
  // The form an installation with a standby uses: both servers, the primary first.
  const std::string connection =
      "postgresql:host=127.0.0.1,127.0.0.1 port=" + std::to_string(primary.port()) + "," +
      std::to_string(standby.port()) + " user=postgres dbname=postgres connect_timeout=2";
  Install(connection);
  testing::SeedLoad(*OpenSession(connection), kRequests);

  const int port = testing::FreePort();
  testing::HeliqdProcess host(WriteHostConfig("heliqd", port), install_dir() / "heliqd.out",
                              HELIQ_HELIQD_PATH);
  ASSERT_TRUE(host.WaitUntilListening(port)) << HostOutput("heliqd");

  testing::RequestLoad load(kRequests, 2718);
  testing::LoadPlan plan;
  plan.ports = {port};
  plan.clients = kClients;
  plan.carry_on = true;
  plan.until = steady_clock::now() + kLoadBeforeKill + kOutage + kLoadAfterRecovery;
  auto running = std::async(std::launch::async, [&] { return load.Run(plan); });

  std::this_thread::sleep_for(kLoadBeforeKill);
  ASSERT_TRUE(primary.Kill());
  std::this_thread::sleep_for(kOutage);
  ASSERT_TRUE(standby.Promote());
  EXPECT_TRUE(WritesWithin(port, kRecoveryBound))
      << "no call succeeded within 10 s of the promotion\n"
      << HostOutput("heliqd");
  const testing::LoadStats stats = running.get();
  RecordProperty("confirmed", stats.confirmed);
  RecordProperty("uncertain", stats.uncertain);

  // The host stayed up and answered every call; some were hit by the kill or the outage.
  EXPECT_FALSE(host.WaitForExit(milliseconds(0))) << HostOutput("heliqd");
  EXPECT_EQ(stats.unanswered, 0);
  EXPECT_GT(stats.uncertain, 0) << "the kill hit no call; the test proved little";
  // A clear, retryable answer: never a 500 for a server that went away.
  for (const auto& [status, count] : stats.uncertain_by_status) {
    EXPECT_EQ(status, 503) << count << " calls";
  }
  EXPECT_GT(stats.confirmed, 0);
  for (const auto& [status, count] : stats.refusals_by_status) {
    EXPECT_EQ(status, 409) << count << " calls refused; e.g. " << Lines(stats.refusal_samples);
  }

  // Checked on the promoted standby alone.
  auto db = OpenSession("postgresql:" + standby.Keywords());
  ASSERT_FALSE(db->Query(kInRecovery, {}).rows[0][0].ToBool());
  std::vector<std::string> unsettled;
  load.Settle(*db, &unsettled);
  EXPECT_TRUE(unsettled.empty()) << Lines(unsettled);
  const auto confirmed = load.CheckConfirmed(*db);
  EXPECT_TRUE(confirmed.empty()) << Lines(confirmed);
  const auto violations = testing::CheckInvariants(*db);
  EXPECT_TRUE(violations.empty()) << Lines(violations);
  host.Signal(SIGTERM);
  EXPECT_EQ(host.WaitForExit(seconds(60)), 0) << HostOutput("heliqd");
}

}  // namespace
}  // namespace heliq
