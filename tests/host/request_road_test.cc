// The road of one request over HTTP: every step a POST to the host, each its own unit of work,
// from registration to the archive; and a request that ends published in the FAQ catalogue.
#include <gtest/gtest.h>

#include <httplib.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "host/http_server.h"
#include "host/request_store.h"
#include "platform/clock.h"
#include "portal/directory/directory_store.h"
#include "tests/support/directory_users.h"
#include "tests/support/request_fixture.h"

namespace heliq {
namespace {

using nlohmann::json;
using testing::kTestNow;

constexpr std::string_view kQuestion = "HlqServiceRequestMTS.Question";
constexpr std::string_view kDispatch = "HlqServiceRequestMTS.Dispatch";
constexpr std::string_view kSelectLogStatuses =
    "select T_STATUS from TRANSACTIONS where Q_ID = ? order by T_ID";
constexpr std::string_view kSelectCounters =
    "select QUEUESIZE, EXPERIENCE from CCEDISRULE where LOGIN = ?";

class RequestRoadTest : public testing::RequestTest {
 protected:
  void SetUp() override {
    RequestTest::SetUp();
    if (IsSkipped()) return;
    Exec("delete from PARAMETERS where PARAM_NAME = 'Reminder_Time'");
    Exec("insert into PARAMETERS (PARAM_NAME, PARAM_VALUE) values ('Reminder_Time', '24')");
    testing::AddDirectoryUser("cust", {}, "12", "3");
    testing::AddDirectoryUser("eng1", {32});
    testing::AddDirectoryUser("eng2", {32});
    // eng1's longer queue makes eng2 the automatic choice.
    AddRule("eng1", 4, 9);
    AddRule("eng2", 2, 1);
    server_ = std::make_unique<HttpServer>(HttpServerOptions{"127.0.0.1", 0});
    const int port = server_->Start();
    ASSERT_GT(port, 0);
    client_ = std::make_unique<httplib::Client>("127.0.0.1", port);
    client_->set_connection_timeout(5);
    client_->set_read_timeout(30);
  }
  void TearDown() override {
    client_.reset();
    if (server_) server_->Stop();
    server_.reset();
    RequestTest::TearDown();
  }

  void AddRule(const std::string& login, int32_t queue, int32_t experience) {
    Exec(
        "insert into CCEDISRULE (LOGIN, QUEUESIZE, EXPERIENCE, APPLYFORAUTOMATIC, KEYWORD) "
        "values (?, ?, ?, 1, '')",
        {Variant(login), Variant(queue), Variant(experience)});
  }

  int32_t CreateRequest() {
    Dictionary fields;
    fields.Set("Q_DESC", Variant("Printer jams"));
    fields.Set("Q_TEXT", Variant("It's jammed"));
    fields.Set("Q_ORIGINATOR", Variant("cust"));
    return CreateUnregisteredRequest(fields);
  }

  // POSTs one operation and returns the parsed answer; a status other than 200 fails the test.
  json Post(std::string_view class_id, std::string_view operation, const json& args) {
    SetFixedTime(clock_);
    auto response = client_->Post("/api/v1/" + std::string(class_id) + "/" + std::string(operation),
                                  args.dump(), "application/json");
    clock_ = clock_.AddSeconds(600);
    if (!response) {
      ADD_FAILURE() << operation << ": no response";
      return json();
    }
    EXPECT_EQ(response->status, 200) << operation << ": " << response->body;
    return json::parse(response->body, nullptr, false);
  }
  json Step(std::string_view operation, const json& details) {
    return Post(kQuestion, operation, {{"i_dictDetails", details}});
  }
  json Details(int32_t id, std::string comment) {
    return {{"Q_ID", id}, {"T_NAME", "eng2"}, {"T_COMMENT", comment}, {"USERCOMMENT", ""}};
  }
  void RegisterAndDispatch(int32_t id) {
    json registration = Details(id, "new");
    registration["CENTER"] = 1;
    registration["T_NAME"] = "cust";
    Step("RegisterQuestion", registration);
    Post(kDispatch, "DispatchHDS",
         {{"i_sPCategory", "5"},
          {"i_sQCategory", "6"},
          {"i_sUserId", "cust"},
          {"i_lQID", id},
          {"i_sText", "jam"},
          {"i_bAutomatic", true},
          {"i_lLoginLocale", 1033}});
  }
  std::vector<std::string> LogStatuses(int32_t id) {
    std::vector<std::string> statuses;
    for (const auto& row : Rows(kSelectLogStatuses, {Variant(id)}).rows) {
      statuses.push_back(row[0].ToTextOrEmpty());
    }
    return statuses;
  }
  std::pair<int32_t, int32_t> Counters(const std::string& login) {
    const ResultSet rows = Rows(kSelectCounters, {Variant(login)});
    EXPECT_EQ(rows.rows.size(), 1u);
    if (rows.rows.empty()) return {-1, -1};
    return {rows.rows[0][0].ToLong(), rows.rows[0][1].ToLong()};
  }

