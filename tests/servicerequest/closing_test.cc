// Closing, cancelling and archiving requests, and handing a prospect's requests over to a
// registered user.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "platform/com_error.h"
#include "platform/object_context.h"
#include "platform/operation_table.h"
#include "servicerequest/question/question.h"
#include "tests/support/request_fixture.h"

namespace heliq {
namespace {

using testing::kTestNow;

constexpr DateTime kRegisteredAt{2008, 12, 1, 9, 30, 0};
constexpr DateTime kEarlier{2008, 12, 20, 10, 0, 0};

class ClosingTest : public testing::RequestTest {
 protected:
  void SetUp() override {
    RequestTest::SetUp();
    if (IsSkipped()) return;
    Exec(
        "insert into PARAMETERS (PARAM_NAME, PARAM_VALUE) values ('DataFileRelativePath', "
        "'data\\files\\')");
    AddRule("CCEDISRULE", "alice");
    AddRule("SCEDISRULE", "alice");
    Exec(
        "insert into PROSPECT (EMAILID, PIN, LASTVISITEDTIME, PENDINGQUESTIONS) "
        "values ('p@example.com', 1234, ?, 5)",
        {Variant(kEarlier)});
  }

  void AddRule(const std::string& table, const std::string& login) {
    Exec("insert into " + table + " (LOGIN, QUEUESIZE, EXPERIENCE) values (?, 3, 3)",
         {Variant(login)});
  }
  // A request of engineer alice with a running reminder.
  void AddRequest(int32_t id, int32_t status, int32_t center, Variant prospect = Variant(0),
                  Variant email = Variant::Null()) {
    Exec(
        "insert into QUESTIONS (Q_ID, Q_STATUS, CENTER, D_DIRECT_TO, PROSPECT, EMAILID, "
        "Q_ORIGINATOR, TOTALTIMESPENT) values (?, ?, ?, 'alice', ?, ?, 'cust', 10)",
        {Variant(id), Variant(status), Variant(center), prospect, email});
    AddReminder(id, status, kEarlier);
  }
  DictionaryPtr Details(int32_t id) {
    auto d = Dictionary::Create();
    d->Set("Q_ID", Variant(id));
    d->Set("T_NAME", Variant("eng1"));
    d->Set("T_COMMENT", Variant("done, it's over"));
    d->Set("USERCOMMENT", Variant("bye"));
    return d;
  }
  Variant QueueSize(const std::string& table) {
    return Value("select QUEUESIZE from " + table + " where LOGIN = 'alice'");
  }
  Variant Pending() { return Value("select PENDINGQUESTIONS from PROSPECT"); }
};

TEST_P(ClosingTest, CloseArchivesEveryNonNullColumnIntactAndLogsFromTheArchive) {
  Exec(
      "insert into QUESTIONS (Q_ID, Q_STATUS, Q_DATE, REGISTEREDDATE, CENTER, Q_PRODUCTCAT, "
      "Q_DESC, Q_TEXT, PROSPECT, OSVREQUESTED, EMAILID, TOTALTIMESPENT, LASTTRANSTIME, "
      "D_DIRECT_TO, Q_CALL) values (7, 150, ?, ?, 2, 12, 'Jam', ?, 1, -1, 'p@example.com', 45, "
      "'20090101070509', 'alice', '00042')",
      {Variant(kEarlier), Variant(kRegisteredAt), Variant("It's jammed; ' -- \"quoted\"")});
  Exec("insert into REMINDER (Q_ID, R_STATUS, T1_DATE) values (7, '150', ?)", {Variant(kEarlier)});
  RunUnitOfWork([&] { Question().CloseQuestion(Details(7)); });

  EXPECT_EQ(Count("QUESTIONS"), 0);
  EXPECT_EQ(Count("REMINDER"), 0);
  const ResultSet h = Rows("select * from QUESTIONHISTORY");
  ASSERT_EQ(h.rows.size(), 1u);
  auto field = [&](std::string_view name) { return h.rows[0][h.ColumnIndex(name)]; };
  EXPECT_EQ(field("Q_STATUS"), Variant(180)) << "the final status, not the stored one";
  EXPECT_EQ(field("Q_DATE"), Variant(kEarlier));
  EXPECT_EQ(field("REGISTEREDDATE"), Variant(kRegisteredAt));
  EXPECT_EQ(field("Q_TEXT"), Variant("It's jammed; ' -- \"quoted\""));
  EXPECT_EQ(field("PROSPECT"), Variant(1));
  EXPECT_EQ(field("OSVREQUESTED"), Variant(1)) << "a stored true (-1) is archived as 1";
  EXPECT_EQ(field("TOTALTIMESPENT"), Variant(45));
  EXPECT_EQ(field("LASTTRANSTIME"), Variant("20090101070509")) << "stamps stay text";
  EXPECT_EQ(field("Q_CALL"), Variant("00042")) << "number-like text keeps its zeros";
  EXPECT_EQ(field("ENDSTATUSTIME"), Variant(kTestNow));
  for (const char* null_column : {"A_DATE", "S_TEXT", "PRODUCTID", "SERVICEORDER"}) {
    EXPECT_TRUE(field(null_column).IsNull()) << null_column;
  }

  const auto log = Log(7);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0][0], Variant("180"));
  EXPECT_EQ(log[0][1], Variant(2)) << "centre read from the archive";
  EXPECT_EQ(log[0][2], Variant("eng1"));
  EXPECT_EQ(log[0][3], Variant("done, it's over"));
  EXPECT_EQ(log[0][4], Variant("bye"));
  EXPECT_EQ(log[0][5], Variant(0));
  EXPECT_EQ(log[0][6], Variant(kTestNow));
  // Closing touches no counter, no prospect, no files.
  EXPECT_EQ(QueueSize("CCEDISRULE"), Variant(3));
  EXPECT_EQ(QueueSize("SCEDISRULE"), Variant(3));
  EXPECT_EQ(Pending(), Variant(5));
  EXPECT_TRUE(files_->calls().empty());
}

