// Test support for the host's reliability tests: a load of random but sensible call-centre work
// steps sent over HTTP by many keep-alive clients at once, and a recount of what the database must
// then hold.
//
// The driver never has two calls in flight on one request (two calls on one request are not
// serialised by the system, so their outcome is not a fault), but calls on different requests and
// on the same engineers' counters overlap freely. It remembers, per request, how many actions the
// host confirmed (HTTP 200); a call whose answer never came (the host was killed) stays pending
// until Settle decides from the database whether it committed as a whole.
//
// CheckInvariants replays each request's transaction log through the status model and compares
// the request, its reminder, the archive and the engineers' counters with that recount.
//
// Thread safety: Run starts its own client threads; the other members must not run beside it.
#ifndef HELIQ_TESTS_HOST_RELIABILITY_REQUEST_LOAD_H_
#define HELIQ_TESTS_HOST_RELIABILITY_REQUEST_LOAD_H_

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/database.h"
#include "portal/directory/directory_store.h"
#include "tests/support/directory_users.h"

namespace heliq::testing {

inline constexpr int32_t kLoadFirstId = 1000;

struct LoadCounters {
  int32_t queue = 0;
  int32_t experience = 0;
};

// Engineers and their counters before the load; different so the automatic choice varies.
inline const std::map<std::string, LoadCounters>& LoadEngineers() {
  static const std::map<std::string, LoadCounters> engineers = {
      {"eng1", {1, 0}}, {"eng2", {0, 2}}, {"eng3", {2, 4}}, {"eng4", {0, 0}}};
  return engineers;
}

inline constexpr std::string_view kLoadInsertRule =
    "insert into CCEDISRULE (LOGIN, QUEUESIZE, EXPERIENCE, APPLYFORAUTOMATIC, KEYWORD) "
    "values (?, ?, ?, 1, '')";
inline constexpr std::string_view kLoadInsertRequest =
    "insert into QUESTIONS (Q_ID, Q_STATUS) values (?, 0)";
inline constexpr std::string_view kLoadDeleteReminderTime =
    "delete from PARAMETERS where PARAM_NAME = 'Reminder_Time'";
inline constexpr std::string_view kLoadInsertReminderTime =
    "insert into PARAMETERS (PARAM_NAME, PARAM_VALUE) values ('Reminder_Time', '2.5')";
inline constexpr std::string_view kLoadSelectActive =
    "select Q_ID, Q_STATUS, D_DIRECT_TO from QUESTIONS";
inline constexpr std::string_view kLoadSelectArchived =
    "select Q_ID, Q_STATUS, D_DIRECT_TO from QUESTIONHISTORY";
inline constexpr std::string_view kLoadSelectReminders =
    "select Q_ID, R_STATUS, T1_DATE from REMINDER";
inline constexpr std::string_view kLoadSelectLog =
    "select Q_ID, T_STATUS from TRANSACTIONS order by T_ID";
inline constexpr std::string_view kLoadSelectCounters =
    "select QUEUESIZE, EXPERIENCE from CCEDISRULE where LOGIN = ?";

// The customer, the engineers with their rule rows, and `requests` unregistered request rows
// (ids from kLoadFirstId). Settings must point at the test databases.
inline void SeedLoad(Session& db, int requests) {
  db.Execute(kLoadDeleteReminderTime, {});
  db.Execute(kLoadInsertReminderTime, {});
  AddDirectoryUser("cust", {}, "12", "3");
  for (const auto& [login, counters] : LoadEngineers()) {
    AddDirectoryUser(login, {32});
    db.Execute(kLoadInsertRule,
               {Variant(login), Variant(counters.queue), Variant(counters.experience)});
  }
  db.Begin(true);
  for (int32_t i = 0; i < requests; ++i)
    db.Execute(kLoadInsertRequest, {Variant(kLoadFirstId + i)});
  db.Commit();
}

enum class LoadAction {
  kRegister,
  kDispatch,
  kTakeInHand,
  kWait,
  kWaitForCustomer,
  kClarify,
  kAnswer,
  kConclude,
  kAccept,
  kClose,
  kCancel,
};

// The status a request has after the log code `code` (clarifications log 45/50 but set 40).
inline int32_t StatusAfterLogCode(int32_t code) { return code == 45 || code == 50 ? 40 : code; }

// The log code an action writes on a request in `status`.
inline int32_t LogCodeOf(LoadAction action, int32_t status) {
  switch (action) {
    case LoadAction::kRegister:
      return 5;
    case LoadAction::kDispatch:
      return 15;
    case LoadAction::kTakeInHand:
      return 25;
    case LoadAction::kWait:
      return 30;
    case LoadAction::kWaitForCustomer:
      return 35;
    case LoadAction::kClarify:
      return status == 30 ? 45 : 50;
    case LoadAction::kAnswer:
      return 150;
    case LoadAction::kConclude:
      return 160;
    case LoadAction::kAccept:
      return 165;
    case LoadAction::kClose:
      return 180;
    case LoadAction::kCancel:
      return 185;
  }
  return -1;
}

// The actions that make sense in a status; the load uses nothing else.
inline std::vector<LoadAction> PossibleActions(int32_t status) {
  switch (status) {
    case 0:
      return {LoadAction::kRegister};
    case 5:
      return {LoadAction::kDispatch, LoadAction::kCancel};
    case 15:
      return {LoadAction::kTakeInHand, LoadAction::kCancel};
    case 25:
    case 40:
      return {LoadAction::kWait, LoadAction::kWaitForCustomer, LoadAction::kAnswer,
              LoadAction::kCancel};
    case 30:
    case 35:
      return {LoadAction::kClarify, LoadAction::kCancel};
    case 150:
      return {LoadAction::kAnswer, LoadAction::kConclude, LoadAction::kAccept};
    case 160:
    case 165:
      return {LoadAction::kClose};
  }
  return {};
}

// The statuses from which a log code may follow; empty for an unknown code.
inline std::set<int32_t> StatusesBefore(int32_t code) {
  switch (code) {
    case 5:
      return {0};
    case 15:
      return {5};
    case 25:
      return {15};
    case 30:
    case 35:
      return {25, 40};
    case 45:
      return {30};
    case 50:
      return {35};
    case 150:
      return {25, 40, 150};
    case 160:
    case 165:
      return {150};
    case 180:
      return {160, 165};
    case 185:
      return {5, 15, 25, 30, 35, 40};
  }
  return {};
}

// The HTTP request of an action: operation path and JSON arguments.
inline std::pair<std::string, nlohmann::json> LoadCall(LoadAction action, int32_t id,
                                                       int32_t status) {
  const std::string question = "/api/v1/HlqServiceRequestMTS.Question/";
  nlohmann::json d = {
      {"Q_ID", id}, {"T_NAME", "actor"}, {"T_COMMENT", "step"}, {"USERCOMMENT", ""}};
  auto details = [&](const char* operation) {
    return std::make_pair(question + operation, nlohmann::json{{"i_dictDetails", d}});
  };
  switch (action) {
    case LoadAction::kRegister:
      d["CENTER"] = 1;
      d["Q_DESC"] = "Printer jams";
      d["Q_ORIGINATOR"] = "cust";
      return details("RegisterQuestion");
    case LoadAction::kDispatch:
      return {"/api/v1/HlqServiceRequestMTS.Dispatch/DispatchHDS",
              {{"i_sPCategory", "5"},
               {"i_sQCategory", "6"},
               {"i_sUserId", "cust"},
               {"i_lQID", id},
               {"i_sText", "jam"},
               {"i_bAutomatic", true},
               {"i_lLoginLocale", 1033}}};
    case LoadAction::kTakeInHand:
      return details("TakeInHand");
    case LoadAction::kWait:
    case LoadAction::kWaitForCustomer:
      d["WAITINGTYPE"] = action == LoadAction::kWaitForCustomer ? 1 : 0;
      d["TIMESPENT"] = 5;
      return details("SetToWaiting");
    case LoadAction::kClarify:
      return details("ClarifyQuestion");
    case LoadAction::kAnswer:
      d["A_TEXT"] = "Open the tray";
      return details("AnswerQuestion");
    case LoadAction::kConclude:
      return details("ConcludeQuestion");
    case LoadAction::kAccept:
      return details("AcceptQuestion");
    case LoadAction::kClose:
      return details("CloseQuestion");
    case LoadAction::kCancel:
      d["FromStatus"] = status;
      d["CancelledBy"] = "Engineer";
      return details("CancelQuestion");
  }
  return {};
}

// How a Run spreads its calls and when it ends.
struct LoadPlan {
  std::vector<int> ports;  // hosts on 127.0.0.1; each client starts on its own and moves on
  int clients = 1;
  int calls_per_client = std::numeric_limits<int>::max();
  // Clients stop taking new calls after this.
  std::chrono::steady_clock::time_point until = std::chrono::steady_clock::time_point::max();
  // Off: a client stops when its host goes away. On (hosts killed and restarted, a database that
  // fails over): a client whose host refuses the connection tries the next one; a call that went
  // unanswered or was answered 5xx may or may not have committed, so its request stays pending for
  // Settle; the client then waits a moment and takes the next host.
  bool carry_on = false;
};

// What one Run saw.
struct LoadStats {
  int confirmed = 0;   // HTTP 200
  int refused = 0;     // an error answer (the unit of work was rolled back)
  int unanswered = 0;  // no answer: the host went away during the call
  int uncertain = 0;   // answered 5xx while carrying on: outcome left to Settle
  std::map<int, int> uncertain_by_status;
  std::map<int, int> refusals_by_status;
  std::vector<std::string> refusal_samples;  // a few error bodies, for the test's message
};

class RequestLoad {
 public:
  RequestLoad(int requests, uint32_t seed)
      : requests_(static_cast<size_t>(requests)), seed_(seed) {}

