// Answering, concluding and accepting a request: rows, reminder, counters, prospects, log and
// files, and what a failure leaves behind.
#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/com_error.h"
#include "platform/component.h"
#include "platform/object_context.h"
#include "platform/operation_table.h"
#include "servicerequest/dispatch/dispatch.h"
#include "servicerequest/question/question.h"
#include "tests/support/request_fixture.h"

namespace heliq {
namespace {

using testing::kTestNow;

constexpr DateTime kEarlier{2008, 12, 20, 10, 0, 0};
constexpr DateTime kSecondTimer{2008, 12, 21, 10, 0, 0};

// A dispatcher whose counters fail, to see that nothing of the action stays.
class FailingDispatch : public Dispatch {
 public:
  void updateExperienceofCCE(int32_t) override {
    throw ComError(err::kDbConnection, "test", "counter store unreachable");
  }
};

class AnsweringTest : public testing::RequestTest {
 protected:
  void SetUp() override {
    RequestTest::SetUp();
    if (IsSkipped()) return;
    SetReminderTime("1.5");
    for (const char* table : {"CCEDISRULE", "SCEDISRULE"}) {
      Exec(std::string("insert into ") + table +
           " (LOGIN, QUEUESIZE, EXPERIENCE) values ('alice', 3, 3)");
    }
    Exec(
        "insert into PROSPECT (EMAILID, PIN, LASTVISITEDTIME, PENDINGQUESTIONS) "
        "values ('p@example.com', 1234, ?, 5)",
        {Variant(kEarlier)});
  }

