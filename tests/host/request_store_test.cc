// The front end's unregistered request: the number it gets and the values it may hold.
#include "host/request_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/com_error.h"
#include "portal/filehandling/file_store.h"
#include "tests/support/database_fixture.h"

namespace heliq {
namespace {

using testing::DatabaseTest;

class RequestStoreTest : public DatabaseTest {
 protected:
  int32_t Create() {
    Dictionary fields;
    fields.Set("Q_DESC", Variant("Printer jams"));
    return CreateUnregisteredRequest(fields);
  }
};

// Whatever refers to a number (a log row or a reminder left by an operation on a number nobody
// registered, a preview, an archived request, a folder in the file store) keeps it from being
// handed out: the new request must not inherit that history.
TEST_P(RequestStoreTest, NumbersReferencedAnywhereAreNeverHandedOut) {
  EXPECT_EQ(Create(), 1);
  Exec(
      "insert into TRANSACTIONS (Q_ID, T_NAME, T_STATUS, CENTER, T_COMMENT) "
      "values (2, 'reg1', '180', 1, '')");
  EXPECT_EQ(Create(), 3);
  Exec("insert into REMINDER (Q_ID, R_STATUS) values (4, '180')");
  EXPECT_EQ(Create(), 5);
  Exec("insert into PREVIEW (Q_ID, A_TEXT) values (6, 'draft')");
  EXPECT_EQ(Create(), 7);
  Exec("insert into QUESTIONHISTORY (Q_ID, Q_STATUS) values (8, 180)");
  EXPECT_EQ(Create(), 9);
  std::filesystem::create_directories(RequestFolder(10) / "incoming");
  std::filesystem::create_directories(RequestFolder(11));
  EXPECT_EQ(Create(), 12);
  EXPECT_EQ(Value("select count(*) from TRANSACTIONS where Q_ID = 12").ToLong(), 0);
}

// Many hosts create rows at once: every creation succeeds with a number of its own, and a number
// whose row is gone is not handed out again.
TEST_P(RequestStoreTest, ConcurrentCreationsEachGetANumberOfTheirOwn) {
  constexpr int kThreads = 8;
  constexpr int kEach = 15;
  std::vector<std::vector<int32_t>> ids(kThreads);
  std::vector<std::string> failures(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      try {
        for (int i = 0; i < kEach; ++i) ids[t].push_back(Create());
      } catch (const ComError& e) {
        failures[t] = e.description();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  std::set<int32_t> distinct;
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(failures[t], "") << "thread " << t;
    distinct.insert(ids[t].begin(), ids[t].end());
  }
  EXPECT_EQ(distinct.size(), size_t{kThreads * kEach});
  EXPECT_EQ(Value("select count(*) from QUESTIONS").ToLong(), kThreads * kEach);

  Exec("delete from QUESTIONS");
  EXPECT_EQ(Create(), kThreads * kEach + 1);
  Exec("delete from REQUEST_NUMBERS");
  Exec("delete from QUESTIONS");
  EXPECT_EQ(Create(), 1) << "without its row the table is restored";
  EXPECT_EQ(Value("select LAST_ISSUED from REQUEST_NUMBERS").ToLong(), 1);
}

// Each value must fit its column; a misfit is refused naming the field, and nothing is written.
TEST_P(RequestStoreTest, ValuesThatDoNotFitTheirColumnAreRefusedByName) {
  struct Case {
    const char* field;
    Variant value;
  };
  const Case refused[] = {
      {"CENTER", Variant("abc")},
      {"CENTER", Variant(3)},
      {"CENTER", Variant(1.5)},
      {"Q_PRODUCTCAT", Variant("1")},
      {"PRODUCTID", Variant(int64_t{1} << 40)},
      {"Q_PRIORITY", Variant(true)},
      {"Q_DESC", Variant(12)},
      {"BP_NUMBER", Variant(Dictionary::Create())},
      {"PROSPECT", Variant(2)},
      {"OSVREQUESTED", Variant("yes")},
      {"PREFSTARTDATE", Variant("soon")},
      {"PREFSTARTDATE", Variant(20090101)},
  };
  for (const Case& c : refused) {
    Dictionary fields;
    fields.Set("Q_DESC", Variant("valid"));
    fields.Set(c.field, c.value);
    try {
      CreateUnregisteredRequest(fields);
      ADD_FAILURE() << c.field << " accepted";
    } catch (const ComError& e) {
      EXPECT_EQ(e.number(), err::kBadRequest) << c.field;
      EXPECT_NE(e.description().find(c.field), std::string::npos) << e.description();
    }
  }
  EXPECT_EQ(Count("QUESTIONS"), 0);

  Dictionary fields;
  fields.Set("CENTER", Variant(2.0));
  fields.Set("PROSPECT", Variant(true));
  fields.Set("OSVREQUESTED", Variant(0));
  fields.Set("Q_PRIORITY", Variant(int64_t{-3}));
  fields.Set("BP_NUMBER", Variant::Null());
  fields.Set("PREFSTARTDATE", Variant("2009-02-03 04:05:06"));
  const int32_t id = CreateUnregisteredRequest(fields);
  const ResultSet row = Rows(
      "select CENTER, PROSPECT, OSVREQUESTED, Q_PRIORITY, BP_NUMBER, PREFSTARTDATE "
      "from QUESTIONS where Q_ID = ?",
      {Variant(id)});
  ASSERT_EQ(row.rows.size(), 1u);
  EXPECT_EQ(row.rows[0][0], Variant(2));
  EXPECT_EQ(row.rows[0][1], Variant(1));
  EXPECT_EQ(row.rows[0][2], Variant(0));
  EXPECT_EQ(row.rows[0][3], Variant(-3));
  EXPECT_TRUE(row.rows[0][4].IsNull());
  EXPECT_EQ(row.rows[0][5].ToDate(), (DateTime{2009, 2, 3, 4, 5, 6}));
}

INSTANTIATE_DATABASE_TEST_SUITE(RequestStoreTest);

}  // namespace
}  // namespace heliq