  // `clients` threads, each with one keep-alive connection to 127.0.0.1:`port`, make up to
  // `calls_per_client` calls each. A client stops early when its connection fails (the host is
  // gone) or when every request has ended its life.
  LoadStats Run(int port, int clients, int calls_per_client) {
    return Run(LoadPlan{{port}, clients, calls_per_client});
  }

  // As above, along `plan`.
  LoadStats Run(const LoadPlan& plan) {
    LoadStats stats;
    std::mutex stats_mutex;
    std::vector<std::thread> threads;
    for (int c = 0; c < plan.clients; ++c) {
      threads.emplace_back([&, c] {
        std::mt19937 random(seed_ + static_cast<uint32_t>(run_++ * 131 + c));
        size_t host = static_cast<size_t>(c) % plan.ports.size();
        auto connect = [&] {
          auto client = std::make_unique<httplib::Client>("127.0.0.1", plan.ports[host]);
          client->set_keep_alive(true);
          client->set_connection_timeout(5);
          client->set_read_timeout(60);
          return client;
        };
        auto next_host = [&] {
          host = (host + 1) % plan.ports.size();
          return connect();
        };
        std::unique_ptr<httplib::Client> client = connect();
        for (int call = 0;
             call < plan.calls_per_client && std::chrono::steady_clock::now() < plan.until;
             ++call) {
          const std::optional<size_t> index = Claim(random);
          if (!index) break;
          Request& r = requests_[*index];
          const int32_t id = kLoadFirstId + static_cast<int32_t>(*index);
          auto actions = PossibleActions(r.status);
          // Cancelling ends a life early: offered one time in eight.
          if (actions.size() > 1 && std::uniform_int_distribution<int>(0, 7)(random) != 0) {
            std::erase(actions, LoadAction::kCancel);
          }
          const LoadAction action =
              actions[std::uniform_int_distribution<size_t>(0, actions.size() - 1)(random)];
          const auto [path, args] = LoadCall(action, id, r.status);
          auto response = client->Post(path, args.dump(), "application/json");
          const bool never_sent = !response && response.error() == httplib::Error::Connection;
          const bool uncertain =
              plan.carry_on && (!response || response->status >= 500) && !never_sent;
          {
            std::lock_guard lock(stats_mutex);
            if (!response && !never_sent) ++stats.unanswered;
            if (uncertain || (!response && !never_sent)) {
              r.pending = LogCodeOf(action, r.status);
              if (response) {
                ++stats.uncertain;
                ++stats.uncertain_by_status[response->status];
              }
            } else if (response && response->status == 200) {
              ++stats.confirmed;
              ++r.confirmed;
              r.status = StatusAfterLogCode(LogCodeOf(action, r.status));
            } else if (response) {
              ++stats.refused;
              ++stats.refusals_by_status[response->status];
              if (stats.refusal_samples.size() < 5) stats.refusal_samples.push_back(response->body);
            }
          }
          r.busy.unlock();
          if (response && !uncertain) continue;
          if (!plan.carry_on) break;
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
          client = next_host();
        }
      });
    }
    for (auto& t : threads) t.join();
    return stats;
  }