TEST_P(ClosingTest, HelpersWorkBeforeAndAfterTheMoveAndForUnknownRequests) {
  AddRequest(8, 25, 2);
  AddRequest(9, 25, 1);
  Question question;
  RunUnitOfWork([&] {
    EXPECT_EQ(question.GetCenter(8), 2);
    question.MovetoQuestionHistory(8, 175);
    EXPECT_EQ(question.GetCenter(8), 2) << "found in the archive";
    EXPECT_EQ(question.GetCenter(404), 0);
    question.MovetoQuestionHistory(404, 180);  // nothing to archive, no error
    question.DeleteReminder(0);                // no request, nothing deleted
    question.DeleteReminder(9);
  });
  EXPECT_EQ(Value("select Q_STATUS from QUESTIONHISTORY where Q_ID = 8"), Variant(175));
  EXPECT_EQ(Count("QUESTIONHISTORY"), 1);
  EXPECT_EQ(Value("select count(*) from QUESTIONS where Q_ID = 9").ToLong(), 1);
  EXPECT_EQ(Count("REMINDER"), 0);

  // Closing a request that is nowhere only logs, with centre 0.
  RunUnitOfWork([&] { question.CloseQuestion(Details(404)); });
  EXPECT_EQ(Count("QUESTIONHISTORY"), 1);
  ASSERT_EQ(Log(404).size(), 1u);
  EXPECT_EQ(Log(404)[0][1], Variant(0));
}

TEST_P(ClosingTest, ConcurrentClosesArchiveTheRequestOnce) {
  AddRequest(10, 150, 1);
  std::vector<std::thread> threads;
  std::vector<int32_t> errors(2, 0);
  for (size_t i = 0; i < 2; ++i) {
    threads.emplace_back([&, i] {
      try {
        RunUnitOfWork([&] { Question().CloseQuestion(Details(10)); });
      } catch (const ComError& e) {
        errors[i] = e.number();
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(errors, std::vector<int32_t>(2, 0));
  EXPECT_EQ(Count("QUESTIONHISTORY"), 1);
  EXPECT_EQ(Count("QUESTIONS"), 0);
  EXPECT_EQ(Log(10).size(), 2u) << "each call logs its action";
}

TEST_P(ClosingTest, EngineerCancelCountsTimeArchivesAndHandsFilesOver) {
  AddRequest(11, 25, 1, Variant(1), Variant("p@example.com"));
  auto details = Details(11);
  details->Set("TIMESPENT", Variant("15"));
  details->Set("FromStatus", Variant(25));
  RunUnitOfWork([&] { Question().CancelQuestion(details); });

  EXPECT_EQ(Count("QUESTIONS"), 0);
  EXPECT_EQ(Count("REMINDER"), 0);
  const ResultSet h = Rows("select Q_STATUS, TOTALTIMESPENT, ENDSTATUSTIME from QUESTIONHISTORY");
  ASSERT_EQ(h.rows.size(), 1u);
  EXPECT_EQ(h.rows[0][0], Variant(185));
  EXPECT_EQ(h.rows[0][1], Variant(25)) << "time spent added before archiving";
  EXPECT_EQ(h.rows[0][2], Variant(kTestNow));
  EXPECT_EQ(QueueSize("CCEDISRULE"), Variant(2));
  EXPECT_EQ(QueueSize("SCEDISRULE"), Variant(3));
  EXPECT_EQ(Pending(), Variant(4));
  EXPECT_EQ(Value("select LASTVISITEDTIME from PROSPECT"), Variant(kTestNow));

  const auto log = Log(11);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0][0], Variant("185"));
  EXPECT_EQ(log[0][1], Variant(1));
  EXPECT_EQ(log[0][5], Variant(15));
  const auto calls = files_->calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].question_id, 11);
  EXPECT_EQ(calls[0].kind, 5);
  EXPECT_EQ(calls[0].transaction_id, log[0][7].ToLong());
}

