// The road of a request (create row -> register -> automatic dispatch -> take in hand -> answer ->
// accept -> close), each step one call, measured in one run:
//   baseline   the same writes done directly with prepared statements, one transaction per step
//   in process every step through the operation table (CallOperation), one unit of work each
//   http/N     every operation step a POST to the host over N keep-alive clients at once
//   http/256   the same with 256 clients, far more than the host has workers; the rows are made
//              before the clock starts, so that 256 threads do not queue on the database outside
//              the host (at least two roads per client, so every connection is reused)
// Prints, per road, steps per second, the p50 and p99 latency of one step and the ratios the goals
// are stated in (in process / baseline >= 0.5, http/4 / in process >= 0.7).
//
//   build/bench/road_bench [roads per mode, default 300]
// HELIQ_BENCH_PG=<libpq keywords> runs it on PostgreSQL instead of SQLite.
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_installation.h"
#include "bench/road_steps.h"
#include "host/http_server.h"
#include "host/json_convert.h"
#include "host/request_store.h"
#include "platform/clock.h"
#include "platform/com_error.h"
#include "platform/operation_table.h"

namespace heliq::bench {
namespace {

using Clock = std::chrono::steady_clock;

// Baseline statements: the writes of each step, as the operations make them.
constexpr std::string_view kCreate =
    "INSERT INTO QUESTIONS (Q_ID, Q_STATUS, Q_DESC, Q_TEXT, Q_ORIGINATOR) VALUES (?, 0, ?, ?, ?)";
constexpr std::string_view kRegister =
    "UPDATE QUESTIONS SET Q_STATUS = 5, Q_DATE = ?, REGISTEREDDATE = ?, CENTER = 1, "
    "PROSPECT = 0 WHERE Q_ID = ?";
constexpr std::string_view kInsertReminder =
    "INSERT INTO REMINDER (Q_ID, R_STATUS, T1_DATE) VALUES (?, '5', ?)";
constexpr std::string_view kLog =
    "INSERT INTO TRANSACTIONS (Q_ID, T_NAME, T_STATUS, CENTER, T_DATE, T_COMMENT, USERCOMMENT, "
    "TIMESPENT) VALUES (?, ?, ?, 1, ?, ?, '', 0)";
constexpr std::string_view kPickEngineer =
    "SELECT LOGIN FROM CCEDISRULE WHERE APPLYFORAUTOMATIC = 1 "
    "ORDER BY QUEUESIZE, EXPERIENCE DESC, LOGIN";
constexpr std::string_view kAssign =
    "UPDATE QUESTIONS SET Q_STATUS = 15, D_DIRECT_TO = ? WHERE Q_ID = ?";
constexpr std::string_view kQueueUp =
    "UPDATE CCEDISRULE SET QUEUESIZE = QUEUESIZE + 1 WHERE LOGIN = ?";
constexpr std::string_view kQueueDown =
    "UPDATE CCEDISRULE SET QUEUESIZE = QUEUESIZE - 1 WHERE LOGIN = ?";
constexpr std::string_view kExperienceUp =
    "UPDATE CCEDISRULE SET EXPERIENCE = EXPERIENCE + 1 WHERE LOGIN = ?";
constexpr std::string_view kRestartReminder =
    "UPDATE REMINDER SET R_STATUS = ?, T1_DATE = ? WHERE Q_ID = ?";
constexpr std::string_view kSetStatus = "UPDATE QUESTIONS SET Q_STATUS = ? WHERE Q_ID = ?";
constexpr std::string_view kAnswer =
    "UPDATE QUESTIONS SET Q_STATUS = 150, A_TEXT = ?, A_DATE = ? WHERE Q_ID = ?";
constexpr std::string_view kDeleteReminder = "DELETE FROM REMINDER WHERE Q_ID = ?";
constexpr std::string_view kArchive =
    "INSERT INTO QUESTIONHISTORY (Q_ID, Q_STATUS, Q_DATE, REGISTEREDDATE, CENTER, Q_DESC, Q_TEXT, "
    "Q_ORIGINATOR, D_DIRECT_TO, A_TEXT, A_DATE) SELECT Q_ID, Q_STATUS, Q_DATE, REGISTEREDDATE, "
    "CENTER, Q_DESC, Q_TEXT, Q_ORIGINATOR, D_DIRECT_TO, A_TEXT, A_DATE FROM QUESTIONS "
    "WHERE Q_ID = ?";
constexpr std::string_view kDeleteQuestion = "DELETE FROM QUESTIONS WHERE Q_ID = ?";

constexpr int kStepsPerRoad = 7;
constexpr int kWideClients = 256;

std::unique_ptr<Installation> installation;
std::atomic<int32_t> next_baseline_id{1000000};

struct Result {
  std::string name;
  int steps = 0;
  double seconds = 0;
  std::vector<double> latencies_us;  // one per step
  int failures = 0;
  double rate() const { return seconds > 0 ? steps / seconds : 0; }
  double Percentile(double p) const {
    if (latencies_us.empty()) return 0;
    std::vector<double> sorted = latencies_us;
    std::sort(sorted.begin(), sorted.end());
    return sorted[std::min(sorted.size() - 1, static_cast<size_t>(p * sorted.size()))];
  }
};

// Times `step` and records its latency.
template <typename F>
void Timed(std::vector<double>* latencies, F&& step) {
  const auto started = Clock::now();
  step();
  latencies->push_back(std::chrono::duration<double, std::micro>(Clock::now() - started).count());
}

void BaselineRoad(Session& db, std::vector<double>* latencies) {
  const int32_t id = next_baseline_id++;
  auto step = [&](auto&& body) {
    Timed(latencies, [&] {
      db.Begin(true);
      body();
      db.Commit();
    });
  };
  auto log = [&](const char* name, const char* code, const char* comment) {
    db.Execute(kLog, {Variant(id), Variant(name), Variant(code), Variant(Now()), Variant(comment)});
  };
  auto restart = [&](const char* code) {
    db.Execute(kRestartReminder, {Variant(code), Variant(Now()), Variant(id)});
  };
  step([&] {
    db.Execute(kCreate, {Variant(id), Variant("Printer jams"), Variant("It is jammed"),
                         Variant("customer")});
  });
  step([&] {
    const DateTime now = Now();
    db.Execute(kRegister, {Variant(now), Variant(now), Variant(id)});
    db.Execute(kInsertReminder, {Variant(id), Variant(now)});
    log("customer", "5", "new");
  });
  std::string engineer;
  step([&] {
    engineer = db.Query(kPickEngineer, {}).rows.at(0).at(0).ToText();
    db.Execute(kAssign, {Variant(engineer), Variant(id)});
    db.Execute(kQueueUp, {Variant(engineer)});
    restart("15");
    log("cce1", "15", "HQLBL3554");
  });
  step([&] {
    db.Execute(kSetStatus, {Variant(25), Variant(id)});
    restart("25");
    log("cce1", "25", "mine");
  });
  step([&] {
    db.Execute(kAnswer, {Variant("Open the tray"), Variant(Now()), Variant(id)});
    db.Execute(kQueueDown, {Variant(engineer)});
    restart("150");
    log("cce1", "150", "answered");
  });
  step([&] {
    db.Execute(kSetStatus, {Variant(165), Variant(id)});
    db.Execute(kExperienceUp, {Variant(engineer)});
    db.Execute(kDeleteReminder, {Variant(id)});
    log("cce1", "165", "thanks");
  });
  step([&] {
    db.Execute(kSetStatus, {Variant(180), Variant(id)});
    db.Execute(kArchive, {Variant(id)});
    db.Execute(kDeleteQuestion, {Variant(id)});
    db.Execute(kDeleteReminder, {Variant(id)});
    log("cce1", "180", "done");
  });
}

// The road through the operation table; arguments are converted before the clock starts.
void InProcessRoad(std::vector<double>* latencies, int* failures) {
  int32_t id = 0;
  const Dictionary fields = RoadRequestFields();
  Timed(latencies, [&] { id = CreateUnregisteredRequest(fields); });
  for (const RoadStep& step : RoadSteps(id)) {
    const OperationSpec* spec = FindOperation(step.class_id, step.operation);
    const DictionaryPtr args = JsonToVariant(step.arguments, JsonLimits{}).ToDictionary();
    Timed(latencies, [&] {
      try {
        CallOperation(*spec, *args);
      } catch (const ComError& e) {
        if (++*failures <= 3) std::fprintf(stderr, "%s: %s\n", step.operation.c_str(), e.what());
      }
    });
  }
}

// The operation steps of request `id`'s road, each a POST.
void HttpSteps(httplib::Client& client, int32_t id, std::vector<double>* latencies, int* failures) {
  for (const RoadStep& step : RoadSteps(id)) {
    const std::string path = "/api/v1/" + step.class_id + "/" + step.operation;
    const std::string body = step.arguments.dump();
    Timed(latencies, [&] {
      auto response = client.Post(path, body, "application/json");
      if (!response || response->status != 200) {
        if (++*failures <= 3) {
          std::fprintf(stderr, "%s: %s\n", step.operation.c_str(),
                       response ? response->body.c_str() : "no answer");
        }
      }
    });
  }
}

// The road over HTTP; the row is created as the front end does, straight into the database.
void HttpRoad(httplib::Client& client, std::vector<double>* latencies, int* failures) {
  int32_t id = 0;
  const Dictionary fields = RoadRequestFields();
  try {
    Timed(latencies, [&] { id = CreateUnregisteredRequest(fields); });
  } catch (const ComError& e) {
    // Concurrent creations on PostgreSQL can run out of attempts at a free number.
    if (++*failures <= 3) std::fprintf(stderr, "create: %s\n", e.what());
    return;
  }
  HttpSteps(client, id, latencies, failures);
}

Result RunBaseline(int roads) {
  Result result{"baseline (prepared statements)"};
  auto db = installation->Session();
  const auto started = Clock::now();
  for (int i = 0; i < roads; ++i) BaselineRoad(*db.get(), &result.latencies_us);
  result.seconds = std::chrono::duration<double>(Clock::now() - started).count();
  result.steps = roads * kStepsPerRoad;
  return result;
}

Result RunInProcess(int roads) {
  Result result{"in process (operation table)"};
  const auto started = Clock::now();
  for (int i = 0; i < roads; ++i) InProcessRoad(&result.latencies_us, &result.failures);
  result.seconds = std::chrono::duration<double>(Clock::now() - started).count();
  result.steps = roads * kStepsPerRoad;
  return result;
}

// `clients` keep-alive clients run `roads` roads between them, each client one road at a time;
// `road(client, latencies, failures)` runs the next road.
template <typename RoadF>
Result RunClients(std::string name, int roads, int clients, int port, int steps_per_road,
                  RoadF road) {
  Result result{std::move(name)};
  std::mutex mutex;
  std::atomic<int> left{roads};
  std::vector<std::thread> threads;
  const auto started = Clock::now();
  for (int c = 0; c < clients; ++c) {
    threads.emplace_back([&] {
      httplib::Client client("127.0.0.1", port);
      client.set_keep_alive(true);
      client.set_tcp_nodelay(true);
      client.set_read_timeout(60);
      std::vector<double> latencies;
      int failures = 0;
      while (left-- > 0) road(client, &latencies, &failures);
      std::lock_guard lock(mutex);
      result.latencies_us.insert(result.latencies_us.end(), latencies.begin(), latencies.end());
      result.failures += failures;
    });
  }
  for (auto& t : threads) t.join();
  result.seconds = std::chrono::duration<double>(Clock::now() - started).count();
  result.steps = roads * steps_per_road;
  return result;
}

Result RunHttp(int roads, int clients, int port) {
  return RunClients("http, " + std::to_string(clients) + " keep-alive client(s)", roads, clients,
                    port, kStepsPerRoad, HttpRoad);
}

// Many more clients than workers: the rows first, then only the operation steps over HTTP.
Result RunWide(int roads, int port) {
  std::vector<int32_t> ids;
  const Dictionary fields = RoadRequestFields();
  for (int i = 0; i < roads; ++i) ids.push_back(CreateUnregisteredRequest(fields));
  std::atomic<size_t> next{0};
  return RunClients("http, " + std::to_string(kWideClients) + " clients (rows made before)", roads,
                    kWideClients, port, kStepsPerRoad - 1,
                    [&](httplib::Client& client, std::vector<double>* latencies, int* failures) {
                      HttpSteps(client, ids[next++], latencies, failures);
                    });
}

void Print(const Result& r) {
  std::printf("%-36s %7d steps %8.2f s %9.1f steps/s  p50 %8.0f us  p99 %8.0f us%s\n",
              r.name.c_str(), r.steps, r.seconds, r.rate(), r.Percentile(0.50), r.Percentile(0.99),
              r.failures ? ("  FAILURES " + std::to_string(r.failures)).c_str() : "");
}

int Main(int argc, char** argv) {
  const int roads = argc > 1 ? std::atoi(argv[1]) : 300;
  installation = std::make_unique<Installation>();
  PopulateRoad(*installation);
  const char* pg = std::getenv("HELIQ_BENCH_PG");
  std::printf("road of a request, %d roads per mode, %s\n", roads,
              pg != nullptr && *pg != '\0' ? "PostgreSQL" : "SQLite");

  // A short warm-up of every path so that prepared statements and pools exist in each mode.
  RunBaseline(5);
  RunInProcess(5);
  std::vector<Result> results;
  results.push_back(RunBaseline(roads));
  results.push_back(RunInProcess(roads));
  {
    HttpServerOptions options{"127.0.0.1", 0};
    // Every client comes from 127.0.0.1: the per-address cap must not refuse the wide mode.
    options.max_connections_per_address = options.max_connections;
    HttpServer server(options);
    const int port = server.Start();
    if (port < 0) {
      std::fprintf(stderr, "cannot start the HTTP server\n");
      return 1;
    }
    RunHttp(5, 1, port);
    for (int clients : {1, 4, 16}) results.push_back(RunHttp(roads, clients, port));
    results.push_back(RunWide(std::max(roads, 2 * kWideClients), port));
    server.Stop();
  }
  for (const auto& r : results) Print(r);
  const double baseline = results[0].rate();
  const double in_process = results[1].rate();
  std::printf("\nratio in process / baseline        = %.2f (goal >= 0.50)\n",
              in_process / baseline);
  // The wide mode (last) has no create step, so its rate is not compared.
  for (size_t i = 2; i + 1 < results.size(); ++i) {
    std::printf("ratio %-28s / in process = %.2f%s\n", results[i].name.c_str(),
                results[i].rate() / in_process, i == 3 ? " (goal >= 0.70)" : "");
  }
  const Result& wide = results.back();
  std::printf("%s: %d failed, p99 %.0f us (goal: none failed)\n", wide.name.c_str(), wide.failures,
              wide.Percentile(0.99));
  int failures = 0;
  for (const auto& r : results) failures += r.failures;
  installation.reset();
  return failures == 0 ? 0 : 1;
}

}  // namespace
}  // namespace heliq::bench

int main(int argc, char** argv) { return heliq::bench::Main(argc, argv); }
