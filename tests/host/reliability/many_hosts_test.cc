// Three heliqd processes on one PostgreSQL (a cluster of the test's own), random work steps from
// eight clients spread over them while hosts are killed with SIGKILL and started again: afterwards
// every call a host confirmed is in the database once, every unanswered call committed as a whole
// or left no trace, the requests, reminders, archive and counters agree with a recount, and the
// escalation service, switched on for every host's scheduler, never ran on two hosts at once and
// mailed each overdue request once.
#include <gtest/gtest.h>
#include <signal.h>

#include <array>
#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <memory>
#include <random>
#include <regex>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/registry_store.h"
#include "servicerequest/question/daemon.h"
#include "tests/host/reliability/cluster_installation.h"
#include "tests/host/reliability/request_load.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/raw_http.h"

namespace heliq {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using std::chrono::steady_clock;

constexpr int kHosts = 3;
constexpr int kRequests = 800;
constexpr int kClients = 8;
// Long enough for the escalation service to be due twice (its shortest interval is a minute).
constexpr auto kLoadTime = seconds(65);
// Short, so that a host that took over from a killed one shows in the recorded runs.
constexpr std::string_view kSchedulerSettings = "[scheduler]\nlease_seconds = 5\n";
// Overdue requests of the demo's call centre, unassigned, their timers started long ago; their ids
// lie below the load's, so the recount leaves them alone.
constexpr int32_t kFirstOverdue = 501;
constexpr int32_t kOverdue = 40;
constexpr std::string_view kInsertOverdue =
    "insert into QUESTIONS (Q_ID, Q_STATUS, CENTER, Q_DESC, Q_ORIGINATOR, Q_PRIORITY, "
    "OSVREQUESTED) "
    "values (?, 5, 1, 'Overdue', 'cust1', 2, 1)";
constexpr std::string_view kInsertOverdueReminder =
    "insert into REMINDER (Q_ID, R_STATUS, T1_DATE) values (?, '5', ?)";
// Only the load's engineers take automatic dispatches: the recount knows no others.
constexpr std::string_view kOnlyLoadEngineersAutomatic =
    "update CCEDISRULE set APPLYFORAUTOMATIC = 0 where LOGIN not in ('eng1', 'eng2', 'eng3', "
    "'eng4')";
constexpr std::string_view kDispatcher = "dispatch1@servicedesk.example.com";
constexpr std::string_view kSelectDispatcherMails =
    "select M_ID, BODY, SENT from MAIL_OUTBOX where MAIL_TO like ?";
constexpr std::string_view kSelectTimer = "select T1_DATE from REMINDER where Q_ID = ?";
constexpr std::string_view kSelectUnsent = "select count(*) from MAIL_OUTBOX where SENT is null";
constexpr std::string_view kSelectRuns =
    "select SERVICE, HOST, STARTED, ENDED from SERVICE_RUNS order by SERVICE, STARTED, RUN_ID";

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (size_t i = 0; i < lines.size() && i < 20; ++i) text += lines[i] + "\n";
  return text;
}

class ManyHostsTest : public testing::ClusterInstallationTest {
 protected:
  // Starts host `i` (again) on its port; false when it does not listen.
  bool StartHost(int i) {
    const std::string name = "heliqd" + std::to_string(i);
    hosts_[i] = std::make_unique<testing::HeliqdProcess>(
        WriteHostConfig(name, ports_[i], std::string(kSchedulerSettings)),
        install_dir() / (name + ".out"), HELIQ_HELIQD_PATH);
    return hosts_[i]->WaitUntilListening(ports_[i]);
  }

  // The pickup folder's files per outbox entry (named heliq-outbox-<entry>-...).
  std::map<int64_t, int> PickupFilesByEntry() const {
    std::map<int64_t, int> files;
    static const std::regex name("heliq-outbox-([0-9]+)-.*\\.eml");
    std::error_code error;
    for (const auto& file :
         std::filesystem::directory_iterator(install_dir() / "var" / "mail", error)) {
      std::smatch match;
      const std::string text = file.path().filename().string();
      if (std::regex_match(text, match, name)) ++files[std::stoll(match[1].str())];
    }
    return files;
  }

  std::array<int, kHosts> ports_{};
  std::array<std::unique_ptr<testing::HeliqdProcess>, kHosts> hosts_;
};

