// The scheduling service: which services run at which ticks, switching on and off through
// Daemon.SaveDaemonData without a restart, bad intervals, failing runs, and the thread's stop.
#include "host/scheduler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/heliq_utilities.h"
#include "common/maintenance_service.h"
#include "platform/clock.h"
#include "platform/com_error.h"
#include "platform/object_context.h"
#include "platform/operation_table.h"
#include "platform/registry_store.h"
#include "servicerequest/question/daemon.h"
#include "tests/support/database_fixture.h"

namespace heliq {
namespace {

using testing::kTestNow;
using testing::RecordingLog;

using Names = std::vector<std::string>;

std::map<std::string, int>& RunCounts() {
  static std::map<std::string, int> counts;
  return counts;
}

// A maintenance component that counts its runs, or fails when told to.
class FakeService : public Component, public MaintenanceService {
 public:
  FakeService(std::string name, bool fail) : name_(std::move(name)), fail_(fail) {}
  void Run() override {
    ++RunCounts()[name_];
    if (fail_) throw ComError(err::kPathFileAccess, name_, "archive folder is full");
  }

 private:
  std::string name_;
  bool fail_;
};

OperationSpec Row(std::string class_id, std::string name, Invoker invoke) {
  OperationSpec spec;
  spec.class_id = std::move(class_id);
  spec.name = std::move(name);
  spec.invoke = std::move(invoke);
  return spec;
}

// Replaces an operation-table row while it lives. The table cannot drop a row, so a row that was
// not there before is left failing as a missing component would.
class ScopedOperation {
 public:
  explicit ScopedOperation(OperationSpec fake) : class_id_(fake.class_id), name_(fake.name) {
    if (const OperationSpec* old = FindOperation(class_id_, name_)) saved_ = *old;
    AddOperation(std::move(fake));
  }
  ~ScopedOperation() {
    if (saved_) {
      AddOperation(*saved_);
    } else {
      AddOperation(Row(class_id_, name_, [class_id = class_id_](Dictionary&) -> Variant {
        throw ComError(err::kCannotCreateComponent, class_id, "not registered");
      }));
    }
  }

 private:
  std::string class_id_;
  std::string name_;
  std::optional<OperationSpec> saved_;
};

class SchedulerTest : public testing::DatabaseTest {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    if (IsSkipped()) return;
    RunCounts().clear();
    Fake(kArchiveServiceId, "Archive");
    Fake(kCleanupServiceId, "Delete");
    Fake(kDormantExpiryServiceId, "Dormant User Expiry");
    alert_ = std::make_unique<ScopedOperation>(
        Row("HeliqProcessMTS.SolveOnNoResponse", "SendingEscalationMails", [](Dictionary&) {
          // The run is one unit of work, as every call through the table.
          EXPECT_NE(GetObjectContext(), nullptr);
          ++RunCounts()["Alert"];
          return Variant();
        }));
  }
  void TearDown() override {
    alert_.reset();
    fakes_.clear();
    DatabaseTest::TearDown();
  }

  void Fake(std::string_view class_id, const std::string& name, bool fail = false) {
    fakes_.push_back(std::make_unique<ScopedRegistration>(
        std::string(class_id), [name, fail] { return std::make_unique<FakeService>(name, fail); }));
  }
  void Set(const std::string& value_name, const std::string& value) {
    RegistryStore::FromSettings().Write(std::string(kSchedulerParametersKey) + value_name, value);
  }
  // The names of the services a tick at `minutes` after kTestNow ran.
  Names TickAt(Scheduler& scheduler, int minutes) {
    Names names;
    for (const ServiceRun& run : scheduler.Tick(kTestNow.AddSeconds(minutes * 60))) {
      names.push_back(run.service);
    }
    return names;
  }
  void SaveDaemonData(const std::string& service, bool on, int32_t interval) {
    auto daemon = CreateObjectAs<Daemon>(kDaemonClassId);
    daemon->SaveDaemonData(service, on, interval, "");
  }

