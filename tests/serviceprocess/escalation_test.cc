#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "common/directory.h"
#include "common/heliq_utilities.h"
#include "common/mail_outbox.h"
#include "platform/com_error.h"
#include "platform/configuration.h"
#include "platform/object_context.h"
#include "platform/operation_table.h"
#include "serviceprocess/solve_on_no_response.h"
#include "servicerequest/question/question.h"
#include "tests/support/database_fixture.h"
#include "tests/support/ldap_directory.h"

namespace heliq {
namespace {

using testing::kTestNow;
using testing::RecordingLog;

std::string S(size_t n) { return std::string(n, ' '); }
std::string D(size_t n) { return std::string(n, '-'); }

// The demo's labels with the priority column (back office 3).
const std::string kTitles = "Request no.  Customer" + S(17) + "Priority  Description";
const std::string kRuler = D(15) + S(2) + D(17);
const std::string kPlainHeader =
    kTitles + "\r\n\r\n" + kRuler + S(16) + D(8) + S(2) + D(8) + "\r\n";
const std::string kSupervisorHeader = "Login" + S(27) + kTitles + "\r\n\r\n" + D(5) + S(27) +
                                      kRuler + S(17) + D(8) + S(2) + D(8) + "\r\n";
const std::string kSpringfield = "Springfield Office Supplies" + S(7);  // cust1's partner, 34 wide

const std::vector<std::string> kDispatchersAndSupervisors = {
    "dispatch1@servicedesk.example.com", "dispatch2@servicedesk.example.com",
    "super1@servicedesk.example.com", "super2@servicedesk.example.com"};
const std::vector<std::string> kSupervisors = {"super1@servicedesk.example.com",
                                               "super2@servicedesk.example.com"};

class RecordingMailer : public EscalationMailer {
 public:
  RecordingMailer(std::vector<MailMessage>* sent, bool fail, std::function<void()> on_send = {})
      : sent_(sent), fail_(fail), on_send_(std::move(on_send)) {}
  void Send(const MailMessage& message) override {
    if (on_send_) on_send_();
    // As the transport does, a mail without recipients, or with one that is no address, is
    // refused as a whole.
    bool malformed = false;
    for (const auto& address : message.to) malformed |= address.find('@') == std::string::npos;
    if (fail_ || message.to.empty() || malformed) {
      throw ComError(err::kMailNotSent, "Mail", "not sent");
    }
    sent_->push_back(message);
  }

 private:
  std::vector<MailMessage>* sent_;
  bool fail_;
  std::function<void()> on_send_;
};

DateTime HoursAgo(int hours, int extra_seconds = 0) {
  return kTestNow.AddSeconds(-(hours * 3600 + extra_seconds));
}

class EscalationTest : public testing::DatabaseTest {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    if (IsSkipped()) return;
    LoadDemoData();
  }

  // A request of `center` whose reminder timer of `status` started at `started`.
  void Add(int id, int center, const std::string& engineer, const std::string& status,
           const DateTime& started, const std::string& originator = "cust1") {
    Exec(
        "INSERT INTO QUESTIONS (Q_ID, Q_STATUS, CENTER, Q_DESC, Q_ORIGINATOR, Q_PRIORITY, "
        "OSVREQUESTED, D_DIRECT_TO) VALUES (?, ?, ?, ?, ?, 2, 1, ?)",
        {Variant(id), Variant(std::stoi(status)), Variant(center),
         Variant("Request " + std::to_string(id)), Variant(originator),
         engineer.empty() ? Variant::Null() : Variant(engineer)});
    Exec("INSERT INTO REMINDER (Q_ID, R_STATUS, T1_DATE) VALUES (?, ?, ?)",
         {Variant(id), Variant(status), Variant(started)});
  }
  void SetParameter(const std::string& name, const std::string& value) {
    Exec("DELETE FROM PARAMETERS WHERE PARAM_NAME = ?", {Variant(name)});
    Exec("INSERT INTO PARAMETERS (PARAM_NAME, PARAM_TYPE, PARAM_VALUE) VALUES (?, 0, ?)",
         {Variant(name), Variant(value)});
  }
  void SetSwitches(int dispatcher, int engineer, int supervisor) {
    SetParameter("Dispatcher_EscalationMail", std::to_string(dispatcher));
    SetParameter("Engineer_EscalationMail", std::to_string(engineer));
    SetParameter("Supervisor_EscalationMail", std::to_string(supervisor));
  }
  // The embedded directory's own database.
  PooledSession Directory() {
    return SessionPool::For(SettingValue("connections", "Directory"), install_dir().string())
        ->Acquire();
  }
  void Escalate(bool mail_fails = false) {
    RunUnitOfWork([&] {
      SolveOnNoResponse(std::make_unique<RecordingMailer>(&mails_, mail_fails, on_send_))
          .SendingEscalationMails();
    });
  }
  // Requests whose timer still runs, in order.
  std::vector<int32_t> Running() {
    std::vector<int32_t> ids;
    for (const auto& row :
         Rows("SELECT Q_ID FROM REMINDER WHERE T1_DATE IS NOT NULL ORDER BY Q_ID").rows) {
      ids.push_back(row[0].ToLong());
    }
    return ids;
  }