TEST_P(ClosingTest, CancelLowersTheQueueOfTheCentreTheRequestWaitsIn) {
  struct Case {
    int32_t center;
    int32_t from_status;
    int32_t cce;  // expected queue sizes afterwards
    int32_t sce;
  };
  const std::vector<Case> cases = {
      {1, 25, 2, 3},  // call centre
      {2, 5, 2, 3},   // support centre, still registered: waits with a call-centre engineer
      {2, 25, 3, 2},  // support centre, in hand
      {0, 25, 3, 3},  // no centre: no counter
  };
  int32_t id = 20;
  for (const Case& c : cases) {
    Exec("update CCEDISRULE set QUEUESIZE = 3");
    Exec("update SCEDISRULE set QUEUESIZE = 3");
    AddRequest(++id, c.from_status, c.center);
    auto details = Details(id);
    details->Set("FromStatus", Variant(c.from_status));
    RunUnitOfWork([&] { Question().CancelQuestion(details); });
    EXPECT_EQ(QueueSize("CCEDISRULE"), Variant(c.cce)) << c.center << "/" << c.from_status;
    EXPECT_EQ(QueueSize("SCEDISRULE"), Variant(c.sce)) << c.center << "/" << c.from_status;
  }
  EXPECT_EQ(Count("QUESTIONHISTORY"), 4);
  EXPECT_EQ(Pending(), Variant(5)) << "no prospect request among them";
}

TEST_P(ClosingTest, FailedCancelCommitsNothing) {
  AddRequest(30, 25, 1, Variant(1), Variant("p@example.com"));
  auto details = Details(30);
  details->Set("TIMESPENT", Variant(5));
  files_->FailWith(ComError(err::kFileServer, "files", "disk full"));
  const ComError e = Failure([&] { Question().CancelQuestion(details); });
  EXPECT_EQ(e.number(), err::kFileServer);
  EXPECT_NE(e.description().find("METHOD: HlqServiceRequestMTS.Question.CancelQuestion"),
            std::string::npos)
      << e.description();

  EXPECT_EQ(Value("select TOTALTIMESPENT from QUESTIONS where Q_ID = 30"), Variant(10));
  EXPECT_EQ(Count("REMINDER"), 1);
  EXPECT_EQ(Count("QUESTIONHISTORY"), 0);
  EXPECT_EQ(Count("TRANSACTIONS"), 0);
  EXPECT_EQ(QueueSize("CCEDISRULE"), Variant(3));
  EXPECT_EQ(Pending(), Variant(5));
}

TEST_P(ClosingTest, CancelWithTimeThatOverflowsFailsAndChangesNothing) {
  AddRequest(31, 25, 1);
  Exec("update QUESTIONS set TOTALTIMESPENT = ? where Q_ID = 31",
       {Variant(std::numeric_limits<int32_t>::max())});
  auto details = Details(31);
  details->Set("TIMESPENT", Variant(1));
  EXPECT_EQ(Failure([&] { Question().CancelQuestion(details); }).number(), err::kOverflow);
  details->Set("TIMESPENT", Variant("a while"));
  EXPECT_EQ(Failure([&] { Question().CancelQuestion(details); }).number(), err::kTypeMismatch);
  EXPECT_EQ(Value("select TOTALTIMESPENT from QUESTIONS where Q_ID = 31"),
            Variant(std::numeric_limits<int32_t>::max()));
  EXPECT_EQ(Count("QUESTIONHISTORY"), 0);
  EXPECT_EQ(Count("TRANSACTIONS"), 0);
  EXPECT_TRUE(files_->calls().empty());
}

