// JSON <-> Variant: argument parsing with its limits, and the wire form of results and errors.
#include "host/json_convert.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/com_error.h"

namespace heliq {
namespace {

// The error number ParseArguments raised for `body` (0 when it accepted it) and its description.
std::pair<int32_t, std::string> ParseFailure(std::string_view body, const JsonLimits& limits = {}) {
  try {
    ParseArguments(body, limits);
    return {0, ""};
  } catch (const ComError& e) {
    return {e.number(), e.description()};
  }
}

// {"a": [[...[1]...]]} with `arrays` nested arrays: the innermost value sits `arrays` + 1 levels
// below the top object.
std::string Nested(size_t arrays) {
  return "{\"a\": " + std::string(arrays, '[') + "1" + std::string(arrays, ']') + "}";
}

TEST(ParseArgumentsTest, ObjectsBecomeOrderedDictionariesOfTypedValues) {
  DictionaryPtr args =
      ParseArguments(R"({"z": 1, "a": "x", "n": null, "b": true, "d": 1.5, "arr": [1, "2"],)"
                     R"( "o": {"k2": 2, "k1": 1}})");
  std::vector<std::string> keys;
  for (const auto& [key, value] : args->entries()) keys.push_back(key);
  EXPECT_EQ(keys, (std::vector<std::string>{"z", "a", "n", "b", "d", "arr", "o"}));
  EXPECT_EQ(args->Get("z"), Variant(1));
  EXPECT_EQ(args->Get("a"), Variant("x"));
  EXPECT_TRUE(args->Get("n").IsNull());
  EXPECT_EQ(args->Get("b"), Variant(true));
  EXPECT_EQ(args->Get("d"), Variant(1.5));
  const ArrayPtr array = args->Get("arr").ToArray();
  ASSERT_EQ(array->size(), 2u);
  EXPECT_EQ((*array)[1], Variant("2"));
  const DictionaryPtr inner = args->Get("o").ToDictionary();
  EXPECT_EQ(inner->entries().front().first, "k2");

  EXPECT_EQ(ParseArguments("")->size(), 0u);
  EXPECT_EQ(ParseArguments(" \r\n\t")->size(), 0u);
  EXPECT_EQ(ParseArguments("{}")->size(), 0u);
}

TEST(ParseArgumentsTest, IntegersTakeTheNarrowestFittingType) {
  DictionaryPtr args = ParseArguments(
      R"({"max32": 2147483647, "min32": -2147483648, "above": 2147483648, "below": -2147483649,
          "max64": 9223372036854775807, "huge": 18446744073709551615})");
  EXPECT_EQ(args->Get("max32"), Variant(int32_t{2147483647}));
  EXPECT_EQ(args->Get("min32"), Variant(int32_t{-2147483647 - 1}));
  EXPECT_EQ(args->Get("above"), Variant(int64_t{2147483648}));
  EXPECT_EQ(args->Get("below"), Variant(int64_t{-2147483649}));
  EXPECT_EQ(args->Get("max64"), Variant(int64_t{9223372036854775807}));
  EXPECT_EQ(args->Get("huge").type(), Variant::Type::kDouble);
}

TEST(ParseArgumentsTest, MalformedOrNonObjectBodiesAreBadRequests) {
  for (std::string_view body : {"{", R"({"a": 1} x)", R"({"a": })", "{'a': 1}", "nul",
                                "{\"a\": \"\xFF\"}", "{\"a\": \"\xED\xA0\x80\"}"}) {
    const auto [number, description] = ParseFailure(body);
    EXPECT_EQ(number, err::kBadRequest) << body;
    EXPECT_TRUE(description.starts_with("malformed JSON")) << description;
  }
  for (std::string_view body : {"[1, 2]", "42", "\"text\"", "null", "true"}) {
    const auto [number, description] = ParseFailure(body);
    EXPECT_EQ(number, err::kBadRequest) << body;
    EXPECT_NE(description.find("JSON object"), std::string::npos) << description;
  }
}

TEST(ParseArgumentsTest, NestingAndTextLengthAreLimited) {
  const JsonLimits limits;  // depth 16
  EXPECT_EQ(ParseFailure(Nested(limits.max_depth - 1)).first, 0);
  EXPECT_EQ(ParseFailure(Nested(limits.max_depth)).first, err::kBadRequest);
  // A hostile document is refused while it is read, long before the stack could suffer.
  const auto [number, description] = ParseFailure(Nested(200000));
  EXPECT_EQ(number, err::kBadRequest);
  EXPECT_NE(description.find("nest deeper than 16"), std::string::npos) << description;

  JsonLimits small;
  small.max_depth = 2;
  small.max_text_bytes = 4;
  EXPECT_EQ(ParseFailure(R"({"a": {"b": 1}})", small).first, 0);
  EXPECT_EQ(ParseFailure(R"({"a": {"b": {"c": 1}}})", small).first, err::kBadRequest);
  EXPECT_EQ(ParseFailure(R"({"a": "abcd"})", small).first, 0);
  EXPECT_EQ(ParseFailure(R"({"a": ["abcde"]})", small).first, err::kBadRequest);
}

TEST(ParseArgumentsTest, KeysPerObjectAndElementsPerArrayAreCappedNamingWhere) {
  JsonLimits small;
  small.max_object_keys = 3;
  small.max_array_elements = 2;
  EXPECT_EQ(ParseFailure(R"({"a": 1, "b": 2, "c": {"x": [1, 2], "y": 1, "z": 1}})", small).first,
            0);
  const auto [number, description] =
      ParseFailure(R"({"i_dictDetails": {"A": 1, "B": 2, "C": 3, "D": 4}})", small);
  EXPECT_EQ(number, err::kBadRequest);
  EXPECT_EQ(description, "an object has more than 3 keys ([host] max_json_keys) at i_dictDetails");
  EXPECT_EQ(ParseFailure(R"({"a": 1, "b": 2, "c": 3, "d": 4})", small).second,
            "an object has more than 3 keys ([host] max_json_keys)");
  EXPECT_EQ(ParseFailure(R"({"d": {"list": [1, 2, 3]}})", small).second,
            "an array has more than 2 elements ([host] max_json_elements) at d.list");
  // A repeated key counts (the work of reading it was done) and the last value wins in the place
  // of the first.
  DictionaryPtr repeated = ParseArguments(R"({"a": 1, "b": 2, "a": 3})");
  ASSERT_EQ(repeated->size(), 2u);
  EXPECT_EQ(repeated->entries()[0].first, "a");
  EXPECT_EQ(repeated->Get("a"), Variant(3));
  EXPECT_EQ(ParseFailure(R"({"a": 1, "a": 2, "a": 3, "a": 4})", small).first, err::kBadRequest);

  // With the cap raised, a large object is read in one pass.
  JsonLimits large;
  large.max_object_keys = 100000;
  std::string keys;
  for (int i = 0; i < 80000; ++i) keys += (i ? ",\"k" : "\"k") + std::to_string(i) + "\":1";
  DictionaryPtr big = ParseArguments("{\"d\": {" + keys + "}}", large);
  const DictionaryPtr inner = big->Get("d").ToDictionary();
  ASSERT_EQ(inner->size(), 80000u);
  EXPECT_EQ(inner->Get("k79999"), Variant(1));
}

TEST(ParseArgumentsTest, MalformedJsonIsQuotedShortAndEscaped) {
  const std::string token = "\"secret-guess\r\n" + std::string(500, 'x');
  const auto [number, description] = ParseFailure("{\"a\": " + token);
  EXPECT_EQ(number, err::kBadRequest);
  EXPECT_TRUE(description.starts_with("malformed JSON at byte ")) << description;
  EXPECT_LT(description.size(), 300u) << description;
  EXPECT_EQ(description.find('\n'), std::string::npos) << description;
  EXPECT_NE(description.find("secret-guess"), std::string::npos) << description;
}

TEST(VariantToJsonTest, WritesEveryTypeAndKeepsKeyOrder) {
  auto details = Dictionary::Create();
  details->Set("Q_ID", Variant(7));
  details->Set("A_DATE", Variant(DateTime{2009, 1, 1, 7, 5, 9}));
  details->Set("EMPTY", Variant());
  details->Set("NULL", Variant::Null());
  details->Set("BIG", Variant(int64_t{5000000000}));
  details->Set("FLAG", Variant(false));
  details->Set("RATIO", Variant(0.25));
  auto list = std::make_shared<Array>();
  list->push_back(Variant("x"));
  list->push_back(Variant(Dictionary::Create()));
  details->Set("LIST", Variant(list));
  EXPECT_EQ(VariantToJson(Variant(details)).dump(),
            R"({"Q_ID":7,"A_DATE":"2009-01-01 07:05:09","EMPTY":null,"NULL":null,)"
            R"("BIG":5000000000,"FLAG":false,"RATIO":0.25,"LIST":["x",{}]})");

  // What goes out comes back the same (dates as their text).
  DictionaryPtr back = ParseArguments(VariantToJson(Variant(details)).dump());
  ASSERT_EQ(back->size(), details->size());
  for (size_t i = 0; i < back->size(); ++i) {
    EXPECT_EQ(back->entries()[i].first, details->entries()[i].first);
  }
  EXPECT_EQ(back->Get("A_DATE"), Variant("2009-01-01 07:05:09"));
  EXPECT_EQ(back->Get("BIG"), Variant(int64_t{5000000000}));
}

TEST(ErrorToJsonTest, CarriesNumberSourceAndDescription) {
  EXPECT_EQ(ErrorToJson(ComError(6, "Lib.Class.Op", "\r\nMETHOD: x")).dump(),
            R"({"error":{"number":6,"source":"Lib.Class.Op","description":"\r\nMETHOD: x"}})");
}

}  // namespace
}  // namespace heliq
