// The request list over many requests: pages of 50 of engineers' queues, the way a front end
// walks them (sorted by deadline, then by last change), beside the floor under them: one bare
// indexed read of the same engineer's rows, nothing computed or sorted.
//
//   build-bench/bench/list_bench [pages]
// 100,000 requests, half of them assigned to 200 engineers (250 each), every one with a running
// reminder and a log row. Walks every page of the queues of 40 engineers per road, repeated until
// `pages` pages (default 2,000) were read, and prints median and p99 per page (per read for the
// bare road), after the plan of a queue page.
// HELIQ_BENCH_PG=<libpq keywords> runs it on PostgreSQL.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_installation.h"
#include "common/heliq_utilities.h"
#include "host/read_api.h"
#include "platform/clock.h"
#include "platform/object_context.h"

namespace heliq::bench {
namespace {

constexpr int kRequests = 100000;
constexpr int kEngineers = 200;
constexpr int kWalkedEngineers = 40;
constexpr int kPage = 50;
const DateTime kNow{2009, 1, 1, 12, 0, 0};

std::string Engineer(int i) {
  char name[16];
  std::snprintf(name, sizeof name, "eng%04d", i);
  return name;
}

void Populate(const Installation& installation) {
  auto db = installation.Session();
  db->Begin(true);
  for (const auto& [name, value] :
       {std::pair{"MaxHours_Registered", "4"}, std::pair{"MaxHours_Assigned", "24"},
        std::pair{"MaxHours_SCQueue", "8"}, std::pair{"MaxHours_SCEAssigned", "48"}}) {
    db->Execute("INSERT INTO PARAMETERS (PARAM_NAME, PARAM_VALUE) VALUES (?, ?)",
                {Variant(name), Variant(value)});
  }
  for (int id = 1; id <= kRequests; ++id) {
    const bool assigned = id % 2 == 0;
    const int center = 1 + (id / 2) % 2;
    const DateTime started = kNow.AddSeconds(-(id % 5000) * 60);
    db->Execute(
        "INSERT INTO QUESTIONS (Q_ID, Q_STATUS, CENTER, Q_DESC, Q_TEXT, Q_ORIGINATOR, "
        "REGISTEREDDATE, D_DIRECT_TO) VALUES (?, ?, ?, ?, ?, ?, ?, ?)",
        {Variant(id), Variant(assigned ? 25 : 5), Variant(center),
         Variant("Request number " + std::to_string(id)),
         Variant("The printer in room " + std::to_string(id % 977) + " jams"),
         Variant("cust" + std::to_string(id % 2000)), Variant(started),
         assigned ? Variant(Engineer(id / 2 % kEngineers)) : Variant::Null()});
    db->Execute("INSERT INTO REMINDER (Q_ID, R_STATUS, T1_DATE) VALUES (?, ?, ?)",
                {Variant(id), Variant(assigned ? "25" : "5"), Variant(started)});
    db->Execute(
        "INSERT INTO TRANSACTIONS (Q_ID, T_NAME, T_STATUS, CENTER, T_DATE) VALUES (?, 'x', ?, "
        "?, ?)",
        {Variant(id), Variant(assigned ? "25" : "5"), Variant(center), Variant(started)});
  }
  db->Commit();
  // Statistics, as a maintained installation has them.
  db->ExecuteScript("ANALYZE");
}

// Times every page of `walk` until `pages` pages were read; returns the times in milliseconds.
std::vector<double> TimePages(int pages, const std::function<bool(int, std::string&)>& page) {
  std::vector<double> times;
  int engineer = 0;
  while (static_cast<int>(times.size()) < pages) {
    std::string cursor;
    const int walked = engineer++ % kWalkedEngineers;
    do {
      const auto start = std::chrono::steady_clock::now();
      const bool more = page(walked, cursor);
      times.push_back(
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count());
      if (!more) break;
    } while (static_cast<int>(times.size()) < pages);
  }
  return times;
}

void Report(const char* name, std::vector<double> times) {
  std::sort(times.begin(), times.end());
  const auto at = [&](double q) {
    return times[std::min(times.size() - 1, static_cast<size_t>(q * times.size()))];
  };
  std::printf("%-34s pages %6zu  median %8.3f ms  p99 %8.3f ms\n", name, times.size(), at(0.5),
              at(0.99));
}

bool ListPage(int engineer, std::string& cursor, const char* sort) {
  RequestFilter filter;
  filter.engineer = Engineer(engineer);
  filter.sort = std::string(sort) == "deadline" ? RequestSort::kDeadline : RequestSort::kChanged;
  filter.descending = filter.sort == RequestSort::kChanged;
  filter.limit = kPage;
  filter.cursor = cursor;
  const RequestPage page = ListRequests(filter, RequestScope{.all = true});
  if (page.rows.empty()) std::abort();
  cursor = page.next_cursor;
  return !cursor.empty();
}

}  // namespace
}  // namespace heliq::bench

int main(int argc, char** argv) {
  using namespace heliq;
  using namespace heliq::bench;
  const int pages = argc > 1 ? std::atoi(argv[1]) : 2000;
  Installation installation;
  SetFixedTime(kNow);
  Populate(installation);
  std::printf("%d requests, %d engineers, pages of %d (%s)\n", kRequests, kEngineers, kPage,
              installation.connection_string().starts_with("postgresql") ? "PostgreSQL" : "SQLite");
  {
    // The plan of a queue page, to show which index answers it.
    RequestFilter filter;
    filter.engineer = Engineer(0);
    filter.sort = RequestSort::kDeadline;
    filter.limit = kPage;
    auto db = installation.Session();
    const bool postgres = db->dialect() == Dialect::kPostgres;
    const SqlQuery query = RequestListQuery(filter, RequestScope{.all = true}, db->dialect());
    const ResultSet plan =
        db->Query((postgres ? "EXPLAIN " : "EXPLAIN QUERY PLAN ") + query.sql, query.params);
    for (const auto& row : plan.rows) {
      std::printf("  plan: %s\n", row[postgres ? 0 : row.size() - 1].ToText().c_str());
    }
  }
  Report("bare: the engineer's rows by index", TimePages(pages, [](int engineer, std::string&) {
           const ResultSet rows = RunUnitOfWork(
               [&] {
                 return GetHeliqConnection()->Query(
                     "SELECT Q_ID, Q_STATUS, Q_DESC FROM QUESTIONS WHERE D_DIRECT_TO = ?",
                     {Variant(Engineer(engineer))});
               },
               true);
           if (rows.rows.empty()) std::abort();
           return false;
         }));
  Report("queue by deadline", TimePages(pages, [](int engineer, std::string& cursor) {
           return ListPage(engineer, cursor, "deadline");
         }));
  Report("queue by last change, newest first", TimePages(pages, [](int engineer, std::string& c) {
           return ListPage(engineer, c, "changed");
         }));
  SetFixedTime(std::nullopt);
  return 0;
}
