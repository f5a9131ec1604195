// The host: operations run in process (InvokeOperation) and over HTTP, bad input refused before
// anything is written, and the error-to-status table.
#include "host/host.h"

#include <gtest/gtest.h>

#include <httplib.h>

#include <limits>
#include <string>
#include <vector>

#include "host/http_server.h"
#include "platform/com_error.h"
#include "platform/operation_table.h"
#include "tests/people/settings.h"
#include "tests/support/database_fixture.h"

namespace heliq {
namespace {

using testing::DatabaseTest;
using testing::kTestNow;

constexpr std::string_view kProspect = "HlqServiceRequestMTS.Prospect";
constexpr std::string_view kEchoClass = "HeliqTest.Echo";
constexpr std::string_view kSelectPending =
    "select PENDINGQUESTIONS from PROSPECT where EMAILID = ?";
constexpr std::string_view kSelectProspects =
    "select EMAILID, PIN, INFORMATION, REGISTEREDTIME, LASTVISITEDTIME, PENDINGQUESTIONS "
    "from PROSPECT order by PROSPECT_ID";

// An operation that adds a key to the details it gets and returns them.
void AddEchoOperation() {
  AddOperation({std::string(kEchoClass),
                "Echo",
                {In("i_dictDetails", ParamKind::kDictionary)},
                [](Dictionary& args) {
                  DictionaryPtr details = args.Get("i_dictDetails").ToDictionary();
                  details->Set("ADDED", Variant(true));
                  return Variant(details);
                },
                "Test: echoes its details with one key added."});
}

class HostTest : public DatabaseTest {
 protected:
  void SeedProspect() {
    Exec(
        "insert into PROSPECT (EMAILID, PIN, INFORMATION, REGISTEREDTIME, LASTVISITEDTIME, "
        "PENDINGQUESTIONS) values (?, ?, ?, ?, ?, ?)",
        {Variant("p@example.com"), Variant(4321), Variant("original"), Variant(kTestNow),
         Variant(kTestNow), Variant(1)});
  }
  std::string Description(const HostResponse& response) {
    return response.body["error"]["description"].get<std::string>();
  }
};

TEST_P(HostTest, ProspectOperationsRunAsUnitsOfWork) {
  HostResponse created =
      InvokeOperation(kProspect, "CreateNewProspect",
                      R"({"i_sEmailID": "p@example.com", "i_sContactInfo": "Call after 5"})");
  ASSERT_EQ(created.status, 200) << created.body.dump();
  EXPECT_EQ(created.body.dump(), R"({"result":null,"byref":{}})");
  EXPECT_EQ(Value(kSelectPending, {Variant("p@example.com")}), Variant(1));

  // Class and operation names compare without regard to case.
  HostResponse updated =
      InvokeOperation("hlqservicerequestmts.prospect", "updateprospect",
                      R"({"i_sEmailID": "p@example.com", "i_lDeltaPending": -1})");
  ASSERT_EQ(updated.status, 200) << updated.body.dump();
  EXPECT_EQ(Value(kSelectPending, {Variant("p@example.com")}), Variant(0));

  // The count may reach the lowest 32-bit value; one step further fails inside the operation:
  // its status and composed error, and nothing written.
  HostResponse lowest = InvokeOperation(
      kProspect, "UpdateProspect",
      R"({"i_sEmailID": "p@example.com", "i_sContactInfo": "x", "i_lDeltaPending": -2147483648})");
  ASSERT_EQ(lowest.status, 200) << lowest.body.dump();
  EXPECT_EQ(Value(kSelectPending, {Variant("p@example.com")}),
            Variant(std::numeric_limits<int32_t>::min()));
  HostResponse overflow = InvokeOperation(
      kProspect, "UpdateProspect",
      R"({"i_sEmailID": "p@example.com", "i_sContactInfo": "y", "i_lDeltaPending": -1})");
  EXPECT_EQ(overflow.status, 422);
  EXPECT_EQ(overflow.body["error"]["number"], err::kOverflow);
  EXPECT_EQ(Description(overflow),
            "\r\nMETHOD: HlqServiceRequestMTS.Prospect.UpdateProspect caught: Overflow(6).");
  EXPECT_EQ(Value(kSelectPending, {Variant("p@example.com")}),
            Variant(std::numeric_limits<int32_t>::min()));
  EXPECT_EQ(Value("select INFORMATION from PROSPECT"), Variant("x"));
}

TEST_P(HostTest, BadInputIsRefusedNamingTheProblemAndWritesNothing) {
  SeedProspect();
  const auto before = Rows(kSelectProspects).rows;
  struct Case {
    std::string_view class_id;
    std::string_view operation;
    std::string body;
    std::string named;  // a text the description must contain
  };
  const std::vector<Case> cases = {
      {"No.Such", "UpdateProspect", "{}", "No.Such"},
      {kProspect, "NoSuchOperation", "{}", "NoSuchOperation"},
      {kProspect, "UpdateProspect", R"({"i_sEmailID": "p@example.com", "i_lDelta)",
       "malformed JSON"},
      {kProspect, "UpdateProspect", R"(["p@example.com", 1])", "JSON object"},
      {kProspect, "UpdateProspect", R"({"i_sEmailID": "p@example.com", "i_lDeltaPending": "abc"})",
       "i_lDeltaPending"},
      {kProspect, "UpdateProspect",
       R"({"i_sEmailID": "p@example.com", "i_lDeltaPending": 1, "i_sEmail": "x"})", "i_sEmail"},
      {kProspect, "UpdateProspect", R"({"i_sEmailID": "p@example.com"})", "i_lDeltaPending"},
      {kProspect, "UpdateProspect",
       R"({"i_sEmailID": "p@example.com", "i_lDeltaPending": 4294967296})", "i_lDeltaPending"},
      {kProspect, "UpdateProspect", R"({"i_sEmailID": {"a": 1}, "i_lDeltaPending": 1})",
       "i_sEmailID"},
      {kProspect, "UpdateProspect",
       R"({"i_sEmailID": "p@example.com", "i_lDeltaPending": 1, "x": )" + std::string(40, '[') +
           std::string(40, ']') + "}",
       "nest"},
      {kProspect, "CreateNewProspect",
       "{\"i_sEmailID\": \"\xFF@example.com\", \"i_sContactInfo\": \"\"}", "malformed JSON"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    HostResponse response = InvokeOperation(c.class_id, c.operation, c.body);
    EXPECT_EQ(response.status, 400);
    EXPECT_EQ(response.body["error"]["number"], err::kBadRequest);
    EXPECT_NE(Description(response).find(c.named), std::string::npos) << Description(response);
  }
  EXPECT_EQ(Rows(kSelectProspects).rows, before);
}

TEST_P(HostTest, AnswersKeepDictionaryKeyOrder) {
  AddEchoOperation();
  HostResponse response =
      InvokeOperation(kEchoClass, "Echo", R"({"i_dictDetails": {"Z_LAST": 1, "A_FIRST": "2",
                                             "M": {"y": null, "b": [1, "x"]}}})");
  ASSERT_EQ(response.status, 200) << response.body.dump();
  const std::string details =
      R"({"Z_LAST":1,"A_FIRST":"2","M":{"y":null,"b":[1,"x"]},"ADDED":true})";
  EXPECT_EQ(response.body.dump(),
            R"({"result":)" + details + R"(,"byref":{"i_dictDetails":)" + details + "}}");
}