  void SetReminderTime(const std::string& hours) {
    Exec("delete from PARAMETERS where PARAM_NAME = 'Reminder_Time'");
    Exec("insert into PARAMETERS (PARAM_NAME, PARAM_VALUE) values ('Reminder_Time', ?)",
         {Variant(hours)});
  }
  // A request of engineer alice, by default with a running reminder.
  void AddRequest(int32_t id, int32_t status, int32_t center, Variant prospect = Variant(0),
                  Variant email = Variant::Null(), bool with_reminder = true) {
    Exec(
        "insert into QUESTIONS (Q_ID, Q_STATUS, Q_DATE, CENTER, D_DIRECT_TO, PROSPECT, EMAILID, "
        "Q_CATEGORY, LASTTRANSTIME) values (?, ?, ?, ?, 'alice', ?, ?, 9, 'STAMP0')",
        {Variant(id), Variant(status), Variant(kEarlier), Variant(center), prospect, email});
    if (with_reminder) {
      Exec(
          "insert into REMINDER (Q_ID, R_STATUS, T1_DATE, T2_DATE) values (?, ?, ?, ?)",
          {Variant(id), Variant(std::to_string(status)), Variant(kEarlier), Variant(kSecondTimer)});
    }
  }
  DictionaryPtr Details(int32_t id) {
    auto d = Dictionary::Create();
    d->Set("Q_ID", Variant(id));
    d->Set("T_NAME", Variant("eng1"));
    d->Set("T_COMMENT", Variant("see answer"));
    d->Set("USERCOMMENT", Variant("it's fixed"));
    return d;
  }
  DictionaryPtr AnswerDetails(int32_t id) {
    auto d = Details(id);
    d->Set("S_TEXT", Variant("Replace the roller; don't force it"));
    d->Set("S_LINK", Variant("http://kb/1"));
    d->Set("A_TEXT", Variant("Answer 'A'"));
    d->Set("A_LINK", Variant(""));
    d->Set("A_DATE", Variant("2009-01-01 07:00:00"));
    d->Set("Q_CATEGORY", Variant("4"));
    d->Set("Q_PRODUCTCAT", Variant(12));
    d->Set("PRODUCTID", Variant(7.0));
    d->Set("LASTTRANSTIME", Variant("STAMP1"));
    d->Set("TIMESPENT", Variant(15));
    return d;
  }
  Variant Counter(const std::string& table, const std::string& column) {
    return Value("select " + column + " from " + table + " where LOGIN = 'alice'");
  }
  Variant Field(int32_t id, const std::string& column) {
    return Value("select " + column + " from QUESTIONS where Q_ID = ?", {Variant(id)});
  }
};

TEST_P(AnsweringTest, AnswerWritesTextsArmsReminderCountsOnceAndHandsFilesOver) {
  AddRequest(1, 25, 2);
  Exec("insert into PREVIEW (Q_ID, S_TEXT) values (1, 'draft')");
  RunUnitOfWork([&] { Question().AnswerQuestion(AnswerDetails(1)); });

  const ResultSet q = Rows("select * from QUESTIONS where Q_ID = 1");
  auto field = [&](std::string_view name) { return q.rows[0][q.ColumnIndex(name)]; };
  EXPECT_EQ(field("Q_STATUS"), Variant(150));
  EXPECT_EQ(field("S_TEXT"), Variant("Replace the roller; don't force it"));
  EXPECT_EQ(field("S_LINK"), Variant("http://kb/1"));
  EXPECT_EQ(field("A_TEXT"), Variant("Answer 'A'"));
  EXPECT_EQ(field("A_LINK"), Variant(""));
  EXPECT_EQ(field("A_DATE"), Variant(DateTime{2009, 1, 1, 7, 0, 0}));
  EXPECT_EQ(field("Q_CATEGORY"), Variant(4));
  EXPECT_EQ(field("Q_PRODUCTCAT"), Variant(12));
  EXPECT_EQ(field("PRODUCTID"), Variant(7));
  EXPECT_EQ(field("LASTTRANSTIME"), Variant("STAMP1"));
  EXPECT_EQ(field("TOTALTIMESPENT"), Variant(15)) << "a null total counts as 0";
  EXPECT_EQ(field("Q_DATE"), Variant(kEarlier)) << "an answer is no customer action";

  EXPECT_EQ(Counter("SCEDISRULE", "QUEUESIZE"), Variant(2));
  EXPECT_EQ(Counter("CCEDISRULE", "QUEUESIZE"), Variant(3));
  const ResultSet r = Rows("select R_STATUS, T1_DATE, T2_DATE from REMINDER");
  ASSERT_EQ(r.rows.size(), 1u);
  EXPECT_EQ(r.rows[0][0], Variant("150"));
  EXPECT_EQ(r.rows[0][1], Variant(kTestNow.AddSeconds(5400))) << "1.5 hours";
  EXPECT_EQ(r.rows[0][2], Variant(kSecondTimer)) << "the second timer is not touched";
  EXPECT_EQ(Count("PREVIEW"), 0);

  auto log = Log(1);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0][0], Variant("150"));
  EXPECT_EQ(log[0][1], Variant(2));
  EXPECT_EQ(log[0][2], Variant("eng1"));
  EXPECT_EQ(log[0][4], Variant("it's fixed"));
  EXPECT_EQ(log[0][5], Variant(15));
  EXPECT_EQ(log[0][6], Variant(kTestNow));
  auto calls = files_->calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].question_id, 1);
  EXPECT_EQ(calls[0].kind, 5);
  EXPECT_EQ(calls[0].transaction_id, log[0][7].ToLong());

  // A second answer later: texts, time and timer move on, the queue is not lowered again, and an
  // empty stamp keeps the stored one.
  auto again = AnswerDetails(1);
  again->Set("S_TEXT", Variant("Better: clean it"));
  again->Set("LASTTRANSTIME", Variant(""));
  again->Remove("A_DATE");
  again->Remove("S_LINK");
  again->Set("A_TEXT", Variant::Null());
  {
    ScopedFixedTime later(kTestNow.AddSeconds(60));
    RunUnitOfWork([&] { Question().AnswerQuestion(again); });
  }
  EXPECT_EQ(Field(1, "S_TEXT"), Variant("Better: clean it"));
  EXPECT_EQ(Field(1, "S_LINK"), Variant("")) << "an unset text key stores the empty text";
  EXPECT_EQ(Field(1, "A_TEXT"), Variant("")) << "so does null";
  EXPECT_EQ(Field(1, "LASTTRANSTIME"), Variant("STAMP1"));
  EXPECT_TRUE(Field(1, "A_DATE").IsNull());
  EXPECT_EQ(Field(1, "TOTALTIMESPENT"), Variant(30));
  EXPECT_EQ(Counter("SCEDISRULE", "QUEUESIZE"), Variant(2));
  EXPECT_EQ(Count("REMINDER"), 1);
  EXPECT_EQ(Value("select T1_DATE from REMINDER"), Variant(kTestNow.AddSeconds(5460)));
  EXPECT_EQ(Log(1).size(), 2u);
  EXPECT_EQ(files_->calls().size(), 2u);
}

TEST_P(AnsweringTest, AnswerWithoutReminderRowCreatesOneAtTheCallCentre) {
  AddRequest(2, 25, 1, Variant(0), Variant::Null(), /*with_reminder=*/false);
  RunUnitOfWork([&] { Question().AnswerQuestion(AnswerDetails(2)); });
  const ResultSet r = Rows("select Q_ID, R_STATUS, T1_DATE, T2_DATE from REMINDER");
  ASSERT_EQ(r.rows.size(), 1u);
  EXPECT_EQ(r.rows[0][0], Variant(2));
  EXPECT_EQ(r.rows[0][1], Variant("150"));
  EXPECT_EQ(r.rows[0][2], Variant(kTestNow.AddSeconds(5400)));
  EXPECT_TRUE(r.rows[0][3].IsNull());
  EXPECT_EQ(Counter("CCEDISRULE", "QUEUESIZE"), Variant(2));
  EXPECT_EQ(Counter("SCEDISRULE", "QUEUESIZE"), Variant(3));
}

