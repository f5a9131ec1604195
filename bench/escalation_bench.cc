// An escalation run over many watched requests, beside the bare database work it cannot avoid:
// the candidate query plus one update clearing the same time stamps.
//
//   build-bench/bench/escalation_bench [--benchmark_min_time=2]
// 100,000 watched requests, 20,000 of them overdue, assigned to 200 engineers (or queued) and
// filed by 2,000 originators of 1,000 business partners. Prints the time of each road and the
// ratio run / bare work (goal: at most 3). Mail delivery is not measured: the run hands its mails
// to a sink that only counts them. HELIQ_BENCH_PG=<libpq keywords> runs it on PostgreSQL.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "bench/bench_installation.h"
#include "common/heliq_utilities.h"
#include "platform/clock.h"
#include "platform/configuration.h"
#include "platform/object_context.h"
#include "serviceprocess/solve_on_no_response.h"

namespace heliq::bench {
namespace {

constexpr int kRequests = 100000;
constexpr int kOverdue = 20000;  // requests 1 .. kOverdue
constexpr int kEngineers = 200;
constexpr int kOriginators = 2000;
constexpr int kPartners = 1000;
const DateTime kNow{2009, 1, 1, 12, 0, 0};

std::unique_ptr<Installation> installation;

class CountingMailer : public EscalationMailer {
 public:
  void Send(const MailMessage&) override { ++sent; }
  static inline int64_t sent = 0;
};

std::string Name(const char* prefix, int i) {
  char name[24];
  std::snprintf(name, sizeof name, "%s%04d", prefix, i);
  return name;
}

// The bench installation's settings lack a default language; the run needs one.
void AddDefaultLanguage() {
  std::string text = "install_dir = '" + SettingValue("", "install_dir") +
                     "'\ndefault_language = 1033\n[connections]\n";
  for (const char* application : {"Heliq", "RAvuruvo", "BackOffice", "Directory"}) {
    const std::string connection = SettingValue("connections", application);
    if (!connection.empty()) text += std::string(application) + " = '" + connection + "'\n";
  }
  SetSettingsText(text + "[log]\nfile = '" + SettingValue("log", "file") + "'\n");
}

void Populate() {
  installation = std::make_unique<Installation>();
  AddDefaultLanguage();
  SetFixedTime(kNow);
  auto db = installation->Session();
  db->Begin(true);
  for (const auto& [name, value] : {std::pair{"Escalation_mail", "1"},
                                    {"Dispatcher_EscalationMail", "1"},
                                    {"Engineer_EscalationMail", "1"},
                                    {"Supervisor_EscalationMail", "1"},
                                    {"MaxHours_Registered", "4"},
                                    {"MaxHours_Assigned", "24"},
                                    {"MaxHours_SCQueue", "8"},
                                    {"MaxHours_SCEAssigned", "48"},
                                    {"BackOfficeApplication", "3"}}) {
    db->Execute("INSERT INTO PARAMETERS (PARAM_NAME, PARAM_VALUE) VALUES (?, ?)",
                {Variant(name), Variant(value)});
  }
  for (int type = 29; type <= 31; ++type) {
    const std::string id = "MAIL" + std::to_string(type);
    db->Execute(
        "INSERT INTO EMAIL (MAIL_ID, MAIL_SUBJECT, MAIL_BODY, MAIL_HYPERLINK, MAIL_TYPE, "
        "MAIL_FROM) VALUES (?, ?, ?, 'http://desk.example.com', ?, 'desk@example.com')",
        {Variant(type), Variant(id + "_SUBJECT"), Variant(id + "_BODY"), Variant(type)});
    for (const char* part : {"_SUBJECT", "_BODY"}) {
      db->Execute("INSERT INTO DATALABEL (LOCALEID, TEXTID, TEXT) VALUES (1033, ?, ?)",
                  {Variant(id + part), Variant("Text of " + id + part)});
    }
  }
  for (const char* label : {"HQLBL3045", "HQLBL3189", "HQLBL3193", "HQLBL3207", "HQLBL3208",
                            "HQLBL3319", "HQLBL4140"}) {
    db->Execute("INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (1033, ?, ?)",
                {Variant(label), Variant(std::string("Title ") + label)});
  }
  const DateTime overdue = kNow.AddSeconds(-100 * 3600);
  const DateTime recent = kNow.AddSeconds(-3600);
  for (int id = 1; id <= kRequests; ++id) {
    // Centres alternate; every other request of a centre is assigned.
    const int center = 1 + id % 2;
    const bool assigned = (id / 2) % 2 == 0;
    const Variant engineer = assigned ? Variant(Name("eng", id % kEngineers)) : Variant::Null();
    db->Execute(
        "INSERT INTO QUESTIONS (Q_ID, Q_STATUS, CENTER, Q_DESC, Q_ORIGINATOR, Q_PRIORITY, "
        "D_DIRECT_TO) VALUES (?, ?, ?, ?, ?, 2, ?)",
        {Variant(id), Variant(assigned ? 25 : 5), Variant(center),
         Variant("Overdue request number " + std::to_string(id)),
         Variant(Name("cust", id % kOriginators)), engineer});
    db->Execute(
        "INSERT INTO REMINDER (Q_ID, R_STATUS, T1_DATE) VALUES (?, ?, ?)",
        {Variant(id), Variant(assigned ? "25" : "5"), Variant(id <= kOverdue ? overdue : recent)});
  }
  db->Commit();

  auto directory = installation->StandInSession("Directory");
  directory->Begin(true);
  auto add_user = [&](const std::string& login, int role, int partner) {
    directory->Execute("INSERT INTO DIR_USER (LOGIN, MAIL, BUSINESSPARTNERID) VALUES (?, ?, ?)",
                       {Variant(login), Variant(login + "@example.com"),
                        partner > 0 ? Variant(std::to_string(partner)) : Variant::Null()});
    if (role > 0) {
      directory->Execute("INSERT INTO DIR_USER_ROLE (LOGIN, ROLE_ID) VALUES (?, ?)",
                         {Variant(login), Variant(role)});
    }
  };
  for (int i = 0; i < kEngineers; ++i) add_user(Name("eng", i), i % 2 == 0 ? 36 : 32, 0);
  for (int role : {31, 35, 38, 39}) add_user(Name("staff", role), role, 0);
  for (int p = 1; p <= kPartners; ++p) {
    directory->Execute("INSERT INTO DIR_PARTNER (BP_ID, NAME) VALUES (?, ?)",
                       {Variant(p), Variant("Partner company number " + std::to_string(p))});
  }
  for (int i = 0; i < kOriginators; ++i) add_user(Name("cust", i), 0, 1 + i % kPartners);
  directory->Commit();
}

// Puts back the time stamps the measured road cleared (not measured).
void RestartOverdueTimers() {
  auto db = installation->Session();
  db->Execute("UPDATE REMINDER SET T1_DATE = ? WHERE Q_ID <= ?",
              {Variant(kNow.AddSeconds(-100 * 3600)), Variant(kOverdue)});
}

void BM_BareQueryAndClear(benchmark::State& state) {
  const Params statuses = {Variant("5"),  Variant("10"), Variant("15"), Variant("20"),
                           Variant("25"), Variant("30"), Variant("35"), Variant("40"),
                           Variant("45"), Variant("50"), Variant("55"), Variant("85"),
                           Variant("90"), Variant("95"), Variant("155")};
  for (auto _ : state) {
    RunUnitOfWork([&] {
      auto connection = GetHeliqConnection();
      benchmark::DoNotOptimize(connection->Query(
          "SELECT QUESTIONS.Q_ID,QUESTIONS.D_DIRECT_TO,QUESTIONS.Q_PRIORITY,QUESTIONS.Q_DESC,"
          "QUESTIONS.CENTER ,REMINDER.Q_ID as REMINDERQID, QUESTIONS.Q_ORIGINATOR,"
          "QUESTIONS.OSVREQUESTED, REMINDER.R_STATUS,REMINDER.T1_DATE FROM QUESTIONS INNER JOIN "
          "REMINDER ON  QUESTIONS.Q_ID = REMINDER.Q_ID Where (REMINDER.T1_DATE IS NOT NULL) AND ("
          "(REMINDER.R_STATUS=?) OR (REMINDER.R_STATUS=?) OR (REMINDER.R_STATUS=?) OR "
          "(REMINDER.R_STATUS=?) OR (REMINDER.R_STATUS=?) OR (REMINDER.R_STATUS=?) OR "
          "(REMINDER.R_STATUS=?) OR (REMINDER.R_STATUS=?) OR (REMINDER.R_STATUS=?) OR "
          "(REMINDER.R_STATUS=?) OR (REMINDER.R_STATUS=?) OR (REMINDER.R_STATUS=?) OR "
          "(REMINDER.R_STATUS=?) OR (REMINDER.R_STATUS=?) OR (REMINDER.R_STATUS=?)) "
          "ORDER BY QUESTIONS.Q_ID",
          statuses));
      connection->Execute("UPDATE REMINDER SET T1_DATE = NULL WHERE Q_ID <= ?",
                          {Variant(kOverdue)});
    });
    state.PauseTiming();
    RestartOverdueTimers();
    state.ResumeTiming();
  }
}

void BM_EscalationRun(benchmark::State& state) {
  CountingMailer::sent = 0;
  for (auto _ : state) {
    RunUnitOfWork(
        [] { SolveOnNoResponse(std::make_unique<CountingMailer>()).SendingEscalationMails(); });
    state.PauseTiming();
    RestartOverdueTimers();
    state.ResumeTiming();
  }
  state.counters["mails"] =
      static_cast<double>(CountingMailer::sent) / static_cast<double>(state.iterations());
}

BENCHMARK(BM_BareQueryAndClear)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EscalationRun)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace heliq::bench

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  heliq::bench::Populate();
  heliq::bench::RatioReporter reporter(
      std::multimap<std::string, std::string>{{"BM_EscalationRun", "BM_BareQueryAndClear"}});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  heliq::bench::installation.reset();
  heliq::SetFixedTime(std::nullopt);
  return 0;
}
