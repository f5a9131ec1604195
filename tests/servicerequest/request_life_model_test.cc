// The request's whole life against a model: random but sensible sequences of work steps over many
// call-centre requests, each step one unit of work, with the database compared to the model after
// every step (request row, log, reminder, engineers' counters, archive).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/connection.h"
#include "platform/object_context.h"
#include "portal/directory/directory_store.h"
#include "servicerequest/dispatch/dispatch.h"
#include "servicerequest/question/question.h"
#include "tests/support/directory_users.h"
#include "tests/support/request_fixture.h"

namespace heliq {
namespace {

using testing::kTestNow;

constexpr uint32_t kSeed = 20090101;
constexpr int kRequests = 20;
constexpr int kSteps = kRequests * 25;
constexpr int32_t kFirstId = 100;
// Reminder_Time is 2.5 hours: an answer's reminder fires 9000 seconds after the answer.
constexpr int64_t kAnswerReminderSeconds = 9000;
const std::vector<std::string> kEngineers = {"eng1", "eng2", "eng3"};

constexpr std::string_view kSelectActive =
    "select Q_STATUS, CENTER, D_DIRECT_TO from QUESTIONS where Q_ID = ?";
constexpr std::string_view kSelectArchived =
    "select Q_STATUS, CENTER, D_DIRECT_TO from QUESTIONHISTORY where Q_ID = ?";
constexpr std::string_view kSelectReminder =
    "select R_STATUS, T1_DATE from REMINDER where Q_ID = ?";
constexpr std::string_view kSelectLog =
    "select T_STATUS, CENTER, T_DATE from TRANSACTIONS where Q_ID = ? order by T_ID";
constexpr std::string_view kSelectCounters =
    "select QUEUESIZE, EXPERIENCE from CCEDISRULE where LOGIN = ?";

enum class Action {
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

const char* Name(Action action) {
  switch (action) {
    case Action::kRegister:
      return "RegisterQuestion";
    case Action::kDispatch:
      return "DispatchHDS";
    case Action::kTakeInHand:
      return "TakeInHand";
    case Action::kWait:
      return "SetToWaiting(0)";
    case Action::kWaitForCustomer:
      return "SetToWaiting(1)";
    case Action::kClarify:
      return "ClarifyQuestion";
    case Action::kAnswer:
      return "AnswerQuestion";
    case Action::kConclude:
      return "ConcludeQuestion";
    case Action::kAccept:
      return "AcceptQuestion";
    case Action::kClose:
      return "CloseQuestion";
    case Action::kCancel:
      return "CancelQuestion";
  }
  return "?";
}

// What the database should hold about one request.
struct RequestModel {
  int32_t status = 0;  // 0: the front end's row, not registered yet
  bool archived = false;
  std::string engineer;  // D_DIRECT_TO, "" while unassigned
  int log_rows = 0;
  std::string last_log_status;
  DateTime last_log_time;
  bool has_reminder = false;
  std::string reminder_status;
  std::optional<DateTime> reminder_time;  // nullopt: T1_DATE is null
};

struct EngineerModel {
  int32_t queue = 0;
  int32_t experience = 0;
};

class RequestLifeModelTest : public testing::RequestTest {
 protected:
  void SetUp() override {
    RequestTest::SetUp();
    if (IsSkipped()) return;
    Exec("delete from PARAMETERS where PARAM_NAME = 'Reminder_Time'");
    Exec("insert into PARAMETERS (PARAM_NAME, PARAM_VALUE) values ('Reminder_Time', '2.5')");
    testing::AddDirectoryUser("cust", {}, "12", "3");
    // Differing starting counters so the choice of engineer is not just the login order.
    const std::vector<std::pair<int32_t, int32_t>> start = {{1, 0}, {0, 2}, {1, 4}};
    for (size_t i = 0; i < kEngineers.size(); ++i) {
      testing::AddDirectoryUser(kEngineers[i], {32});
      Exec(
          "insert into CCEDISRULE (LOGIN, QUEUESIZE, EXPERIENCE, APPLYFORAUTOMATIC, KEYWORD) "
          "values (?, ?, ?, 1, '')",
          {Variant(kEngineers[i]), Variant(start[i].first), Variant(start[i].second)});
      engineers_[kEngineers[i]] = {start[i].first, start[i].second};
    }
    for (int32_t i = 0; i < kRequests; ++i) {
      Exec("insert into QUESTIONS (Q_ID, Q_STATUS) values (?, 0)", {Variant(kFirstId + i)});
    }
    requests_.assign(kRequests, RequestModel{});
  }