TEST_P(AnsweringTest, FailedAnswerCommitsNothing) {
  AddRequest(3, 25, 1);
  Exec("insert into PREVIEW (Q_ID, S_TEXT) values (3, 'draft')");
  auto expect_untouched = [&](const std::string& what) {
    EXPECT_EQ(Field(3, "Q_STATUS"), Variant(25)) << what;
    EXPECT_TRUE(Field(3, "S_TEXT").IsNull()) << what;
    EXPECT_EQ(Counter("CCEDISRULE", "QUEUESIZE"), Variant(3)) << what;
    EXPECT_EQ(Value("select R_STATUS from REMINDER"), Variant("25")) << what;
    EXPECT_EQ(Count("PREVIEW"), 1) << what;
    EXPECT_EQ(Count("TRANSACTIONS"), 0) << what;
  };

  SetReminderTime("");
  ComError e = Failure([&] { Question().AnswerQuestion(AnswerDetails(3)); });
  EXPECT_EQ(e.number(), err::kTypeMismatch);
  EXPECT_NE(e.description().find("Reminder_Time"), std::string::npos) << e.description();
  EXPECT_NE(e.description().find("METHOD: HlqServiceRequestMTS.Question.AnswerQuestion"),
            std::string::npos)
      << e.description();
  expect_untouched("missing parameter");

  SetReminderTime("two days");
  EXPECT_EQ(Failure([&] { Question().AnswerQuestion(AnswerDetails(3)); }).number(),
            err::kTypeMismatch);
  expect_untouched("parameter not a number");

  SetReminderTime("72");
  auto bad_date = AnswerDetails(3);
  bad_date->Set("A_DATE", Variant("yesterday"));
  EXPECT_EQ(Failure([&] { Question().AnswerQuestion(bad_date); }).number(), err::kTypeMismatch);
  expect_untouched("bad answer date");

  Exec("update QUESTIONS set TOTALTIMESPENT = ? where Q_ID = 3",
       {Variant(std::numeric_limits<int32_t>::max())});
  EXPECT_EQ(Failure([&] { Question().AnswerQuestion(AnswerDetails(3)); }).number(), err::kOverflow);
  expect_untouched("time overflow");
  Exec("update QUESTIONS set TOTALTIMESPENT = 0 where Q_ID = 3");

  files_->FailWith(ComError(err::kFileServer, "files", "disk full"));
  EXPECT_EQ(Failure([&] { Question().AnswerQuestion(AnswerDetails(3)); }).number(),
            err::kFileServer);
  expect_untouched("file server refused");
}

TEST_P(AnsweringTest, ConcludeCountsExperienceDropsReminderAndThePendingQuestion) {
  AddRequest(4, 150, 1, Variant(1), Variant("p@example.com"));
  auto details = Details(4);
  details->Set("Q_CATEGORY", Variant(5));
  details->Set("LASTTRANSTIME", Variant("STAMP2"));
  details->Set("TIMESPENT", Variant(99));  // not read by a conclusion
  RunUnitOfWork([&] { Question().ConcludeQuestion(details); });

  EXPECT_EQ(Field(4, "Q_STATUS"), Variant(160));
  EXPECT_EQ(Field(4, "Q_CATEGORY"), Variant(5));
  EXPECT_EQ(Field(4, "Q_PRODUCTCAT"), Variant(0)) << "an unset category is stored as 0";
  EXPECT_EQ(Field(4, "Q_DATE"), Variant(kEarlier));
  EXPECT_EQ(Field(4, "LASTTRANSTIME"), Variant("STAMP2"));
  EXPECT_EQ(Counter("CCEDISRULE", "EXPERIENCE"), Variant(4));
  EXPECT_EQ(Counter("SCEDISRULE", "EXPERIENCE"), Variant(3));
  EXPECT_EQ(Counter("CCEDISRULE", "QUEUESIZE"), Variant(3));
  EXPECT_EQ(Count("REMINDER"), 0);
  EXPECT_EQ(Value("select PENDINGQUESTIONS from PROSPECT"), Variant(4));
  const auto log = Log(4);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0][0], Variant("160"));
  EXPECT_EQ(log[0][1], Variant(1));
  EXPECT_EQ(log[0][5], Variant(0));
  EXPECT_TRUE(files_->calls().empty());
}

