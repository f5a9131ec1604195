// Assignment of a batch of requests, advanced details, engineer time, the front end's log entries
// and the text encoder.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/com_error.h"
#include "platform/object_context.h"
#include "platform/operation_table.h"
#include "servicerequest/dispatch/dispatch.h"
#include "servicerequest/question/question.h"
#include "tests/support/database_fixture.h"

namespace heliq {
namespace {

using testing::DatabaseTest;
using testing::kTestNow;

// A Dispatch whose queue increase fails: the assignment fails after it already changed a row.
class FailingIncreaseDispatch : public Dispatch {
 public:
  void updateQueuesizeofCCE(int32_t question_id, int32_t change) override {
    if (change > 0) throw ComError(err::kDbError, "test", "queue counter unavailable");
    Dispatch::updateQueuesizeofCCE(question_id, change);
  }
};

class AdvancedTest : public DatabaseTest {
 protected:
  void AddRequest(int32_t id, Variant engineer, int32_t status = 25, int32_t center = 2) {
    Exec("insert into QUESTIONS (Q_ID, Q_STATUS, CENTER, D_DIRECT_TO) values (?, ?, ?, ?)",
         {Variant(id), Variant(status), Variant(center), std::move(engineer)});
  }
  void AddRule(int32_t rule_id, std::string_view login, int32_t queue) {
    Exec("insert into CCEDISRULE (RULE_ID, LOGIN, QUEUESIZE, EXPERIENCE) values (?, ?, ?, 0)",
         {Variant(rule_id), Variant(login), Variant(queue)});
  }
  Variant Queue(int32_t rule_id) {
    return Value("select QUEUESIZE from CCEDISRULE where RULE_ID = ?", {Variant(rule_id)});
  }
  Variant Engineer(int32_t id) {
    return Value("select D_DIRECT_TO from QUESTIONS where Q_ID = ?", {Variant(id)});
  }
  void Assign(Array ids, const std::string& engineer) {
    auto list = std::make_shared<Array>(std::move(ids));
    RunUnitOfWork([&] { Question().AssignToEngineer(list, engineer); });
  }
  void UpdateAdvanced(const DictionaryPtr& columns) {
    RunUnitOfWork([&] { Question().UpdateAdvancedDetails(columns); });
  }
};

TEST_P(AdvancedTest, AssignsListedRequestsUpToTheFirstNonNumberAndMovesQueueCounts) {
  AddRule(1, "alice", 5);
  AddRule(2, "bob", 0);
  AddRequest(4, Variant("alice"), 25, 2);
  AddRequest(9, Variant("alice"), 30, 1);
  AddRequest(12, Variant("alice"));
  Assign({Variant(4), Variant("9"), Variant("x"), Variant(12)}, "bob");

  EXPECT_EQ(Engineer(4), Variant("bob"));
  EXPECT_EQ(Engineer(9), Variant("bob"));
  EXPECT_EQ(Engineer(12), Variant("alice")) << "the list ends at the first non-number";
  EXPECT_EQ(Queue(1), Variant(3));
  EXPECT_EQ(Queue(2), Variant(2));
  EXPECT_EQ(Value("select Q_STATUS from QUESTIONS where Q_ID = 9"), Variant(30))
      << "the status is kept";

  const ResultSet log = Rows(
      "select Q_ID, T_NAME, T_STATUS, CENTER, T_DATE, T_COMMENT, USERCOMMENT, TIMESPENT "
      "from TRANSACTIONS order by T_ID");
  ASSERT_EQ(log.rows.size(), 2u);
  EXPECT_EQ(log.rows[0][0], Variant(4));
  EXPECT_EQ(log.rows[0][1], Variant("bob"));
  EXPECT_EQ(log.rows[0][2], Variant("25"));
  EXPECT_EQ(log.rows[0][3], Variant(2));
  EXPECT_EQ(log.rows[0][4], Variant(kTestNow));
  EXPECT_EQ(log.rows[0][5], Variant("HQLBL3990"));
  EXPECT_EQ(log.rows[0][6], Variant(""));
  EXPECT_EQ(log.rows[0][7], Variant(0));
  EXPECT_EQ(log.rows[1][0], Variant(9));
  EXPECT_EQ(log.rows[1][2], Variant("30"));
  EXPECT_EQ(log.rows[1][3], Variant(1));
}

TEST_P(AdvancedTest, AssigningToTheSameEngineerOrNoRequestChangesNothing) {
  AddRule(1, "alice", 5);
  AddRule(2, "bob", 1);
  AddRequest(4, Variant("bob"));
  AddRequest(5, Variant::Null());  // directed to nobody: only the new engineer's count rises
  Assign({Variant(4), Variant(5)}, "bob");
  EXPECT_EQ(Queue(1), Variant(5));
  EXPECT_EQ(Queue(2), Variant(2));
  EXPECT_EQ(Count("TRANSACTIONS"), 1);
  EXPECT_EQ(Value("select Q_ID from TRANSACTIONS"), Variant(5));

  Assign({}, "alice");
  Assign({Variant(""), Variant(4)}, "alice");
  Assign({Variant("four"), Variant(4)}, "alice");
  EXPECT_EQ(Engineer(4), Variant("bob"));
  EXPECT_EQ(Count("TRANSACTIONS"), 1);
}

// A fraction is a number: it is converted as whole numbers are (to the nearest, halves to even)
// and the list goes on after it.
TEST_P(AdvancedTest, FractionalNumbersAreRoundedAndTheListGoesOn) {
  AddRule(1, "alice", 5);
  AddRule(2, "bob", 0);
  for (int32_t id : {4, 6, 7, 9}) AddRequest(id, Variant("alice"));
  Assign({Variant(4.5), Variant("5.5"), Variant(7.4), Variant(9)}, "bob");
  for (int32_t id : {4, 6, 7, 9}) EXPECT_EQ(Engineer(id), Variant("bob")) << id;
  EXPECT_EQ(Queue(1), Variant(1));
  EXPECT_EQ(Queue(2), Variant(4));
  EXPECT_EQ(Count("TRANSACTIONS"), 4);
}

// More numbers than one statement may bind (on either database) are assigned in chunks, all in
// the call's one unit of work.
TEST_P(AdvancedTest, ListsLongerThanOneStatementMayBindAreAssigned) {
  AddRule(1, "alice", 5);
  AddRule(2, "bob", 0);
  constexpr int32_t kIds = 300000;
  for (int32_t id : {1, 150001, kIds}) AddRequest(id, Variant("alice"));
  Array ids;
  ids.reserve(kIds);
  for (int32_t id = 1; id <= kIds; ++id) ids.emplace_back(id);
  Assign(std::move(ids), "bob");
  for (int32_t id : {1, 150001, kIds}) EXPECT_EQ(Engineer(id), Variant("bob")) << id;
  EXPECT_EQ(Queue(2), Variant(3));
  EXPECT_EQ(Count("TRANSACTIONS"), 3);
}

TEST_P(AdvancedTest, FailedAssignmentLeavesRowsCountersAndLogUnchanged) {
  AddRule(1, "alice", 5);
  AddRule(2, "bob", 0);
  AddRequest(4, Variant("alice"));
  ScopedRegistration dispatch(std::string(kDispatchClassId),
                              [] { return std::make_unique<FailingIncreaseDispatch>(); });
  try {
    Assign({Variant(4)}, "bob");
    FAIL() << "the assignment should fail";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kDbError);
    EXPECT_NE(e.description().find("METHOD: HlqServiceRequestMTS.AssignToEngineer"),
              std::string::npos);
  }
  EXPECT_EQ(Engineer(4), Variant("alice"));
  EXPECT_EQ(Queue(1), Variant(5));
  EXPECT_EQ(Count("TRANSACTIONS"), 0);
}

TEST_P(AdvancedTest, ConcurrentReassignmentsKeepQueueCountsConsistent) {
  // Either the calls run one after the other (both succeed) or the later one finds the row
  // changed and rolls back; in both cases every count matches where the request ended up.
  AddRule(1, "alice", 5);
  AddRule(2, "bob", 0);
  AddRule(3, "carol", 0);
  AddRequest(4, Variant("alice"));
  std::atomic<int> succeeded = 0;
  std::vector<std::thread> threads;
  for (const char* engineer : {"bob", "carol"}) {
    threads.emplace_back([&, engineer] {
      try {
        Assign({Variant(4)}, engineer);
        ++succeeded;
      } catch (const ComError& e) {
        EXPECT_EQ(e.number(), err::kDbRowChanged) << e.description();
      }
    });
  }
  for (auto& thread : threads) thread.join();

  ASSERT_GE(succeeded.load(), 1);
  const std::string winner = Engineer(4).ToText();
  EXPECT_EQ(Queue(1), Variant(4)) << "the first engineer loses the request once";
  EXPECT_EQ(Queue(2), Variant(winner == "bob" ? 1 : 0));
  EXPECT_EQ(Queue(3), Variant(winner == "carol" ? 1 : 0));
  EXPECT_EQ(Count("TRANSACTIONS"), succeeded.load());
}

TEST_P(AdvancedTest, UpdateAdvancedDetailsWritesOnlyTheKnownColumnsWithTheirTypes) {
  Exec(
      "insert into QUESTIONS (Q_ID, Q_STATUS, Q_SITE, Q_OBJECT, Q_PRIORITY) "
      "values (7, 25, 'OLD', 'OBJ', 1)");
  Exec("insert into QUESTIONS (Q_ID, Q_STATUS, Q_SITE) values (8, 25, 'OTHER')");
  auto columns = Dictionary::Create();
  columns->Set("Q_SITE", Variant("S'1 -- x"));
  columns->Set("Q_PRIORITY", Variant("2"));
  columns->Set("Q_CATEGORY", Variant(2.5));  // halves round to even
  columns->Set("PREFSTARTDATE", Variant("2009-02-03"));
  columns->Set("OSVREQUESTED", Variant(true));
  columns->Set("Q_OBJECT", Variant::Null());    // null: skipped
  columns->Set("Q_REPORTED", Variant());        // empty: skipped
  columns->Set("Q_STATUS", Variant(999));       // not an advanced column: ignored
  columns->Set("q_product", Variant("lower"));  // keys compare exactly
  columns->Set("Q_ID", Variant(7));
  UpdateAdvanced(columns);

  const ResultSet q = Rows(
      "select Q_SITE, Q_PRIORITY, Q_CATEGORY, PREFSTARTDATE, OSVREQUESTED, Q_OBJECT, Q_STATUS, "
      "Q_PRODUCT from QUESTIONS where Q_ID = 7");
  EXPECT_EQ(q.rows[0][0], Variant("S'1 -- x"));
  EXPECT_EQ(q.rows[0][1], Variant(2));
  EXPECT_EQ(q.rows[0][2], Variant(2));
  EXPECT_EQ(q.rows[0][3].ToDate(), (DateTime{2009, 2, 3, 0, 0, 0}));
  EXPECT_EQ(q.rows[0][4], Variant(1));
  EXPECT_EQ(q.rows[0][5], Variant("OBJ"));
  EXPECT_EQ(q.rows[0][6], Variant(25));
  EXPECT_TRUE(q.rows[0][7].IsNull());
  EXPECT_EQ(Value("select Q_SITE from QUESTIONS where Q_ID = 8"), Variant("OTHER"));
}

TEST_P(AdvancedTest, UpdateAdvancedDetailsWithNothingToWriteOrBadValuesChangesNothing) {
  Exec("insert into QUESTIONS (Q_ID, Q_STATUS, Q_SITE, Q_PRIORITY) values (7, 25, 'OLD', 1)");
  auto only_others = Dictionary::Create();
  only_others->Set("Q_ID", Variant(7));
  only_others->Set("T_NAME", Variant("eng1"));
  only_others->Set("Q_SITE", Variant::Null());
  UpdateAdvanced(only_others);
  EXPECT_EQ(Value("select Q_SITE from QUESTIONS where Q_ID = 7"), Variant("OLD"));

  for (const auto& [key, bad] : {std::pair<std::string, Variant>{"Q_PRIORITY", Variant("high")},
                                 {"PREFSTARTDATE", Variant("next week")}}) {
    auto columns = Dictionary::Create();
    columns->Set("Q_SITE", Variant("NEW"));
    columns->Set(key, bad);
    columns->Set("Q_ID", Variant(7));
    try {
      UpdateAdvanced(columns);
      FAIL() << key << " should be refused";
    } catch (const ComError& e) {
      EXPECT_EQ(e.number(), err::kTypeMismatch) << key;
      EXPECT_NE(e.description().find("METHOD: HlqServiceRequestMTS.Question.UpdateAdvancedDetails"),
                std::string::npos);
    }
    EXPECT_EQ(Value("select Q_SITE from QUESTIONS where Q_ID = 7"), Variant("OLD")) << key;
    EXPECT_EQ(Value("select Q_PRIORITY from QUESTIONS where Q_ID = 7"), Variant(1)) << key;
  }
}

TEST_P(AdvancedTest, EngineerTimeIsZeroForNullAndEmptyForAnUnknownRequest) {
  Exec("insert into QUESTIONS (Q_ID, Q_STATUS, TOTALTIMESPENT) values (1, 25, 42)");
  Exec("insert into QUESTIONS (Q_ID, Q_STATUS) values (2, 25)");
  Question question;
  EXPECT_EQ(question.GetEngineerTime(1), Variant(42));
  EXPECT_EQ(question.GetEngineerTime(2), Variant(0));
  EXPECT_TRUE(question.GetEngineerTime(3).IsEmpty());

  const OperationSpec* spec = FindOperation("HlqServiceRequestMTS.Question", "GetEngineerTime");
  ASSERT_NE(spec, nullptr);
  Dictionary args;
  args.Set("i_lQID", Variant("1"));
  const CallResult result = CallOperation(*spec, args);
  EXPECT_EQ(result.result, Variant(42));
  EXPECT_EQ(result.by_ref->Get("i_lQID"), Variant(1));
}

TEST_P(AdvancedTest, FrontEndLogEntryKeepsItsTextsIntact) {
  const DateTime when{2008, 12, 31, 23, 59, 58};
  RunUnitOfWork([&] {
    Question().CreateTransactionLog1(3, "eng'1", "25", 2, when, "it's done", "don't worry");
  });
  const ResultSet log = Rows(
      "select Q_ID, T_NAME, T_STATUS, CENTER, T_DATE, T_COMMENT, USERCOMMENT from TRANSACTIONS");
  ASSERT_EQ(log.rows.size(), 1u);
  EXPECT_EQ(log.rows[0][0], Variant(3));
  EXPECT_EQ(log.rows[0][1], Variant("eng'1"));
  EXPECT_EQ(log.rows[0][2], Variant("25"));
  EXPECT_EQ(log.rows[0][3], Variant(2));
  EXPECT_EQ(log.rows[0][4], Variant(when));
  EXPECT_EQ(log.rows[0][5], Variant("it's done"));
  EXPECT_EQ(log.rows[0][6], Variant("don't worry"));
}

TEST_P(AdvancedTest, EncodedTextHasQuotesDoubledAndNoOuterBlanks) {
  Question question;
  EXPECT_EQ(question.SQLEncodeStrForheliq(Variant("  O'Neil's ")), "O''Neil''s");
  EXPECT_EQ(question.SQLEncodeStrForheliq(Variant::Null()), "");
  EXPECT_EQ(question.SQLEncodeStrForheliq(Variant()), "");
  EXPECT_EQ(question.SQLEncodeStrForheliq(Variant(12)), "12");
  EXPECT_EQ(question.SQLEncodeStrForheliq(Variant("'")), "''");
  EXPECT_EQ(question.SQLEncodeStrForheliq(Variant(Dictionary::Create())), "");
}

INSTANTIATE_DATABASE_TEST_SUITE(AdvancedTest);

}  // namespace
}  // namespace heliq