  // The demo installation: one mail per audience, laid out character for character; the mailed
  // requests escalate once, and again only after a status change restarts their timer.
  void DemoRunMailsEachAudienceOnceUntilTheTimerRestarts() {
    Add(101, 1, "", "5", HoursAgo(4, 1));        // unassigned, one second overdue
    Add(102, 1, "", "5", HoursAgo(4));           // deadline == now: not overdue
    Add(103, 2, "sce1", "5", HoursAgo(8, 1));    // support centre, still queued
    Add(104, 1, "cce1", "15", HoursAgo(24, 1));  // assigned
    Add(106, 2, "sce2", "25", HoursAgo(48, 1), "cust3");
    Add(107, 4, "", "5", HoursAgo(100));  // no centre that escalates
    Add(108, 1, "", "5", HoursAgo(100));
    Exec("UPDATE REMINDER SET R_STATUS = '180' WHERE Q_ID = 108");  // not a watched status

    Escalate();
    ASSERT_EQ(mails_.size(), 4u);
    const MailMessage& dispatch = mails_[0];
    EXPECT_EQ(dispatch.from, "servicedesk@example.com");
    EXPECT_EQ(dispatch.to, kDispatchersAndSupervisors);
    EXPECT_EQ(dispatch.subject, "Service requests waiting for dispatch");
    EXPECT_EQ(dispatch.body,
              "The following service requests have waited longer than agreed without an engineer. "
              "Please dispatch them.\r\n" +
                  kPlainHeader + "\r\n101" + S(13) + kSpringfield + "2" + S(9) + "Request 101" +
                  "\r\n103" + S(13) + kSpringfield + "2" + S(9) + "Request 103" +
                  "\r\n\r\nhttp://servicedesk.example.com/heliq/dispatch");
    EXPECT_EQ(mails_[1].to, std::vector<std::string>{"cce1@servicedesk.example.com"});
    EXPECT_EQ(mails_[1].subject, "Your service requests are overdue");
    EXPECT_EQ(mails_[1].body,
              "The following service requests assigned to you have waited longer than agreed. "
              "Please take care of them.\r\n" +
                  kPlainHeader + "\r\n104" + S(13) + kSpringfield + "2" + S(9) + "Request 104" +
                  "\r\n\r\nhttp://servicedesk.example.com/heliq/myrequests");
    EXPECT_EQ(mails_[2].to, std::vector<std::string>{"sce2@servicedesk.example.com"});
    EXPECT_NE(mails_[2].body.find("\r\n106" + S(13) + "Munich Networks GmbH" + S(14) + "2" + S(9) +
                                  "Request 106\r\n"),
              std::string::npos);
    EXPECT_EQ(mails_[3].to, kSupervisors);
    EXPECT_EQ(mails_[3].body,
              "The following assigned service requests have waited longer than agreed, listed by "
              "engineer.\r\n" +
                  kSupervisorHeader + "cce1\r\n" + S(32) + "104" + S(13) + kSpringfield + "2" +
                  S(9) + "Request 104\r\nsce2\r\n" + S(32) + "106" + S(13) +
                  "Munich Networks GmbH" + S(14) + "2" + S(9) + "Request 106" +
                  "\r\n\r\nhttp://servicedesk.example.com/heliq/overview");
    EXPECT_EQ(Running(), (std::vector<int32_t>{102, 107, 108}));

    mails_.clear();
    Escalate();
    EXPECT_TRUE(mails_.empty());

    // Taking the request in hand restarts its timer; a day later it is overdue again.
    RunUnitOfWork([] {
      auto details = Dictionary::Create();
      details->Set("Q_ID", Variant(104));
      details->Set("T_NAME", Variant("cce1"));
      GetComponentAs<Question>(kQuestionClassId)->TakeInHand(details);
    });
    SetFixedTime(kTestNow.AddSeconds(24 * 3600 + 1));
    Escalate();
    ASSERT_EQ(mails_.size(), 3u);  // dispatchers (102, now overdue), cce1, supervisors
    EXPECT_NE(mails_[1].body.find("\r\n104" + S(13)), std::string::npos);
    EXPECT_EQ(Running(), (std::vector<int32_t>{107, 108}));
  }

