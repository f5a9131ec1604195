// The host in operation: the front end's request routes, the generated API description, metrics,
// health and a graceful stop.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "common/heliq_utilities.h"
#include "host/host.h"
#include "host/http_server.h"
#include "platform/com_error.h"
#include "platform/configuration.h"
#include "platform/operation_table.h"
#include "tests/people/settings.h"
#include "tests/support/http_host.h"

namespace heliq {
namespace {

using nlohmann::json;

constexpr std::string_view kInsertLogRow =
    "insert into TRANSACTIONS (Q_ID, T_NAME, T_STATUS, CENTER, T_COMMENT) values (?, ?, ?, 1, '')";
constexpr std::string_view kInsertReminder =
    "insert into REMINDER (Q_ID, R_STATUS, T1_DATE) values (?, '5', ?)";
constexpr std::string_view kInsertArchived =
    "insert into QUESTIONHISTORY (Q_ID, Q_STATUS, EMAILID, Q_DESC) values (?, 180, ?, 'old')";
constexpr std::string_view kInsertProspect =
    "insert into PROSPECT (EMAILID, PIN, INFORMATION, PENDINGQUESTIONS) values (?, 1, '', 0)";

json Body(const httplib::Result& result) { return json::parse(result->body); }

// The value of the metric line that starts with `series` (-1 when none).
double MetricValue(const std::string& text, const std::string& series) {
  const size_t at = text.find("\n" + series + " ");
  if (at == std::string::npos) return -1;
  return std::stod(text.substr(at + series.size() + 2));
}

class HttpOperationTest : public testing::HttpHostTest {};

TEST_P(HttpOperationTest, FrontEndReadsAndCreatesRequests) {
  StartServer();
  auto created =
      Post("/api/v1/requests",
           R"({"Q_DESC": "Printer jams", "Q_ORIGINATOR": "cust", "EMAILID": "P@x.com"})");
  ASSERT_TRUE(created);
  ASSERT_EQ(created->status, 201) << created->body;
  const int32_t id = Body(created)["Q_ID"].get<int32_t>();
  EXPECT_EQ(created->get_header_value("Location"), "/api/v1/requests/" + std::to_string(id));
  auto unknown_field = Post("/api/v1/requests", R"({"Q_DESC": "x", "Q_STATUS": 150})");
  ASSERT_TRUE(unknown_field);
  EXPECT_EQ(unknown_field->status, 400);
  EXPECT_NE(unknown_field->body.find("Q_STATUS"), std::string::npos);
  EXPECT_EQ(Count("QUESTIONS"), 1);

  Exec(kInsertLogRow, {Variant(id), Variant("cust"), Variant("5")});
  Exec(kInsertReminder, {Variant(id), Variant(testing::kTestNow)});
  Exec(kInsertArchived, {Variant(id + 1), Variant("p@x.com")});
  auto active = Get("/api/v1/requests/" + std::to_string(id));
  ASSERT_TRUE(active);
  ASSERT_EQ(active->status, 200) << active->body;
  EXPECT_EQ(Body(active)["archived"], false);
  EXPECT_EQ(Body(active)["request"]["Q_STATUS"], 0);
  EXPECT_EQ(Body(active)["reminder"]["R_STATUS"], "5");
  auto log = Get("/api/v1/requests/" + std::to_string(id) + "/transactions");
  ASSERT_TRUE(log);
  EXPECT_EQ(Body(log)["transactions"].size(), 1u);
  EXPECT_EQ(Body(log)["transactions"][0]["T_STATUS"], "5");
  auto reminder = Get("/api/v1/requests/" + std::to_string(id + 1) + "/reminder");
  ASSERT_TRUE(reminder);
  EXPECT_EQ(reminder->body, R"({"Q_ID":)" + std::to_string(id + 1) + R"(,"reminder":null})");
  auto listed = Get("/api/v1/requests?email=p%40x.com");
  ASSERT_TRUE(listed);
  ASSERT_EQ(listed->status, 200) << listed->body;
  const json requests = Body(listed)["requests"];
  ASSERT_EQ(requests.size(), 2u) << listed->body;
  EXPECT_EQ(requests[0]["ARCHIVED"], false);
  EXPECT_EQ(requests[1]["ARCHIVED"], true);

  struct Refusal {
    std::string path;
    int status;
    std::string named;
  };
  for (const auto& r : {Refusal{"/api/v1/requests/999", 404, "999"},
                        Refusal{"/api/v1/requests/999/transactions", 404, "999"},
                        Refusal{"/api/v1/requests/abc", 400, "id"},
                        Refusal{"/api/v1/requests/99999999999/reminder", 400, "id"},
                        Refusal{"/api/v1/requests?limit=0", 400, "limit"}}) {
    auto refused = Get(r.path);
    ASSERT_TRUE(refused) << r.path;
    EXPECT_EQ(refused->status, r.status) << r.path;
    EXPECT_NE(Body(refused)["error"]["description"].get<std::string>().find(r.named),
              std::string::npos)
        << refused->body;
  }
}

TEST_P(HttpOperationTest, ApiDescriptionAndAnswersCarryByReferenceValues) {
  // Its own operation is outside the permission table: served to the token as for diagnostics.
  testing::UseSettingsWith("[host]\nserve_all_operations = true\n");
  AddOperation({"HeliqTest.ByRef",
                "Fill",
                {In("i_dictDetails", ParamKind::kDictionary), ByRef("o_sError", ParamKind::kText),
                 Optional("i_lCount", ParamKind::kLong, Variant(1))},
                [](Dictionary& args) {
                  args.Set("o_sError", Variant("none"));
                  args.Get("i_dictDetails").ToDictionary()->Set("ADDED", Variant(true));
                  return Variant(args.Get("i_lCount").ToLong() + 1);
                }});
  StartServer();
  auto filled = Post("/api/v1/HeliqTest.ByRef/Fill", R"({"i_dictDetails": {"A": 1}})");
  ASSERT_TRUE(filled);
  EXPECT_EQ(filled->body,
            R"({"result":2,"byref":{"i_dictDetails":{"A":1,"ADDED":true},"o_sError":"none"}})");

  auto described = Get("/api/v1/openapi.json");
  ASSERT_TRUE(described);
  const json api = Body(described);
  EXPECT_EQ(api["openapi"], "3.0.3");
  for (const OperationSpec* spec : ListOperations()) {
    EXPECT_TRUE(api["paths"].contains("/api/v1/" + spec->class_id + "/" + spec->name))
        << spec->class_id << "." << spec->name;
  }
  const json fill = api["paths"]["/api/v1/HeliqTest.ByRef/Fill"]["post"];
  EXPECT_EQ(fill["requestBody"]["content"]["application/json"]["schema"]["required"],
            json::array({"i_dictDetails"}));
  const json byref = fill["responses"]["200"]["content"]["application/json"]["schema"]["properties"]
                         ["byref"]["properties"];
  EXPECT_TRUE(byref.contains("o_sError") && byref.contains("i_dictDetails")) << byref.dump();
  for (const char* path : {"/api/v1/requests", "/api/v1/requests/{id}", "/healthz"}) {
    EXPECT_TRUE(api["paths"].contains(path)) << path;
  }
}

TEST_P(HttpOperationTest, MetricsCountCallsErrorsAndUnitsOfWork) {
  StartServer();
  auto before = Get("/metrics");
  ASSERT_TRUE(before);
  const double commits = MetricValue(before->body, "heliq_unit_of_work_commits_total");
  const double rollbacks = MetricValue(before->body, "heliq_unit_of_work_rollbacks_total");
  ASSERT_GE(commits, 0);
  const std::string prospect = "/api/v1/HlqServiceRequestMTS.Prospect/";
  ASSERT_TRUE(Post(prospect + "CreateNewProspect", R"({"i_sEmailID": "p@x.com",
                                                       "i_sContactInfo": ""})"));
  ASSERT_TRUE(Post(prospect + "UpdateProspect", R"({"i_sEmailID": "p@x.com"})"));
  ASSERT_TRUE(Post("/api/v1/No.Such/Thing", "{}"));
  auto after = Get("/metrics");
  ASSERT_TRUE(after);
  const std::string& text = after->body;
  const std::string create = R"(operation="HlqServiceRequestMTS.Prospect.CreateNewProspect")";
  EXPECT_EQ(MetricValue(text, "heliq_calls_total{" + create + R"(,status="200"})"), 1) << text;
  EXPECT_EQ(MetricValue(text, "heliq_call_duration_seconds_count{" + create + "}"), 1);
  EXPECT_EQ(MetricValue(text, "heliq_call_duration_seconds_bucket{" + create + R"(,le="+Inf"})"),
            1);
  EXPECT_EQ(MetricValue(text, R"(heliq_call_errors_total{operation="HlqServiceRequestMTS.)"
                              R"(Prospect.UpdateProspect",number="1100"})"),
            1);
  EXPECT_EQ(MetricValue(text, R"(heliq_calls_total{operation="unknown",status="400"})"), 1);
  EXPECT_EQ(MetricValue(text, R"(heliq_calls_total{operation="metrics",status="200"})"), 1);
  EXPECT_EQ(MetricValue(text, "heliq_unit_of_work_commits_total"), commits + 1);
  EXPECT_EQ(MetricValue(text, "heliq_unit_of_work_rollbacks_total"), rollbacks);
  EXPECT_EQ(MetricValue(text, "heliq_calls_in_flight"), 1) << "the metrics call itself";
}

