// Conversion between JSON (the wire form of arguments and results) and Variants.
//
// JSON objects become dictionaries (keys in document order), arrays become arrays, integers that
// fit 32 bits become Long, larger ones LongLong, other numbers Double, null becomes Null. Dates go
// out as "YYYY-MM-DD hh:mm:ss" texts; empty and null values go out as null.
//
// Limits guard the host against hostile input: nesting depth and text length. A violation, like
// malformed JSON, raises err::kBadRequest with a message that says what was wrong and, for a
// limit, where: "... at i_dictDetails.Q_TEXT" (the argument and the keys inside it).
#ifndef HELIQ_HOST_JSON_CONVERT_H_
#define HELIQ_HOST_JSON_CONVERT_H_

#include <cstddef>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "platform/com_error.h"
#include "platform/variant.h"

namespace heliq {

struct JsonLimits {
  size_t max_depth = 16;
  size_t max_text_bytes = 1 << 20;
  size_t max_object_keys = 1000;
  size_t max_array_elements = 10000;
};

// Parses a JSON object of named arguments. An empty body means no arguments.
DictionaryPtr ParseArguments(std::string_view body, const JsonLimits& limits = {});
Variant JsonToVariant(const nlohmann::ordered_json& json, const JsonLimits& limits,
                      size_t depth = 0);
nlohmann::ordered_json VariantToJson(const Variant& value);
// {"error": {"number": N, "source": "...", "description": "..."}}
nlohmann::ordered_json ErrorToJson(const ComError& error);

}  // namespace heliq

#endif  // HELIQ_HOST_JSON_CONVERT_H_
