// Registering a service request, and telling whether an id is still unregistered.
#include <gtest/gtest.h>

#include "platform/com_error.h"
#include "platform/object_context.h"
#include "platform/operation_table.h"
#include "servicerequest/question/question.h"
#include "tests/support/request_fixture.h"

namespace heliq {
namespace {

using testing::kTestNow;

class RegistrationTest : public testing::RequestTest {
 protected:
  // A row as the front end prepares it.
  void PrepareRow(int32_t id, const std::string& objectnr = "ON-OLD", Variant priority = 7) {
    Exec("insert into QUESTIONS (Q_ID, Q_STATUS, Q_OBJECTNR, Q_PRIORITY) values (?, 0, ?, ?)",
         {Variant(id), Variant(objectnr), priority});
  }

  DictionaryPtr Details(int32_t id) {
    auto d = Dictionary::Create();
    d->Set("Q_ID", Variant(id));
    d->Set("T_NAME", Variant("cust1"));
    d->Set("T_COMMENT", Variant("filed"));
    d->Set("USERCOMMENT", Variant("thanks"));
    d->Set("CENTER", Variant(2));
    d->Set("Q_PRODUCTCAT", Variant("3"));
    d->Set("PRODUCTID", Variant(4));
    d->Set("Q_CATEGORY", Variant(5.0));
    d->Set("Q_DESC", Variant("Printer jams"));
    d->Set("Q_TEXT", Variant("It's jammed; drop table QUESTIONS; --"));
    d->Set("Q_ORIGINATOR", Variant("cust1"));
    return d;
  }

  void Register(const DictionaryPtr& details) {
    RunUnitOfWork([&] { Question().RegisterQuestion(details); });
  }
};

TEST_P(RegistrationTest, RegistersRowStartsReminderLogsAndNotifiesFiles) {
  PrepareRow(11);
  auto details = Details(11);
  details->Set("BACKOFFICEAPPLICATION", Variant(3));
  details->Set("Q_SITE", Variant("SITE'1"));
  details->Set("Q_OBJECT", Variant("OBJ"));
  details->Set("Q_OBJECTNR", Variant(""));
  details->Set("BP_NUMBER", Variant("BP9"));
  details->Set("Q_PRIORITY", Variant(""));
  details->Set("Q_REPORTED", Variant("REP"));
  Register(details);

  const ResultSet q = Rows("select * from QUESTIONS where Q_ID = 11");
  auto field = [&](std::string_view name) { return q.rows[0][q.ColumnIndex(name)]; };
  EXPECT_EQ(field("Q_STATUS"), Variant(5));
  EXPECT_EQ(field("Q_DATE"), Variant(kTestNow));
  EXPECT_EQ(field("REGISTEREDDATE"), Variant(kTestNow));
  EXPECT_EQ(field("CENTER"), Variant(2));
  EXPECT_EQ(field("Q_PRODUCTCAT"), Variant(3));
  EXPECT_EQ(field("Q_CATEGORY"), Variant(5));
  EXPECT_EQ(field("Q_TEXT").ToText(), "It's jammed; drop table QUESTIONS; --");
  EXPECT_EQ(field("PROSPECT"), Variant(0));
  EXPECT_EQ(field("Q_SITE").ToText(), "SITE'1");
  EXPECT_EQ(field("BP_NUMBER").ToText(), "BP9");
  // Empty object number and priority leave the stored values untouched.
  EXPECT_EQ(field("Q_OBJECTNR").ToText(), "ON-OLD");
  EXPECT_EQ(field("Q_PRIORITY"), Variant(7));
  EXPECT_EQ(Count("QUESTIONS"), 1);

  const ResultSet reminder = Rows("select R_STATUS, T1_DATE from REMINDER where Q_ID = 11");
  ASSERT_EQ(reminder.rows.size(), 1u);
  EXPECT_EQ(reminder.rows[0][0].ToText(), "5");
  EXPECT_EQ(reminder.rows[0][1], Variant(kTestNow));

  const ResultSet log = Rows(
      "select T_ID, T_NAME, T_STATUS, CENTER, T_DATE, T_COMMENT, USERCOMMENT, TIMESPENT "
      "from TRANSACTIONS where Q_ID = 11");
  ASSERT_EQ(log.rows.size(), 1u);
  EXPECT_EQ(log.rows[0][1].ToText(), "cust1");
  EXPECT_EQ(log.rows[0][2].ToText(), "5");
  EXPECT_EQ(log.rows[0][3], Variant(1)) << "a registration is logged for centre 1";
  EXPECT_EQ(log.rows[0][4], Variant(kTestNow));
  EXPECT_EQ(log.rows[0][5].ToText(), "filed");
  EXPECT_EQ(log.rows[0][6].ToText(), "thanks");
  EXPECT_EQ(log.rows[0][7], Variant(0));

  const auto calls = files_->calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].operation, "HandleTransactionFiles");
  EXPECT_EQ(calls[0].question_id, 11);
  EXPECT_EQ(calls[0].kind, 2);
  EXPECT_EQ(calls[0].transaction_id, log.rows[0][0].ToLong());
}

