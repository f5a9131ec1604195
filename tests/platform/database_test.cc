// The data-access facade and the unit of work, on every available database.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "common/heliq_utilities.h"
#include "host/host.h"
#include "platform/com_error.h"
#include "platform/configuration.h"
#include "platform/connection.h"
#include "platform/object_context.h"
#include "tests/support/database_fixture.h"

namespace heliq {
namespace {

using testing::Backend;
using testing::DatabaseTest;

constexpr std::string_view kInsertParam =
    "insert into PARAMETERS (PARAM_NAME, PARAM_VALUE) values (?, ?)";

Deadline In(std::chrono::milliseconds delay) { return std::chrono::steady_clock::now() + delay; }

// Settings naming the two applications' databases as given, plus `extra` TOML; the stand-ins get
// files of their own as in the fixture.
void UseConnections(const std::filesystem::path& install_dir, const std::string& heliq,
                    const std::string& catalogue, const std::string& extra = "") {
  auto quoted = [](const std::string& text) { return "'" + text + "'"; };
  SetSettingsText("install_dir = " + quoted(install_dir.string()) +
                  "\ndefault_language = 1033\n[connections]\nHeliq = " + quoted(heliq) +
                  "\nRAvuruvo = " + quoted(catalogue) +
                  "\nBackOffice = " + quoted("sqlite:" + (install_dir / "BackOffice.db").string()) +
                  "\nDirectory = " + quoted("sqlite:" + (install_dir / "Directory.db").string()) +
                  "\n[log]\nfile = \"\"\n" + extra);
  SessionPool::ResetAll();
}

class UnitOfWorkTest : public DatabaseTest {};

TEST_P(UnitOfWorkTest, FailureAfterTwoWritesLeavesNeither) {
  EXPECT_THROW(RunUnitOfWork([] {
                 auto connection = GetHeliqConnection();
                 connection->Execute(kInsertParam, {Variant("A"), Variant("1")});
                 connection->Execute(kInsertParam, {Variant("B"), Variant("2")});
                 throw ComError::Of(err::kOverflow, "test");
               }),
               ComError);
  EXPECT_EQ(Count("PARAMETERS"), 0);
}

TEST_P(UnitOfWorkTest, AbortVoteRollsBackAndCompleteCommits) {
  RunUnitOfWork([] {
    GetHeliqConnection()->Execute(kInsertParam, {Variant("A"), Variant("1")});
    AbortContext();
  });
  EXPECT_EQ(Count("PARAMETERS"), 0);
  RunUnitOfWork([] {
    GetHeliqConnection()->Execute(kInsertParam, {Variant("A"), Variant("1")});
    CommitContext();
  });
  // A call that votes nothing commits too.
  RunUnitOfWork([] { GetHeliqConnection()->Execute(kInsertParam, {Variant("B"), Variant("2")}); });
  EXPECT_EQ(Count("PARAMETERS"), 2);
}

TEST_P(UnitOfWorkTest, ConnectionsOfOneCallShareItsTransaction) {
  RunUnitOfWork([] {
    auto first = GetHeliqConnection();
    first->Execute(kInsertParam, {Variant("A"), Variant("1")});
    first.reset();
    // A second connection of the same call sees the first one's uncommitted row.
    auto second = GetHeliqConnection();
    EXPECT_EQ(second->QueryValue("select count(*) from PARAMETERS").ToLong(), 1);
    AbortContext();
  });
  EXPECT_EQ(Count("PARAMETERS"), 0);
}

TEST_P(UnitOfWorkTest, WithoutContextStatementsCommitAsTheyRun) {
  ASSERT_EQ(GetObjectContext(), nullptr);
  auto connection = GetHeliqConnection();
  connection->Execute(kInsertParam, {Variant("A"), Variant("1")});
  EXPECT_EQ(Count("PARAMETERS"), 1);
  EXPECT_THROW(connection->Execute(kInsertParam, {Variant("A"), Variant("2")}), ComError);
  EXPECT_EQ(Value("select PARAM_VALUE from PARAMETERS").ToText(), "1");
  AbortContext();  // no context: nothing happens
  EXPECT_EQ(Count("PARAMETERS"), 1);
}

TEST_P(UnitOfWorkTest, NestedUnitOfWorkIsRefused) {
  RunUnitOfWork([] {
    try {
      UnitOfWork nested;
      FAIL() << "nested unit of work accepted";
    } catch (const ComError& e) {
      EXPECT_EQ(e.number(), err::kInvalidProcedureCall);
    }
  });
}

TEST_P(UnitOfWorkTest, ConcurrentWritersNeverLoseAnUpdate) {
  Exec(kInsertParam, {Variant("COUNTER"), Variant("0")});
  constexpr int kThreads = 4;
  constexpr int kCallsEach = 25;
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kCallsEach; ++i) {
        try {
          RunUnitOfWork([] {
            auto connection = GetHeliqConnection();
            // Read-modify-write through an updatable row: the optimistic check or the writer
            // lock must keep concurrent calls from overwriting each other.
            auto row = Recordset::OpenForUpdate(
                *connection, "select PARAM_VALUE from PARAMETERS where PARAM_NAME = ?",
                {Variant("COUNTER")}, {"PARAMETERS", {{"PARAM_NAME", Variant("COUNTER")}}});
            row->SetField("PARAM_VALUE",
                          Variant(std::to_string(row->Field("PARAM_VALUE").ToLong() + 1)));
            row->Update();
          });
        } catch (const ComError& e) {
          EXPECT_EQ(e.number(), err::kDbRowChanged) << e.description();
          ++failures;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(Value("select PARAM_VALUE from PARAMETERS").ToLong() + failures.load(),
            kThreads * kCallsEach);
}

TEST_P(UnitOfWorkTest, SwallowedFailureIsConfinedToItsSavepoint) {
  RunUnitOfWork([] {
    GetHeliqConnection()->Execute(kInsertParam, {Variant("A"), Variant("1")});
    try {
      Savepoint part;
      auto connection = GetHeliqConnection();
      connection->Execute(kInsertParam, {Variant("B"), Variant("2")});
      connection->Execute(kInsertParam, {Variant("A"), Variant("duplicate")});
      part.Release();
      ADD_FAILURE() << "duplicate key accepted";
    } catch (const ComError& e) {
      EXPECT_EQ(e.number(), err::kDbConstraint);
    }
    // Nested parts: the inner one fails, the outer one keeps its own write.
    Savepoint outer;
    GetHeliqConnection()->Execute(kInsertParam, {Variant("C"), Variant("3")});
    try {
      Savepoint inner;
      GetHeliqConnection()->Execute("update PARAMETERS set PARAM_VALUE = 'x'");
      GetHeliqConnection()->Execute("selec nothing");
    } catch (const ComError&) {
    }
    outer.Release();
  });
  const ResultSet rows = Rows("select PARAM_NAME, PARAM_VALUE from PARAMETERS order by PARAM_NAME");
  ASSERT_EQ(rows.rows.size(), 2u);
  EXPECT_EQ(rows.rows[0][0].ToText() + rows.rows[0][1].ToText(), "A1");
  EXPECT_EQ(rows.rows[1][0].ToText() + rows.rows[1][1].ToText(), "C3");
}

TEST_P(UnitOfWorkTest, SessionBegunInsideAFailedPartLosesOnlyThePart) {
  RunUnitOfWork([] {
    try {
      Savepoint part;
      // The call's first statement: its session begins inside the savepoint.
      GetHeliqConnection()->Execute(kInsertParam, {Variant("B"), Variant("2")});
      throw ComError::Of(err::kOverflow, "test");
    } catch (const ComError&) {
    }
    GetHeliqConnection()->Execute(kInsertParam, {Variant("C"), Variant("3")});
  });
  EXPECT_EQ(Value("select PARAM_NAME from PARAMETERS").ToText(), "C");
  EXPECT_EQ(Count("PARAMETERS"), 1);
}

TEST_P(UnitOfWorkTest, FailureSwallowedWithoutSavepointFailsTheCommit) {
  // The database would roll the transaction back (PostgreSQL answers COMMIT with ROLLBACK);
  // reporting success would lose the call's writes silently. Both databases refuse alike.
  try {
    RunUnitOfWork([] {
      auto connection = GetHeliqConnection();
      connection->Execute(kInsertParam, {Variant("A"), Variant("1")});
      try {
        connection->Execute(kInsertParam, {Variant("A"), Variant("again")});
      } catch (const ComError&) {
      }
    });
    FAIL() << "a spoiled transaction was reported as committed";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kDbError);
    EXPECT_NE(e.description().find("rolled back"), std::string::npos) << e.description();
    EXPECT_EQ(HttpStatusFor(e.number()), 500);
  }
  EXPECT_EQ(Count("PARAMETERS"), 0);
  // The session went back to its pool clean: the next call commits.
  RunUnitOfWork([] { GetHeliqConnection()->Execute(kInsertParam, {Variant("B"), Variant("2")}); });
  EXPECT_EQ(Count("PARAMETERS"), 1);
}

TEST_P(UnitOfWorkTest, CallThatCannotGetTheWriterInTimeCommitsNothing) {
  Exec(kInsertParam, {Variant("K"), Variant("0")});
  std::promise<void> holding;
  std::promise<void> release;
  std::thread holder([&] {
    RunUnitOfWork([&] {
      auto connection = GetHeliqConnection();
      connection->Execute("update PARAMETERS set PARAM_VALUE = 'held' where PARAM_NAME = 'K'");
      // PostgreSQL writers run side by side; a held table lock makes the host's call below wait.
      if (connection->dialect() == Dialect::kPostgres) {
        connection->Execute("lock table PROSPECT in exclusive mode");
      }
      holding.set_value();
      release.get_future().wait();
    });
  });
  holding.get_future().wait();
  const auto started = std::chrono::steady_clock::now();
  try {
    RunUnitOfWork(
        [] {
          auto connection = GetHeliqConnection();
          connection->Execute(kInsertParam, {Variant("LATE"), Variant("1")});
          connection->Execute("update PARAMETERS set PARAM_VALUE = 'late' where PARAM_NAME = 'K'");
        },
        false, In(std::chrono::milliseconds(300)));
    ADD_FAILURE() << "the late call got the writer";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kCallDeadlineExceeded) << e.description();
    EXPECT_EQ(HttpStatusFor(e.number()), 503);
  }
  // Through the host the deadline of the call's limits does the same: 503, nothing written.
  CallLimits limits;
  limits.deadline = std::chrono::milliseconds(300);
  const HostResponse response =
      InvokeOperation("HlqServiceRequestMTS.Prospect", "CreateNewProspect",
                      R"({"i_sEmailID": "p@example.com", "i_sContactInfo": "x"})", limits);
  EXPECT_EQ(response.status, 503) << response.body.dump();
  EXPECT_EQ(response.body["error"]["number"], err::kCallDeadlineExceeded) << response.body.dump();
  EXPECT_EQ(Count("PROSPECT"), 0);
  // Bounded by the deadlines, not by the holder (which never lets go by itself).
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  release.set_value();
  holder.join();
  EXPECT_EQ(Count("PARAMETERS"), 1);
  EXPECT_EQ(Value("select PARAM_VALUE from PARAMETERS").ToText(), "held");
  // The turn the late call gave up does not block the queue behind it.
  RunUnitOfWork(
      [] {
        GetHeliqConnection()->Execute(kInsertParam, {Variant("NEXT"), Variant("")});
      },
      false, In(std::chrono::seconds(5)));
  EXPECT_EQ(Count("PARAMETERS"), 2);
}

TEST_P(UnitOfWorkTest, PoolNeverOpensMoreThanItsSize) {
  UseConnections(install_dir(), connection_string(), connection_string(),
                 "[database]\npool_size = 2\n");
  constexpr int kThreads = 5;
  constexpr int kCallsEach = 8;
  std::atomic<size_t> most_open{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kCallsEach; ++i) {
        try {
          RunUnitOfWork([&] {
            GetHeliqConnection()->Execute(kInsertParam,
                                          {Variant("P" + std::to_string(t * 100 + i)), Variant(i)});
            const size_t open =
                SessionPool::For(connection_string(), install_dir().string())->Stats().open;
            size_t seen = most_open.load();
            while (open > seen && !most_open.compare_exchange_weak(seen, open)) {
            }
          });
        } catch (const ComError& e) {
          ADD_FAILURE() << e.description();
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_LE(most_open.load(), 2u);
  EXPECT_EQ(Count("PARAMETERS"), kThreads * kCallsEach);
}

INSTANTIATE_DATABASE_TEST_SUITE(UnitOfWorkTest);

class SqliteFileTest : public DatabaseTest {};

TEST_P(SqliteFileTest, EverySpellingOfOneFileSharesTheCallsSession) {
  if (backend() != Backend::kSqlite) GTEST_SKIP() << "SQLite files only";
  std::filesystem::create_directory_symlink(install_dir(), install_dir() / "link");
  const std::string absolute = connection_string();  // sqlite:/tmp/.../heliq.db
  for (const std::string& other :
       {std::string("sqlite:./heliq.db"), std::string("sqlite:link/./heliq.db"), absolute}) {
    SCOPED_TRACE(other);
    UseConnections(install_dir(), "sqlite:heliq.db", other);
    Exec("delete from PARAMETERS");
    // Before, the second connection queued behind the call's own writer ticket for ever.
    RunUnitOfWork(
        [] {
          GetHeliqConnection()->Execute(kInsertParam, {Variant("A"), Variant("1")});
          auto catalogue = GetRAvuruvoConnection();
          EXPECT_EQ(catalogue->QueryValue("select count(*) from PARAMETERS").ToLong(), 1);
          catalogue->Execute(kInsertParam, {Variant("B"), Variant("2")});
        },
        false, In(std::chrono::seconds(5)));
    EXPECT_EQ(Count("PARAMETERS"), 2);
  }
}

INSTANTIATE_DATABASE_TEST_SUITE(SqliteFileTest);

class RecordsetTest : public DatabaseTest {};

TEST_P(RecordsetTest, ValuesRoundTripWithTheirTypes) {
  const std::string hostile = "it's \"quoted\"; drop table QUESTIONS; -- \xc3\xa9";
  Exec(
      "insert into QUESTIONS (Q_ID, Q_STATUS, Q_DESC, Q_DATE, TOTALTIMESPENT) "
      "values (?, ?, ?, ?, ?)",
      {Variant(7), Variant(5), Variant(hostile), Variant(DateTime{2008, 6, 5, 3, 49, 1}),
       Variant::Null()});
  auto connection = GetHeliqConnection();
  auto rs = Recordset::Open(*connection,
                            "select Q_ID, q_status, Q_DESC, Q_DATE, TOTALTIMESPENT, Q_TEXT "
                            "from QUESTIONS where Q_ID = ?",
                            {Variant(7)});
  ASSERT_FALSE(rs->eof());
  EXPECT_EQ(rs->Field("q_id"), Variant(7));
  EXPECT_EQ(rs->Field("Q_STATUS"), Variant(5));
  EXPECT_EQ(rs->Field("Q_DESC").ToText(), hostile);
  EXPECT_EQ(rs->Field("Q_DATE"), Variant(DateTime{2008, 6, 5, 3, 49, 1}));
  EXPECT_TRUE(rs->Field("TOTALTIMESPENT").IsNull());
  EXPECT_TRUE(rs->Field("Q_TEXT").IsNull());
  EXPECT_EQ(Count("QUESTIONS"), 1);
  try {
    rs->Field("NO_SUCH_COLUMN");
    FAIL();
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kItemNotFound);
  }
  rs->MoveNext();
  EXPECT_TRUE(rs->eof());
  try {
    rs->Field("Q_ID");
    FAIL();
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kDbNoCurrentRow);
  }
}

TEST_P(RecordsetTest, CaseInsensitiveKeysMatchInEveryDialect) {
  Exec(kInsertParam, {Variant("Reminder_Time"), Variant("72")});
  EXPECT_EQ(GetParamValue("REMINDER_TIME"), "72");
  EXPECT_EQ(GetParamValue("reminder_time"), "72");
  EXPECT_EQ(GetParamValue("Reminder_Tim"), "");
}

TEST_P(RecordsetTest, UpdateWritesOnlyChangedColumnsAndDetectsConflicts) {
  Exec("insert into QUESTIONS (Q_ID, Q_STATUS, Q_DESC) values (1, 5, 'old')");
  auto connection = GetHeliqConnection();
  const std::string_view select = "select Q_STATUS, Q_DESC from QUESTIONS where Q_ID = ?";
  auto rs = Recordset::OpenForUpdate(*connection, select, {Variant(1)},
                                     {"QUESTIONS", {{"Q_ID", Variant(1)}}});
  // Another writer changes the description underneath: a save of the status still succeeds
  // because only the status is checked and written.
  Exec("update QUESTIONS set Q_DESC = 'theirs' where Q_ID = 1");
  rs->SetField("Q_STATUS", Variant(15));
  rs->Update();
  EXPECT_EQ(Value("select Q_DESC from QUESTIONS").ToText(), "theirs");
  EXPECT_EQ(Value("select Q_STATUS from QUESTIONS").ToLong(), 15);
  // A change to a column this row set read is a conflict: nothing is written.
  Exec("update QUESTIONS set Q_STATUS = 25 where Q_ID = 1");
  rs->SetField("Q_STATUS", Variant(30));
  rs->SetField("Q_DESC", Variant("mine"));
  try {
    rs->Update();
    FAIL() << "conflict not detected";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kDbRowChanged);
  }
  EXPECT_EQ(Value("select Q_STATUS from QUESTIONS").ToLong(), 25);
  EXPECT_EQ(Value("select Q_DESC from QUESTIONS").ToText(), "theirs");
}

