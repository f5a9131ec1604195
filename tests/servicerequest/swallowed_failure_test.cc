// A failure an operation swallows on purpose stays inside it: its writes are undone and the rest
// of the call commits, on every database alike.
#include <gtest/gtest.h>

#include "common/heliq_utilities.h"
#include "platform/object_context.h"
#include "servicerequest/question/question.h"
#include "tests/support/database_fixture.h"

namespace heliq {
namespace {

using testing::Backend;
using testing::DatabaseTest;

constexpr std::string_view kInsertParam =
    "insert into PARAMETERS (PARAM_NAME, PARAM_VALUE) values (?, ?)";

class SwallowedFailureTest : public DatabaseTest {
 protected:
  // Makes every change of QUESTIONS.SERVICEORDER fail inside the database.
  void RefuseServiceOrders() {
    if (backend() == Backend::kSqlite) {
      db().ExecuteScript(
          "CREATE TRIGGER REFUSE_SERVICEORDER BEFORE UPDATE OF SERVICEORDER ON QUESTIONS "
          "BEGIN SELECT RAISE(ABORT, 'service order refused'); END");
    } else {
      // The PostgreSQL schema is shared by the process's tests: TearDown removes the trigger.
      db().ExecuteScript(
          "CREATE FUNCTION REFUSE_SERVICEORDER() RETURNS trigger LANGUAGE plpgsql AS "
          "$$ BEGIN RAISE EXCEPTION 'service order refused'; END $$; "
          "CREATE TRIGGER REFUSE_SERVICEORDER BEFORE UPDATE OF SERVICEORDER ON QUESTIONS "
          "FOR EACH ROW EXECUTE FUNCTION REFUSE_SERVICEORDER()");
    }
  }

  void TearDown() override {
    if (backend() == Backend::kPostgres && !IsSkipped()) {
      db().ExecuteScript(
          "DROP TRIGGER IF EXISTS REFUSE_SERVICEORDER ON QUESTIONS; "
          "DROP FUNCTION IF EXISTS REFUSE_SERVICEORDER()");
    }
    DatabaseTest::TearDown();
  }
};

TEST_P(SwallowedFailureTest, LostServiceOrderKeepsTheRestOfTheCall) {
  Exec("insert into QUESTIONS (Q_ID, Q_STATUS, SERVICEORDER) values (1, 5, 'old')");
  RefuseServiceOrders();
  RunUnitOfWork([] {
    GetHeliqConnection()->Execute(kInsertParam, {Variant("BEFORE"), Variant("1")});
    Question().UpdateSvcOrderDetails("SO-2", 1);
    GetHeliqConnection()->Execute(kInsertParam, {Variant("AFTER"), Variant("2")});
  });
  EXPECT_EQ(Count("PARAMETERS"), 2);
  EXPECT_EQ(Value("select SERVICEORDER from QUESTIONS where Q_ID = 1").ToText(), "old");
  // Without the failure the service order is written in the call.
  db().ExecuteScript(backend() == Backend::kSqlite
                         ? "DROP TRIGGER REFUSE_SERVICEORDER"
                         : "DROP TRIGGER REFUSE_SERVICEORDER ON QUESTIONS");
  RunUnitOfWork([] { Question().UpdateSvcOrderDetails("SO-3", 1); });
  EXPECT_EQ(Value("select SERVICEORDER from QUESTIONS where Q_ID = 1").ToText(), "SO-3");
}

INSTANTIATE_DATABASE_TEST_SUITE(SwallowedFailureTest);

}  // namespace
}  // namespace heliq
