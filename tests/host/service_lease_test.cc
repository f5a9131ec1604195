// The service lease: one of many contenders takes it, it expires and is taken over, a run by hand
// and the schedulers of several hosts exclude each other, and every run is recorded.
#include "host/service_lease.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "host/scheduler.h"
#include "platform/com_error.h"
#include "platform/object_context.h"
#include "platform/registry_store.h"
#include "servicerequest/question/daemon.h"
#include "tests/support/database_fixture.h"

namespace heliq {
namespace {

using testing::kTestNow;

class ServiceLeaseTest : public testing::DatabaseTest {};

TEST_P(ServiceLeaseTest, OneOfConcurrentContendersTakesTheLease) {
  constexpr int kContenders = 8;
  for (int round = 0; round < 3; ++round) {
    const std::string service = "Race " + std::to_string(round);
    // The second and third rounds race for a row that exists already (an expired lease).
    if (round > 0) {
      ASSERT_TRUE(TakeLease(service, "old", 1, kTestNow.AddSeconds(-100)));
    }
    std::atomic<int> winners{0};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kContenders; ++i) {
      threads.emplace_back([&, i] {
        try {
          if (TakeLease(service, "host-" + std::to_string(i), 60, kTestNow)) ++winners;
        } catch (...) {
          ++failures;
        }
      });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0) << service;
    EXPECT_EQ(winners.load(), 1) << service;
    EXPECT_EQ(
        Value("SELECT COUNT(*) FROM SERVICE_LEASES WHERE SERVICE = ?", {Variant(service)}).ToLong(),
        1);
  }
}

TEST_P(ServiceLeaseTest, ExpiredLeaseIsTakenOverAndTheOldHolderCannotRenew) {
  ASSERT_TRUE(TakeLease("Archive", "a", 60, kTestNow));
  EXPECT_FALSE(TakeLease("Archive", "b", 60, kTestNow.AddSeconds(59)));
  // The holder renews before expiry: a new period from the renewal.
  EXPECT_TRUE(TakeLease("Archive", "a", 60, kTestNow.AddSeconds(50)));
  EXPECT_FALSE(TakeLease("Archive", "b", 60, kTestNow.AddSeconds(100)));
  // "a" died: one period after its last renewal "b" has it, and "a" has lost it for good.
  EXPECT_TRUE(TakeLease("Archive", "b", 60, kTestNow.AddSeconds(110)));
  EXPECT_FALSE(TakeLease("Archive", "a", 60, kTestNow.AddSeconds(111)));
  // Names are compared without regard to case, as DAEMON.NAME is.
  EXPECT_FALSE(TakeLease("ARCHIVE", "c", 60, kTestNow.AddSeconds(112)));
  const std::vector<LeaseState> leases = ListLeases();
  ASSERT_EQ(leases.size(), 1u);
  EXPECT_EQ(leases[0].holder, "b");
  EXPECT_EQ(leases[0].expires, kTestNow.AddSeconds(170));

  // Given up: the next contender takes it at once; a release by a non-holder does nothing.
  ReleaseLease("Archive", "a");
  EXPECT_FALSE(TakeLease("Archive", "c", 60, kTestNow.AddSeconds(113)));
  ReleaseLease("Archive", "b");
  EXPECT_TRUE(TakeLease("Archive", "c", 60, kTestNow.AddSeconds(113)));
}

TEST_P(ServiceLeaseTest, LeaseIsNeverPartOfAUnitOfWork) {
  // A lease inside a call would be held until, and undone by, that call's end.
  UnitOfWork unit;
  try {
    TakeLease("Alert", "a", 60, kTestNow);
    FAIL() << "a lease was taken inside a unit of work";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kInvalidProcedureCall);
  }
}

TEST_P(ServiceLeaseTest, HeldLeaseExcludesOthersAndIsGivenUpAtItsEnd) {
  std::string holder;
  {
    const auto first = HeldLease::Take("Alert", kTestNow);
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->holder().starts_with(ThisLeaseHolder() + "/"));
    EXPECT_EQ(HeldLease::Take("Alert", kTestNow, &holder), nullptr);
    EXPECT_EQ(holder, first->holder());
  }
  EXPECT_NE(HeldLease::Take("Alert", kTestNow), nullptr);
}

