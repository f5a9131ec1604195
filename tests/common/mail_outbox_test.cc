// The mail outbox: a rolled-back unit of work sends nothing, a committed entry is delivered once
// even by concurrent senders, failures are retried with back-off and then given up, bad messages
// are refused with nothing written, and a sender that dies between delivery and marking resends
// once with the same Message-ID (one pickup file; two SMTP arrivals, recognisable).
#include "common/mail_outbox.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/com_error.h"
#include "platform/configuration.h"
#include "platform/object_context.h"
#include "tests/support/database_fixture.h"

namespace heliq {
namespace {

namespace fs = std::filesystem;
using testing::kTestNow;

// What a sender's process dying looks like to the outbox: the call ends, nothing is marked.
struct SimulatedCrash {};

MailMessage Message(const std::string& subject) {
  MailMessage message;
  message.from = "servicedesk@example.com";
  message.to = {"cust1@example.com", "John Smith <john@example.com>"};
  message.cc = {"super1@example.com"};
  message.subject = subject;
  message.body = "Line one\nLine two";
  return message;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class MailOutboxTest : public testing::DatabaseTest {
 protected:
  fs::path Pickup() const { return install_dir() / "var" / "mail"; }
  std::vector<fs::path> PickupFiles() const {
    std::vector<fs::path> files;
    if (!fs::exists(Pickup())) return files;
    for (const auto& entry : fs::directory_iterator(Pickup())) files.push_back(entry.path());
    return files;
  }
  int64_t EnqueueCommitted(const std::string& subject) {
    UnitOfWork unit;
    const int64_t id = EnqueueMail(Message(subject));
    EXPECT_TRUE(unit.Finish(true));
    return id;
  }
  // The settings of the fixture with [mail] replaced.
  void UseMailSettings(const std::string& mail) {
    std::ostringstream settings;
    settings << "install_dir = '" << SettingValue("", "install_dir") << "'\n"
             << "default_language = 1033\n[connections]\n";
    for (const char* application : {"Heliq", "RAvuruvo", "BackOffice", "Directory"}) {
      settings << application << " = '" << SettingValue("connections", application) << "'\n";
    }
    settings << "[log]\nfile = ''\n[mail]\n" << mail;
    SetSettingsText(settings.str());
  }
};

TEST_P(MailOutboxTest, RolledBackWorkSendsNothingAndCommittedWorkIsSentOnce) {
  {
    UnitOfWork unit;
    EnqueueMail(Message("rolled back"));
    unit.Finish(false);
  }
  EXPECT_EQ(Count("MAIL_OUTBOX"), 0);
  const int64_t id = EnqueueCommitted("Réponse à votre demande");

  const std::vector<OutboxDelivery> first = DeliverOutbox();
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].id, id);
  EXPECT_EQ(first[0].error, "");
  EXPECT_EQ(first[0].message.to, Message("").to);
  EXPECT_EQ(first[0].message.cc, Message("").cc);
  EXPECT_EQ(first[0].message.body, "Line one\nLine two");
  const std::string message_id =
      "heliq-outbox-" + std::to_string(id) + "-" + std::to_string(kTestNow.ToEpochSeconds());
  EXPECT_EQ(first[0].message.message_id, message_id);
  const std::vector<fs::path> files = PickupFiles();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].filename().string(), message_id + ".eml");
  EXPECT_NE(ReadFile(files[0]).find("Message-ID: <" + message_id + "@example.com>"),
            std::string::npos);

  EXPECT_TRUE(DeliverOutbox().empty());
  EXPECT_EQ(PickupFiles().size(), 1u);
  const OutboxCounts counts = CountOutbox();
  EXPECT_EQ(counts.sent, 1);
  EXPECT_EQ(counts.pending, 0);
}