  // The actions that make sense in a request's state.
  static std::vector<Action> Possible(const RequestModel& r) {
    if (r.archived) return {};
    switch (r.status) {
      case 0:
        return {Action::kRegister};
      case 5:
        return {Action::kDispatch, Action::kCancel};
      case 15:
        return {Action::kTakeInHand, Action::kCancel};
      case 25:
      case 40:
        return {Action::kWait, Action::kWaitForCustomer, Action::kAnswer, Action::kCancel};
      case 30:
      case 35:
        return {Action::kClarify, Action::kCancel};
      case 150:
        return {Action::kAnswer, Action::kConclude, Action::kAccept};
      case 160:
      case 165:
        return {Action::kClose};
    }
    return {};
  }

  // The engineer automatic dispatching picks when no rule criterion matches: every score is 0,
  // so the first row of the automatic order wins (smallest queue, most experience, login).
  std::string ExpectedPick() const {
    std::vector<std::string> logins = kEngineers;
    std::sort(logins.begin(), logins.end(), [&](const std::string& a, const std::string& b) {
      const EngineerModel& x = engineers_.at(a);
      const EngineerModel& y = engineers_.at(b);
      if (x.queue != y.queue) return x.queue < y.queue;
      if (x.experience != y.experience) return x.experience > y.experience;
      return a < b;
    });
    return logins.front();
  }

  DictionaryPtr Details(int32_t id) {
    auto d = Dictionary::Create();
    d->Set("Q_ID", Variant(id));
    d->Set("T_NAME", Variant("actor"));
    d->Set("T_COMMENT", Variant("step"));
    d->Set("USERCOMMENT", Variant(""));
    return d;
  }

