// The transaction log: one TRANSACTIONS row per action, its key handed back to the caller.
#include "common/transaction_log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/heliq_utilities.h"
#include "platform/com_error.h"
#include "platform/object_context.h"
#include "tests/support/database_fixture.h"

namespace heliq {
namespace {

using testing::Backend;
using testing::DatabaseTest;
using testing::kTestNow;
using testing::RecordingLog;

constexpr std::string_view kSelectRow =
    "select Q_ID, T_NAME, T_STATUS, CENTER, T_DATE, T_COMMENT, USERCOMMENT, TIMESPENT "
    "from TRANSACTIONS where T_ID = ?";
constexpr std::string_view kInsertParam =
    "insert into PARAMETERS (PARAM_NAME, PARAM_VALUE) values (?, ?)";

class TransactionLogTest : public DatabaseTest {
 protected:
  // The columns of the row `t_id` (empty when there is none).
  std::vector<Variant> Row(int32_t t_id) {
    ResultSet result = Rows(kSelectRow, {Variant(t_id)});
    return result.rows.empty() ? std::vector<Variant>() : result.rows.front();
  }
};

// Refuses log rows whose actor is "refused", for as long as it lives (the PostgreSQL test database
// outlives a test, so the rule must go again).
class RefuseActor {
 public:
  RefuseActor(Backend backend, Session& db) : db_(db), postgres_(backend == Backend::kPostgres) {
    db_.ExecuteScript(postgres_ ? "ALTER TABLE TRANSACTIONS ADD CONSTRAINT TRANSACTIONS_REFUSE "
                                  "CHECK (T_NAME <> 'refused')"
                                : "CREATE TRIGGER TRANSACTIONS_REFUSE BEFORE INSERT ON "
                                  "TRANSACTIONS WHEN NEW.T_NAME = 'refused' BEGIN SELECT "
                                  "RAISE(ABORT, 'refused'); END");
  }
  ~RefuseActor() {
    db_.ExecuteScript(postgres_ ? "ALTER TABLE TRANSACTIONS DROP CONSTRAINT TRANSACTIONS_REFUSE"
                                : "DROP TRIGGER TRANSACTIONS_REFUSE");
  }