TEST_P(MailOutboxTest, BadMessagesAreRefusedWithNothingWritten) {
  MailMessage no_recipient = Message("x");
  no_recipient.to.clear();
  no_recipient.cc.clear();
  MailMessage bad_address = Message("x");
  bad_address.to = {"not an address"};
  MailMessage injected = Message("x");
  injected.to = {"a@example.com\r\nBcc: evil@example.com"};
  for (const MailMessage& message : {no_recipient, bad_address, injected}) {
    try {
      EnqueueMail(message);
      ADD_FAILURE() << "accepted " << (message.to.empty() ? "" : message.to[0]);
    } catch (const ComError& e) {
      EXPECT_EQ(e.number(), err::kMailNotSent) << e.description();
    }
  }
  MailMessage attachment = Message("x");
  attachment.attachments.push_back({"a.txt\nBcc: evil@example.com", "text/plain", "a"});
  MailMessage own_id = Message("x");
  own_id.message_id = "mine";
  for (const MailMessage& message : {attachment, own_id}) {
    try {
      EnqueueMail(message);
      ADD_FAILURE() << "accepted";
    } catch (const ComError& e) {
      EXPECT_EQ(e.number(), err::kInvalidProcedureCall) << e.description();
    }
  }
  EXPECT_EQ(Count("MAIL_OUTBOX"), 0);
}

TEST_P(MailOutboxTest, AttachmentsComeOutAsTheyWentIn) {
  MailMessage report = Message("report");
  const std::string bytes("PK\0\x01\xff\xfe binary\r\n", 16);
  report.attachments.push_back({"report.xls", "application/vnd.ms-excel", bytes});
  report.attachments.push_back({"empty.txt", "text/plain", ""});
  RunUnitOfWork([&] { EnqueueMail(report); });
  std::vector<MailMessage> sent;
  OutboxOptions capture;
  capture.send = [&](const MailMessage& message) { sent.push_back(message); };
  ASSERT_EQ(DeliverOutbox(capture).size(), 1u);
  ASSERT_EQ(sent.size(), 1u);
  ASSERT_EQ(sent[0].attachments.size(), 2u);
  EXPECT_EQ(sent[0].attachments[0].file_name, "report.xls");
  EXPECT_EQ(sent[0].attachments[0].content_type, "application/vnd.ms-excel");
  EXPECT_EQ(sent[0].attachments[0].content, bytes);
  EXPECT_EQ(sent[0].attachments[1].content, "");
}

TEST_P(MailOutboxTest, FailedDeliveryIsRetriedWithBackOffThenGivenUp) {
  const int64_t id = EnqueueCommitted("retry");
  OutboxOptions failing;
  int calls = 0;
  failing.send = [&](const MailMessage&) {
    ++calls;
    throw ComError(err::kMailNotSent, "Mail", "mail not sent: the server is down");
  };
  int64_t elapsed = 0;
  int64_t expected_delay = 60;
  for (int attempt = 1; attempt <= kOutboxMaxAttempts; ++attempt) {
    SetFixedTime(kTestNow.AddSeconds(elapsed));
    const std::vector<OutboxDelivery> tried = DeliverOutbox(failing);
    ASSERT_EQ(tried.size(), 1u) << "attempt " << attempt;
    EXPECT_NE(tried[0].error.find("the server is down"), std::string::npos);
    // Not again before its back-off has passed.
    SetFixedTime(kTestNow.AddSeconds(elapsed + expected_delay - 1));
    EXPECT_TRUE(DeliverOutbox(failing).empty()) << "attempt " << attempt;
    elapsed += expected_delay;
    expected_delay = std::min<int64_t>(expected_delay * 2, 3600);
  }
  EXPECT_EQ(calls, kOutboxMaxAttempts);
  SetFixedTime(kTestNow.AddSeconds(elapsed + 86400));
  EXPECT_TRUE(DeliverOutbox().empty());  // given up, even with a working transport
  EXPECT_EQ(CountOutbox().given_up, 1);
  EXPECT_NE(Value("SELECT LAST_ERROR FROM MAIL_OUTBOX WHERE M_ID = ?", {Variant(id)})
                .ToText()
                .find("the server is down"),
            std::string::npos);
  EXPECT_TRUE(PickupFiles().empty());
}

TEST_P(MailOutboxTest, DeliveryInsideAUnitOfWorkIsRefused) {
  EnqueueCommitted("x");
  UnitOfWork unit;
  try {
    DeliverOutbox();
    FAIL() << "delivered before the work committed";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kInvalidProcedureCall);
  }
}

