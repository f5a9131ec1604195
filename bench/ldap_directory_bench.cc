// Automatic dispatch and the engineer list over 2,000 call-centre engineers, read from the
// embedded directory and from an LDAP server (the slapd of scripts/ldap-test-server.sh, whose
// group cn=bulk-32 holds the same 2,000 engineers eng0001 ... eng2000).
//
//   bash scripts/ldap-test-server.sh start /tmp/ldap-bench 38389
//   export HELIQ_BENCH_LDAP="uri=ldap://127.0.0.1:38389 base=dc=example
//     bind=cn=svc-heliq,ou=desk,dc=example password=svc-heliq-test"   (one line)
//   build-bench/bench/ldap_directory_bench
// Prints each road's time and the ratios LDAP / embedded. Without HELIQ_BENCH_LDAP only the
// embedded roads run. HELIQ_BENCH_PG=<libpq keywords> puts the databases on PostgreSQL.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>

#include "bench/bench_installation.h"
#include "common/lookups.h"
#include "platform/clock.h"
#include "platform/object_context.h"
#include "servicerequest/dispatch/dispatch.h"

namespace heliq::bench {
namespace {

constexpr int kEngineers = 2000;

std::unique_ptr<Installation> installation;
std::string ldap_sections;  // "" without a server
int32_t next_request = 1;

// The server of HELIQ_BENCH_LDAP as [membership] and [directory] sections; "" when unset.
std::string LdapSections() {
  const char* text = std::getenv("HELIQ_BENCH_LDAP");
  if (text == nullptr || *text == '\0') return "";
  std::string uri, base, bind, password;
  std::istringstream words(text);
  for (std::string word; words >> word;) {
    const size_t equals = word.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = word.substr(0, equals), value = word.substr(equals + 1);
    if (key == "uri") uri = value;
    if (key == "base") base = value;
    if (key == "bind") bind = value;
    if (key == "password") password = value;
  }
  const size_t comma = bind.find(',');
  return "[membership]\naccount = '" + bind.substr(0, comma) + "'\nroot = '" +
         bind.substr(comma + 1) + "'\npassword = '" + password +
         "'\n[directory]\nkind = 'ldap'\nuri = '" + uri + "'\nbase_dn = '" + base +
         "'\nrole_group = 'cn=role-{role},ou=groups," + base +
         "'\nrole_32 = 'cn=bulk-32,ou=groups," + base + "'\npartner_base = 'ou=partners," + base +
         "'\n";
}

void Populate() {
  installation = std::make_unique<Installation>();
  ldap_sections = LdapSections();
  auto db = installation->Session();
  db->Begin(true);
  db->ExecuteScript(
      "INSERT INTO PARAMETERS (PARAM_NAME, PARAM_VALUE) VALUES ('Manual_Dispatching', 'True');"
      "INSERT INTO PARAMETERS (PARAM_NAME, PARAM_VALUE) VALUES ('DataFileRelativePath', 'files');");
  for (int id = 1; id <= 7; ++id) {
    db->Execute("INSERT INTO CCEDISWEIGHT (ID, WEIGHT) VALUES (?, ?)",
                {Variant(id), Variant(id * 10)});
  }
  auto directory = installation->StandInSession("Directory");
  directory->Begin(true);
  for (int i = 1; i <= kEngineers; ++i) {
    char login[16], code[16];
    std::snprintf(login, sizeof login, "eng%04d", i);
    std::snprintf(code, sizeof code, "BE%04d", i);
    // The same people as the server's bulk group.
    directory->Execute(
        "INSERT INTO DIR_USER (LOGIN, GIVENNAME, SURNAME, MAIL, LANGUAGEID, COUNTRY, "
        "ENGINEERCODE) VALUES (?, 'Engineer', ?, ?, '1033', 'US', ?)",
        {Variant(login), Variant("No " + std::to_string(i)),
         Variant(std::string(login) + "@bulk.example.com"), Variant(code)});
    directory->Execute("INSERT INTO DIR_USER_ROLE (LOGIN, ROLE_ID) VALUES (?, 32)",
                       {Variant(login)});
    db->Execute(
        "INSERT INTO CCEDISRULE (LOGIN, BUSPART, COUNTRY, KEYWORD, LANGUAGE, PRODCAT, QUESCAT, "
        "REGSET, QUEUESIZE, EXPERIENCE, APPLYFORAUTOMATIC) VALUES (?, ';1000;', ?, ?, ';1033;', "
        "';1;3;', ';1;', ';1;', ?, ?, 1)",
        {Variant(login), Variant(i % 3 == 0 ? ";US;GB;" : ";DE;"),
         Variant("printer,scanner" + std::to_string(i % 11)), Variant(i % 13), Variant(i % 17)});
  }
  // The customer, as the server's demo tree holds it.
  directory->Execute(
      "INSERT INTO DIR_USER (LOGIN, GIVENNAME, SURNAME, MAIL, LANGUAGEID, COUNTRY, "
      "BUSINESSPARTNERID, REGISTRATIONSET) VALUES ('cust1', 'John', 'Smith', "
      "'john.smith@springfield-supplies.example.com', '1033', 'US', '1000', '1')",
      {});
  directory->Commit();
  db->Commit();
}

int32_t NewRegisteredRequest() {
  const int32_t id = next_request++;
  auto db = installation->Session();
  db->Execute("INSERT INTO QUESTIONS (Q_ID, Q_STATUS, CENTER) VALUES (?, 5, 1)", {Variant(id)});
  db->Execute("INSERT INTO REMINDER (Q_ID, R_STATUS, T1_DATE) VALUES (?, '5', ?)",
              {Variant(id), Variant(Now())});
  return id;
}

// Points the settings at the embedded directory (state.range(0) == 0) or at the server; false
// (the benchmark skipped) when the server is not configured.
bool UseDirectory(benchmark::State& state) {
  if (state.range(0) == 0) {
    installation->UseSettingsWith("");
    return true;
  }
  if (ldap_sections.empty()) {
    state.SkipWithError("HELIQ_BENCH_LDAP is not set");
    return false;
  }
  installation->UseSettingsWith(ldap_sections);
  return true;
}

void BM_EngineerList(benchmark::State& state) {
  if (!UseDirectory(state)) return;
  for (auto _ : state) {
    const MemberTable table =
        BindDirectoryMembers()->ListRoleMembers(32, "givenname,sn,mail,languageid,c");
    if (table.row_count() != kEngineers) state.SkipWithError("wrong number of engineers");
  }
}

void Dispatches(benchmark::State& state, bool automatic) {
  if (!UseDirectory(state)) return;
  for (auto _ : state) {
    state.PauseTiming();
    const int32_t id = NewRegisteredRequest();
    state.ResumeTiming();
    RunUnitOfWork([&] {
      Dispatch().DispatchHDS("3", "1", "cust1", id, "the scanner is broken", automatic, 1033);
    });
  }
}

void BM_AutomaticDispatch(benchmark::State& state) { Dispatches(state, true); }
void BM_ManualRankedList(benchmark::State& state) { Dispatches(state, false); }

// Argument 0: embedded directory; 1: LDAP server.
BENCHMARK(BM_EngineerList)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AutomaticDispatch)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ManualRankedList)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace heliq::bench

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  heliq::bench::Populate();
  heliq::bench::RatioReporter reporter({{"BM_EngineerList/1", "BM_EngineerList/0"},
                                        {"BM_AutomaticDispatch/1", "BM_AutomaticDispatch/0"},
                                        {"BM_ManualRankedList/1", "BM_ManualRankedList/0"}});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  heliq::bench::installation.reset();
  return 0;
}