TEST_P(HostTest, HttpServerServesOperationsAndRefusesBadRequests) {
  // Its own operation is outside the permission table: served to the token as for diagnostics.
  testing::UseSettingsWith("[host]\nserve_all_operations = true\n");
  AddEchoOperation();
  HttpServer server(HttpServerOptions{"127.0.0.1", 0});
  const int port = server.Start();
  ASSERT_GT(port, 0);
  httplib::Client client("127.0.0.1", port);
  client.set_connection_timeout(5);
  client.set_read_timeout(30);

  auto created =
      client.Post("/api/v1/HlqServiceRequestMTS.Prospect/CreateNewProspect",
                  R"({"i_sEmailID": "p@example.com", "i_sContactInfo": ""})", "application/json");
  ASSERT_TRUE(created);
  EXPECT_EQ(created->status, 200) << created->body;
  EXPECT_EQ(created->body, R"({"result":null,"byref":{}})");
  auto updated =
      client.Post("/api/v1/HlqServiceRequestMTS.Prospect/UpdateProspect",
                  R"({"i_sEmailID": "p@example.com", "i_lDeltaPending": -1})", "application/json");
  ASSERT_TRUE(updated);
  EXPECT_EQ(updated->status, 200) << updated->body;
  EXPECT_EQ(Value(kSelectPending, {Variant("p@example.com")}), Variant(0));

  auto echoed = client.Post("/api/v1/HeliqTest.Echo/Echo", R"({"i_dictDetails": {"b": 1, "a": 2}})",
                            "application/json");
  ASSERT_TRUE(echoed);
  const std::string echo = R"({"b":1,"a":2,"ADDED":true})";
  EXPECT_EQ(echoed->body, R"({"result":)" + echo + R"(,"byref":{"i_dictDetails":)" + echo + "}}");

  const auto before = Rows(kSelectProspects).rows;
  auto wrong_type = client.Post("/api/v1/HlqServiceRequestMTS.Prospect/UpdateProspect",
                                R"({"i_sEmailID": "p@example.com", "i_lDeltaPending": "abc"})",
                                "application/json");
  ASSERT_TRUE(wrong_type);
  EXPECT_EQ(wrong_type->status, 400);
  const auto error = nlohmann::json::parse(wrong_type->body)["error"];
  EXPECT_EQ(error["number"], err::kBadRequest);
  EXPECT_NE(error["description"].get<std::string>().find("i_lDeltaPending"), std::string::npos);
  auto invalid_text = client.Post(
      "/api/v1/HlqServiceRequestMTS.Prospect/CreateNewProspect",
      "{\"i_sEmailID\": \"q@example.com\", \"i_sContactInfo\": \"\xC3\"}", "application/json");
  ASSERT_TRUE(invalid_text);
  EXPECT_EQ(invalid_text->status, 400);
  auto unknown = client.Post("/api/v1/No.Such/Operation", "{}", "application/json");
  ASSERT_TRUE(unknown);
  EXPECT_EQ(unknown->status, 400);
  EXPECT_EQ(nlohmann::json::parse(unknown->body)["error"]["number"], err::kBadRequest);
  EXPECT_EQ(Rows(kSelectProspects).rows, before);

  // A path that names no operation answers in the same error form.
  auto nowhere = client.Get("/api/v1/HlqServiceRequestMTS.Prospect/UpdateProspect");
  ASSERT_TRUE(nowhere);
  EXPECT_GE(nowhere->status, 400);
  EXPECT_EQ(nlohmann::json::parse(nowhere->body)["error"]["number"], err::kBadRequest);
  server.Stop();
}