TEST_F(ManyHostsTest, HostsKilledUnderLoadLeaveEveryConfirmedCallWholeInTheDatabase) {
  if (!testing::PostgresTestsWanted()) GTEST_SKIP() << "HELIQ_TEST_PG is not set";
  testing::PgCluster cluster("many-hosts");
  ASSERT_TRUE(cluster.started());
  const std::string connection = "postgresql:" + cluster.Keywords() + " connect_timeout=2";
  Install(connection, /*demo=*/true);
  {
    auto db = OpenSession(connection);
    testing::SeedLoad(*db, kRequests);
    db->Execute(kOnlyLoadEngineersAutomatic, {});
    const DateTime long_ago = Now().AddSeconds(-1000 * 3600);
    for (int32_t id = kFirstOverdue; id < kFirstOverdue + kOverdue; ++id) {
      db->Execute(kInsertOverdue, {Variant(id)});
      db->Execute(kInsertOverdueReminder, {Variant(id), Variant(long_ago)});
    }
  }
  // The escalation service, every minute, switched on an hour ago: due at once.
  const std::string key(kSchedulerParametersKey);
  RegistryStore::FromSettings().Write(key + "Sonr_Run", "1");
  RegistryStore::FromSettings().Write(key + "Sonr_Int", "1");
  RegistryStore::FromSettings().Write(key + "Sonr_Time", Now().AddSeconds(-3600).ToText());
  for (int i = 0; i < kHosts; ++i) {
    ports_[i] = testing::FreePort();
    ASSERT_TRUE(StartHost(i)) << HostOutput("heliqd" + std::to_string(i));
  }

  testing::RequestLoad load(kRequests, 31337);
  testing::LoadPlan plan;
  plan.ports.assign(ports_.begin(), ports_.end());
  plan.clients = kClients;
  plan.carry_on = true;
  plan.until = steady_clock::now() + kLoadTime;
  auto running = std::async(std::launch::async, [&] { return load.Run(plan); });

  // One host at a time is killed and started again; the others carry the load meanwhile.
  std::mt19937 random(4242);
  int kills = 0;
  while (steady_clock::now() + seconds(3) < plan.until) {
    std::this_thread::sleep_for(
        milliseconds(std::uniform_int_distribution<int>(800, 2500)(random)));
    const int victim = std::uniform_int_distribution<int>(0, kHosts - 1)(random);
    hosts_[victim]->Signal(SIGKILL);
    ASSERT_TRUE(hosts_[victim]->WaitForExit(seconds(30)));
    ++kills;
    std::this_thread::sleep_for(milliseconds(300));
    ASSERT_TRUE(StartHost(victim)) << HostOutput("heliqd" + std::to_string(victim));
  }
  const testing::LoadStats stats = running.get();
  RecordProperty("confirmed", stats.confirmed);
  RecordProperty("unanswered", stats.unanswered);
  RecordProperty("kills", kills);

  EXPECT_GT(stats.unanswered, 0) << "no kill hit a call in flight; the test proved little";
  EXPECT_GT(stats.confirmed, kClients * 10);
  for (const auto& [status, count] : stats.refusals_by_status) {
    EXPECT_EQ(status, 409) << count << " calls refused; e.g. " << Lines(stats.refusal_samples);
  }
  // Every host still serves after all the kills.
  for (int i = 0; i < kHosts; ++i) {
    EXPECT_FALSE(hosts_[i]->WaitForExit(milliseconds(0)))
        << HostOutput("heliqd" + std::to_string(i));
  }

  auto db = OpenSession(connection);
  std::vector<std::string> unsettled;
  load.Settle(*db, &unsettled);
  EXPECT_TRUE(unsettled.empty()) << Lines(unsettled);
  const auto confirmed = load.CheckConfirmed(*db);
  EXPECT_TRUE(confirmed.empty()) << Lines(confirmed);
  const auto violations = testing::CheckInvariants(*db);
  EXPECT_TRUE(violations.empty()) << Lines(violations);

  // Each run ended before the next run of its service started (a run whose host died has no end).
  const ResultSet runs = db->Query(kSelectRuns, {});
  RecordProperty("runs", static_cast<int>(runs.rows.size()));
  EXPECT_GE(runs.rows.size(), 1u) << "no scheduled run was recorded";
  for (size_t i = 1; i < runs.rows.size(); ++i) {
    const auto& before = runs.rows[i - 1];
    const auto& after = runs.rows[i];
    if (before[0].ToText() != after[0].ToText() || before[3].IsNull()) continue;
    EXPECT_GE(after[2].ToDate(), before[3].ToDate())
        << after[0].ToText() << ": a run on " << after[1].ToText() << " started at "
        << after[2].ToText() << ", before the run on " << before[1].ToText() << " ended at "
        << before[3].ToText();
  }

  // Mailed once: each overdue request is in one dispatcher mail of the outbox, its timer cleared,
  // and that mail was delivered once (one pickup file, named after the entry) unless it is still
  // waiting, claimed by a sender that was killed (its claim outlives the test).
  const auto deadline = steady_clock::now() + seconds(30);
  while (db->Query(kSelectUnsent, {}).rows[0][0].ToLongLong() > 0 &&
         steady_clock::now() < deadline) {
    std::this_thread::sleep_for(milliseconds(250));
  }
  const std::map<int64_t, int> files = PickupFilesByEntry();
  std::map<int32_t, int> mails_per_request;
  const ResultSet mails =
      db->Query(kSelectDispatcherMails, {Variant("%" + std::string(kDispatcher) + "%")});
  for (const auto& row : mails.rows) {
    const int64_t entry = row[0].ToLongLong();
    const std::string body = row[1].ToText();
    for (int32_t id = kFirstOverdue; id < kFirstOverdue + kOverdue; ++id) {
      if (std::regex_search(body, std::regex("\\b" + std::to_string(id) + "\\b"))) {
        ++mails_per_request[id];
      }
    }
    const auto file = files.find(entry);
    const int delivered = file == files.end() ? 0 : file->second;
    EXPECT_EQ(delivered, row[2].IsNull() ? delivered : 1) << "outbox entry " << entry;
    EXPECT_LE(delivered, 1) << "outbox entry " << entry;
  }
  for (int32_t id = kFirstOverdue; id < kFirstOverdue + kOverdue; ++id) {
    EXPECT_EQ(mails_per_request[id], 1) << "request " << id;
    EXPECT_TRUE(db->Query(kSelectTimer, {Variant(id)}).rows.at(0)[0].IsNull()) << "request " << id;
  }

  for (auto& host : hosts_) host->Signal(SIGTERM);
  for (int i = 0; i < kHosts; ++i) {
    EXPECT_EQ(hosts_[i]->WaitForExit(seconds(60)), 0) << HostOutput("heliqd" + std::to_string(i));
  }
}

}  // namespace
}  // namespace heliq
