// The maintenance-service stand-ins: what each run changes, what it leaves, that a second run
// changes nothing, and that a failing run keeps the database as it was.
#include "portal/maintenance/maintenance_services.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/com_error.h"
#include "portal/filehandling/file_store.h"
#include "tests/support/database_fixture.h"

namespace heliq {
namespace {

namespace fs = std::filesystem;
using testing::DatabaseTest;
using testing::kTestNow;
using testing::RecordingLog;

constexpr std::string_view kInsertQuestion =
    "INSERT INTO QUESTIONS (Q_ID, Q_STATUS, Q_DATE, EMAILID, Q_DESC) VALUES (?, ?, ?, ?, ?)";
constexpr std::string_view kInsertReminder =
    "INSERT INTO REMINDER (Q_ID, R_STATUS, T1_DATE) VALUES (?, ?, ?)";
constexpr std::string_view kInsertTemplate =
    "INSERT INTO EMAIL (MAIL_ID, MAIL_SUBJECT, MAIL_BODY, MAIL_FROM) VALUES (?, ?, ?, ?)";
constexpr std::string_view kInsertText =
    "INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, ?, ?)";
constexpr std::string_view kInsertParameter =
    "INSERT INTO PARAMETERS (PARAM_NAME, PARAM_TYPE, PARAM_VALUE) VALUES (?, 0, ?)";
constexpr std::string_view kInsertProspect =
    "INSERT INTO PROSPECT (EMAILID, PIN, REGISTEREDTIME, LASTVISITEDTIME, PENDINGQUESTIONS) "
    "VALUES (?, 1234, ?, ?, ?)";
constexpr std::string_view kInsertHistory =
    "INSERT INTO QUESTIONHISTORY (Q_ID, Q_STATUS, Q_DESC, ENDSTATUSTIME) VALUES (?, 180, ?, ?)";
constexpr std::string_view kInsertTransaction =
    "INSERT INTO TRANSACTIONS (Q_ID, T_NAME, T_STATUS, T_DATE) VALUES (?, ?, '180', ?)";
constexpr std::string_view kInsertFaqParameter =
    "INSERT INTO FAQPARAMETER (PARAMNAME, PARAMVALUE) VALUES (?, ?)";
constexpr std::string_view kInsertFaq =
    "INSERT INTO FAQLIST (FAQ_TYPE, FAQ_TITLE, FAQ_DATE) VALUES (0, ?, ?)";

DateTime HoursBefore(int hours) { return kTestNow.AddSeconds(-3600LL * hours); }

// Records the mails a service sends; optionally fails every send.
class MailRecorder {
 public:
  MailSender Sender() {
    return [this](const MailMessage& message) {
      std::lock_guard lock(mutex_);
      if (fail_) throw ComError(err::kMailNotSent, "Mail", "the mail server refused");
      sent_.push_back(message);
    };
  }
  void FailEverySend() { fail_ = true; }
  std::vector<MailMessage> sent() {
    std::lock_guard lock(mutex_);
    return sent_;
  }

 private:
  std::mutex mutex_;
  bool fail_ = false;
  std::vector<MailMessage> sent_;
};

class MaintenanceTest : public DatabaseTest {
 protected:
  void Run(std::string_view class_id) {
    CreateMaintenanceService(class_id, {settings_, mail_.Sender()})->Run();
  }
  // The description of the failure a run raises; fails the test when it succeeds.
  ComError RunFailing(std::string_view class_id) {
    try {
      Run(class_id);
    } catch (const ComError& error) {
      return error;
    }
    ADD_FAILURE() << class_id << " did not fail";
    return ComError(0, "", "");
  }
  void AddTemplate(int32_t id, std::string_view subject, std::string_view body) {
    const std::string prefix = "MAIL" + std::to_string(id);
    Exec(kInsertTemplate, {Variant(id), Variant(prefix + "_SUBJECT"), Variant(prefix + "_BODY"),
                           Variant("desk@example.com")});
    Exec(kInsertText, {Variant(prefix + "_SUBJECT"), Variant(subject)});
    Exec(kInsertText, {Variant(prefix + "_BODY"), Variant(body)});
  }
  std::string LastNote() {
    const auto entries = RecordingLog::Entries();
    return entries.empty() ? "" : entries.back().text;
  }
  // Every table row the services may touch, as text, to compare before and after.
  std::string Snapshot() {
    std::string text;
    for (std::string_view sql :
         {"SELECT Q_ID, Q_STATUS FROM QUESTIONS ORDER BY Q_ID",
          "SELECT Q_ID, R_STATUS, T1_DATE FROM REMINDER ORDER BY Q_ID",
          "SELECT EMAILID FROM PROSPECT ORDER BY EMAILID",
          "SELECT Q_ID FROM QUESTIONHISTORY ORDER BY Q_ID",
          "SELECT Q_ID, T_NAME FROM TRANSACTIONS ORDER BY T_ID",
          "SELECT PARAMNAME, PARAMVALUE FROM FAQPARAMETER ORDER BY PARAMNAME"}) {
      for (const auto& row : Rows(sql).rows) {
        for (const auto& value : row) text += value.ToTextOrEmpty() + "|";
        text += "\n";
      }
    }
    return text;
  }

