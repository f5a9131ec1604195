// Many keep-alive clients at once against the host's HTTP face, random work steps over a few
// hundred requests: afterwards the log holds one row per confirmed call and the requests, their
// reminders, the archive and the engineers' counters agree with a recount from the log.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "host/http_server.h"
#include "tests/host/reliability/request_load.h"
#include "tests/support/database_fixture.h"

namespace heliq {
namespace {

using testing::DatabaseTest;

constexpr int kRequests = 200;
constexpr int kClients = 8;
constexpr int kCallsPerClient = 120;

constexpr std::string_view kBumpQueue =
    "update CCEDISRULE set QUEUESIZE = QUEUESIZE + 1 where LOGIN = 'eng1'";
constexpr std::string_view kInsertOrphanReminder =
    "insert into REMINDER (Q_ID, R_STATUS, T1_DATE) values (999999, '5', null)";

class ConcurrentLoadTest : public DatabaseTest {};

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (size_t i = 0; i < lines.size() && i < 20; ++i) text += lines[i] + "\n";
  return text;
}

TEST_P(ConcurrentLoadTest, EveryConfirmedCallIsLoggedOnceAndTheCountersMatchARecount) {
  testing::SeedLoad(db(), kRequests);
  HttpServer server(HttpServerOptions{"127.0.0.1", 0});
  const int port = server.Start();
  ASSERT_GT(port, 0);

  testing::RequestLoad load(kRequests, 4711);
  const testing::LoadStats stats = load.Run(port, kClients, kCallsPerClient);
  server.Stop();

  EXPECT_EQ(stats.unanswered, 0);
  // Concurrent changes of one engineer's counter may lose the optimistic check (409, rolled back);
  // nothing else may refuse a sensible step.
  for (const auto& [status, count] : stats.refusals_by_status) {
    EXPECT_EQ(status, 409) << count << " calls refused; e.g. " << Lines(stats.refusal_samples);
  }
  EXPECT_GT(stats.confirmed, kClients * kCallsPerClient / 2);
  EXPECT_GT(load.Ended(), 0) << "the load should carry some requests to the archive";

  const auto confirmed = load.CheckConfirmed(db());
  EXPECT_TRUE(confirmed.empty()) << Lines(confirmed);
  const auto violations = testing::CheckInvariants(db());
  EXPECT_TRUE(violations.empty()) << Lines(violations);

  // The recount is not blind: a counter off by one and an orphan reminder both show.
  Exec(kBumpQueue);
  Exec(kInsertOrphanReminder);
  EXPECT_EQ(testing::CheckInvariants(db()).size(), 2u);
}

INSTANTIATE_DATABASE_TEST_SUITE(ConcurrentLoadTest);

}  // namespace
}  // namespace heliq