TEST_P(ServiceLeaseTest, RunsAreRecordedWithTheirOutcome) {
  EXPECT_FALSE(LastRunStart("Archive").has_value());
  {
    RecordedRun run("Archive", "h1", kTestNow);
    run.Succeeded();
  }
  {
    RecordedRun run("Archive", "h2", kTestNow.AddSeconds(600));
    run.Failed("disk full (75)");
  }
  { RecordedRun dropped("Delete", "h1", kTestNow); }  // unwound without an outcome
  // A run whose host died never ends and does not count as the last run.
  RecordRunStart("Archive", "h3", kTestNow.AddSeconds(1200));

  EXPECT_EQ(LastRunStart("Archive"), kTestNow.AddSeconds(600));
  const std::vector<RunRecord> runs = LatestRuns();
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].service, "Archive");
  EXPECT_EQ(runs[0].host, "h3");
  EXPECT_FALSE(runs[0].ended.has_value());
  EXPECT_EQ(runs[1].service, "Delete");
  EXPECT_TRUE(runs[1].outcome.starts_with("failed: ")) << runs[1].outcome;
  EXPECT_EQ(Value("SELECT OUTCOME FROM SERVICE_RUNS WHERE HOST = 'h2'").ToText(),
            "failed: disk full (75)");
  EXPECT_EQ(
      Value("SELECT OUTCOME FROM SERVICE_RUNS WHERE HOST = 'h1' AND SERVICE = 'Archive'").ToText(),
      "ok");
}

// Schedulers as on several hosts: every service switched on, counting its runs.
class SharedScheduleTest : public testing::DatabaseTest {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    if (IsSkipped()) return;
    RegistryStore store = RegistryStore::FromSettings();
    const std::string key(kSchedulerParametersKey);
    store.Write(key + "Archive_Run", "1");
    store.Write(key + "Archive_Int", "10");
    store.Write(key + "Archive_Time", kTestNow.AddSeconds(-3600).ToText());
  }
  std::vector<ScheduledService> Services(std::atomic<int>& runs) {
    return {{"Archive", "Archive", [&runs] { ++runs; }}};
  }
};

TEST_P(SharedScheduleTest, ServiceRunsOncePerIntervalWhicheverHostTicks) {
  std::atomic<int> runs{0};
  Scheduler host_a(Services(runs));
  Scheduler host_b(Services(runs));
  for (int minute = 0; minute < 60; ++minute) {
    const DateTime now = kTestNow.AddSeconds(minute * 60);
    host_a.Tick(now);
    host_b.Tick(now);
  }
  EXPECT_EQ(runs.load(), 6);  // at 0, 10, ..., 50
  EXPECT_EQ(Count("SERVICE_RUNS"), 6);
  // No two recorded runs overlap.
  const ResultSet recorded = Rows("SELECT STARTED, ENDED FROM SERVICE_RUNS ORDER BY RUN_ID");
  for (size_t i = 1; i < recorded.rows.size(); ++i) {
    EXPECT_LE(recorded.rows[i - 1][1].ToDate(), recorded.rows[i][0].ToDate());
  }
}

TEST_P(SharedScheduleTest, RunByHandHoldsOffTheSchedulersAndCountsAsTheLastRun) {
  std::atomic<int> runs{0};
  Scheduler scheduler(Services(runs));
  {
    // As `heliq escalate` does: the service's lease, then the run recorded.
    const auto by_hand = HeldLease::Take("Archive", kTestNow);
    ASSERT_NE(by_hand, nullptr);
    RecordedRun record("Archive", by_hand->holder(), kTestNow);
    EXPECT_TRUE(scheduler.Tick(kTestNow).empty());
    EXPECT_TRUE(scheduler.Tick(kTestNow.AddSeconds(30)).empty());  // within its period
    record.Succeeded();
  }
  EXPECT_EQ(runs.load(), 0);
  // The run by hand at kTestNow was the last: the next is due an interval later.
  EXPECT_TRUE(scheduler.Tick(kTestNow.AddSeconds(120)).empty());
  EXPECT_EQ(scheduler.Tick(kTestNow.AddSeconds(600)).size(), 1u);
  EXPECT_EQ(runs.load(), 1);
}

TEST_P(SharedScheduleTest, HostThatDiedInARunIsTakenOverWithinOneLeasePeriod) {
  // A host took the lease and started a run at kTestNow, then died: nothing renews the lease.
  ASSERT_TRUE(TakeLease("Archive", "dead-host:1/1", 60, kTestNow));
  RecordRunStart("Archive", "dead-host:1/1", kTestNow);
  std::atomic<int> runs{0};
  Scheduler survivor(Services(runs));
  EXPECT_TRUE(survivor.Tick(kTestNow.AddSeconds(30)).empty());
  // Expired: the survivor runs at once, its interval not counted from the run that never ended.
  EXPECT_EQ(survivor.Tick(kTestNow.AddSeconds(60)).size(), 1u);
  EXPECT_EQ(runs.load(), 1);
}

INSTANTIATE_DATABASE_TEST_SUITE(ServiceLeaseTest);
INSTANTIATE_DATABASE_TEST_SUITE(SharedScheduleTest);

}  // namespace
}  // namespace heliq
