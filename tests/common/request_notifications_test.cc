// Notifications of a request's progress: who is mailed on which status, the link to the request,
// prospects and archived requests, repeated statuses, and that neither a failing outbox nor a
// failing transport ever fails the action.
#include "common/request_notifications.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/mail_outbox.h"
#include "common/transaction_log.h"
#include "platform/com_error.h"
#include "platform/object_context.h"
#include "servicerequest/question/question.h"
#include "tests/support/request_fixture.h"

namespace heliq {
namespace {

using testing::kTestNow;
using testing::RecordingLog;

constexpr std::string_view kCustomer = "john.smith@springfield-supplies.example.com";
constexpr std::string_view kEngineer = "cce1@servicedesk.example.com";
constexpr std::string_view kLinkBase = "http://servicedesk.example.com/heliq/requests/";

struct Queued {
  std::string to;
  std::string subject;
  std::string body;
};

class RequestNotificationsTest : public testing::RequestTest {
 protected:
  void SetUp() override {
    RequestTest::SetUp();
    if (IsSkipped()) return;
    LoadDemoData();
  }
  void AddRequest(int32_t id, int32_t status, const std::string& table = "QUESTIONS",
                  const std::string& originator = "cust1", Variant email = Variant::Null()) {
    Exec("insert into " + table +
             " (Q_ID, Q_STATUS, CENTER, Q_DESC, Q_ORIGINATOR, EMAILID, D_DIRECT_TO, PROSPECT) "
             "values (?, ?, 1, 'Printer jams', ?, ?, 'cce1', 0)",
         {Variant(id), Variant(status), Variant(originator), email});
  }
  // A log row of `status`, as every operation writes one, in a unit of work of its own.
  void Log(int32_t id, int32_t status) {
    RunUnitOfWork([&] {
      CreateTransactionLog(id, "someone", std::to_string(status), 1, kTestNow, "", "", 0);
    });
  }
  std::vector<Queued> Outbox() {
    std::vector<Queued> entries;
    for (const auto& row :
         Rows("select MAIL_TO, SUBJECT, BODY from MAIL_OUTBOX order by M_ID").rows) {
      entries.push_back({row[0].ToText(), row[1].ToText(), row[2].ToText()});
    }
    return entries;
  }
};

TEST_P(RequestNotificationsTest, EachEventMailsItsRecipientWithALinkToTheRequest) {
  struct Case {
    int32_t status;
    std::string_view to;
    std::string subject;
  };
  const std::vector<Case> cases = {
      {150, kCustomer, "Your service request 501 has been answered"},
      {35, kCustomer, "Your service request 501 is waiting for you"},
      {180, kCustomer, "Your service request 501 has been closed"},
      {185, kCustomer, "Your service request 501 has been cancelled"},
      {15, kEngineer, "Service request 501 has been assigned to you"},
      {20, kEngineer, "Service request 501 has been assigned to you"},
  };
  AddRequest(501, 5);
  Log(501, 5);  // registered: nobody is told
  for (const Case& c : cases) {
    Exec("delete from MAIL_OUTBOX");
    Log(501, c.status);
    const std::vector<Queued> queued = Outbox();
    ASSERT_EQ(queued.size(), 1u) << c.status;
    EXPECT_EQ(queued[0].to, c.to) << c.status;
    EXPECT_EQ(queued[0].subject, c.subject);
    EXPECT_NE(queued[0].body.find("\"Printer jams\""), std::string::npos) << queued[0].body;
    EXPECT_NE(queued[0].body.find(std::string(kLinkBase) + "501"), std::string::npos)
        << queued[0].body;
    // The same status logged again (a note, a refusal recorded) tells nobody twice.
    Log(501, c.status);
    EXPECT_EQ(Outbox().size(), 1u) << c.status;
  }
  Exec("delete from MAIL_OUTBOX");
  for (int32_t status : {10, 25, 30, 165}) Log(501, status);
  EXPECT_TRUE(Outbox().empty());
}

TEST_P(RequestNotificationsTest, ProspectsArchivedRequestsAndTheConfiguredBase) {
  // A prospect is not in the directory: his requests carry his address.
  AddRequest(601, 25, "QUESTIONS", "", Variant("p@example.com"));
  Log(601, 150);
  // A closed request has moved to the history when its log row is written.
  AddRequest(602, 180, "QUESTIONHISTORY");
  Log(602, 180);
  // Nobody to tell: no originator, no address.
  AddRequest(603, 25, "QUESTIONS", "");
  Log(603, 150);
  std::vector<Queued> queued = Outbox();
  ASSERT_EQ(queued.size(), 2u);
  EXPECT_EQ(queued[0].to, "p@example.com");
  EXPECT_EQ(queued[1].to, kCustomer);
  EXPECT_NE(queued[1].body.find(std::string(kLinkBase) + "602"), std::string::npos);

  // A template deleted switches its notification off.
  Exec("delete from EMAIL where MAIL_ID = 51");
  Log(601, 35);
  EXPECT_EQ(Outbox().size(), 2u);
  EXPECT_TRUE(RecordingLog::Entries().empty());
}

TEST_P(RequestNotificationsTest, RolledBackActionSendsNothing) {
  AddRequest(701, 25);
  try {
    RunUnitOfWork([&] {
      CreateTransactionLog(701, "cce1", "150", 1, kTestNow, "", "", 0);
      throw ComError(err::kInvalidProcedureCall, "test", "the action failed after its log row");
    });
  } catch (const ComError&) {
  }
  EXPECT_EQ(Count("MAIL_OUTBOX"), 0);
  EXPECT_EQ(Count("TRANSACTIONS"), 0);
}

TEST_P(RequestNotificationsTest, AnsweringMailsTheCustomerAndAFailingTransportFailsNothing) {
  AddRequest(801, 25);
  Exec("insert into REMINDER (Q_ID, R_STATUS, T1_DATE) values (801, '25', ?)", {Variant(kTestNow)});
  auto details = Dictionary::Create();
  details->Set("Q_ID", Variant(801));
  details->Set("T_NAME", Variant("cce1"));
  details->Set("T_COMMENT", Variant(""));
  details->Set("USERCOMMENT", Variant(""));
  details->Set("A_TEXT", Variant("Open the rear tray."));
  RunUnitOfWork([&] { Question().AnswerQuestion(details); });
  EXPECT_EQ(Value("select Q_STATUS from QUESTIONS where Q_ID = 801").ToLong(), 150);
  ASSERT_EQ(Outbox().size(), 1u);
  EXPECT_EQ(Outbox()[0].to, kCustomer);

  OutboxOptions down;
  down.send = [](const MailMessage&) {
    throw ComError(err::kMailNotSent, "Mail", "mail not sent: the server is down");
  };
  const std::vector<OutboxDelivery> tried = DeliverOutbox(down);
  ASSERT_EQ(tried.size(), 1u);
  EXPECT_FALSE(tried[0].error.empty());
  // The answer stays; the mail waits for its retry.
  EXPECT_EQ(Value("select Q_STATUS from QUESTIONS where Q_ID = 801").ToLong(), 150);
  EXPECT_EQ(CountOutbox().pending, 1);
}

TEST_P(RequestNotificationsTest, FailingOutboxNeverFailsTheAction) {
  // The outbox refuses every entry, as a full disk or a broken table would.
  if (backend() == testing::Backend::kPostgres) {
    Exec("ALTER TABLE MAIL_OUTBOX ADD CONSTRAINT HELIQ_TEST_FULL CHECK (M_ID < 0)");
  } else {
    Exec(
        "CREATE TRIGGER HELIQ_TEST_FULL BEFORE INSERT ON MAIL_OUTBOX BEGIN SELECT "
        "RAISE(ABORT, 'outbox full'); END");
  }
  AddRequest(901, 25);
  Log(901, 150);
  if (backend() == testing::Backend::kPostgres) {
    Exec("ALTER TABLE MAIL_OUTBOX DROP CONSTRAINT HELIQ_TEST_FULL");
  } else {
    Exec("DROP TRIGGER HELIQ_TEST_FULL");
  }
  // The log row of the action committed (on PostgreSQL too: the failure stayed in its savepoint).
  EXPECT_EQ(Value("select COUNT(*) from TRANSACTIONS where Q_ID = 901").ToLong(), 1);
  EXPECT_EQ(Count("MAIL_OUTBOX"), 0);
  const auto entries = RecordingLog::Entries();
  ASSERT_FALSE(entries.empty());
  EXPECT_NE(entries.back().text.find("request 901, status 150"), std::string::npos)
      << entries.back().text;
}

INSTANTIATE_DATABASE_TEST_SUITE(RequestNotificationsTest);

}  // namespace
}  // namespace heliq
