// Dispatching over a large rule table, beside a plain read of the same table.
//
//   build/bench/dispatch_bench [--benchmark_min_time=2]
// Prints the time of each road and the ratios dispatch / plain read (goal: at most 1.5).
// HELIQ_BENCH_PG=<libpq keywords> runs it on PostgreSQL instead of SQLite.
#include <benchmark/benchmark.h>

#include <memory>

#include "bench/bench_installation.h"
#include "common/heliq_utilities.h"
#include "platform/clock.h"
#include "platform/object_context.h"
#include "servicerequest/dispatch/dispatch.h"

namespace heliq::bench {
namespace {

constexpr int kRules = 10000;

std::unique_ptr<Installation> installation;
int32_t next_request = 1;

std::string List(int a, int b) { return ";" + std::to_string(a) + ";" + std::to_string(b) + ";"; }

void Populate() {
  installation = std::make_unique<Installation>();
  auto db = installation->Session();
  db->Begin(true);
  db->ExecuteScript(
      "INSERT INTO PARAMETERS (PARAM_NAME, PARAM_VALUE) VALUES ('Manual_Dispatching', 'True');"
      "INSERT INTO PARAMETERS (PARAM_NAME, PARAM_VALUE) VALUES ('DataFileRelativePath', 'files');");
  for (int id = 1; id <= 7; ++id) {
    db->Execute("INSERT INTO CCEDISWEIGHT (ID, WEIGHT) VALUES (?, ?)",
                {Variant(id), Variant(id * 10)});
  }
  for (int i = 0; i < kRules; ++i) {
    char login[16];
    std::snprintf(login, sizeof login, "e%05d", i);
    db->Execute(
        "INSERT INTO CCEDISRULE (LOGIN, BUSPART, COUNTRY, KEYWORD, LANGUAGE, PRODCAT, QUESCAT, "
        "REGSET, QUEUESIZE, EXPERIENCE, APPLYFORAUTOMATIC) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
        "1)",
        {Variant(login), Variant(List(1000 + i % 50, 2000 + i % 7)),
         Variant(i % 3 == 0 ? ";US;GB;" : ";DE;"),
         Variant("printer,scanner,network" + std::to_string(i % 11)), Variant(List(1033, 1031)),
         Variant(List(i % 9, 9)), Variant(List(i % 4, 5)), Variant(List(1, i % 3)), Variant(i % 13),
         Variant(i % 17)});
  }
  db->Commit();
  auto directory = installation->StandInSession("Directory");
  directory->Begin(true);
  auto add_user = [&](const std::string& login, int role) {
    directory->Execute(
        "INSERT INTO DIR_USER (LOGIN, GIVENNAME, SURNAME, MAIL, LANGUAGEID, COUNTRY, "
        "BUSINESSPARTNERID, REGISTRATIONSET, ENGINEERCODE) VALUES (?, ?, ?, ?, '1033', 'US', "
        "'1007', '1', ?)",
        {Variant(login), Variant("Given " + login), Variant("Surname of " + login),
         Variant(login + "@example.com"), Variant("EC" + login)});
    if (role) {
      directory->Execute("INSERT INTO DIR_USER_ROLE (LOGIN, ROLE_ID) VALUES (?, ?)",
                         {Variant(login), Variant(role)});
    }
  };
  for (int i = 0; i < kRules; ++i) {
    char login[16];
    std::snprintf(login, sizeof login, "e%05d", i);
    add_user(login, kCallCentreRole);
  }
  add_user("customer", 0);
  directory->Commit();
}

int32_t NewRegisteredRequest() {
  const int32_t id = next_request++;
  auto db = installation->Session();
  db->Execute("INSERT INTO QUESTIONS (Q_ID, Q_STATUS, CENTER) VALUES (?, 5, 1)", {Variant(id)});
  db->Execute("INSERT INTO REMINDER (Q_ID, R_STATUS, T1_DATE) VALUES (?, '5', ?)",
              {Variant(id), Variant(Now())});
  return id;
}

void BM_PlainRuleRead(benchmark::State& state) {
  for (auto _ : state) {
    RunUnitOfWork([] {
      auto connection = GetHeliqConnection();
      benchmark::DoNotOptimize(connection->Query("SELECT * FROM CCEDISRULE"));
    });
  }
}

void BM_AutomaticDispatch(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    const int32_t id = NewRegisteredRequest();
    state.ResumeTiming();
    RunUnitOfWork([&] {
      Dispatch().DispatchHDS("3", "1", "customer", id, "the scanner is broken", true, 1033);
    });
  }
}

void BM_ManualRankedList(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    const int32_t id = NewRegisteredRequest();
    state.ResumeTiming();
    RunUnitOfWork([&] {
      Dispatch().DispatchHDS("3", "1", "customer", id, "the scanner is broken", false, 1033);
    });
  }
}

BENCHMARK(BM_PlainRuleRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AutomaticDispatch)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ManualRankedList)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace heliq::bench

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  heliq::bench::Populate();
  heliq::bench::RatioReporter reporter(
      {{"BM_AutomaticDispatch", "BM_PlainRuleRead"}, {"BM_ManualRankedList", "BM_PlainRuleRead"}});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  heliq::bench::installation.reset();
  return 0;
}
