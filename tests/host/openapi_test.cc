// The details-dictionary keys of the operation table: every dictionary argument declares them,
// the API description names them with their types, and a key the caller set that does not
// convert is refused naming it, before anything is written.
#include "host/openapi.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "host/host.h"
#include "platform/operation_table.h"
#include "tests/support/database_fixture.h"

namespace heliq {
namespace {

using Json = nlohmann::ordered_json;

// Dictionaries without fixed keys: a list of request numbers, the back office's call details.
const std::set<std::string> kFreeFormDictionaries = {
    "HlqServiceRequestMTS.Question.TransferQuestions.i_odictQList",
    "HlqServiceRequestMTS.Dispatch.DispatchAHDS.i_oDictCallDetails",
};

TEST(OperationKeysTest, EveryDictionaryArgumentDeclaresItsKeysAndTheDescriptionNamesThem) {
  InitializeSystem();
  const Json api = OpenApiDocument();
  for (const OperationSpec* spec : ListOperations()) {
    if (spec->class_id.starts_with("HeliqTest")) continue;
    for (const ParamSpec& param : spec->params) {
      if (param.kind != ParamKind::kDictionary) continue;
      const std::string name = spec->class_id + "." + spec->name + "." + param.name;
      if (kFreeFormDictionaries.count(name)) continue;
      EXPECT_FALSE(param.keys.empty()) << name << " declares no keys";
      const Json& body = api["paths"]["/api/v1/" + spec->class_id + "/" + spec->name]["post"]
                            ["requestBody"]["content"]["application/json"]["schema"];
      const Json& properties = body["properties"][param.name]["properties"];
      for (const DetailKey& key : param.keys) {
        EXPECT_TRUE(properties.contains(key.name)) << name << " " << key.name;
      }
    }
  }
  const Json& register_keys =
      api["paths"]["/api/v1/HlqServiceRequestMTS.Question/RegisterQuestion"]["post"]["requestBody"]
         ["content"]["application/json"]["schema"]["properties"]["i_dictDetails"]["properties"];
  EXPECT_EQ(register_keys["Q_ID"]["type"], "integer");
  EXPECT_EQ(register_keys["Q_DESC"]["type"], "string");
  EXPECT_TRUE(register_keys["PREFSTARTDATE"].contains("pattern"));
  // After the call: only the keys the operation writes are promised under byref.
  const Json& synced = api["paths"]
                          ["/api/v1/HlqServiceRequestMTS.Question/"
                           "UpdateBackendChangesToQuestion"]["post"]["responses"]["200"]["content"]
                          ["application/json"]["schema"]["properties"]["byref"]["properties"]
                          ["i_oQDetails"]["properties"];
  EXPECT_TRUE(synced.contains("ENGRCHANGED"));
  EXPECT_FALSE(synced.contains("CENTER"));
}

class OperationKeysDbTest : public testing::DatabaseTest {};

TEST_P(OperationKeysDbTest, AKeyThatDoesNotConvertIsRefusedNamingIt) {
  Exec("insert into QUESTIONS (Q_ID, Q_STATUS) values (1, 0)");
  for (const auto& [details, key] :
       {std::pair{R"({"Q_ID": "one", "T_NAME": "c"})", "i_dictDetails.Q_ID"},
        std::pair{R"({"Q_ID": 1, "PREFSTARTDATE": "soon"})", "i_dictDetails.PREFSTARTDATE"},
        std::pair{R"({"Q_ID": 1, "Q_DESC": {"nested": 1}})", "i_dictDetails.Q_DESC"}}) {
    const HostResponse answer =
        InvokeOperation("HlqServiceRequestMTS.Question", "RegisterQuestion",
                        std::string(R"({"i_dictDetails": )") + details + "}");
    EXPECT_EQ(answer.status, 400) << answer.body.dump();
    const std::string description = answer.body["error"]["description"];
    EXPECT_EQ(description.rfind(std::string("argument ") + key + ":", 0), 0u) << description;
  }
  // Nothing was registered; unset and blank keys read as the operation's own rules say.
  EXPECT_EQ(Value("select Q_STATUS from QUESTIONS where Q_ID = 1"), Variant(0));
  EXPECT_EQ(Count("TRANSACTIONS"), 0);
  const HostResponse fine = InvokeOperation(
      "HlqServiceRequestMTS.Question", "RegisterQuestion",
      R"({"i_dictDetails": {"Q_ID": "1", "T_NAME": "c", "PREFSTARTDATE": "", "CENTER": 1}})");
  EXPECT_EQ(fine.status, 200) << fine.body.dump();
}

INSTANTIATE_DATABASE_TEST_SUITE(OperationKeysDbTest);

}  // namespace
}  // namespace heliq