  MaintenanceSettings settings_;
  MailRecorder mail_;
};

// Files and folders under the store root, relative, sorted.
std::set<std::string> StoreListing() {
  std::set<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(FileStoreRoot())) {
    names.insert(fs::relative(entry.path(), FileStoreRoot()).generic_string());
  }
  return names;
}

void Touch(const fs::path& file) {
  fs::create_directories(file.parent_path());
  std::ofstream(file) << "x";
}

// Real file times are years after the fixed test clock; "old" ones are set decades back.
void MakeOld(const fs::path& path) {
  fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(24 * 365 * 30));
}

TEST_P(MaintenanceTest, CleanupDeletesOnlyOldUnregisteredRequestsAndStaleStoreEntries) {
  Exec(kInsertQuestion, {Variant(1), Variant(0), Variant(HoursBefore(25)), Variant("a@x.com"),
                         Variant("abandoned")});
  Exec(kInsertQuestion, {Variant(2), Variant(0), Variant(HoursBefore(23)), Variant("b@x.com"),
                         Variant("still being written")});
  Exec(kInsertQuestion, {Variant(3), Variant(5), Variant(HoursBefore(400)), Variant("c@x.com"),
                         Variant("registered")});
  Exec(kInsertQuestion, {Variant(4), Variant(0), Variant::Null(), Variant("d@x.com"),
                         Variant("no date: age unknown")});
  Exec(kInsertReminder, {Variant(1), Variant("0"), Variant(HoursBefore(25))});
  Exec(kInsertReminder, {Variant(3), Variant("5"), Variant(HoursBefore(400))});
  Exec(kInsertHistory, {Variant(97), Variant("closed"), Variant(HoursBefore(50))});

  const fs::path root = FileStoreRoot();
  Touch(root / "1" / "incoming" / "draft.txt");  // abandoned request: goes whatever its age
  Touch(root / "3" / "T7" / "answer.txt");       // registered request: stays
  Touch(root / "3" / "T7" / ".answer.txt.1.0.tmp");
  Touch(root / "3" / ".young.txt.1.1.tmp");  // too young
  fs::create_directories(root / "3" / "incoming");
  Touch(root / "97" / "T1" / "closed.txt");  // archived request: stays
  Touch(root / "99" / "orphan.txt");         // no such request
  Touch(root / "98" / "young-orphan.txt");
  Touch(root / "faq" / "1" / "entry.txt");  // not a request folder
  MakeOld(root / "3" / "T7" / ".answer.txt.1.0.tmp");
  for (const char* folder : {"3/incoming", "97", "99", "faq"}) MakeOld(root / folder);

  Run(kCleanupServiceId);

  EXPECT_EQ(Rows("SELECT Q_ID FROM QUESTIONS ORDER BY Q_ID").rows.size(), 3u);
  EXPECT_EQ(Value("SELECT COUNT(*) FROM QUESTIONS WHERE Q_ID = 1").ToLong(), 0);
  EXPECT_EQ(Value("SELECT COUNT(*) FROM REMINDER WHERE Q_ID = 1").ToLong(), 0);
  EXPECT_EQ(Value("SELECT COUNT(*) FROM REMINDER WHERE Q_ID = 3").ToLong(), 1);
  EXPECT_EQ(StoreListing(),
            (std::set<std::string>{"3", "3/.young.txt.1.1.tmp", "3/T7", "3/T7/answer.txt", "97",
                                   "97/T1", "97/T1/closed.txt", "98", "98/young-orphan.txt", "faq",
                                   "faq/1", "faq/1/entry.txt"}));
  EXPECT_NE(LastNote().find("deleted 1 unregistered request(s)"), std::string::npos) << LastNote();
  EXPECT_NE(LastNote().find("(1)"), std::string::npos) << LastNote();

  const std::string rows = Snapshot();
  const auto files = StoreListing();
  Run(kCleanupServiceId);
  EXPECT_EQ(Snapshot(), rows);
  EXPECT_EQ(StoreListing(), files);
  EXPECT_NE(LastNote().find("deleted 0 unregistered"), std::string::npos) << LastNote();
}

