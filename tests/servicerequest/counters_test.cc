// The engineers' queue-size and experience counters: which rule row changes, how nulls and
// negative sizes behave, concurrent calls, and rollback with the rest of the call.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/com_error.h"
#include "platform/object_context.h"
#include "servicerequest/dispatch/dispatch.h"
#include "tests/support/database_fixture.h"

namespace heliq {
namespace {

using testing::DatabaseTest;

class CountersTest : public DatabaseTest {
 protected:
  void AddRequest(int32_t id, Variant direct_to) {
    Exec("insert into QUESTIONS (Q_ID, Q_STATUS, CENTER, D_DIRECT_TO) values (?, 15, 1, ?)",
         {Variant(id), direct_to});
  }
  void AddRule(std::string_view table, int32_t rule_id, std::string_view login, Variant queue,
               Variant experience) {
    Exec("insert into " + std::string(table) +
             " (RULE_ID, LOGIN, QUEUESIZE, EXPERIENCE) values (?, ?, ?, ?)",
         {Variant(rule_id), Variant(login), queue, experience});
  }
  // QUEUESIZE and EXPERIENCE of a rule row.
  std::pair<Variant, Variant> Counters(std::string_view table, int32_t rule_id) {
    const ResultSet rows =
        Rows("select QUEUESIZE, EXPERIENCE from " + std::string(table) + " where RULE_ID = ?",
             {Variant(rule_id)});
    return {rows.rows.at(0)[0], rows.rows.at(0)[1]};
  }
  // Every counter operation once, each in a call of its own.
  void ChangeAll(int32_t question_id, int32_t change) {
    RunUnitOfWork([&] { Dispatch().updateQueuesizeofCCE(question_id, change); });
    RunUnitOfWork([&] { Dispatch().updateExperienceofCCE(question_id); });
    RunUnitOfWork([&] { Dispatch().updateQueuesizeofSCE(question_id, change); });
    RunUnitOfWork([&] { Dispatch().updateExperienceofSCE(question_id); });
  }
};

TEST_P(CountersTest, ChangeTheRowOfTheEngineerTheRequestIsDirectedTo) {
  AddRule("CCEDISRULE", 1, "alice", Variant(0), Variant(5));
  AddRule("CCEDISRULE", 2, "bob", Variant(2), Variant(2));
  AddRule("SCEDISRULE", 1, "alice", Variant(4), Variant(0));
  AddRequest(1, Variant("ALICE"));  // logins match without regard to case
  ChangeAll(1, -1);
  EXPECT_EQ(Counters("CCEDISRULE", 1), std::pair(Variant(-1), Variant(6)))
      << "a queue size has no lower bound";
  EXPECT_EQ(Counters("SCEDISRULE", 1), std::pair(Variant(3), Variant(1)));
  EXPECT_EQ(Counters("CCEDISRULE", 2), std::pair(Variant(2), Variant(2)));

  RunUnitOfWork([&] { Dispatch().updateQueuesizeofCCE(1, 3); });
  EXPECT_EQ(Counters("CCEDISRULE", 1).first, Variant(2));
}

TEST_P(CountersTest, NobodyToCountChangesNothing) {
  AddRule("CCEDISRULE", 1, "alice", Variant(1), Variant(1));
  AddRule("SCEDISRULE", 1, "alice", Variant(1), Variant(1));
  AddRequest(1, Variant::Null());
  AddRequest(2, Variant(""));
  AddRequest(3, Variant("carol"));  // no rule row
  for (int32_t id : {1, 2, 3, 404}) ChangeAll(id, 1);
  EXPECT_EQ(Counters("CCEDISRULE", 1), std::pair(Variant(1), Variant(1)));
  EXPECT_EQ(Counters("SCEDISRULE", 1), std::pair(Variant(1), Variant(1)));
}

TEST_P(CountersTest, NullCountersStayNull) {
  AddRule("CCEDISRULE", 1, "alice", Variant::Null(), Variant::Null());
  AddRule("SCEDISRULE", 1, "alice", Variant::Null(), Variant::Null());
  AddRequest(1, Variant("alice"));
  ChangeAll(1, 1);
  EXPECT_EQ(Counters("CCEDISRULE", 1), std::pair(Variant::Null(), Variant::Null()));
  EXPECT_EQ(Counters("SCEDISRULE", 1), std::pair(Variant::Null(), Variant::Null()));
}

TEST_P(CountersTest, OnlyTheEngineersFirstRuleRowCounts) {
  // Inserted out of key order, so that neither insertion order nor chance picks the row.
  AddRule("CCEDISRULE", 7, "alice", Variant(0), Variant(0));
  AddRule("CCEDISRULE", 3, "alice", Variant(0), Variant(0));
  AddRule("SCEDISRULE", 9, "alice", Variant(0), Variant(0));
  AddRule("SCEDISRULE", 4, "alice", Variant(0), Variant(0));
  AddRequest(1, Variant("alice"));
  ChangeAll(1, 1);
  EXPECT_EQ(Counters("CCEDISRULE", 3), std::pair(Variant(1), Variant(1)));
  EXPECT_EQ(Counters("CCEDISRULE", 7), std::pair(Variant(0), Variant(0)));
  EXPECT_EQ(Counters("SCEDISRULE", 4), std::pair(Variant(1), Variant(1)));
  EXPECT_EQ(Counters("SCEDISRULE", 9), std::pair(Variant(0), Variant(0)));
}

TEST_P(CountersTest, ConcurrentCallsLoseNoChange) {
  AddRule("CCEDISRULE", 1, "alice", Variant(0), Variant(0));
  AddRequest(1, Variant("alice"));
  AddRequest(2, Variant("alice"));
  constexpr int kThreads = 4;
  constexpr int kCallsEach = 25;
  std::vector<std::thread> threads;
  std::vector<std::string> failures(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      try {
        for (int i = 0; i < kCallsEach; ++i) {
          // Two requests of the same engineer: the calls meet on one rule row.
          RunUnitOfWork([&] {
            Dispatch dispatch;
            dispatch.updateQueuesizeofCCE(1 + (i + t) % 2, 1);
            dispatch.updateExperienceofCCE(1);
          });
        }
      } catch (const ComError& e) {
        failures[t] = e.description();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (const auto& failure : failures) EXPECT_EQ(failure, "");
  EXPECT_EQ(Counters("CCEDISRULE", 1),
            std::pair(Variant(kThreads * kCallsEach), Variant(kThreads * kCallsEach)));
}

TEST_P(CountersTest, ChangesRollBackWithTheirCall) {
  AddRule("CCEDISRULE", 1, "alice", Variant(2), Variant(2));
  AddRule("SCEDISRULE", 1, "alice", Variant(2), Variant(2));
  AddRequest(1, Variant("alice"));
  // A failure later in the same call.
  EXPECT_THROW(RunUnitOfWork([&] {
                 Dispatch dispatch;
                 dispatch.updateQueuesizeofCCE(1, 1);
                 dispatch.updateExperienceofSCE(1);
                 throw ComError::Of(err::kInvalidProcedureCall, "later step");
               }),
               ComError);
  // A vote to abort after the counter voted commit.
  RunUnitOfWork([&] {
    Dispatch().updateQueuesizeofSCE(1, 1);
    GetObjectContext()->SetAbort();
  });
  EXPECT_EQ(Counters("CCEDISRULE", 1), std::pair(Variant(2), Variant(2)));
  EXPECT_EQ(Counters("SCEDISRULE", 1), std::pair(Variant(2), Variant(2)));
}

INSTANTIATE_DATABASE_TEST_SUITE(CountersTest);

}  // namespace
}  // namespace heliq