  void SwitchesChooseAudiencesAndWhatIsCleared() {
    Add(1, 1, "", "5", HoursAgo(5));
    Add(2, 1, "cce2", "25", HoursAgo(25));
    for (const char* off : {"", "0", "2"}) {
      SetParameter("Escalation_mail", off);
      if (*off == '\0') Exec("DELETE FROM PARAMETERS WHERE PARAM_NAME = 'Escalation_mail'");
      Escalate();
      EXPECT_TRUE(mails_.empty()) << "Escalation_mail '" << off << "'";
    }
    SetParameter("Escalation_mail", "1");
    SetSwitches(0, 0, 0);
    Escalate();
    EXPECT_TRUE(mails_.empty());
    EXPECT_EQ(Running(), (std::vector<int32_t>{1, 2}));

    // Engineers only: the unassigned request is never listed and keeps its timer.
    SetSwitches(0, 1, 0);
    Escalate();
    ASSERT_EQ(mails_.size(), 1u);
    EXPECT_EQ(mails_[0].to, std::vector<std::string>{"cce2@servicedesk.example.com"});
    EXPECT_EQ(Running(), std::vector<int32_t>{1});

    // Supervisors only: the dispatcher table goes to the supervisors alone.
    Exec("UPDATE REMINDER SET T1_DATE = ?", {Variant(HoursAgo(25))});
    mails_.clear();
    SetSwitches(0, 0, 1);
    Escalate();
    ASSERT_EQ(mails_.size(), 2u);
    EXPECT_EQ(mails_[0].to, kSupervisors);
    EXPECT_EQ(mails_[0].subject, "Service requests waiting for dispatch");
    EXPECT_EQ(mails_[1].subject, "Overdue service requests by engineer");
    EXPECT_TRUE(Running().empty());
  }