class ReminderTest : public MaintenanceTest {
 protected:
  void SetUp() override {
    MaintenanceTest::SetUp();
    if (IsSkipped()) return;
    Exec(kInsertParameter, {Variant("Reminder_Time"), Variant("72")});
    AddTemplate(settings_.reminder_mail_id, "Answered", "Did the answer help?");
    // Due, mailed.
    Exec(kInsertQuestion, {Variant(10), Variant(150), Variant(HoursBefore(100)),
                           Variant("due@x.com"), Variant("printer jams")});
    Exec(kInsertReminder, {Variant(10), Variant("150"), Variant(HoursBefore(1))});
    // Not yet due; concluded meanwhile; no address: all left alone.
    Exec(kInsertQuestion, {Variant(11), Variant(150), Variant(HoursBefore(100)),
                           Variant("later@x.com"), Variant("later")});
    Exec(kInsertReminder, {Variant(11), Variant("150"), Variant(kTestNow.AddSeconds(60))});
    Exec(kInsertQuestion, {Variant(12), Variant(160), Variant(HoursBefore(100)),
                           Variant("done@x.com"), Variant("concluded")});
    Exec(kInsertReminder, {Variant(12), Variant("150"), Variant(HoursBefore(1))});
    Exec(kInsertQuestion,
         {Variant(13), Variant(150), Variant(HoursBefore(100)), Variant(""), Variant("anonymous")});
    Exec(kInsertReminder, {Variant(13), Variant("150"), Variant(HoursBefore(1))});
  }
  Variant TimerOf(int32_t id) {
    return Value("SELECT T1_DATE FROM REMINDER WHERE Q_ID = ?", {Variant(id)});
  }
};

TEST_P(ReminderTest, MailsDueCustomersOnceAndRestartsTheirTimer) {
  Run(kReminderServiceId);

  const auto sent = mail_.sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].to, std::vector<std::string>{"due@x.com"});
  EXPECT_EQ(sent[0].from, "desk@example.com");
  EXPECT_EQ(sent[0].subject, "Answered");
  EXPECT_NE(sent[0].body.find("Did the answer help?"), std::string::npos);
  EXPECT_NE(sent[0].body.find("Service request 10: printer jams"), std::string::npos);
  EXPECT_EQ(TimerOf(10), Variant(kTestNow.AddSeconds(72 * 3600)));
  EXPECT_EQ(TimerOf(11), Variant(kTestNow.AddSeconds(60)));
  EXPECT_EQ(TimerOf(12), Variant(HoursBefore(1)));
  EXPECT_EQ(TimerOf(13), Variant(HoursBefore(1)));
  EXPECT_NE(LastNote().find("no customer address for request(s) 13"), std::string::npos);

  const std::string rows = Snapshot();
  Run(kReminderServiceId);
  EXPECT_EQ(mail_.sent().size(), 1u);
  EXPECT_EQ(Snapshot(), rows);
}

TEST_P(ReminderTest, FailedMailOrMissingTemplateKeepsTheTimer) {
  const std::string before = Snapshot();
  mail_.FailEverySend();
  const ComError refused = RunFailing(kReminderServiceId);
  EXPECT_EQ(refused.number(), err::kMailNotSent);
  EXPECT_NE(refused.description().find("HeliqServices.Reminder.Run"), std::string::npos);
  EXPECT_EQ(Snapshot(), before);
  EXPECT_EQ(RecordingLog::Entries().back().level, 0);  // the failure is logged as an error

  settings_.reminder_mail_id = 77;
  EXPECT_EQ(RunFailing(kReminderServiceId).number(), err::kItemNotFound);
  Exec("UPDATE PARAMETERS SET PARAM_VALUE = 'soon' WHERE PARAM_NAME = 'Reminder_Time'");
  EXPECT_EQ(RunFailing(kReminderServiceId).number(), err::kTypeMismatch);
  EXPECT_EQ(Snapshot(), before);
}