 private:
  Session& db_;
  bool postgres_;
};

TEST_P(TransactionLogTest, RowsOfOneSecondGetTheirOwnIncreasingIds) {
  const int32_t first = CreateTransactionLog(42, "cce1", "25", 1, kTestNow, "first", "", 0);
  const int32_t second = CreateTransactionLog(42, "cce1", "30", 1, kTestNow, "second", "", 0);
  const int32_t other = CreateTransactionLog(43, "cce2", "5", 2, kTestNow, "", "", 0);
  EXPECT_LT(first, second);
  EXPECT_LT(second, other);
  EXPECT_EQ(Row(first)[5], Variant("first"));
  EXPECT_EQ(Row(second)[5], Variant("second"));
  EXPECT_EQ(Row(other)[0], Variant(43));
  // Inside a unit of work too, each call sees its own row.
  RunUnitOfWork([&] {
    const int32_t a = CreateTransactionLog(42, "cce1", "40", 1, kTestNow, "a", "", 0);
    const int32_t b = CreateTransactionLog(42, "cce1", "150", 1, kTestNow, "b", "", 0);
    EXPECT_GT(a, other);
    EXPECT_GT(b, a);
  });
  EXPECT_EQ(Count("TRANSACTIONS"), 5);
}

TEST_P(TransactionLogTest, ConcurrentCallsEachGetTheirOwnRow) {
  constexpr int kThreads = 4;
  constexpr int kCallsEach = 10;
  std::mutex mutex;
  std::map<int32_t, std::string> returned;  // T_ID -> comment of the call that got it
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kCallsEach; ++i) {
        const std::string comment = "t" + std::to_string(t) + "-" + std::to_string(i);
        try {
          const int32_t id = RunUnitOfWork(
              [&] { return CreateTransactionLog(7, "cce", "25", 1, kTestNow, comment, "", 1); });
          std::lock_guard lock(mutex);
          returned.emplace(id, comment);
        } catch (const ComError& e) {
          ADD_FAILURE() << e.description();
          ++failures;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  ASSERT_EQ(failures.load(), 0);
  ASSERT_EQ(returned.size(), static_cast<size_t>(kThreads * kCallsEach));  // no id twice
  for (const auto& [id, comment] : returned) EXPECT_EQ(Row(id)[5], Variant(comment)) << id;
  EXPECT_EQ(Count("TRANSACTIONS"), kThreads * kCallsEach);
}

TEST_P(TransactionLogTest, StoresEveryValueAsGiven) {
  const int32_t id =
      CreateTransactionLog(42, "O'Neil", "165", 2, {2008, 6, 5, 3, 49, 1}, "c", "u", 0);
  const auto row = Row(id);
  ASSERT_FALSE(row.empty());
  EXPECT_EQ(row[0], Variant(42));
  EXPECT_EQ(row[1], Variant("O'Neil"));
  EXPECT_EQ(row[2], Variant("165"));
  EXPECT_EQ(row[3], Variant(2));
  EXPECT_EQ(row[4], Variant(DateTime{2008, 6, 5, 3, 49, 1}));
  EXPECT_EQ(row[6], Variant("u"));
  EXPECT_EQ(row[7], Variant(0));  // time spent 0 is 0, not null
}

TEST_P(TransactionLogTest, HostileCommentsAreStoredVerbatim) {
  const std::vector<std::string> comments = {
      "it's \"quoted\" ''",
      "'); drop table TRANSACTIONS; --",
      "HQLBL3554;;;;cce\\1 %s ?",
      "\xE6\x97\xA5\xE6\x9C\xAC \xF0\x9D\x84\x9E\r\nline two",
  };
  for (const auto& comment : comments) {
    const int32_t id = CreateTransactionLog(1, "cce", "10", 1, kTestNow, comment, comment, 0);
    EXPECT_EQ(Row(id)[5], Variant(comment));
    EXPECT_EQ(Row(id)[6], Variant(comment));
  }
  EXPECT_EQ(Count("TRANSACTIONS"), static_cast<int64_t>(comments.size()));
}

TEST_P(TransactionLogTest, NulInCommentIsStoredWholeOrRefusedNeverTruncated) {
  const std::string comment("before\0after", 12);
  if (backend() == Backend::kSqlite) {
    const int32_t id = CreateTransactionLog(1, "cce", "10", 1, kTestNow, comment, "", 0);
    EXPECT_EQ(Row(id)[5].ToText(), comment);
    return;
  }
  // PostgreSQL texts cannot hold NUL: the call fails as a whole and writes nothing.
  try {
    CreateTransactionLog(1, "cce", "10", 1, kTestNow, comment, "", 0);
    FAIL() << "NUL accepted";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kTypeMismatch);
    EXPECT_TRUE(e.description().starts_with(
        "\r\nMETHOD: HlqServiceRequestMTS.Question.CreateTransactionLog caught: "));
  }
  EXPECT_EQ(Count("TRANSACTIONS"), 0);
}

TEST_P(TransactionLogTest, FailingLogRowRollsBackTheCallersOtherWrites) {
  RefuseActor refuse(backend(), db());
  try {
    RunUnitOfWork([] {
      GetHeliqConnection()->Execute(kInsertParam, {Variant("Written"), Variant("1")});
      CreateTransactionLog(1, "cce", "25", 1, kTestNow, "kept?", "", 0);
      CreateTransactionLog(1, "refused", "30", 1, kTestNow, "", "", 0);
    });
    FAIL() << "refused row accepted";
  } catch (const ComError& e) {
    EXPECT_TRUE(e.description().starts_with(
        "\r\nMETHOD: HlqServiceRequestMTS.Question.CreateTransactionLog caught: "))
        << e.description();
  }
  EXPECT_EQ(Count("PARAMETERS"), 0);
  EXPECT_EQ(Count("TRANSACTIONS"), 0);
  ASSERT_EQ(RecordingLog::Entries().size(), 1u);
  // The same call without the refused row commits.
  RunUnitOfWork([] { CreateTransactionLog(1, "cce", "25", 1, kTestNow, "", "", 0); });
  EXPECT_EQ(Count("TRANSACTIONS"), 1);
}

INSTANTIATE_DATABASE_TEST_SUITE(TransactionLogTest);

}  // namespace
}  // namespace heliq