TEST_P(MailOutboxTest, ConcurrentSendersDeliverEachEntryOnce) {
  constexpr int kEntries = 30;
  for (int i = 0; i < kEntries; ++i) EnqueueCommitted("entry " + std::to_string(i));
  std::mutex mutex;
  std::map<std::string, int> sends;
  OutboxOptions options;
  options.limit = 7;
  options.send = [&](const MailMessage& message) {
    std::lock_guard lock(mutex);
    ++sends[message.message_id];
  };
  std::atomic<int> failures{0};
  std::vector<std::thread> senders;
  for (int t = 0; t < 4; ++t) {
    senders.emplace_back([&] {
      try {
        OutboxOptions mine = options;
        while (true) {
          const std::vector<OutboxDelivery> tried = DeliverOutbox(mine);
          if (tried.empty()) break;
          mine.after_id = tried.back().id;
        }
      } catch (...) {
        ++failures;
      }
    });
  }
  for (std::thread& sender : senders) sender.join();
  EXPECT_EQ(failures.load(), 0);
  // A sender that found every due entry of its page claimed stops early; what is left is due.
  while (!DeliverOutbox(options).empty()) {
  }
  EXPECT_EQ(sends.size(), static_cast<size_t>(kEntries));
  for (const auto& [id, count] : sends) EXPECT_EQ(count, 1) << id;
  EXPECT_EQ(CountOutbox().sent, kEntries);
}

TEST_P(MailOutboxTest, SenderCrashAfterDeliveryResendsOnceUnderTheSameName) {
  EnqueueCommitted("crash");
  OutboxOptions crashing;
  crashing.send = [](const MailMessage& message) {
    SendMail(message);
    throw SimulatedCrash{};
  };
  EXPECT_THROW(DeliverOutbox(crashing), SimulatedCrash);
  ASSERT_EQ(PickupFiles().size(), 1u);
  // The claim holds the entry from other senders until it expires...
  SetFixedTime(kTestNow.AddSeconds(kOutboxClaimSeconds - 1));
  EXPECT_TRUE(DeliverOutbox().empty());
  // ...then it is delivered again, once, and the pickup file is replaced, not doubled.
  SetFixedTime(kTestNow.AddSeconds(kOutboxClaimSeconds));
  ASSERT_EQ(DeliverOutbox().size(), 1u);
  EXPECT_TRUE(DeliverOutbox().empty());
  EXPECT_EQ(PickupFiles().size(), 1u);
  EXPECT_EQ(CountOutbox().sent, 1);
}

TEST_P(MailOutboxTest, SenderCrashAfterSmtpDeliveryGivesOneRecognisableDuplicate) {
  const char* server = std::getenv("HELIQ_TEST_SMTP");
  const char* maildir = std::getenv("HELIQ_TEST_SMTP_MAILDIR");
  if (server == nullptr || *server == '\0' || maildir == nullptr) {
    GTEST_SKIP() << "HELIQ_TEST_SMTP is not set";
  }
  const std::string address(server);
  const size_t colon = address.rfind(':');
  UseMailSettings("transport = 'smtp'\nsmtp_host = '" + address.substr(0, colon) +
                  "'\nsmtp_port = " + address.substr(colon + 1) + "\nsmtp_timeout = 10\n");
  const std::string subject = "Outbox crash " + std::to_string(getpid()) + " " +
                              (backend() == testing::Backend::kSqlite ? "SQLite" : "PostgreSQL");
  EnqueueCommitted(subject);
  OutboxOptions crashing;
  std::string message_id;
  crashing.send = [&](const MailMessage& message) {
    SendMail(message);
    message_id = message.message_id;
    throw SimulatedCrash{};
  };
  EXPECT_THROW(DeliverOutbox(crashing), SimulatedCrash);
  SetFixedTime(kTestNow.AddSeconds(kOutboxClaimSeconds));
  ASSERT_EQ(DeliverOutbox().size(), 1u);
  EXPECT_TRUE(DeliverOutbox().empty());

  // The server got the mail twice: at most one duplicate, and it carries the same Message-ID.
  std::vector<std::string> arrived;
  for (const auto& file : fs::directory_iterator(fs::path(maildir) / "new")) {
    const std::string text = ReadFile(file.path());
    if (text.find(subject) != std::string::npos) arrived.push_back(text);
  }
  ASSERT_EQ(arrived.size(), 2u);
  for (const std::string& text : arrived) {
    EXPECT_NE(text.find("Message-ID: <" + message_id + "@example.com>"), std::string::npos);
  }
}

INSTANTIATE_DATABASE_TEST_SUITE(MailOutboxTest);

}  // namespace
}  // namespace heliq