TEST_P(AnsweringTest, ProspectRequestWithoutAddressLeavesTheProspectAlone) {
  AddRequest(5, 150, 2, Variant(1), Variant::Null());
  AddRequest(6, 150, 2, Variant::Null(), Variant("p@example.com"));  // null flag: no prospect
  RunUnitOfWork([&] { Question().ConcludeQuestion(Details(5)); });
  RunUnitOfWork([&] { Question().AcceptQuestion(Details(6)); });
  EXPECT_EQ(Value("select PENDINGQUESTIONS from PROSPECT"), Variant(5));
  EXPECT_EQ(Value("select LASTVISITEDTIME from PROSPECT"), Variant(kEarlier));
  EXPECT_EQ(Counter("SCEDISRULE", "EXPERIENCE"), Variant(5));
  EXPECT_EQ(Counter("CCEDISRULE", "EXPERIENCE"), Variant(3));
}

TEST_P(AnsweringTest, AcceptStampsTheCustomerActionAndCountsLikeAConclusion) {
  AddRequest(7, 150, 1, Variant(1), Variant("p@example.com"));
  auto details = Details(7);
  details->Set("LASTTRANSTIME", Variant("STAMP3"));
  details->Set("Q_CATEGORY", Variant(1));  // not read by an acceptance
  RunUnitOfWork([&] { Question().AcceptQuestion(details); });

  EXPECT_EQ(Field(7, "Q_STATUS"), Variant(165));
  EXPECT_EQ(Field(7, "Q_DATE"), Variant(kTestNow));
  EXPECT_EQ(Field(7, "Q_CATEGORY"), Variant(9));
  EXPECT_EQ(Field(7, "LASTTRANSTIME"), Variant("STAMP3"));
  EXPECT_EQ(Counter("CCEDISRULE", "EXPERIENCE"), Variant(4));
  EXPECT_EQ(Count("REMINDER"), 0);
  EXPECT_EQ(Value("select PENDINGQUESTIONS from PROSPECT"), Variant(4));
  const auto log = Log(7);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0][0], Variant("165"));
  EXPECT_EQ(log[0][3], Variant("see answer"));
  EXPECT_TRUE(files_->calls().empty());
}

TEST_P(AnsweringTest, FailingCounterUndoesConclusionAndAcceptance) {
  AddRequest(8, 150, 1, Variant(1), Variant("p@example.com"));
  ScopedRegistration failing(std::string(kDispatchClassId),
                             [] { return std::make_unique<FailingDispatch>(); });
  const ComError conclude = Failure([&] { Question().ConcludeQuestion(Details(8)); });
  EXPECT_EQ(conclude.number(), err::kDbConnection);
  EXPECT_NE(conclude.description().find("ConcludeQuestion"), std::string::npos);
  EXPECT_EQ(Failure([&] { Question().AcceptQuestion(Details(8)); }).number(), err::kDbConnection);
  EXPECT_EQ(Field(8, "Q_STATUS"), Variant(150));
  EXPECT_EQ(Field(8, "Q_DATE"), Variant(kEarlier));
  EXPECT_EQ(Count("REMINDER"), 1);
  EXPECT_EQ(Value("select PENDINGQUESTIONS from PROSPECT"), Variant(5));
  EXPECT_EQ(Count("TRANSACTIONS"), 0);
}

TEST_P(AnsweringTest, NoRequestNumberOrNoRowDoesNothing) {
  AddRequest(9, 25, 1);
  SetReminderTime("");  // would fail an answer that went on
  auto missing = Details(9);
  missing->Remove("Q_ID");
  for (const DictionaryPtr& details : {Details(0), missing, Details(404)}) {
    RunUnitOfWork([&] {
      Question question;
      question.AnswerQuestion(details);
      question.ConcludeQuestion(details);
      question.AcceptQuestion(details);
    });
  }
  EXPECT_EQ(Field(9, "Q_STATUS"), Variant(25));
  EXPECT_EQ(Count("REMINDER"), 1);
  EXPECT_EQ(Count("TRANSACTIONS"), 0);
  EXPECT_EQ(Counter("CCEDISRULE", "EXPERIENCE"), Variant(3));
  EXPECT_TRUE(files_->calls().empty());
}

TEST_P(AnsweringTest, RunThroughTheOperationTable) {
  AddRequest(10, 25, 1);
  const std::string id(kQuestionClassId);
  for (const char* name : {"AnswerQuestion", "ConcludeQuestion", "AcceptQuestion"}) {
    const OperationSpec* spec = FindOperation(id, name);
    ASSERT_NE(spec, nullptr) << name;
    Dictionary args;
    args.Set("i_dictDetails", Variant(AnswerDetails(10)));
    CallOperation(*spec, args);
  }
  EXPECT_EQ(Field(10, "Q_STATUS"), Variant(165));
  const auto log = Log(10);
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0][0], Variant("150"));
  EXPECT_EQ(log[1][0], Variant("160"));
  EXPECT_EQ(log[2][0], Variant("165"));
}

INSTANTIATE_DATABASE_TEST_SUITE(AnsweringTest);

}  // namespace
}  // namespace heliq