// Two runs at once (panel and schedule) remind each customer once.
TEST_P(ReminderTest, ConcurrentRunsMailEachCustomerOnce) {
  std::vector<std::thread> runs;
  for (int i = 0; i < 2; ++i) runs.emplace_back([this] { Run(kReminderServiceId); });
  for (auto& run : runs) run.join();
  EXPECT_EQ(mail_.sent().size(), 1u);
}

TEST_P(MaintenanceTest, DormantExpiryDeletesOnlyIdleProspectsWithNothingPending) {
  const DateTime old = kTestNow.AddSeconds(-86400LL * 200);
  const DateTime recent = kTestNow.AddSeconds(-86400LL * 10);
  auto add = [&](std::string_view email, const Variant& visited, int32_t pending) {
    Exec(kInsertProspect, {Variant(email), Variant(old), visited, Variant(pending)});
  };
  add("idle@x.com", Variant(old), 0);
  add("negative@x.com", Variant(old), -1);         // the count may drop below zero
  add("never-visited@x.com", Variant::Null(), 0);  // registration time counts then
  add("pending@x.com", Variant(old), 1);
  add("recent@x.com", Variant(recent), 0);
  add("open-request@x.com", Variant(old), 0);
  Exec(kInsertQuestion, {Variant(30), Variant(25), Variant(old), Variant("open-request@x.com"),
                         Variant("still open")});

  Run(kDormantExpiryServiceId);

  std::vector<std::string> left;
  for (const auto& row : Rows("SELECT EMAILID FROM PROSPECT ORDER BY EMAILID").rows) {
    left.push_back(row[0].ToText());
  }
  EXPECT_EQ(left,
            (std::vector<std::string>{"open-request@x.com", "pending@x.com", "recent@x.com"}));
  EXPECT_NE(LastNote().find("expired 3 prospect(s)"), std::string::npos) << LastNote();

  const std::string rows = Snapshot();
  Run(kDormantExpiryServiceId);
  EXPECT_EQ(Snapshot(), rows);
}

TEST_P(MaintenanceTest, ArchiveMovesOldEndedRequestsWithTheirLogIntoAFile) {
  const DateTime old = kTestNow.AddSeconds(-86400LL * 400);
  Exec(kInsertHistory, {Variant(20), Variant("ended long ago"), Variant(old)});
  Exec(kInsertTransaction, {Variant(20), Variant("Register"), Variant(old)});
  Exec(kInsertTransaction, {Variant(20), Variant("Close"), Variant(old)});
  Exec(kInsertHistory, {Variant(21), Variant("ended lately"), Variant(HoursBefore(24))});
  Exec(kInsertTransaction, {Variant(21), Variant("Close"), Variant(HoursBefore(24))});
  // Archived long ago, but the number is active again: its log is still in use.
  Exec(kInsertHistory, {Variant(22), Variant("copy"), Variant(old)});
  Exec(kInsertQuestion,
       {Variant(22), Variant(25), Variant(old), Variant("e@x.com"), Variant("active")});
  Exec(kInsertTransaction, {Variant(22), Variant("Take"), Variant(old)});

  const fs::path folder = install_dir() / "var" / "archive";
  settings_.archive_dir = "var/readonly/archive";
  Touch(install_dir() / "var" / "readonly");  // a file where the folder should be
  const std::string before = Snapshot();
  EXPECT_EQ(RunFailing(kArchiveServiceId).number(), err::kPathFileAccess);
  EXPECT_EQ(Snapshot(), before);

  settings_.archive_dir = "var/archive";
  Run(kArchiveServiceId);

  EXPECT_EQ(Value("SELECT COUNT(*) FROM QUESTIONHISTORY WHERE Q_ID = 20").ToLong(), 0);
  EXPECT_EQ(Value("SELECT COUNT(*) FROM TRANSACTIONS WHERE Q_ID = 20").ToLong(), 0);
  EXPECT_EQ(Value("SELECT COUNT(*) FROM QUESTIONHISTORY").ToLong(), 2);
  EXPECT_EQ(Value("SELECT COUNT(*) FROM TRANSACTIONS").ToLong(), 2);
  std::vector<fs::path> files(fs::directory_iterator(folder), fs::directory_iterator{});
  ASSERT_EQ(files.size(), 1u);
  std::ifstream in(files[0]);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find(R"("table":"QUESTIONHISTORY")"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("ended long ago"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find(R"("table":"TRANSACTIONS")"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("Close"), std::string::npos) << lines[2];

  const std::string rows = Snapshot();
  Run(kArchiveServiceId);
  EXPECT_EQ(Snapshot(), rows);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator{}), 1);
}

