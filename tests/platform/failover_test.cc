// The PostgreSQL pool beside a standby, on throwaway clusters of the test's own: a multi-host
// connection string finds the server that accepts writes, a standby is refused at connect, and a
// session that writes on a standby fails with the retryable error and is not used again.
#include <gtest/gtest.h>

#include <string>

#include "host/host.h"
#include "platform/com_error.h"
#include "platform/configuration.h"
#include "platform/connection.h"
#include "platform/object_context.h"
#include "tests/support/pg_cluster.h"

namespace heliq {
namespace {

constexpr std::string_view kCreate = "CREATE TABLE FAILOVER_PROBE (ID integer PRIMARY KEY)";
constexpr std::string_view kInsert = "insert into FAILOVER_PROBE (ID) values (?)";
constexpr std::string_view kInRecovery = "select pg_is_in_recovery()";
constexpr std::string_view kCount = "select count(*) from FAILOVER_PROBE";

class StandbyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::PostgresTestsWanted()) GTEST_SKIP() << "HELIQ_TEST_PG is not set";
    primary_ = std::make_unique<testing::PgCluster>("primary");
    ASSERT_TRUE(primary_->started());
    OpenSession("postgresql:" + primary_->Keywords())->ExecuteScript(kCreate);
    standby_ = std::make_unique<testing::PgCluster>("standby", *primary_);
    ASSERT_TRUE(standby_->started());
    SetSettingsText("[database]\npool_size = 4\n[log]\nfile = \"\"\n");
    SessionPool::ResetAll();
  }
  void TearDown() override { SessionPool::ResetAll(); }

  // A connection string that lists the standby first, then the primary.
  std::string BothHosts(const std::string& extra = "") const {
    return "postgresql:host=127.0.0.1,127.0.0.1 port=" + std::to_string(standby_->port()) + "," +
           std::to_string(primary_->port()) + " user=postgres dbname=postgres connect_timeout=2" +
           extra;
  }
  std::string StandbyOnly(const std::string& extra = "") const {
    return "postgresql:" + standby_->Keywords() + " connect_timeout=2" + extra;
  }

  // One call that writes `id` through `connection`; the failure's number, or 0 on success.
  static int32_t Write(const std::string& connection, int id) {
    try {
      RunUnitOfWork([&] { Connection::Open(connection, ".")->Execute(kInsert, {Variant(id)}); });
      return 0;
    } catch (const ComError& e) {
      return e.number();
    }
  }

  std::unique_ptr<testing::PgCluster> primary_;
  std::unique_ptr<testing::PgCluster> standby_;
};

TEST_F(StandbyTest, SessionsGoToTheServerThatAcceptsWrites) {
  // Listed first, the standby is skipped: the session lands on the primary.
  EXPECT_FALSE(OpenSession(BothHosts())->Query(kInRecovery, {}).rows[0][0].ToBool());
  EXPECT_EQ(Write(BothHosts(), 1), 0);

  // A standby alone is refused at connect, with libpq's reason, as a retryable failure.
  try {
    OpenSession(StandbyOnly());
    ADD_FAILURE() << "a session on a read-only server was opened";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kDbConnection);
    EXPECT_NE(e.description().find("read-only"), std::string::npos) << e.description();
  }

  // The connection string may allow a standby; the committed row is there, replicated.
  EXPECT_EQ(
      OpenSession(StandbyOnly(" target_session_attrs=any"))->Query(kCount, {}).rows[0][0].ToLong(),
      1);
}

TEST_F(StandbyTest, AWriteOnAStandbyFailsRetryablyAndItsSessionIsDropped) {
  const std::string any = StandbyOnly(" target_session_attrs=any");
  const int32_t number = Write(any, 2);
  EXPECT_EQ(number, err::kDbConnection);
  EXPECT_EQ(HttpStatusFor(number), 503);
  // Not kept for the next call, which would fail the same way on it.
  EXPECT_EQ(SessionPool::For(any, ".")->Stats().open, 0u);
  // Nothing was written anywhere.
  EXPECT_EQ(
      OpenSession("postgresql:" + primary_->Keywords())->Query(kCount, {}).rows[0][0].ToLong(), 0);
}

}  // namespace
}  // namespace heliq