TEST_P(ClosingTest, CustomerCancelDeletesUntakenFilesAndCountsOnlyAssignedRequests) {
  const std::filesystem::path store = install_dir() / "data" / "files" / "SRAttachments";
  std::filesystem::create_directories(store / "40P");
  std::filesystem::create_directories(store / "40Q");
  std::ofstream(store / "40P" / "photo.jpg") << "x";

  AddRequest(40, 15, 1, Variant(1), Variant("p@example.com"));
  auto details = Details(40);
  details->Set("Q_STATUS", Variant(15));
  details->Set("CENTER", Variant(2));  // logged as the caller says
  RunUnitOfWork([&] { Question().customerCancelSR(details); });

  EXPECT_FALSE(std::filesystem::exists(store / "40P"));
  EXPECT_TRUE(std::filesystem::exists(store / "40Q"));
  EXPECT_EQ(QueueSize("CCEDISRULE"), Variant(2));
  EXPECT_EQ(Pending(), Variant(4));
  EXPECT_EQ(Value("select Q_STATUS from QUESTIONHISTORY where Q_ID = 40"), Variant(185));
  const auto log = Log(40);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0][0], Variant("185"));
  EXPECT_EQ(log[0][1], Variant(2));
  const auto calls = files_->calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].kind, 2);
  EXPECT_EQ(calls[0].transaction_id, log[0][7].ToLong());

  // In hand: no counter changes.
  AddRequest(41, 25, 1);
  details = Details(41);
  details->Set("Q_STATUS", Variant(25));
  RunUnitOfWork([&] { Question().customerCancelSR(details); });
  EXPECT_EQ(QueueSize("CCEDISRULE"), Variant(2));
  EXPECT_EQ(Count("QUESTIONS"), 0);
  EXPECT_EQ(Pending(), Variant(4)) << "not a prospect's request";
}

class TransferTest : public ClosingTest {
 protected:
  void Transfer(const std::vector<Variant>& ids, const std::string& email = "p@example.com") {
    auto list = Dictionary::Create();
    for (size_t i = 0; i < ids.size(); ++i) list->Set("k" + std::to_string(i), ids[i]);
    RunUnitOfWork([&] { Question().TransferQuestions(list, "reg1", email); });
  }
  void AddProspectRequest(int32_t id, int32_t status, const std::string& email = "p@example.com") {
    AddRequest(id, status, 1, Variant(1), Variant(email));
  }
};

TEST_P(TransferTest, HandsOverListedRequestsOfTheAddressAndCountsOnlyOpenOnes) {
  AddProspectRequest(1, 25);
  AddProspectRequest(2, 150);
  AddProspectRequest(3, 160);                      // concluded: taken over, not counted
  AddProspectRequest(4, 25, "other@example.com");  // someone else's
  AddProspectRequest(5, 25);                       // not listed
  AddProspectRequest(6, 180);
  RunUnitOfWork([&] { Question().MovetoQuestionHistory(6, 180); });

  Transfer({Variant(1), Variant("2"), Variant(3), Variant(4), Variant(6)}, "P@Example.com");

  EXPECT_EQ(Pending(), Variant(3)) << "two open requests left the prospect";
  EXPECT_EQ(Value("select LASTVISITEDTIME from PROSPECT"), Variant(kTestNow));
  const ResultSet q =
      Rows("select Q_ID, Q_ORIGINATOR, EMAILID, PROSPECT, Q_STATUS from QUESTIONS order by Q_ID");
  for (const auto& row : q.rows) {
    const int32_t id = row[0].ToLong();
    const bool taken = id <= 3;
    EXPECT_EQ(row[1], Variant(taken ? "reg1" : "cust")) << id;
    EXPECT_EQ(row[2], Variant(taken ? "" : (id == 4 ? "other@example.com" : "p@example.com")))
        << id;
    EXPECT_EQ(row[3], Variant(taken ? 0 : 1)) << id;
  }
  const ResultSet h = Rows("select Q_ORIGINATOR, EMAILID, PROSPECT, Q_STATUS from QUESTIONHISTORY");
  ASSERT_EQ(h.rows.size(), 1u);
  EXPECT_EQ(h.rows[0][0], Variant("reg1"));
  EXPECT_EQ(h.rows[0][1], Variant(""));
  EXPECT_EQ(h.rows[0][2], Variant(0));
  EXPECT_EQ(h.rows[0][3], Variant(180));

  for (int32_t id : {1, 2, 3, 6}) {
    const auto log = Log(id);
    ASSERT_EQ(log.size(), 1u) << id;
    EXPECT_EQ(log[0][2], Variant("cust")) << "the former originator is the actor";
    EXPECT_EQ(log[0][3], Variant("HQLBL3752;;;;reg1"));
    EXPECT_EQ(log[0][4], Variant(""));
    EXPECT_EQ(log[0][6], Variant(kTestNow));
  }
  EXPECT_EQ(Log(2)[0][0], Variant("150")) << "logged with the unchanged status";
  EXPECT_EQ(Log(6)[0][0], Variant("180"));
  EXPECT_TRUE(Log(4).empty());
  EXPECT_TRUE(Log(5).empty());
}