TEST_P(RecordsetTest, AddNewInsertsAndNullsCompareInTheCheck) {
  auto connection = GetHeliqConnection();
  auto rs = Recordset::OpenForUpdate(*connection,
                                     "select Q_ID, T1_DATE, R_STATUS from REMINDER where Q_ID = ?",
                                     {Variant(3)}, {"REMINDER", {{"Q_ID", {}}}});
  EXPECT_TRUE(rs->eof());
  rs->AddNew();
  rs->SetField("Q_ID", Variant(3));
  rs->SetField("R_STATUS", Variant("5"));
  rs->Update();
  EXPECT_EQ(Count("REMINDER"), 1);
  // T1_DATE is null in the row just added; the optimistic check must treat null as equal.
  rs->SetField("T1_DATE", Variant(DateTime{2009, 1, 1, 7, 5, 9}));
  rs->Update();
  EXPECT_EQ(Value("select T1_DATE from REMINDER where Q_ID = 3"),
            Variant(DateTime{2009, 1, 1, 7, 5, 9}));
}

TEST_P(RecordsetTest, ReadOnlyRecordsetRefusesChanges) {
  auto connection = GetHeliqConnection();
  auto rs = Recordset::Open(*connection, "select * from PARAMETERS");
  EXPECT_THROW(rs->AddNew(), ComError);
}

