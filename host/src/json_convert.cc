#include "host/json_convert.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace heliq {
namespace {

ComError Bad(const std::string& why) { return ComError(err::kBadRequest, "Arguments", why); }

// A limit violated somewhere inside a document; `path` collects the keys on the way out, so the
// message can name the argument (and the key inside it) that was too deep or too long.
struct LimitViolation {
  std::string path;
  std::string why;
};

std::string Where(const std::string& path) { return path.empty() ? "" : " at " + path; }

Variant Convert(const nlohmann::ordered_json& json, const JsonLimits& limits, size_t depth) {
  if (depth > limits.max_depth) {
    throw LimitViolation{
        "", "arguments nest deeper than " + std::to_string(limits.max_depth) + " levels"};
  }
  switch (json.type()) {
    case nlohmann::ordered_json::value_t::null:
      return Variant::Null();
    case nlohmann::ordered_json::value_t::boolean:
      return Variant(json.get<bool>());
    case nlohmann::ordered_json::value_t::number_integer: {
      const int64_t v = json.get<int64_t>();
      if (v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max()) {
        return Variant(static_cast<int32_t>(v));
      }
      return Variant(v);
    }
    case nlohmann::ordered_json::value_t::number_unsigned: {
      const uint64_t v = json.get<uint64_t>();
      if (v <= static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
        return Variant(static_cast<int32_t>(v));
      }
      if (v <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
        return Variant(static_cast<int64_t>(v));
      }
      return Variant(static_cast<double>(v));
    }
    case nlohmann::ordered_json::value_t::number_float:
      return Variant(json.get<double>());
    case nlohmann::ordered_json::value_t::string: {
      const auto& text = json.get_ref<const std::string&>();
      if (text.size() > limits.max_text_bytes) {
        throw LimitViolation{
            "", "a text is longer than " + std::to_string(limits.max_text_bytes) + " bytes"};
      }
      return Variant(text);
    }
    case nlohmann::ordered_json::value_t::object: {
      auto dict = Dictionary::Create();
      for (const auto& [key, value] : json.items()) {
        try {
          dict->Set(key, Convert(value, limits, depth + 1));
        } catch (LimitViolation& violation) {
          violation.path = violation.path.empty() ? key : key + "." + violation.path;
          throw;
        }
      }
      return Variant(dict);
    }
    case nlohmann::ordered_json::value_t::array: {
      auto array = std::make_shared<Array>();
      for (const auto& value : json) array->push_back(Convert(value, limits, depth + 1));
      return Variant(array);
    }
    default:
      throw Bad("unsupported JSON value");
  }
}

}  // namespace

Variant JsonToVariant(const nlohmann::ordered_json& json, const JsonLimits& limits, size_t depth) {
  try {
    return Convert(json, limits, depth);
  } catch (const LimitViolation& violation) {
    throw Bad(violation.why + Where(violation.path));
  }
}

DictionaryPtr ParseArguments(std::string_view body, const JsonLimits& limits) {
  size_t first = body.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return Dictionary::Create();
  nlohmann::ordered_json json;
  // Depth is checked while parsing so a hostile document cannot exhaust the stack.
  // `keys[d]` is the key last read at depth d + 1, so the refusal can name where it happened.
  std::vector<std::string> keys;
  auto guard = [&](int depth, nlohmann::ordered_json::parse_event_t event,
                   nlohmann::ordered_json& parsed) {
    const auto level = static_cast<size_t>(std::max(depth, 1));
    if (event == nlohmann::ordered_json::parse_event_t::key) {
      keys.resize(level - 1);
      keys.push_back(parsed.get<std::string>());
    }
    if (level > limits.max_depth + 1) {
      std::string path;
      for (size_t i = 0; i < std::min(keys.size(), level - 1); ++i) {
        if (keys[i].empty()) continue;
        path += (path.empty() ? "" : ".") + keys[i];
      }
      throw Bad("arguments nest deeper than " + std::to_string(limits.max_depth) + " levels" +
                Where(path));
    }
    return true;
  };
  try {
    json = nlohmann::ordered_json::parse(body.begin(), body.end(), guard);
  } catch (const nlohmann::ordered_json::exception& e) {
    throw Bad(std::string("malformed JSON: ") + e.what());
  }
  if (!json.is_object()) throw Bad("the arguments must be a JSON object of named values");
  return JsonToVariant(json, limits).ToDictionary();
}

nlohmann::ordered_json VariantToJson(const Variant& value) {
  switch (value.type()) {
    case Variant::Type::kEmpty:
    case Variant::Type::kNull:
      return nullptr;
    case Variant::Type::kBool:
      return value.ToBool();
    case Variant::Type::kInt32:
      return value.ToLong();
    case Variant::Type::kInt64:
      return value.ToLongLong();
    case Variant::Type::kDouble:
      return value.ToDouble();
    case Variant::Type::kDate:
    case Variant::Type::kText:
      return value.ToText();
    case Variant::Type::kDictionary: {
      nlohmann::ordered_json object = nlohmann::ordered_json::object();
      for (const auto& [key, item] : value.ToDictionary()->entries()) {
        object[key] = VariantToJson(item);
      }
      return object;
    }
    case Variant::Type::kArray: {
      nlohmann::ordered_json array = nlohmann::ordered_json::array();
      for (const auto& item : *value.ToArray()) array.push_back(VariantToJson(item));
      return array;
    }
  }
  return nullptr;
}

nlohmann::ordered_json ErrorToJson(const ComError& error) {
  return {{"error",
           {{"number", error.number()},
            {"source", error.source()},
            {"description", error.description()}}}};
}

}  // namespace heliq