INSTANTIATE_DATABASE_TEST_SUITE(HostTest);

TEST(HttpStatusForTest, MapsEachErrorFamilyToItsStatus) {
  EXPECT_EQ(HttpStatusFor(err::kBadRequest), 400);
  EXPECT_EQ(HttpStatusFor(err::kUnauthorized), 401);
  for (int32_t number : {err::kInvalidProcedureCall, err::kOverflow, err::kTypeMismatch,
                         err::kInvalidUseOfNull, err::kArgumentNotOptional}) {
    EXPECT_EQ(HttpStatusFor(number), 422) << number;
  }
  EXPECT_EQ(HttpStatusFor(err::kDbRowChanged), 409);
  EXPECT_EQ(HttpStatusFor(err::kDbConstraint), 409);
  EXPECT_EQ(HttpStatusFor(err::kBackOfficeRefused), 502);
  EXPECT_EQ(HttpStatusFor(err::kCannotCreateComponent), 503);
  EXPECT_EQ(HttpStatusFor(err::kDbConnection), 503);
  // Everything else is the server's own failure.
  for (int32_t number : {0, err::kFileNotFound, err::kDbError, err::kDbSyntax, 12345}) {
    EXPECT_EQ(HttpStatusFor(number), 500) << number;
  }
}

}  // namespace
}  // namespace heliq