  std::vector<std::unique_ptr<ScopedRegistration>> fakes_;
  std::unique_ptr<ScopedOperation> alert_;
};

TEST_P(SchedulerTest, EachServiceRunsEveryIntervalCountedFromItsStart) {
  Set("Archive_Run", "1");
  Set("Archive_Int", "10");
  Set("Archive_Time", kTestNow.ToText());
  Set("Cleanup_Run", "1");
  Set("Cleanup_Int", "5");  // no start time: counted from the first tick that sees it
  Set("Dormant_Run", "0");
  Set("Dormant_Int", "1");
  Set("Sonr_Run", "1");
  Set("Sonr_Int", "15");
  Set("Sonr_Time", kTestNow.AddSeconds(-3600).ToText());  // long overdue: runs at once

  Scheduler scheduler;
  EXPECT_EQ(TickAt(scheduler, 0), Names({"Alert"}));
  EXPECT_EQ(TickAt(scheduler, 4), Names());
  EXPECT_EQ(TickAt(scheduler, 5), Names({"Delete"}));
  EXPECT_EQ(TickAt(scheduler, 10), Names({"Archive", "Delete"}));
  EXPECT_EQ(TickAt(scheduler, 14), Names());
  EXPECT_EQ(TickAt(scheduler, 15), Names({"Delete", "Alert"}));
  // A longer interval takes effect at the next tick, counted from the last run.
  Set("Cleanup_Int", "30");
  EXPECT_EQ(TickAt(scheduler, 20), Names({"Archive"}));
  EXPECT_EQ(TickAt(scheduler, 45), Names({"Archive", "Delete", "Alert"}));
  EXPECT_EQ(RunCounts()["Dormant User Expiry"], 0);
}

TEST_P(SchedulerTest, SwitchingThroughDaemonTakesEffectWithoutRestart) {
  Scheduler scheduler;
  SaveDaemonData("Delete", true, 5);  // at kTestNow (the fixed clock)
  EXPECT_EQ(TickAt(scheduler, 4), Names());
  EXPECT_EQ(TickAt(scheduler, 5), Names({"Delete"}));

  SaveDaemonData("Delete", false, 5);
  EXPECT_EQ(TickAt(scheduler, 10), Names());
  EXPECT_EQ(TickAt(scheduler, 60), Names());

  // Switched on again later: a new schedule from the new start time.
  SetFixedTime(kTestNow.AddSeconds(61 * 60));
  SaveDaemonData("Delete", true, 5);
  SaveDaemonData("Alert", true, 1);
  EXPECT_EQ(TickAt(scheduler, 62), Names({"Alert"}));
  EXPECT_EQ(TickAt(scheduler, 65), Names({"Alert"}));
  EXPECT_EQ(TickAt(scheduler, 66), Names({"Delete", "Alert"}));
  EXPECT_EQ(RunCounts()["Delete"], 2);
}

TEST_P(SchedulerTest, BadIntervalIsLoggedOnceAndSkipped) {
  Set("Archive_Run", "1");
  Set("Archive_Time", kTestNow.AddSeconds(-3600).ToText());
  Scheduler scheduler;
  int minute = 0;
  for (const char* bad : {"", "0", "-5", "ten", "1.5"}) {
    Set("Archive_Int", bad);
    EXPECT_EQ(TickAt(scheduler, ++minute), Names()) << bad;
    EXPECT_EQ(TickAt(scheduler, ++minute), Names()) << bad;
  }
  const auto entries = RecordingLog::Entries();
  ASSERT_EQ(entries.size(), 5u);  // one per bad value, not one per tick
  EXPECT_NE(entries[3].text.find("Archive_Int \"ten\""), std::string::npos) << entries[3].text;
  Set("Archive_Int", "1");
  EXPECT_EQ(TickAt(scheduler, ++minute), Names({"Archive"}));
}

TEST_P(SchedulerTest, FailingRunIsLoggedAndTheOthersGoOn) {
  fakes_.clear();
  Fake(kArchiveServiceId, "Archive", /*fail=*/true);
  Fake(kCleanupServiceId, "Delete");
  // A maintenance component that is not installed.
  fakes_.push_back(std::make_unique<ScopedRegistration>(
      std::string(kDormantExpiryServiceId), []() -> std::unique_ptr<Component> {
        throw ComError(err::kCannotCreateComponent, "registry", "not installed");
      }));
  for (const char* prefix : {"Archive", "Cleanup", "Dormant", "Sonr"}) {
    Set(std::string(prefix) + "_Run", "1");
    Set(std::string(prefix) + "_Int", "10");
    Set(std::string(prefix) + "_Time", kTestNow.AddSeconds(-600).ToText());
  }
  Scheduler scheduler;
  const std::vector<ServiceRun> runs = scheduler.Tick(kTestNow);
  ASSERT_EQ(runs.size(), 4u);
  EXPECT_NE(runs[0].error.find("archive folder is full (75)"), std::string::npos);
  EXPECT_EQ(runs[1].error, "");
  EXPECT_NE(runs[2].error.find("(429)"), std::string::npos) << runs[2].error;
  EXPECT_EQ(runs[3].error, "");
  const auto entries = RecordingLog::Entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_NE(entries[0].text.find("Heliq.Scheduler.Archive caught: archive folder is full"),
            std::string::npos)
      << entries[0].text;
  EXPECT_NE(entries[1].text.find("Heliq.Scheduler.Dormant User Expiry"), std::string::npos);
  // A failed service waits its interval like the others.
  EXPECT_EQ(TickAt(scheduler, 5), Names());
  EXPECT_EQ(TickAt(scheduler, 10), Names({"Archive", "Delete", "Dormant User Expiry", "Alert"}));
  EXPECT_EQ(RunCounts()["Archive"], 2);
}

TEST_P(SchedulerTest, ThreadRunsDueServicesAndStopsPromptly) {
  Set("Sonr_Run", "1");
  Set("Sonr_Int", "60");
  Set("Sonr_Time", kTestNow.AddSeconds(-7200).ToText());
  std::promise<ServiceRun> first_run;
  std::atomic<bool> reported{false};
  SchedulerOptions options;
  options.poll_period = std::chrono::hours(1);
  options.on_run = [&](const ServiceRun& run) {
    if (!reported.exchange(true)) first_run.set_value(run);
  };
  Scheduler scheduler(SystemServices(), options);
  scheduler.Start();
  auto future = first_run.get_future();
  ASSERT_EQ(future.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  EXPECT_EQ(future.get().service, "Alert");
  // The thread now sleeps for its hour; stopping must not wait for it.
  const auto before = std::chrono::steady_clock::now();
  scheduler.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
  EXPECT_EQ(RunCounts()["Alert"], 1);
}

INSTANTIATE_DATABASE_TEST_SUITE(SchedulerTest);

}  // namespace
}  // namespace heliq