  // Runs the action in a unit of work and applies its expected effects to the model.
  void Apply(int index, Action action, const DateTime& now) {
    const int32_t id = kFirstId + index;
    RequestModel& r = requests_[static_cast<size_t>(index)];
    DictionaryPtr d = Details(id);
    auto log = [&](int32_t code) {
      ++r.log_rows;
      r.last_log_status = std::to_string(code);
      r.last_log_time = now;
    };
    auto restart = [&](int32_t code, std::optional<DateTime> at) {
      r.has_reminder = true;
      r.reminder_status = std::to_string(code);
      r.reminder_time = at;
    };
    switch (action) {
      case Action::kRegister:
        d->Set("CENTER", Variant(1));
        d->Set("Q_DESC", Variant("Printer jams"));
        d->Set("Q_ORIGINATOR", Variant("cust"));
        RunUnitOfWork([&] { Question().RegisterQuestion(d); });
        r.status = 5;
        restart(5, now);
        log(5);
        break;
      case Action::kDispatch: {
        const std::string pick = ExpectedPick();
        RunUnitOfWork([&] { Dispatch().DispatchHDS("5", "6", "cust", id, "jam", true, 1033); });
        r.status = 15;
        r.engineer = pick;
        ++engineers_[pick].queue;
        restart(15, now);
        log(15);
        break;
      }
      case Action::kTakeInHand:
        RunUnitOfWork([&] { Question().TakeInHand(d); });
        r.status = 25;
        restart(25, now);
        log(25);
        break;
      case Action::kWait:
      case Action::kWaitForCustomer: {
        const bool customer = action == Action::kWaitForCustomer;
        d->Set("WAITINGTYPE", Variant(customer ? 1 : 0));
        d->Set("TIMESPENT", Variant(5));
        RunUnitOfWork([&] { Question().SetToWaiting(d); });
        r.status = customer ? 35 : 30;
        restart(r.status, customer ? std::nullopt : std::optional<DateTime>(now));
        log(r.status);
        break;
      }
      case Action::kClarify: {
        const int32_t code = r.status == 30 ? 45 : 50;
        RunUnitOfWork([&] { Question().ClarifyQuestion(d); });
        r.status = 40;
        restart(40, now);
        log(code);
        break;
      }
      case Action::kAnswer:
        d->Set("A_TEXT", Variant("Open the tray"));
        RunUnitOfWork([&] { Question().AnswerQuestion(d); });
        // Only the first answer takes the request off the engineer's queue.
        if (r.status != 150) --engineers_[r.engineer].queue;
        r.status = 150;
        restart(150, now.AddSeconds(kAnswerReminderSeconds));
        log(150);
        break;
      case Action::kConclude:
      case Action::kAccept: {
        const bool accept = action == Action::kAccept;
        RunUnitOfWork([&] {
          if (accept) {
            Question().AcceptQuestion(d);
          } else {
            Question().ConcludeQuestion(d);
          }
        });
        r.status = accept ? 165 : 160;
        ++engineers_[r.engineer].experience;
        r.has_reminder = false;
        log(r.status);
        break;
      }
      case Action::kClose:
        RunUnitOfWork([&] { Question().CloseQuestion(d); });
        r.status = 180;
        r.archived = true;
        r.has_reminder = false;
        log(180);
        break;
      case Action::kCancel:
        d->Set("FromStatus", Variant(r.status));
        d->Set("CancelledBy", Variant("Engineer"));
        RunUnitOfWork([&] { Question().CancelQuestion(d); });
        // Cancelling takes an assigned, unanswered request off its engineer's queue.
        if (!r.engineer.empty()) --engineers_[r.engineer].queue;
        r.status = 185;
        r.archived = true;
        r.has_reminder = false;
        log(185);
        break;
    }
  }

  // Compares one request with the database.
  void CheckRequest(int index) {
    const int32_t id = kFirstId + index;
    const RequestModel& r = requests_[static_cast<size_t>(index)];
    SCOPED_TRACE("request " + std::to_string(id));
    const ResultSet active = Rows(kSelectActive, {Variant(id)});
    const ResultSet archived = Rows(kSelectArchived, {Variant(id)});
    if (r.archived) {
      EXPECT_TRUE(active.rows.empty()) << "an archived request leaves QUESTIONS";
      ASSERT_EQ(archived.rows.size(), 1u);
    } else {
      EXPECT_TRUE(archived.rows.empty());
      ASSERT_EQ(active.rows.size(), 1u);
    }
    const auto& row = r.archived ? archived.rows[0] : active.rows[0];
    EXPECT_EQ(row[0].ToLong(), r.status);
    if (r.status != 0) {
      EXPECT_EQ(row[1].ToLong(), 1);
    }
    EXPECT_EQ(row[2].ToTextOrEmpty(), r.engineer);

    const ResultSet log = Rows(kSelectLog, {Variant(id)});
    ASSERT_EQ(static_cast<int>(log.rows.size()), r.log_rows);
    if (r.log_rows > 0) {
      EXPECT_EQ(log.rows.back()[0].ToTextOrEmpty(), r.last_log_status);
      EXPECT_EQ(log.rows.back()[1].ToLong(), 1);
      EXPECT_EQ(log.rows.back()[2], Variant(r.last_log_time));
    }

    const ResultSet reminder = Rows(kSelectReminder, {Variant(id)});
    ASSERT_EQ(reminder.rows.size(), r.has_reminder ? 1u : 0u);
    if (r.has_reminder) {
      EXPECT_EQ(reminder.rows[0][0].ToTextOrEmpty(), r.reminder_status);
      if (r.reminder_time) {
        EXPECT_EQ(reminder.rows[0][1], Variant(*r.reminder_time));
      } else {
        EXPECT_TRUE(reminder.rows[0][1].IsNull()) << "waiting for the customer stops the timer";
      }
    }
  }