  // Decides each unanswered call from the database: committed when the request's log gained
  // exactly that action's row, not committed when the log is as confirmed; anything else is
  // reported as a violation (a half-done or duplicated unit of work).
  void Settle(Session& db, std::vector<std::string>* violations) {
    for (size_t i = 0; i < requests_.size(); ++i) {
      Request& r = requests_[i];
      if (!r.pending) continue;
      const int32_t id = kLoadFirstId + static_cast<int32_t>(i);
      const ResultSet log = db.Query(kSelectRequestLog, {Variant(id)});
      const int rows = static_cast<int>(log.rows.size());
      if (rows == r.confirmed + 1 &&
          log.rows.back()[0].ToTextOrEmpty() == std::to_string(*r.pending)) {
        ++r.confirmed;
        r.status = StatusAfterLogCode(*r.pending);
      } else if (rows != r.confirmed) {
        violations->push_back("request " + std::to_string(id) + ": " + std::to_string(rows) +
                              " log rows after " + std::to_string(r.confirmed) +
                              " confirmed actions and one unanswered call");
      }
      r.pending.reset();
    }
  }

  // Every request's log has exactly one row per action the host confirmed.
  std::vector<std::string> CheckConfirmed(Session& db) const {
    std::vector<std::string> violations;
    std::map<int32_t, int> rows;
    for (const auto& row : db.Query(kCountLogRows, {}).rows) {
      rows[row[0].ToLong()] = static_cast<int>(row[1].ToLongLong());
    }
    for (size_t i = 0; i < requests_.size(); ++i) {
      const int32_t id = kLoadFirstId + static_cast<int32_t>(i);
      const int expected = requests_[i].confirmed + (requests_[i].pending ? 1 : 0);
      if (rows[id] != requests_[i].confirmed && rows[id] != expected) {
        violations.push_back("request " + std::to_string(id) + ": " + std::to_string(rows[id]) +
                             " log rows for " + std::to_string(requests_[i].confirmed) +
                             " confirmed actions");
      }
    }
    return violations;
  }