  std::vector<MailMessage> mails_;
  std::function<void()> on_send_;  // runs while the run is between its select and its clearing
};

// Each run reads dispatchers, supervisors, engineers and partners from the directory: the
// embedded one and slapd give the same mails.
TEST_P(EscalationTest, DemoRunMailsEachAudienceOnceUntilTheTimerRestarts) {
  DemoRunMailsEachAudienceOnceUntilTheTimerRestarts();
}

TEST_P(EscalationTest, DemoRunMailsEachAudienceOnceFromTheLdapDirectory) {
  if (!testing::UseDirectory(testing::DirectoryKind::kLdap)) {
    GTEST_SKIP() << "HELIQ_TEST_LDAP is not set";
  }
  DemoRunMailsEachAudienceOnceUntilTheTimerRestarts();
}

TEST_P(EscalationTest, SwitchesChooseAudiencesAndWhatIsCleared) {
  SwitchesChooseAudiencesAndWhatIsCleared();
}

TEST_P(EscalationTest, SwitchesChooseAudiencesFromTheLdapDirectory) {
  if (!testing::UseDirectory(testing::DirectoryKind::kLdap)) {
    GTEST_SKIP() << "HELIQ_TEST_LDAP is not set";
  }
  SwitchesChooseAudiencesAndWhatIsCleared();
}

// Two templates of one type: the higher Mail_Id wins. A template text without a DATALABEL text
// for the language is empty; a label without a text shows as its code.
TEST_P(EscalationTest, TemplatesAndLabelsFallBackWithoutFailingTheRun) {
  Exec(
      "INSERT INTO EMAIL (MAIL_ID, MAIL_SUBJECT, MAIL_BODY, MAIL_HYPERLINK, MAIL_TYPE, MAIL_FROM) "
      "VALUES (40, 'NO_SUCH_TEXT', 'MAIL30_BODY', ' http://x ', 30, ' boss@example.com ')");
  Exec("DELETE FROM I18NTEXT WHERE LABEL = 'HQLBL3193'");
  Add(2, 1, "cce2", "25", HoursAgo(25));
  SetSwitches(0, 1, 0);
  Escalate();
  ASSERT_EQ(mails_.size(), 1u);
  EXPECT_EQ(mails_[0].from, "boss@example.com");
  EXPECT_EQ(mails_[0].subject, "");
  EXPECT_NE(mails_[0].body.find("Customer" + S(17) + "HQLBL3193  Description"), std::string::npos);
  EXPECT_EQ(mails_[0].body.substr(mails_[0].body.size() - 12), "\r\n\r\nhttp://x");

  // No label text at all for the language: nothing is mailed and nothing cleared.
  Exec("UPDATE REMINDER SET T1_DATE = ?", {Variant(HoursAgo(25))});
  Exec("DELETE FROM I18NTEXT WHERE LABEL LIKE 'HQLBL%'");
  mails_.clear();
  Escalate();
  EXPECT_TRUE(mails_.empty());
  EXPECT_EQ(Running(), std::vector<int32_t>{2});
}

// Logins sort without regard to case and blanks, then by request number as text; mails are
// grouped by the exact login.
TEST_P(EscalationTest, EngineerRowsSortByLoginThenRequestNumberAsText) {
  auto directory = Directory();
  for (const char* login : {"alice", "bob"}) {
    directory->Execute("INSERT INTO DIR_USER (LOGIN, MAIL) VALUES (?, ?)",
                       {Variant(login), Variant(std::string(login) + "@example.com")});
    directory->Execute("INSERT INTO DIR_USER_ROLE (LOGIN, ROLE_ID) VALUES (?, 32)",
                       {Variant(login)});
  }
  Add(300, 1, " bob ", "25", HoursAgo(25));
  Add(201, 1, "Alice", "25", HoursAgo(25));
  Add(100, 1, "alice", "25", HoursAgo(25));
  Add(99, 1, "Alice", "25", HoursAgo(25));
  SetSwitches(0, 1, 1);
  Escalate();
  ASSERT_EQ(mails_.size(), 4u);
  EXPECT_EQ(mails_[0].to, std::vector<std::string>{"alice@example.com"});
  EXPECT_NE(mails_[0].body.find("\r\n100 "), std::string::npos);
  EXPECT_EQ(mails_[1].to, std::vector<std::string>{"alice@example.com"});
  EXPECT_LT(mails_[1].body.find("\r\n201 "), mails_[1].body.find("\r\n99 "));
  EXPECT_EQ(mails_[2].to, std::vector<std::string>{"bob@example.com"});
  const std::string& overview = mails_[3].body;
  EXPECT_NE(overview.find("alice\r\n" + S(32) + "100 "), std::string::npos);
  EXPECT_NE(overview.find("\r\nAlice\r\n" + S(32) + "201 "), std::string::npos);
  EXPECT_LT(overview.find(S(32) + "201 "), overview.find(S(32) + "99 "));
  EXPECT_NE(overview.find("\r\nbob\r\n" + S(32) + "300 "), std::string::npos);
}

// Mails that cannot go out are logged with their recipients and requests; the timers are cleared
// all the same, so the run does not mail the same table again and again.
TEST_P(EscalationTest, UndeliverableMailsAreLoggedAndStillCleared) {
  ScopedRegistration no_directory(std::string(kMembershipMembersClassId),
                                  []() -> std::unique_ptr<Component> {
                                    throw ComError(err::kDbConnection, "Directory", "down");
                                  });
  Add(7, 1, "", "5", HoursAgo(5));
  Add(8, 1, "cce1", "25", HoursAgo(25));
  SetSwitches(1, 1, 0);
  Escalate();
  EXPECT_TRUE(mails_.empty());  // no members: no recipients at all
  EXPECT_TRUE(Running().empty());
  const std::string kSendSource = "HlqServiceProcess.Solveonnoresponse.SendEscalaltionMail";
  bool bind_logged = false, dispatcher_logged = false, engineer_logged = false;
  for (const auto& entry : RecordingLog::Entries()) {
    const std::string& text = entry.text;
    const bool send = text.rfind(kSendSource, 0) == 0;
    bind_logged |=
        text.rfind("HlqServiceProcess.Solveonnoresponse.getMembersObject caught: ", 0) == 0;
    dispatcher_logged |= send && text.find("recipients: \"\", requests: 7") != std::string::npos;
    engineer_logged |= send && text.find("requests: 8") != std::string::npos;
  }
  EXPECT_TRUE(bind_logged);
  EXPECT_TRUE(dispatcher_logged);
  EXPECT_TRUE(engineer_logged);
}

// One malformed address costs only its owner the mail: the others get it, and the refused
// address is logged with the requests. A mail left with no valid recipient is unsendable.
TEST_P(EscalationTest, MalformedRecipientIsLeftOutAndLoggedWithTheRequests) {
  Directory()->Execute("UPDATE DIR_USER SET MAIL = 'not-an-address' WHERE LOGIN = 'dispatch2'", {});
  Directory()->Execute("UPDATE DIR_USER SET MAIL = 'cce2 at home' WHERE LOGIN = 'cce2'", {});
  Add(7, 1, "", "5", HoursAgo(5));
  Add(9, 1, "", "5", HoursAgo(6));
  Add(8, 1, "cce2", "25", HoursAgo(25));
  SetSwitches(1, 1, 0);
  Escalate();
  ASSERT_EQ(mails_.size(), 1u);
  EXPECT_EQ(mails_[0].to, (std::vector<std::string>{"dispatch1@servicedesk.example.com"}));
  EXPECT_TRUE(Running().empty());
  const std::string kSendSource = "HlqServiceProcess.Solveonnoresponse.SendEscalaltionMail";
  std::vector<std::string> refused;
  bool engineer_unsendable = false;
  for (const auto& entry : RecordingLog::Entries()) {
    if (entry.text.rfind(kSendSource, 0) != 0) continue;
    if (entry.text.find("left out a recipient") != std::string::npos) {
      refused.push_back(entry.text);
    } else {
      engineer_unsendable |= entry.text.find("requests: 8") != std::string::npos;
    }
  }
  ASSERT_EQ(refused.size(), 2u);
  EXPECT_NE(refused[0].find("\"not-an-address\""), std::string::npos) << refused[0];
  EXPECT_NE(refused[0].find("requests: 7 9"), std::string::npos) << refused[0];
  EXPECT_NE(refused[1].find("\"cce2 at home\""), std::string::npos) << refused[1];
  EXPECT_NE(refused[1].find("requests: 8"), std::string::npos) << refused[1];
  EXPECT_TRUE(engineer_unsendable) << "the engineer's mail had no valid recipient left";
}

// A timer is cleared at whole seconds whatever form it was stored in.
TEST_P(EscalationTest, TimersStoredWithFractionsOrATSeparatorAreCleared) {
  Add(7, 1, "", "5", HoursAgo(5));
  Add(8, 1, "", "5", HoursAgo(6));
  const std::string fraction = HoursAgo(5).ToText() + ".750";
  std::string separated = HoursAgo(6).ToText();
  separated[10] = 'T';
  if (backend() == testing::Backend::kSqlite) {
    Exec("UPDATE REMINDER SET T1_DATE = ? WHERE Q_ID = 7", {Variant(fraction)});
    Exec("UPDATE REMINDER SET T1_DATE = ? WHERE Q_ID = 8", {Variant(separated + ".1")});
  } else {
    Exec("UPDATE REMINDER SET T1_DATE = T1_DATE + interval '0.75 second'");
  }
  SetSwitches(1, 0, 0);
  Escalate();
  ASSERT_EQ(mails_.size(), 1u);
  EXPECT_TRUE(Running().empty());
  mails_.clear();
  Escalate();
  EXPECT_TRUE(mails_.empty()) << "mailed again";
}

TEST_P(EscalationTest, BadSettingEndsTheRunWithNothingMailedOrCleared) {
  Add(7, 1, "", "5", HoursAgo(5));
  SetParameter("MaxHours_Registered", "four");
  try {
    Escalate();
    FAIL() << "the run should fail";
  } catch (const ComError& error) {
    EXPECT_EQ(error.number(), err::kTypeMismatch);
  }
  EXPECT_TRUE(mails_.empty());
  EXPECT_EQ(Running(), std::vector<int32_t>{7});
}

// A status change committed while a run is mailing restarts the timer; the run's clearing must
// not stop the new timer. (On SQLite the run holds the write lock, so no change can come between.)
TEST_P(EscalationTest, TimerRestartedDuringTheRunKeepsRunning) {
  if (backend() == testing::Backend::kSqlite) GTEST_SKIP() << "writers are serialised";
  Add(7, 1, "", "5", HoursAgo(5));
  Add(8, 1, "", "5", HoursAgo(6));
  SetSwitches(1, 0, 0);
  on_send_ = [&] {
    Exec("UPDATE REMINDER SET R_STATUS = '15', T1_DATE = ? WHERE Q_ID = 8", {Variant(kTestNow)});
  };
  Escalate();
  ASSERT_EQ(mails_.size(), 1u);
  EXPECT_EQ(Running(), std::vector<int32_t>{8});
}

// Thousands of requests are cleared in one run on every database.
TEST_P(EscalationTest, ThousandsOfOverdueRequestsClearInOneRun) {
  db().Begin(true);
  for (int id = 1; id <= 3000; ++id) Add(id, 1, "", "5", HoursAgo(5));
  db().Commit();
  SetSwitches(1, 0, 0);
  Escalate();
  ASSERT_EQ(mails_.size(), 1u);
  EXPECT_TRUE(Running().empty());
}

TEST_P(EscalationTest, PublicHelpersAndTheirTableRows) {
  SolveOnNoResponse escalation(std::make_unique<RecordingMailer>(&mails_, false));
  const std::vector<std::string> labels = {"Desc", "No.", "Prio", "Yes", "No", "Cust", "Visit"};
  EXPECT_EQ(escalation.Setheaders(labels, 5, 0),
            "No.  Cust" + S(17) + S(8) + "Desc\r\n\r\n" + kRuler + S(16) + S(8) + D(8) + "\r\n");
  EXPECT_EQ(escalation.Setheaders(labels, 1, 1), "Login" + S(27) + "No.  Cust" + S(17) +
                                                     "Visit  Desc\r\n\r\n" + D(5) + S(27) + kRuler +
                                                     S(17) + D(12) + S(2) + D(8) + "\r\n");
  try {
    escalation.Setheaders({"Desc", "No."}, 3, 0);
    FAIL() << "labels beyond the list should fail";
  } catch (const ComError& error) {
    EXPECT_EQ(error.number(), err::kSubscriptOutOfRange);
  }
  const RoleList members = {{"cn=a", " a@example.com ", "ann"}, {"cn=b", "b@example.com", " Bo "}};
  EXPECT_EQ(escalation.GetMaildidOFEngineer(members, "  bo"), "b@example.com");
  EXPECT_EQ(escalation.GetMaildidOFEngineer(members, " "), "");
  EXPECT_EQ(escalation.SQLEncodeDateTimeforEscalations({2009, 3, 4, 9, 5, 3}),
            "2009-03-04 09:05:03");
  EXPECT_EQ(escalation.GetBPNameofBPID(0), "");
  EXPECT_EQ(escalation.GetBPIDOFOriginator("nobody"), "");

  // A partner name of 40 characters is written in full, directly followed by the priority.
  const std::string forty(40, 'N');
  Directory()->Execute("INSERT INTO DIR_PARTNER (BP_ID, NAME) VALUES (3000, ?)", {Variant(forty)});
  Directory()->Execute("UPDATE DIR_USER SET BUSINESSPARTNERID = '3000' WHERE LOGIN = 'cust2'", {});
  Add(5, 1, "", "5", HoursAgo(5), "cust2");
  SetSwitches(1, 0, 0);
  Escalate();
  ASSERT_EQ(mails_.size(), 1u);
  EXPECT_NE(mails_[0].body.find("\r\n5" + S(13) + forty + "2" + S(9) + "Request 5"),
            std::string::npos);

  // The operation table takes role lists indexed (field, member).
  auto fields = std::make_shared<Array>();
  for (const char* value : {"cn=x", "x@example.com", "X"}) {
    fields->push_back(Variant(std::make_shared<Array>(Array{Variant(value)})));
  }
  Dictionary args;
  args.Set("ArrDispArrlist", Variant(fields));
  args.Set("sEngid", Variant("x"));
  const OperationSpec* lookup = FindOperation(kSolveOnNoResponseClassId, "GetMaildidOFEngineer");
  ASSERT_NE(lookup, nullptr);
  EXPECT_EQ(CallOperation(*lookup, args).result, Variant("x@example.com"));
}

// Delivers through a real SMTP server when the test command provides one.
TEST_P(EscalationTest, EscalationMailArrivesThroughSmtp) {
  const char* server = std::getenv("HELIQ_TEST_SMTP");
  const char* maildir = std::getenv("HELIQ_TEST_SMTP_MAILDIR");
  if (server == nullptr || *server == '\0' || maildir == nullptr) {
    GTEST_SKIP() << "HELIQ_TEST_SMTP is not set";
  }
  const std::string address(server);
  const size_t colon = address.rfind(':');
  std::ostringstream settings;
  settings << "install_dir = '" << SettingValue("", "install_dir") << "'\n"
           << "default_language = 1033\n[connections]\n";
  for (const char* application : {"Heliq", "RAvuruvo", "BackOffice", "Directory"}) {
    settings << application << " = '" << SettingValue("connections", application) << "'\n";
  }
  settings << "[log]\nfile = ''\n[mail]\ntransport = 'smtp'\nsmtp_host = '"
           << address.substr(0, colon) << "'\nsmtp_port = " << address.substr(colon + 1) << "\n";
  SetSettingsText(settings.str());
  const std::string subject = "Overdue " + std::to_string(::getpid()) +
                              (backend() == testing::Backend::kSqlite ? " SQLite" : " PostgreSQL");
  Exec("UPDATE DATALABEL SET TEXT = ? WHERE TEXTID = 'MAIL29_SUBJECT'", {Variant(subject)});
  Add(11, 1, "", "5", HoursAgo(5));
  SetSwitches(1, 0, 0);
  RunUnitOfWork([] { SolveOnNoResponse().SendingEscalationMails(); });
  // The run wrote the mail to the outbox; the sender delivers it after the commit.
  ASSERT_EQ(DeliverOutbox().size(), 1u);

  std::string message;
  const std::filesystem::path arrived = std::filesystem::path(maildir) / "new";
  ASSERT_TRUE(std::filesystem::is_directory(arrived)) << arrived << " is not a mail folder";
  for (const auto& file : std::filesystem::directory_iterator(arrived)) {
    std::ifstream in(file.path(), std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (text.find(subject) != std::string::npos) message = text;
  }
  ASSERT_FALSE(message.empty()) << "no message with subject " << subject;
  EXPECT_NE(message.find("dispatch1@servicedesk.example.com"), std::string::npos);
  EXPECT_NE(message.find("11" + S(13) + kSpringfield), std::string::npos);
  EXPECT_TRUE(Running().empty());
}

// Makes every clearing of request `id`'s timer fail in the database while it lives: a run that
// has written a mail to the outbox then fails before it commits.
class ScopedClearFault {
 public:
  ScopedClearFault(std::function<void(const std::string&)> exec, testing::Backend backend, int id)
      : exec_(std::move(exec)), postgres_(backend == testing::Backend::kPostgres) {
    const std::string condition = "OLD.Q_ID = " + std::to_string(id);
    if (postgres_) {
      Exec(
          "CREATE FUNCTION HELIQ_TEST_FAULT() RETURNS trigger AS $$ BEGIN RAISE EXCEPTION "
          "'injected fault'; END $$ LANGUAGE plpgsql");
      Exec("CREATE TRIGGER HELIQ_TEST_FAULT BEFORE UPDATE ON REMINDER FOR EACH ROW WHEN (" +
           condition + ") EXECUTE FUNCTION HELIQ_TEST_FAULT()");
    } else {
      Exec("CREATE TRIGGER HELIQ_TEST_FAULT BEFORE UPDATE ON REMINDER WHEN " + condition +
           " BEGIN SELECT RAISE(ABORT, 'injected fault'); END");
    }
  }
  ~ScopedClearFault() {
    // The PostgreSQL database outlives the test: the trigger must not stay behind.
    if (postgres_) {
      Exec("DROP TRIGGER HELIQ_TEST_FAULT ON REMINDER");
      Exec("DROP FUNCTION HELIQ_TEST_FAULT()");
    } else {
      Exec("DROP TRIGGER HELIQ_TEST_FAULT");
    }
  }
  ScopedClearFault(const ScopedClearFault&) = delete;
  ScopedClearFault& operator=(const ScopedClearFault&) = delete;

 private:
  void Exec(const std::string& sql) { exec_(sql); }
  std::function<void(const std::string&)> exec_;
  bool postgres_;
};

class EscalationOutboxTest : public EscalationTest {
 protected:
  std::vector<std::filesystem::path> PickupFiles() const {
    std::vector<std::filesystem::path> files;
    const auto dir = install_dir() / "var" / "mail";
    if (!std::filesystem::exists(dir)) return files;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) files.push_back(entry);
    return files;
  }
  void EscalateThroughOutbox() {
    RunUnitOfWork([] { SolveOnNoResponse().SendingEscalationMails(); });
  }
};

TEST_P(EscalationOutboxTest, RunFailingAfterTheOutboxInsertLeavesNoMailAndNoClearedTimer) {
  Add(11, 1, "", "5", HoursAgo(5));
  Add(12, 1, "", "5", HoursAgo(5));
  SetSwitches(1, 0, 0);
  {
    ScopedClearFault fault([this](const std::string& sql) { Exec(sql); }, backend(), 12);
    EXPECT_THROW(EscalateThroughOutbox(), ComError);
  }
  EXPECT_EQ(Count("MAIL_OUTBOX"), 0);
  EXPECT_EQ(Count("ESCALATIONS"), 0);
  EXPECT_EQ(Running(), (std::vector<int32_t>{11, 12}));
  EXPECT_TRUE(DeliverOutbox().empty());
  EXPECT_TRUE(PickupFiles().empty());

  // The next run, without the fault, mails both once.
  EscalateThroughOutbox();
  EXPECT_TRUE(Running().empty());
  ASSERT_EQ(DeliverOutbox().size(), 1u);
  EscalateThroughOutbox();
  EXPECT_TRUE(DeliverOutbox().empty());
  const auto files = PickupFiles();
  ASSERT_EQ(files.size(), 1u);
  std::ifstream in(files[0], std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("11" + S(13)), std::string::npos);
  EXPECT_NE(text.find("12" + S(13)), std::string::npos);
}

TEST_P(EscalationOutboxTest, EachMailedRequestRecordsWhenItWasEscalated) {
  Add(11, 1, "", "5", HoursAgo(5));
  Add(12, 1, "", "5", HoursAgo(1));  // not overdue yet
  SetSwitches(1, 0, 0);
  EscalateThroughOutbox();
  EXPECT_EQ(Value("SELECT ESCALATED FROM ESCALATIONS WHERE Q_ID = 11").ToDate(), kTestNow);
  EXPECT_EQ(Count("ESCALATIONS"), 1);
  // Overdue again after a restart of its timer: the later escalation replaces the first.
  Exec("UPDATE REMINDER SET T1_DATE = ? WHERE Q_ID = 11", {Variant(kTestNow)});
  SetFixedTime(kTestNow.AddSeconds(5 * 3600));
  EscalateThroughOutbox();
  EXPECT_EQ(Value("SELECT ESCALATED FROM ESCALATIONS WHERE Q_ID = 11").ToDate(),
            kTestNow.AddSeconds(5 * 3600));
  EXPECT_EQ(Value("SELECT ESCALATED FROM ESCALATIONS WHERE Q_ID = 12").ToDate(),
            kTestNow.AddSeconds(5 * 3600));

  // A mail that reaches nobody clears the timer but records no escalation.
  Add(13, 1, "", "5", HoursAgo(10));
  Exec("UPDATE EMAIL SET MAIL_FROM = '' WHERE MAIL_ID = 29");
  EscalateThroughOutbox();
  EXPECT_EQ(Count("ESCALATIONS"), 2);
  EXPECT_TRUE(Running().empty());
}

INSTANTIATE_DATABASE_TEST_SUITE(EscalationTest);
INSTANTIATE_DATABASE_TEST_SUITE(EscalationOutboxTest);

}  // namespace
}  // namespace heliq
