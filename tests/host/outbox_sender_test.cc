// The hosts' outbox sender and what /metrics says about the outbox and the scheduled services: a
// pass delivers every due entry however many pages they fill, survives a transport that fails
// and a database that cannot be read, and the metrics show backlog, leases and runs.
#include "host/outbox_sender.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/mail_outbox.h"
#include "host/metrics.h"
#include "host/service_lease.h"
#include "platform/clock.h"
#include "platform/object_context.h"
#include "tests/support/database_fixture.h"

namespace heliq {
namespace {

using testing::kTestNow;

MailMessage Message(int n) {
  MailMessage message;
  message.from = "servicedesk@example.com";
  message.to = {"cust" + std::to_string(n) + "@example.com"};
  message.subject = "Notification " + std::to_string(n);
  message.body = "text";
  return message;
}

class OutboxSenderTest : public testing::DatabaseTest {};

TEST_P(OutboxSenderTest, PassDeliversEveryDueEntryAcrossPages) {
  constexpr int kEntries = 230;  // more than two pages of a delivery call
  RunUnitOfWork([] {
    for (int i = 0; i < kEntries; ++i) EnqueueMail(Message(i));
  });
  OutboxSender sender(std::chrono::seconds(5));
  EXPECT_EQ(sender.Pass(), kEntries);
  EXPECT_EQ(sender.Pass(), 0);
  EXPECT_EQ(CountOutbox().sent, kEntries);
}

TEST_P(OutboxSenderTest, PassSurvivesAFailingTransportAndLogsAnUnreadableDatabaseOnce) {
  RunUnitOfWork([] { EnqueueMail(Message(1)); });
  // A pickup folder that is a file: every delivery fails; the entry waits for its retry.
  std::filesystem::create_directories(install_dir() / "var");
  std::ofstream(install_dir() / "var" / "mail") << "not a folder";
  OutboxSender sender(std::chrono::seconds(5));
  EXPECT_EQ(sender.Pass(), 0);
  EXPECT_EQ(CountOutbox().pending, 1);
  EXPECT_TRUE(testing::RecordingLog::Entries().empty());

  // Inside a unit of work the outbox refuses delivery: the failure is logged, once.
  UnitOfWork unit;
  EXPECT_EQ(sender.Pass(), 0);
  EXPECT_EQ(sender.Pass(), 0);
  EXPECT_EQ(testing::RecordingLog::Entries().size(), 1u);
}

TEST_P(OutboxSenderTest, MetricsShowTheBacklogTheLeasesAndTheLatestRuns) {
  RunUnitOfWork([] { EnqueueMail(Message(1)); });
  {
    const auto lease = HeldLease::Take("Archive", kTestNow);
    ASSERT_NE(lease, nullptr);
    RecordedRun run("Archive", lease->holder(), kTestNow);
    run.Failed("disk full (75)");
    const std::string text = CallMetrics().Render();
    EXPECT_NE(text.find("heliq_mail_outbox_pending 1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("heliq_scheduler_lease_held{service=\"Archive\"} 1\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("heliq_scheduler_last_run_ok{service=\"Archive\"} 0\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("heliq_scheduler_last_run_started_seconds{service=\"Archive\",host=\"" +
                        lease->holder() + "\"} " + std::to_string(kTestNow.ToEpochSeconds())),
              std::string::npos)
        << text;
  }
  // Given up after the run: no longer held here.
  EXPECT_NE(CallMetrics().Render().find("heliq_scheduler_lease_held{service=\"Archive\"} 0\n"),
            std::string::npos);
}

INSTANTIATE_DATABASE_TEST_SUITE(OutboxSenderTest);

}  // namespace
}  // namespace heliq
