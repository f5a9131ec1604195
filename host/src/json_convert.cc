#include "host/json_convert.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "platform/log.h"

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

namespace {

// Builds the Variant while the document is read (nlohmann's SAX interface), so a refusal comes
// at the first key, element, level or text over its limit, before the rest is read, and the cost
// is linear in the size of the body: nothing is searched on the way but the index of a large
// dictionary.
class ArgumentBuilder {
 public:
  using Json = nlohmann::ordered_json;

  explicit ArgumentBuilder(const JsonLimits& limits) : limits_(limits) {}

  DictionaryPtr Take() { return root_; }

  bool null() { return Add(Variant::Null()); }
  bool boolean(bool value) { return Add(Variant(value)); }
  bool number_integer(Json::number_integer_t value) {
    if (value >= std::numeric_limits<int32_t>::min() &&
        value <= std::numeric_limits<int32_t>::max()) {
      return Add(Variant(static_cast<int32_t>(value)));
    }
    return Add(Variant(static_cast<int64_t>(value)));
  }
  bool number_unsigned(Json::number_unsigned_t value) {
    if (value <= static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
      return Add(Variant(static_cast<int32_t>(value)));
    }
    if (value <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
      return Add(Variant(static_cast<int64_t>(value)));
    }
    return Add(Variant(static_cast<double>(value)));
  }
  bool number_float(Json::number_float_t value, const std::string&) { return Add(Variant(value)); }
  bool string(std::string& text) {
    CheckText(text, true);
    return Add(Variant(std::move(text)));
  }
  bool binary(Json::binary_t&) { throw Bad("unsupported JSON value"); }
  bool start_object(size_t) {
    auto dict = Dictionary::Create();
    if (frames_.empty()) {
      root_ = dict;
    } else {
      Add(Variant(dict));
    }
    frames_.push_back(Frame{dict, nullptr, {}, 0});
    return true;
  }
  bool key(std::string& key) {
    Frame& top = frames_.back();
    if (++top.count > limits_.max_object_keys) {
      throw Refusal("an object has more than " + std::to_string(limits_.max_object_keys) +
                        " keys ([host] max_json_keys)",
                    false);
    }
    top.key = std::move(key);
    CheckText(top.key, true);
    return true;
  }
  bool end_object() { return Pop(); }
  bool start_array(size_t) {
    auto array = std::make_shared<Array>();
    Add(Variant(array));
    frames_.push_back(Frame{nullptr, array, {}, 0});
    return true;
  }
  bool end_array() { return Pop(); }
  bool parse_error(size_t position, const std::string& last_token,
                   const nlohmann::detail::exception& error) {
    // The library's message quotes the whole last token; the caller's text is quoted here, cut
    // short and escaped, like every echo of it.
    std::string why = error.what();
    if (const size_t close = why.find("] "); why.starts_with("[json.") && close != why.npos) {
      why = why.substr(close + 2);
    }
    if (const size_t last = why.find("; last read"); last != why.npos) why.resize(last);
    throw Bad("malformed JSON at byte " + std::to_string(position) + " near " +
              QuoteCallerText(last_token, 32) + ": " + why);
  }

 private:
  struct Frame {
    DictionaryPtr dict;
    ArrayPtr array;
    std::string key;  // the key last read (objects)
    size_t count = 0;
  };

  static ComError NotAnObject() {
    return Bad("the arguments must be a JSON object of named values");
  }

  bool Add(Variant value) {
    if (frames_.empty()) throw NotAnObject();
    // The root object's values are at depth 1.
    if (frames_.size() > limits_.max_depth) {
      throw Refusal("arguments nest deeper than " + std::to_string(limits_.max_depth) + " levels",
                    false);
    }
    Frame& top = frames_.back();
    if (top.dict) {
      top.dict->Set(top.key, std::move(value));
    } else {
      if (++top.count > limits_.max_array_elements) {
        throw Refusal("an array has more than " + std::to_string(limits_.max_array_elements) +
                          " elements ([host] max_json_elements)",
                      false);
      }
      top.array->push_back(std::move(value));
    }
    return true;
  }

  bool Pop() {
    frames_.pop_back();
    return true;
  }

  void CheckText(const std::string& text, bool with_key) const {
    if (text.size() > limits_.max_text_bytes) {
      throw Refusal("a text is longer than " + std::to_string(limits_.max_text_bytes) + " bytes",
                    with_key);
    }
  }

  // A limit refused where it happened: the keys of the enclosing objects, and the key being read
  // when `with_key`.
  ComError Refusal(const std::string& why, bool with_key) const {
    std::string path;
    for (size_t i = 0; i < frames_.size(); ++i) {
      const bool last = i + 1 == frames_.size();
      if (!frames_[i].dict || (last && !with_key)) continue;
      path += (path.empty() ? "" : ".") + frames_[i].key;
    }
    return Bad(why + Where(path));
  }

  const JsonLimits& limits_;
  DictionaryPtr root_;
  std::vector<Frame> frames_;
};

}  // namespace

DictionaryPtr ParseArguments(std::string_view body, const JsonLimits& limits) {
  size_t first = body.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return Dictionary::Create();
  ArgumentBuilder builder(limits);
  nlohmann::ordered_json::sax_parse(body.begin(), body.end(), &builder);
  DictionaryPtr arguments = builder.Take();
  if (!arguments) throw Bad("the arguments must be a JSON object of named values");
  return arguments;
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