TEST_P(RegistrationTest, RegisteringAgainRestartsTheOneReminder) {
  PrepareRow(12);
  Register(Details(12));
  Exec("update REMINDER set R_STATUS = '15', T1_DATE = NULL where Q_ID = 12");
  {
    ScopedFixedTime later(kTestNow.AddSeconds(3600));
    Register(Details(12));
  }
  const ResultSet reminder = Rows("select R_STATUS, T1_DATE from REMINDER where Q_ID = 12");
  ASSERT_EQ(reminder.rows.size(), 1u);
  EXPECT_EQ(reminder.rows[0][0].ToText(), "5");
  EXPECT_EQ(reminder.rows[0][1], Variant(kTestNow.AddSeconds(3600)));
  EXPECT_EQ(Count("TRANSACTIONS"), 2);
}

TEST_P(RegistrationTest, ZeroOrMissingIdDoesNothing) {
  PrepareRow(13);
  auto zero = Details(0);
  Register(zero);
  auto missing = Details(13);
  missing->Remove("Q_ID");
  Register(missing);
  EXPECT_EQ(Value("select Q_STATUS from QUESTIONS"), Variant(0));
  EXPECT_EQ(Count("REMINDER"), 0);
  EXPECT_EQ(Count("TRANSACTIONS"), 0);
  EXPECT_TRUE(files_->calls().empty());
}

TEST_P(RegistrationTest, ProspectOnOldestBackOfficeWritesNoBackOfficeColumns) {
  PrepareRow(14, "ON-OLD", Variant::Null());
  auto details = Details(14);
  details->Set("PROSPECT", Variant(true));
  details->Set("NewProspect", Variant(true));
  details->Set("EMAILID", Variant("p@example.com"));
  details->Set("INFORMATION", Variant("call me"));
  details->Set("BACKOFFICEAPPLICATION", Variant(1));
  details->Set("BP_NUMBER", Variant("BP9"));
  details->Set("Q_PRODUCT", Variant("PR"));
  details->Set("OSVREQUESTED", Variant(true));
  Register(details);
  const ResultSet q =
      Rows("select PROSPECT, EMAILID, BP_NUMBER, Q_PRODUCT, OSVREQUESTED from QUESTIONS");
  EXPECT_EQ(q.rows[0][0], Variant(1));
  EXPECT_EQ(q.rows[0][1].ToText(), "p@example.com");
  for (int i = 2; i < 5; ++i) EXPECT_TRUE(q.rows[0][i].IsNull()) << q.columns[i];
  EXPECT_EQ(Value("select PENDINGQUESTIONS from PROSPECT where EMAILID = 'p@example.com'"),
            Variant(1));
  EXPECT_EQ(Value("select INFORMATION from PROSPECT").ToText(), "call me");

  // The prospect's next request counts up instead of creating a second prospect.
  PrepareRow(15);
  details->Set("Q_ID", Variant(15));
  details->Set("NewProspect", Variant(""));
  Register(details);
  EXPECT_EQ(Count("PROSPECT"), 1);
  EXPECT_EQ(Value("select PENDINGQUESTIONS from PROSPECT"), Variant(2));
}