class FaqNotifyTest : public MaintenanceTest {
 protected:
  void SetUp() override {
    MaintenanceTest::SetUp();
    if (IsSkipped()) return;
    AddTemplate(settings_.faq_notify_mail_id, "FAQ news", "New entries:");
    Exec(kInsertFaqParameter, {Variant("MAILNOTIFY"), Variant("Yes")});
    Exec(kInsertFaqParameter,
         {Variant("SUBSCRIBERS_MAILNOTIFY"), Variant(" one@x.com ;two@x.com;; ")});
    Exec(kInsertFaq, {Variant("Paper jam"), Variant(HoursBefore(48))});
    Exec(kInsertFaq, {Variant("Toner empty"), Variant(HoursBefore(2))});
    Exec(kInsertFaq, {Variant("Scheduled entry"), Variant(kTestNow.AddSeconds(3600))});
  }
  Variant LastRun() {
    return Value("SELECT PARAMVALUE FROM FAQPARAMETER WHERE PARAMNAME = 'LASTRUN_MAILNOTIFY'");
  }
};

TEST_P(FaqNotifyTest, MailsEachSubscriberTheNewEntriesOnce) {
  Run(kFaqNotifyServiceId);
  auto sent = mail_.sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].to, std::vector<std::string>{"one@x.com"});
  EXPECT_EQ(sent[1].to, std::vector<std::string>{"two@x.com"});
  EXPECT_EQ(sent[0].subject, "FAQ news");
  EXPECT_NE(sent[0].body.find("Paper jam"), std::string::npos);
  EXPECT_NE(sent[0].body.find("Toner empty"), std::string::npos);
  EXPECT_EQ(sent[0].body.find("Scheduled entry"), std::string::npos);
  EXPECT_EQ(LastRun(), Variant(kTestNow.ToText()));

  Run(kFaqNotifyServiceId);
  EXPECT_EQ(mail_.sent().size(), 2u);

  // An entry added after the last notice is the only one in the next.
  Exec(kInsertFaq, {Variant("Driver update"), Variant(kTestNow)});
  Exec("UPDATE FAQPARAMETER SET PARAMVALUE = ? WHERE PARAMNAME = 'LASTRUN_MAILNOTIFY'",
       {Variant(HoursBefore(1).ToText())});
  Run(kFaqNotifyServiceId);
  sent = mail_.sent();
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_NE(sent[3].body.find("Driver update"), std::string::npos);
  EXPECT_EQ(sent[3].body.find("Toner empty"), std::string::npos);
}

TEST_P(FaqNotifyTest, SwitchedOffOrFailedMailLeavesTheMarkAlone) {
  Exec("UPDATE FAQPARAMETER SET PARAMVALUE = 'yes' WHERE PARAMNAME = 'MAILNOTIFY'");
  Run(kFaqNotifyServiceId);  // only "Yes" exactly switches it on
  EXPECT_TRUE(mail_.sent().empty());
  EXPECT_TRUE(LastRun().IsEmpty());
  EXPECT_NE(LastNote().find("switched off"), std::string::npos) << LastNote();

  Exec("UPDATE FAQPARAMETER SET PARAMVALUE = 'Yes' WHERE PARAMNAME = 'MAILNOTIFY'");
  mail_.FailEverySend();
  EXPECT_EQ(RunFailing(kFaqNotifyServiceId).number(), err::kMailNotSent);
  EXPECT_TRUE(LastRun().IsEmpty());
}

INSTANTIATE_DATABASE_TEST_SUITE(MaintenanceTest);
INSTANTIATE_DATABASE_TEST_SUITE(ReminderTest);
INSTANTIATE_DATABASE_TEST_SUITE(FaqNotifyTest);

}  // namespace
}  // namespace heliq
