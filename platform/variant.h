// Variant, DateTime, Dictionary and Array: the value types that flow through every operation.
//
// A Variant is empty, null, Boolean, 32- or 64-bit integer, double, date-time, text, dictionary or
// array. Dictionaries and arrays are shared by reference: copying a Variant that holds one copies
// the reference, so an operation that adds keys to a details dictionary is seen by its caller.
//
// Conversions follow the rules a details dictionary needs: an empty value converts to 0, "" or
// false; null raises error 94 (invalid use of Null); whole-number conversion rounds halves to even
// and raises error 6 (overflow) outside the target range; text that is not a number raises error 13
// (type mismatch). All conversion failures are ComError exceptions.
//
// Thread safety: a Variant is a value; dictionaries shared between threads need outside locking.
#ifndef HELIQ_PLATFORM_VARIANT_H_
#define HELIQ_PLATFORM_VARIANT_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

namespace heliq {

// Local civil date and time to the second. Text form "YYYY-MM-DD hh:mm:ss" sorts in time order.
struct DateTime {
  int year = 1899;
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;
  int second = 0;

  // "YYYY-MM-DD hh:mm:ss".
  std::string ToText() const;
  // Parses "YYYY-MM-DD", "YYYY-MM-DD hh:mm:ss", "YYYY-MM-DDThh:mm:ss" (an optional fraction and a
  // trailing zone are ignored). Returns nullopt when the text is not such a date or not a valid
  // day.
  static std::optional<DateTime> Parse(std::string_view text);
  // Seconds since 1970-01-01 00:00:00 of the same civil calendar (no time zone involved).
  int64_t ToEpochSeconds() const;
  static DateTime FromEpochSeconds(int64_t seconds);
  // This time plus a signed number of seconds.
  DateTime AddSeconds(int64_t seconds) const;

  friend bool operator==(const DateTime&, const DateTime&) = default;
  friend auto operator<=>(const DateTime&, const DateTime&) = default;
};

class Variant;
class Dictionary;
using Array = std::vector<Variant>;
using DictionaryPtr = std::shared_ptr<Dictionary>;
using ArrayPtr = std::shared_ptr<Array>;

struct EmptyValue {
  friend bool operator==(EmptyValue, EmptyValue) { return true; }
};
struct NullValue {
  friend bool operator==(NullValue, NullValue) { return true; }
};

class Variant {
 public:
  enum class Type {
    kEmpty,
    kNull,
    kBool,
    kInt32,
    kInt64,
    kDouble,
    kDate,
    kText,
    kDictionary,
    kArray
  };

  Variant() = default;
  Variant(NullValue) : value_(NullValue{}) {}
  Variant(bool b) : value_(b) {}
  Variant(int32_t i) : value_(i) {}
  Variant(int64_t i) : value_(i) {}
  Variant(double d) : value_(d) {}
  Variant(const DateTime& d) : value_(d) {}
  Variant(std::string s) : value_(std::move(s)) {}
  Variant(std::string_view s) : value_(std::string(s)) {}
  Variant(const char* s) : value_(std::string(s)) {}
  Variant(DictionaryPtr d) : value_(std::move(d)) {}
  Variant(ArrayPtr a) : value_(std::move(a)) {}

  static Variant Null() { return Variant(NullValue{}); }

  Type type() const { return static_cast<Type>(value_.index()); }
  bool IsEmpty() const { return type() == Type::kEmpty; }
  bool IsNull() const { return type() == Type::kNull; }
  bool IsText() const { return type() == Type::kText; }
  bool IsNumber() const;
  // Empty, null, or the empty text.
  bool IsBlank() const;

  // Conversions (see the file comment for the rules and errors).
  int32_t ToLong() const;
  int64_t ToLongLong() const;
  double ToDouble() const;
  bool ToBool() const;
  // Text form: numbers in decimal, Booleans "True"/"False", dates "YYYY-MM-DD hh:mm:ss".
  std::string ToText() const;
  // Like ToText, but null gives "" instead of raising.
  std::string ToTextOrEmpty() const;
  DateTime ToDate() const;
  // The dictionary or array this value holds; error 13 otherwise.
  DictionaryPtr ToDictionary() const;
  ArrayPtr ToArray() const;

  // Raw access for code that dispatches on type().
  const auto& raw() const { return value_; }

  // Same type and same value (dictionaries and arrays by identity).
  friend bool operator==(const Variant& a, const Variant& b) { return a.value_ == b.value_; }

 private:
  std::variant<EmptyValue, NullValue, bool, int32_t, int64_t, double, DateTime, std::string,
               DictionaryPtr, ArrayPtr>
      value_;
};

// Test and log output: the type and the text form ("Long 5", "String \"x\"", "Null").
void PrintTo(const Variant& value, std::ostream* out);

// Human-readable name of a variant type, for error messages ("Long", "String", ...).
std::string_view TypeName(Variant::Type type);

// String-keyed, insertion-ordered, case-sensitive dictionary of variants.
class Dictionary {
 public:
  static DictionaryPtr Create() { return std::make_shared<Dictionary>(); }

  // The value of `key`, or an empty Variant when the key is not set.
  Variant Get(std::string_view key) const;
  // Sets the value, adding the key at the end when it is new.
  void Set(std::string_view key, Variant value);
  bool Exists(std::string_view key) const;
  bool Remove(std::string_view key);
  size_t size() const { return entries_.size(); }
  const std::vector<std::pair<std::string, Variant>>& entries() const { return entries_; }

 private:
  struct KeyHash {
    using is_transparent = void;
    size_t operator()(std::string_view key) const { return std::hash<std::string_view>{}(key); }
  };
  // The position of `key` in entries_, or entries_.size() when it is not set.
  size_t Find(std::string_view key) const;
  void Reindex();

  std::vector<std::pair<std::string, Variant>> entries_;
  // Positions by key, kept once the dictionary is larger than a scan is cheap, so that filling a
  // large one (arguments from a hostile body) is linear rather than quadratic.
  std::unordered_map<std::string, size_t, KeyHash, std::equal_to<>> index_;
};

}  // namespace heliq

#endif  // HELIQ_PLATFORM_VARIANT_H_