  std::unique_ptr<HttpServer> server_;
  std::unique_ptr<httplib::Client> client_;
  DateTime clock_ = kTestNow;
};

TEST_P(RequestRoadTest, FromRegistrationToTheArchive) {
  const int32_t id = CreateRequest();
  ASSERT_GT(id, 0);
  RegisterAndDispatch(id);
  EXPECT_EQ(Value("select D_DIRECT_TO from QUESTIONS where Q_ID = ?", {Variant(id)}),
            Variant("eng2"));
  EXPECT_EQ(Counters("eng2"), std::make_pair(3, 1)) << "the assignment joins the queue";

  Step("TakeInHand", Details(id, "mine"));
  json wait = Details(id, "need the serial number");
  wait["WAITINGTYPE"] = 1;
  Step("SetToWaiting", wait);
  EXPECT_TRUE(Value("select T1_DATE from REMINDER where Q_ID = ?", {Variant(id)}).IsNull())
      << "no timer runs while the customer is expected to answer";
  Step("ClarifyQuestion", Details(id, "got it"));
  json answer = Details(id, "answered");
  answer["A_TEXT"] = "Open the tray";
  const DateTime answered_at = clock_;
  Step("AnswerQuestion", answer);
  EXPECT_EQ(Value("select T1_DATE from REMINDER where Q_ID = ?", {Variant(id)}),
            Variant(answered_at.AddSeconds(24 * 3600)));
  EXPECT_EQ(Counters("eng2"), std::make_pair(2, 1)) << "the answer leaves the queue";
  Step("AcceptQuestion", Details(id, "thanks"));
  Step("CloseQuestion", Details(id, "done"));

  EXPECT_EQ(Count("QUESTIONS"), 0);
  EXPECT_EQ(Value("select Q_STATUS from QUESTIONHISTORY where Q_ID = ?", {Variant(id)}),
            Variant(180));
  EXPECT_EQ(LogStatuses(id),
            (std::vector<std::string>{"5", "15", "25", "35", "50", "150", "165", "180"}));
  EXPECT_EQ(Count("REMINDER"), 0);
  EXPECT_EQ(Counters("eng2"), std::make_pair(2, 2)) << "acceptance adds to the experience";
  EXPECT_EQ(Counters("eng1"), std::make_pair(4, 9)) << "the other engineer is untouched";
}

TEST_P(RequestRoadTest, AnAnsweredRequestIsPublishedAndArchived) {
  const int32_t id = CreateRequest();
  RegisterAndDispatch(id);
  json answer = Details(id, "answered");
  answer["A_TEXT"] = "Open the tray";
  Step("AnswerQuestion", answer);
  json publish = Details(id, "worth sharing");
  publish["Q_DESC"] = "Printer jams";
  publish["Q_TEXT"] = "It's jammed";
  publish["A_TEXT"] = "Open the tray";
  publish["P_PUBLISH_FOR"] = 3;
  Step("SetToToPublish", publish);
  EXPECT_EQ(Value("select Q_STATUS from QUESTIONS where Q_ID = ?", {Variant(id)}), Variant(170));
  const json published = Step("PublishQuestion", publish);
  ASSERT_TRUE(published.contains("result")) << published.dump();
  ASSERT_TRUE(published["result"].is_number_integer()) << published.dump();
  const int32_t faq = published["result"].get<int32_t>();

  EXPECT_EQ(Count("QUESTIONS"), 0);
  EXPECT_EQ(Count("REMINDER"), 0);
  EXPECT_EQ(Value("select Q_STATUS from QUESTIONHISTORY where Q_ID = ?", {Variant(id)}),
            Variant(175));
  EXPECT_EQ(LogStatuses(id), (std::vector<std::string>{"5", "15", "150", "170", "175"}));
  EXPECT_EQ(Value("select T_COMMENT from TRANSACTIONS where Q_ID = ? and T_STATUS = '175'",
                  {Variant(id)}),
            Variant("HQLBL3186;;;;" + std::to_string(faq)));
  EXPECT_EQ(Value("select FAQ_TITLE from FAQLIST where FAQ_ID = ?", {Variant(faq)}),
            Variant("Printer jams"));
  EXPECT_EQ(Counters("eng2"), std::make_pair(2, 1));
}

INSTANTIATE_DATABASE_TEST_SUITE(RequestRoadTest);

}  // namespace
}  // namespace heliq