  // How many requests have ended their life (closed or cancelled) as far as the host confirmed.
  int Ended() const {
    int ended = 0;
    for (const auto& r : requests_) ended += r.status == 180 || r.status == 185 ? 1 : 0;
    return ended;
  }

 private:
  static constexpr std::string_view kSelectRequestLog =
      "select T_STATUS from TRANSACTIONS where Q_ID = ? order by T_ID";
  static constexpr std::string_view kCountLogRows =
      "select Q_ID, count(*) from TRANSACTIONS group by Q_ID";

  struct Request {
    std::mutex busy;  // held while a call on the request is in flight
    int32_t status = 0;
    int confirmed = 0;
    std::optional<int32_t> pending;  // log code of an unanswered call
  };

  // A request with an action left and no call in flight, locked for the caller; nullopt when
  // every request has ended (or is pending after a lost call).
  std::optional<size_t> Claim(std::mt19937& random) {
    for (;;) {
      bool any_open = false;
      const size_t start = std::uniform_int_distribution<size_t>(0, requests_.size() - 1)(random);
      for (size_t k = 0; k < requests_.size(); ++k) {
        const size_t i = (start + k) % requests_.size();
        Request& r = requests_[i];
        if (!r.busy.try_lock()) {
          any_open = true;
          continue;
        }
        if (!r.pending && !PossibleActions(r.status).empty()) return i;
        r.busy.unlock();
      }
      if (!any_open) return std::nullopt;
      std::this_thread::yield();
    }
  }