TEST_P(TransferTest, NothingToTakeOverStillRefreshesTheVisit) {
  AddProspectRequest(1, 25, "other@example.com");
  Transfer({Variant(1), Variant(404)});
  EXPECT_EQ(Pending(), Variant(5));
  EXPECT_EQ(Value("select LASTVISITEDTIME from PROSPECT"), Variant(kTestNow));
  EXPECT_EQ(Value("select Q_ORIGINATOR from QUESTIONS"), Variant("cust"));
  EXPECT_EQ(Count("TRANSACTIONS"), 0);
}

TEST_P(TransferTest, EmptyListChangesNothing) {
  AddProspectRequest(1, 25);
  Transfer({});
  EXPECT_EQ(Value("select LASTVISITEDTIME from PROSPECT"), Variant(kEarlier));
  EXPECT_EQ(Value("select Q_ORIGINATOR from QUESTIONS"), Variant("cust"));
  EXPECT_EQ(Count("TRANSACTIONS"), 0);
}

TEST_P(TransferTest, ListItemThatIsNoNumberFailsBeforeAnyChange) {
  AddProspectRequest(1, 25);
  auto list = Dictionary::Create();
  list->Set("a", Variant(1));
  list->Set("b", Variant("1) or (1=1"));
  const ComError e = Failure([&] { Question().TransferQuestions(list, "reg1", "p@example.com"); });
  EXPECT_EQ(e.number(), err::kTypeMismatch);
  EXPECT_NE(e.description().find("TransferQuestions"), std::string::npos) << e.description();
  EXPECT_EQ(Value("select Q_ORIGINATOR from QUESTIONS"), Variant("cust"));
  EXPECT_EQ(Pending(), Variant(5));
  EXPECT_EQ(Count("TRANSACTIONS"), 0);
}

TEST_P(TransferTest, PublicOperationsRunThroughTheOperationTable) {
  AddProspectRequest(1, 25);
  AddRequest(2, 25, 1);
  AddRequest(3, 15, 1);
  const std::string id(kQuestionClassId);
  {
    Dictionary args;
    auto list = Dictionary::Create();
    list->Set("a", Variant(1));
    args.Set("i_odictQList", Variant(list));
    args.Set("i_sRegUserID", Variant("reg1"));
    args.Set("i_sEmailID", Variant("p@example.com"));
    CallOperation(*FindOperation(id, "TransferQuestions"), args);
  }
  Dictionary close;
  close.Set("i_dictDetails", Variant(Details(2)));
  CallOperation(*FindOperation(id, "CloseQuestion"), close);
  Dictionary cancel;
  auto details = Details(3);
  details->Set("Q_STATUS", Variant(15));
  cancel.Set("i_dictDetails", Variant(details));
  CallOperation(*FindOperation(id, "customerCancelSR"), cancel);
  Dictionary cancel1;
  cancel1.Set("i_dictDetails", Variant(Details(1)));
  CallOperation(*FindOperation(id, "CancelQuestion"), cancel1);

  EXPECT_EQ(Value("select Q_ORIGINATOR from QUESTIONHISTORY where Q_ID = 1"), Variant("reg1"));
  EXPECT_EQ(Value("select Q_STATUS from QUESTIONHISTORY where Q_ID = 2"), Variant(180));
  EXPECT_EQ(Value("select Q_STATUS from QUESTIONHISTORY where Q_ID = 3"), Variant(185));
  EXPECT_EQ(Pending(), Variant(4)) << "cancelling the transferred request counts nothing more";
  EXPECT_EQ(FindOperation(id, "MovetoQuestionHistory"), nullptr) << "private";
}

INSTANTIATE_DATABASE_TEST_SUITE(ClosingTest);
INSTANTIATE_DATABASE_TEST_SUITE(TransferTest);

}  // namespace
}  // namespace heliq