TEST_P(RecordsetTest, StatementErrorsCarryDatabaseNumbers) {
  auto connection = GetHeliqConnection();
  try {
    connection->Execute("selec nothing");
    FAIL();
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kDbSyntax);
  }
  Exec(kInsertParam, {Variant("A"), Variant("1")});
  try {
    connection->Execute(kInsertParam, {Variant("a"), Variant("2")});
    FAIL() << "case-insensitive key accepted a duplicate";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kDbConstraint);
  }
  try {
    connection->Execute(kInsertParam, {Variant("only one value")});
    FAIL();
  } catch (const ComError& e) {
    EXPECT_NE(e.number(), 0);
  }
}

TEST_P(RecordsetTest, PreparedStatementsAreReusedWithNewValues) {
  auto connection = GetHeliqConnection();
  for (int i = 0; i < 50; ++i) {
    connection->Execute(kInsertParam, {Variant("P" + std::to_string(i)), Variant(i)});
  }
  EXPECT_EQ(Count("PARAMETERS"), 50);
  EXPECT_EQ(GetParamValue("P49"), "49");
}

TEST_P(RecordsetTest, CachedSelectStarFollowsAnAddedColumn) {
  Exec(kInsertParam, {Variant("A"), Variant("1")});
  // One statement cached for calls (first statement of a transaction), one for plain connections
  // (no transaction): both are held by the pooled session when the column is added.
  constexpr std::string_view kInCall = "select * from PARAMETERS order by PARAM_NAME";
  constexpr std::string_view kOutside = "select * from PARAMETERS where 1 = 1 order by PARAM_NAME";
  auto read = [](std::string_view sql) { return GetHeliqConnection()->Query(sql); };
  const size_t before = RunUnitOfWork([&] { return read(kInCall); }).columns.size();
  EXPECT_EQ(read(kOutside).columns.size(), before);
  Exec("alter table PARAMETERS add column EXTRA_NOTE varchar(20)");
  Exec("update PARAMETERS set EXTRA_NOTE = 'note'");
  for (bool in_call : {true, false}) {
    SCOPED_TRACE(in_call ? "in a call" : "outside a call");
    const ResultSet rows = in_call ? RunUnitOfWork([&] { return read(kInCall); }) : read(kOutside);
    ASSERT_EQ(rows.columns.size(), before + 1);
    const int note = rows.ColumnIndex("EXTRA_NOTE");
    ASSERT_GE(note, 0);
    EXPECT_EQ(rows.rows.at(0).at(static_cast<size_t>(note)).ToText(), "note");
    EXPECT_EQ(rows.rows.at(0).at(static_cast<size_t>(rows.ColumnIndex("PARAM_VALUE"))).ToText(),
              "1");
  }
  Exec("alter table PARAMETERS drop column EXTRA_NOTE");
  // Later in a call that already wrote, a changed result type cannot be retried without losing the
  // call's work: that call fails whole, and the next one works.
  try {
    RunUnitOfWork([&] {
      GetHeliqConnection()->Execute(kInsertParam, {Variant("B"), Variant("2")});
      return read(kInCall);
    });
    EXPECT_EQ(backend(), Backend::kSqlite) << "the stale statement ran";
  } catch (const ComError&) {
    EXPECT_EQ(backend(), Backend::kPostgres) << "SQLite prepares the statement again itself";
    EXPECT_EQ(Count("PARAMETERS"), 1);
  }
  const ResultSet rows = RunUnitOfWork([&] { return read(kInCall); });
  EXPECT_EQ(rows.columns.size(), before);
  EXPECT_EQ(rows.ColumnIndex("EXTRA_NOTE"), -1);
}

INSTANTIATE_DATABASE_TEST_SUITE(RecordsetTest);

}  // namespace
}  // namespace heliq