  void CheckTotalsAndEngineers() {
    int64_t log_rows = 0;
    int64_t reminders = 0;
    int64_t active = 0;
    for (const RequestModel& r : requests_) {
      log_rows += r.log_rows;
      reminders += r.has_reminder ? 1 : 0;
      active += r.archived ? 0 : 1;
    }
    EXPECT_EQ(Count("TRANSACTIONS"), log_rows) << "exactly one log row per action";
    EXPECT_EQ(Count("REMINDER"), reminders);
    EXPECT_EQ(Count("QUESTIONS"), active);
    EXPECT_EQ(Count("QUESTIONHISTORY"), kRequests - active);
    for (const std::string& login : kEngineers) {
      const ResultSet rows = Rows(kSelectCounters, {Variant(login)});
      ASSERT_EQ(rows.rows.size(), 1u) << login;
      EXPECT_EQ(rows.rows[0][0].ToLong(), engineers_[login].queue) << login << " queue size";
      EXPECT_EQ(rows.rows[0][1].ToLong(), engineers_[login].experience) << login << " experience";
    }
  }

  std::vector<RequestModel> requests_;
  std::map<std::string, EngineerModel> engineers_;
};

TEST_P(RequestLifeModelTest, RandomLivesMatchTheModelAfterEveryStep) {
  SCOPED_TRACE("seed " + std::to_string(kSeed));
  std::mt19937 random(kSeed);
  DateTime now = kTestNow;
  std::map<Action, int> taken;
  for (int step = 0; step < kSteps; ++step) {
    std::vector<int> open;
    for (int i = 0; i < kRequests; ++i) {
      if (!Possible(requests_[static_cast<size_t>(i)]).empty()) open.push_back(i);
    }
    if (open.empty()) break;
    const int index = open[std::uniform_int_distribution<size_t>(0, open.size() - 1)(random)];
    auto actions = Possible(requests_[static_cast<size_t>(index)]);
    // Cancelling ends a life early: offered one time in eight, so most lives reach an answer.
    if (actions.size() > 1 && std::uniform_int_distribution<int>(0, 7)(random) != 0) {
      actions.erase(std::remove(actions.begin(), actions.end(), Action::kCancel), actions.end());
    }
    const Action action =
        actions[std::uniform_int_distribution<size_t>(0, actions.size() - 1)(random)];
    now = now.AddSeconds(std::uniform_int_distribution<int64_t>(1, 7200)(random));
    SetFixedTime(now);

    SCOPED_TRACE("step " + std::to_string(step) + ": " + Name(action) + " on request " +
                 std::to_string(kFirstId + index) + " at " + Variant(now).ToTextOrEmpty());
    Apply(index, action, now);
    ++taken[action];
    CheckRequest(index);
    CheckTotalsAndEngineers();
    if (HasFatalFailure() || HasNonfatalFailure()) break;
  }
  SetFixedTime(kTestNow);
  for (int i = 0; i < kRequests; ++i) CheckRequest(i);
  // The walk must have exercised every kind of step, or the comparison proves little.
  for (int a = 0; a <= static_cast<int>(Action::kCancel); ++a) {
    EXPECT_GT(taken[static_cast<Action>(a)], 0) << Name(static_cast<Action>(a)) << " never ran";
  }
}

INSTANTIATE_DATABASE_TEST_SUITE(RequestLifeModelTest);

}  // namespace
}  // namespace heliq
