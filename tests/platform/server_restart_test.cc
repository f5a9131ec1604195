// The PostgreSQL pool across a server restart, on a throwaway cluster of the test's own: calls
// fail cleanly while the server is down and succeed again afterwards in the same process.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "host/host.h"
#include "platform/com_error.h"
#include "platform/configuration.h"
#include "platform/connection.h"
#include "platform/object_context.h"
#include "tests/support/pg_cluster.h"

namespace heliq {
namespace {

using std::chrono::milliseconds;

constexpr std::string_view kInsert = "insert into RESTART_PROBE (ID) values (?)";

class ServerRestartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::PostgresTestsWanted()) GTEST_SKIP() << "HELIQ_TEST_PG is not set";
    cluster_ = std::make_unique<testing::PgCluster>("restart");
    ASSERT_TRUE(cluster_->started());
    connection_ = "postgresql:" + cluster_->Keywords() + " connect_timeout=2";
    SetSettingsText("[database]\npool_size = 6\npool_wait_ms = 2000\n[log]\nfile = \"\"\n");
    SessionPool::ResetAll();
    OpenSession(connection_)->ExecuteScript("CREATE TABLE RESTART_PROBE (ID integer PRIMARY KEY)");
  }

  void TearDown() override {
    SessionPool::ResetAll();
    cluster_.reset();
  }

  // One call that writes `id`; the failure's number, or 0 on success.
  int32_t Call(int id) {
    try {
      RunUnitOfWork([&] { Connection::Open(connection_, ".")->Execute(kInsert, {Variant(id)}); });
      return 0;
    } catch (const ComError& e) {
      return e.number();
    }
  }

  std::set<int> CommittedIds() {
    std::set<int> ids;
    for (const auto& row :
         OpenSession(connection_)->Query("select ID from RESTART_PROBE", {}).rows) {
      ids.insert(row[0].ToLong());
    }
    return ids;
  }

  std::unique_ptr<testing::PgCluster> cluster_;
  std::string connection_;
};

TEST_F(ServerRestartTest, PoolRecoversWithoutRestartingTheProcess) {
  // Idle sessions left in the pool are dead after the restart; the first call must not fail on
  // them, since it wrote nothing before noticing.
  {
    std::vector<std::thread> warm;
    for (int i = 0; i < 3; ++i) warm.emplace_back([&, i] { EXPECT_EQ(Call(i + 1), 0); });
    for (auto& thread : warm) thread.join();
  }
  ASSERT_TRUE(cluster_->Halt());
  ASSERT_TRUE(cluster_->Resume());
  EXPECT_EQ(Call(10), 0);

  // Under load: four callers while the server goes down and comes back.
  constexpr int kThreads = 4;
  std::atomic<bool> stop{false};
  std::mutex mutex;
  std::set<int> succeeded;
  std::vector<int32_t> failures;
  std::vector<int> last_result(kThreads, -1);
  std::vector<std::thread> callers;
  for (int t = 0; t < kThreads; ++t) {
    callers.emplace_back([&, t] {
      for (int i = 0; !stop.load(); ++i) {
        const int id = 1000 + t * 100000 + i;
        const int32_t number = Call(id);
        std::lock_guard lock(mutex);
        if (number == 0) {
          succeeded.insert(id);
        } else {
          failures.push_back(number);
          std::this_thread::sleep_for(milliseconds(20));
        }
        last_result[t] = number;
      }
    });
  }
  std::this_thread::sleep_for(milliseconds(300));
  ASSERT_TRUE(cluster_->Halt());
  std::this_thread::sleep_for(milliseconds(700));
  const size_t failed_while_down = [&] {
    std::lock_guard lock(mutex);
    return failures.size();
  }();
  ASSERT_TRUE(cluster_->Resume());
  std::this_thread::sleep_for(milliseconds(700));
  stop = true;
  for (auto& thread : callers) thread.join();

  EXPECT_GT(failed_while_down, 0u);
  for (int32_t number : failures) {
    // A clear, retryable answer: the host turns it into 503.
    EXPECT_EQ(number, err::kDbConnection);
    EXPECT_EQ(HttpStatusFor(number), 503);
  }
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(last_result[t], 0) << "caller " << t;
  // Every call reported as committed is in the database.
  const std::set<int> committed = CommittedIds();
  for (int id : succeeded) EXPECT_TRUE(committed.count(id)) << id;
  EXPECT_LE(SessionPool::TotalStats().open, 6u);
}

}  // namespace
}  // namespace heliq
