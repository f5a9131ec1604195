// What a browser asks heliqd for when a person opens the desk: the page, its script, and the
// first API answers the pages need (who am I, the texts of his language, his requests). Starts
// the host program on a throwaway demo installation, signs in as the demo customer, and times
// (1) each of those answers alone, over one keep-alive connection, and (2) the whole first load,
// one after the other on a new connection. Goal: the whole first load under 100 ms (p99).
//
//   build/bench/page_bench [loads, default 500]
// HELIQ_BENCH_WEB_ROOT=<folder> serves that built front end (its index.html and the first script
// under assets/ it names); without it a stand-in of the same shape is written: a 1 KB
// index.html and a 120 KB script. The demo customer has 20 requests. HELIQ_BENCH_PG=<libpq
// keywords> runs it on PostgreSQL.
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "bench/bench_installation.h"
#include "host/host.h"
#include "host/request_store.h"

namespace heliq::bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr size_t kStandInScriptBytes = 120 << 10;
constexpr int kSingleCalls = 2000;
constexpr double kGoalMilliseconds = 100.0;
constexpr int kCustomerRequests = 20;
constexpr std::string_view kRegister = "UPDATE QUESTIONS SET Q_STATUS = 5 WHERE Q_ID = ?";

struct Percentiles {
  double p50, p99, max;
};

Percentiles Of(std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  auto at = [&](double q) {
    return ms[static_cast<size_t>(q * static_cast<double>(ms.size() - 1))];
  };
  return {at(0.5), at(0.99), ms.back()};
}

// The script index.html loads first: the first "/assets/....js" it names.
std::string FirstScript(const fs::path& root) {
  std::ifstream in(root / "index.html");
  const std::string html{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  const size_t start = html.find("/assets/");
  if (start == std::string::npos) return "";
  const size_t end = html.find(".js", start);
  return end == std::string::npos ? "" : html.substr(start, end + 3 - start);
}

fs::path StandInWebRoot(const fs::path& dir) {
  const fs::path root = dir / "web";
  fs::create_directories(root / "assets");
  std::ofstream(root / "index.html")
      << "<!doctype html><html lang=en><head><meta charset=utf-8><title>Heliq</title>"
      << "<script type=module src=/assets/index-3f2a1b.js></script>"
      << "<link rel=stylesheet href=/assets/index-9c8d7e.css></head><body><div id=app></div>"
      << std::string(800, ' ') << "</body></html>";
  std::string script;
  for (size_t i = 0; script.size() < kStandInScriptBytes; ++i) {
    script += "var v" + std::to_string(i) + "=" + std::to_string(i * 7) + ";\n";
  }
  script.resize(kStandInScriptBytes);
  std::ofstream(root / "assets" / "index-3f2a1b.js", std::ios::binary) << script;
  return root;
}

int Main(int argc, char** argv) {
  const int loads = argc > 1 ? std::atoi(argv[1]) : 500;
  Installation installation;
  InitializeDatabases(fs::path(HELIQ_SOURCE_DIR) / "db", false, true);
  // The demo customer's list is one page of registered requests.
  Dictionary fields;
  fields.Set("Q_DESC", Variant("Printer jams"));
  fields.Set("Q_TEXT", Variant("The printer jams on every second page"));
  fields.Set("Q_ORIGINATOR", Variant("cust1"));
  fields.Set("CENTER", Variant(1));
  for (int i = 0; i < kCustomerRequests; ++i) {
    installation.Session()->Execute(kRegister, {Variant(CreateUnregisteredRequest(fields))});
  }
  const char* configured = std::getenv("HELIQ_BENCH_WEB_ROOT");
  const fs::path root = configured != nullptr && *configured != '\0'
                            ? fs::path(configured)
                            : StandInWebRoot(installation.dir());
  const std::string script = FirstScript(root);
  if (script.empty()) {
    std::fprintf(stderr, "%s/index.html names no /assets/...js\n", root.c_str());
    return 1;
  }
  const int port = FreePort();
  HostProcess host(
      HELIQ_HELIQD_PATH,
      WriteHostConfig(installation, "heliqd", port, "web_root = '" + root.string() + "'\n"),
      installation.dir() / "heliqd.out");
  if (!host.WaitUntilServing(port)) {
    std::fprintf(stderr, "heliqd did not start; see %s\n",
                 (installation.dir() / "heliqd.out").c_str());
    return 1;
  }
  httplib::Client client("127.0.0.1", port);
  client.set_keep_alive(true);
  client.set_tcp_nodelay(true);
  auto signed_in = client.Post("/api/v1/session", R"({"login":"cust1","password":"heliq-demo"})",
                               "application/json");
  if (!signed_in || signed_in->status != 200) {
    std::fprintf(stderr, "sign-in failed: %s\n", signed_in ? signed_in->body.c_str() : "no answer");
    return 1;
  }
  const std::string token = nlohmann::json::parse(signed_in->body)["token"];
  const httplib::Headers bearer{{"Authorization", "Bearer " + token}};
  const std::vector<std::pair<std::string, bool>> first_load = {
      {"/", false},
      {script, false},
      {"/api/v1/me", true},
      {"/api/v1/texts?locale=1033", true},
      {"/api/v1/requests?originator=cust1&sort=-changed", true}};

  long failures = 0;
  std::printf("%-52s %9s %9s %9s %9s\n", "answer (one keep-alive connection)", "bytes", "p50 ms",
              "p99 ms", "max ms");
  for (const auto& [path, api] : first_load) {
    std::vector<double> ms;
    size_t bytes = 0;
    for (int i = 0; i < kSingleCalls; ++i) {
      const auto started = Clock::now();
      auto answer = api ? client.Get(path, bearer) : client.Get(path);
      ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - started).count());
      if (!answer || answer->status != 200) ++failures;
      if (answer) bytes = answer->body.size();
    }
    const Percentiles p = Of(ms);
    std::printf("%-52s %9zu %9.3f %9.3f %9.3f\n", path.c_str(), bytes, p.p50, p.p99, p.max);
  }

  std::vector<double> whole;
  for (int i = 0; i < loads; ++i) {
    httplib::Client browser("127.0.0.1", port);
    browser.set_keep_alive(true);
    browser.set_tcp_nodelay(true);
    const auto started = Clock::now();
    for (const auto& [path, api] : first_load) {
      auto answer = api ? browser.Get(path, bearer) : browser.Get(path);
      if (!answer || answer->status != 200) ++failures;
    }
    whole.push_back(std::chrono::duration<double, std::milli>(Clock::now() - started).count());
  }
  const Percentiles p = Of(whole);
  std::printf(
      "\nfirst load (new connection, the 5 answers in turn), %d loads: p50 %.3f ms, p99 %.3f ms, "
      "max %.3f ms (goal p99 < %.0f ms); %ld failed\n",
      loads, p.p50, p.p99, p.max, kGoalMilliseconds, failures);
  return failures == 0 && p.p99 < kGoalMilliseconds ? 0 : 1;
}

}  // namespace
}  // namespace heliq::bench

int main(int argc, char** argv) { return heliq::bench::Main(argc, argv); }