  std::vector<Request> requests_;
  uint32_t seed_;
  std::atomic<int> run_{0};
};

// Recounts what the database must hold from its own requests and log (see the file comment) and
// returns one line per violation. Requests are those from kLoadFirstId on.
inline std::vector<std::string> CheckInvariants(Session& db) {
  std::vector<std::string> violations;
  auto fail = [&](int32_t id, const std::string& what) {
    violations.push_back("request " + std::to_string(id) + ": " + what);
  };
  struct Row {
    int32_t status = 0;
    std::string engineer;
  };
  std::map<int32_t, Row> active;
  std::map<int32_t, Row> archived;
  for (const auto& row : db.Query(kLoadSelectActive, {}).rows) {
    active[row[0].ToLong()] = {row[1].ToLong(), row[2].ToTextOrEmpty()};
  }
  for (const auto& row : db.Query(kLoadSelectArchived, {}).rows) {
    archived[row[0].ToLong()] = {row[1].ToLong(), row[2].ToTextOrEmpty()};
  }
  std::map<int32_t, std::pair<std::string, bool>> reminders;  // R_STATUS, timer running
  for (const auto& row : db.Query(kLoadSelectReminders, {}).rows) {
    reminders[row[0].ToLong()] = {row[1].ToTextOrEmpty(), !row[2].IsNull()};
  }
  std::map<int32_t, std::vector<int32_t>> logs;
  for (const auto& row : db.Query(kLoadSelectLog, {}).rows) {
    logs[row[0].ToLong()].push_back(std::stoi(row[1].ToTextOrEmpty()));
  }

  std::map<std::string, LoadCounters> expected = LoadEngineers();
  for (const auto& [id, row] : archived) {
    if (active.contains(id)) fail(id, "both active and archived");
  }
  for (const auto& [id, reminder] : reminders) {
    if (!active.contains(id)) fail(id, "a REMINDER row without an active request");
  }
  for (const auto& [id, codes] : logs) {
    if (!active.contains(id) && !archived.contains(id)) fail(id, "log rows without a request");
  }
  auto check = [&](int32_t id, const Row& row, bool is_archived) {
    int32_t status = 0;
    bool queued = false;
    bool concluded = false;
    for (const int32_t code : logs[id]) {
      if (!StatusesBefore(code).contains(status)) {
        fail(id, "log code " + std::to_string(code) + " after status " + std::to_string(status));
        return;
      }
      if (code == 15) queued = true;
      if ((code == 150 || code == 185) && queued) queued = false;
      if (code == 160 || code == 165) concluded = true;
      status = StatusAfterLogCode(code);
    }
    if (row.status != status) {
      fail(id, "status " + std::to_string(row.status) + ", the log says " + std::to_string(status));
    }
    if (is_archived != (status == 180 || status == 185)) {
      fail(id, is_archived ? "archived before its end" : "ended but not archived");
    }
    const bool dispatched = std::find(logs[id].begin(), logs[id].end(), 15) != logs[id].end();
    if (dispatched == row.engineer.empty()) {
      fail(id, "engineer '" + row.engineer + "' does not match the log");
    }
    if (dispatched && !expected.contains(row.engineer))
      fail(id, "unknown engineer " + row.engineer);
    if (dispatched && expected.contains(row.engineer)) {
      expected[row.engineer].queue += queued ? 1 : 0;
      expected[row.engineer].experience += concluded ? 1 : 0;
    }
    const bool wants_reminder = status != 0 && status < 160;
    const auto reminder = reminders.find(id);
    if (wants_reminder != (reminder != reminders.end())) {
      fail(id, wants_reminder ? "no REMINDER row"
                              : "a REMINDER row in status " + std::to_string(status));
    } else if (wants_reminder) {
      if (reminder->second.first != std::to_string(status)) {
        fail(id,
             "reminder status " + reminder->second.first + " in status " + std::to_string(status));
      }
      if (reminder->second.second != (status != 35)) fail(id, "reminder timer state");
    }
  };
  for (const auto& [id, row] : active) {
    if (id >= kLoadFirstId) check(id, row, false);
  }
  for (const auto& [id, row] : archived) {
    if (id >= kLoadFirstId) check(id, row, true);
  }
  for (const auto& [login, counters] : expected) {
    const ResultSet rows = db.Query(kLoadSelectCounters, {Variant(login)});
    if (rows.rows.size() != 1) {
      violations.push_back(login + ": " + std::to_string(rows.rows.size()) + " rule rows");
      continue;
    }
    const int32_t queue = rows.rows[0][0].ToLong();
    const int32_t experience = rows.rows[0][1].ToLong();
    if (queue != counters.queue || experience != counters.experience) {
      violations.push_back(login + ": queue " + std::to_string(queue) + " experience " +
                           std::to_string(experience) + ", the recount says " +
                           std::to_string(counters.queue) + " and " +
                           std::to_string(counters.experience));
    }
  }
  return violations;
}

}  // namespace heliq::testing

#endif  // HELIQ_TESTS_HOST_RELIABILITY_REQUEST_LOAD_H_