TEST_P(RegistrationTest, RegisteredUserOnOldestBackOfficeWritesItsColumns) {
  PrepareRow(16);
  auto details = Details(16);
  details->Set("BACKOFFICEAPPLICATION", Variant("1"));
  details->Set("BP_NUMBER", Variant("BP9"));
  details->Set("Q_PRIORITY", Variant("2"));
  details->Set("Q_PRODUCT", Variant("PR"));
  details->Set("Q_REPORTED", Variant("RP"));
  details->Set("Q_SITE", Variant("ST"));
  details->Set("OSVREQUESTED", Variant(true));
  details->Set("PREFSTARTDATE", Variant("2009-02-01 08:00:00"));
  details->Set("Q_OBJECT", Variant("not written on this back office"));
  Register(details);
  const ResultSet q = Rows(
      "select BP_NUMBER, Q_PRIORITY, Q_PRODUCT, Q_REPORTED, Q_SITE, OSVREQUESTED, PREFSTARTDATE, "
      "Q_OBJECT from QUESTIONS");
  EXPECT_EQ(q.rows[0][0].ToText(), "BP9");
  EXPECT_EQ(q.rows[0][1], Variant(2));
  EXPECT_EQ(q.rows[0][2].ToText(), "PR");
  EXPECT_EQ(q.rows[0][3].ToText(), "RP");
  EXPECT_EQ(q.rows[0][4].ToText(), "ST");
  EXPECT_EQ(q.rows[0][5], Variant(1)) << "true is stored as 1";
  EXPECT_EQ(q.rows[0][6], Variant(DateTime{2009, 2, 1, 8, 0, 0}));
  EXPECT_TRUE(q.rows[0][7].IsNull());
}

TEST_P(RegistrationTest, FailureOfTheFileComponentCommitsNothing) {
  PrepareRow(17);
  Exec("insert into PROSPECT (EMAILID, PIN, PENDINGQUESTIONS) values ('p@example.com', 1234, 4)");
  auto details = Details(17);
  details->Set("PROSPECT", Variant(true));
  details->Set("EMAILID", Variant("p@example.com"));
  files_->FailWith(ComError(err::kFileServer, "files", "disk full"));
  try {
    Register(details);
    FAIL() << "registration succeeded";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kFileServer);
    EXPECT_NE(e.description().find("METHOD: HlqServiceRequestMTS.Question.RegisterQuestion"),
              std::string::npos)
        << e.description();
  }
  EXPECT_EQ(Value("select Q_STATUS from QUESTIONS"), Variant(0));
  EXPECT_EQ(Count("REMINDER"), 0);
  EXPECT_EQ(Count("TRANSACTIONS"), 0);
  EXPECT_EQ(Value("select PENDINGQUESTIONS from PROSPECT"), Variant(4));
}

TEST_P(RegistrationTest, BadDetailValueFailsCleanly) {
  PrepareRow(18);
  auto details = Details(18);
  details->Set("CENTER", Variant("two"));
  try {
    Register(details);
    FAIL();
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kTypeMismatch);
  }
  EXPECT_EQ(Value("select Q_STATUS from QUESTIONS"), Variant(0));
  EXPECT_EQ(Count("TRANSACTIONS"), 0);
  ASSERT_FALSE(testing::RecordingLog::Entries().empty());
}

TEST_P(RegistrationTest, CheckTellsUnregisteredAndUnknownFromRegistered) {
  PrepareRow(19);
  Question question;
  EXPECT_EQ(question.CheckIfQuestionAlreadyExists(19), Variant(true));
  EXPECT_EQ(question.CheckIfQuestionAlreadyExists(404), Variant(true));
  Register(Details(19));
  EXPECT_EQ(question.CheckIfQuestionAlreadyExists(19), Variant(false));
}

TEST_P(RegistrationTest, RunsThroughTheOperationTable) {
  PrepareRow(20);
  const OperationSpec* spec = FindOperation("hlqservicerequestmts.question", "registerquestion");
  ASSERT_NE(spec, nullptr);
  Dictionary args;
  args.Set("i_dictDetails", Variant(Details(20)));
  CallOperation(*spec, args);
  EXPECT_EQ(Value("select Q_STATUS from QUESTIONS"), Variant(5));

  const OperationSpec* check =
      FindOperation("HlqServiceRequestMTS.Question", "CheckIfQuestionAlreadyExists");
  ASSERT_NE(check, nullptr);
  Dictionary check_args;
  check_args.Set("i_lQID", Variant(20));
  const CallResult result = CallOperation(*check, check_args);
  EXPECT_EQ(result.result, Variant(false));
  EXPECT_EQ(result.by_ref->Get("i_lQID"), Variant(20));
}

INSTANTIATE_DATABASE_TEST_SUITE(RegistrationTest);

}  // namespace
}  // namespace heliq