TEST_P(HttpOperationTest, HealthAnswersForTheDatabase) {
  StartServer();
  auto healthy = Get("/healthz");
  ASSERT_TRUE(healthy);
  EXPECT_EQ(healthy->status, 200);
  EXPECT_EQ(healthy->body, R"({"status":"ok"})");

  SetSettingsText(
      "[connections]\nHeliq = \"postgresql:host=127.0.0.1 port=1 connect_timeout=2 "
      "password=pg-pass-123\"\n[log]\nfile = \"\"\n");
  auto unhealthy = Get("/healthz");
  ASSERT_TRUE(unhealthy);
  EXPECT_EQ(unhealthy->status, 503);
  EXPECT_EQ(Body(unhealthy)["status"], "unavailable");
  EXPECT_EQ(unhealthy->body.find("pg-pass-123"), std::string::npos) << unhealthy->body;
}

TEST_P(HttpOperationTest, StopLetsTheCallInProgressFinishAndTakesNoNewOnes) {
  // Its own operation is outside the permission table: served to the token as for diagnostics.
  testing::UseSettingsWith("[host]\nserve_all_operations = true\n");
  std::promise<void> started;
  AddOperation({"HeliqTest.Slow",
                "Write",
                {In("i_sEmailID", ParamKind::kText)},
                [&started](Dictionary& args) {
                  GetHeliqConnection()->Execute(kInsertProspect, {args.Get("i_sEmailID")});
                  started.set_value();
                  std::this_thread::sleep_for(std::chrono::milliseconds(300));
                  return Variant("written");
                }});
  StartServer();
  auto in_flight = std::async(std::launch::async, [this] {
    return NewClient()->Post("/api/v1/HeliqTest.Slow/Write", R"({"i_sEmailID": "s@x.com"})",
                             "application/json");
  });
  started.get_future().wait();
  const auto stop_began = std::chrono::steady_clock::now();
  server_->Stop();
  EXPECT_GE(std::chrono::steady_clock::now() - stop_began, std::chrono::milliseconds(200))
      << "Stop waits for the call in progress";
  auto answered = in_flight.get();
  ASSERT_TRUE(answered);
  EXPECT_EQ(answered->status, 200) << answered->body;
  EXPECT_EQ(Body(answered)["result"], "written");
  EXPECT_EQ(Count("PROSPECT"), 1);
  EXPECT_FALSE(NewClient()->Get("/healthz")) << "the listening socket is closed";
}

INSTANTIATE_DATABASE_TEST_SUITE(HttpOperationTest);

}  // namespace
}  // namespace heliq
