#include "platform/variant.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "platform/com_error.h"

namespace heliq {
namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(y + (month <= 2));
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0)) return 29;
  return kDays[month - 1];
}

// Seconds between 1970-01-01 and the zero of the day-number form of dates (1899-12-30).
constexpr int64_t kDayZeroEpochSeconds = -2209161600;

double ToDayNumber(const DateTime& d) {
  return static_cast<double>(d.ToEpochSeconds() - kDayZeroEpochSeconds) / 86400.0;
}

DateTime FromDayNumber(double days) {
  if (!std::isfinite(days) || std::fabs(days) > 3.0e6) throw ComError::Of(err::kOverflow);
  return DateTime::FromEpochSeconds(kDayZeroEpochSeconds +
                                    static_cast<int64_t>(std::llround(days * 86400.0)));
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Parses a whole text as a decimal number; nullopt when it is not one.
std::optional<double> ParseNumber(std::string_view text) {
  text = Trim(text);
  if (text.empty()) return std::nullopt;
  std::string buf(text);
  // strtod accepts hexadecimal floats, "inf" and "nan"; a number text here is decimal only.
  for (char c : buf) {
    if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E')) {
      return std::nullopt;
    }
  }
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(buf.c_str(), &end);
  if (end != buf.c_str() + buf.size()) return std::nullopt;
  if (errno == ERANGE && std::isinf(v)) throw ComError::Of(err::kOverflow);
  return v;
}

// Rounds half to even and checks the range of T.
template <typename T>
T RoundToWhole(double v) {
  if (std::isnan(v)) throw ComError::Of(err::kOverflow);
  const double r = std::nearbyint(v);  // default rounding mode: to nearest, ties to even
  if (r < static_cast<double>(std::numeric_limits<T>::min()) ||
      r >= -static_cast<double>(std::numeric_limits<T>::min())) {
    throw ComError::Of(err::kOverflow);
  }
  return static_cast<T>(r);
}

std::string FormatDouble(double v) {
  if (v == std::floor(v) && std::fabs(v) < 1e15) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.0f", v);
    return buf;
  }
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.15g", v);
  return buf;
}

}  // namespace

std::string DateTime::ToText() const {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour, minute,
                second);
  return buf;
}

std::optional<DateTime> DateTime::Parse(std::string_view text) {
  text = Trim(text);
  auto num = [&](size_t pos, size_t len, int& out) {
    if (pos + len > text.size()) return false;
    const char* first = text.data() + pos;
    for (size_t i = 0; i < len; ++i) {
      if (first[i] < '0' || first[i] > '9') return false;
    }
    std::from_chars(first, first + len, out);
    return true;
  };
  DateTime d;
  if (!num(0, 4, d.year) || text.size() < 10 || text[4] != '-' || text[7] != '-' ||
      !num(5, 2, d.month) || !num(8, 2, d.day)) {
    return std::nullopt;
  }
  d.hour = d.minute = d.second = 0;
  if (text.size() > 10) {
    if ((text[10] != ' ' && text[10] != 'T') || text.size() < 19 || text[13] != ':' ||
        text[16] != ':' || !num(11, 2, d.hour) || !num(14, 2, d.minute) || !num(17, 2, d.second)) {
      return std::nullopt;
    }
    // A fraction of a second or a zone suffix may follow; whole seconds are kept.
    if (text.size() > 19 && text[19] != '.' && text[19] != '+' && text[19] != '-' &&
        text[19] != 'Z') {
      return std::nullopt;
    }
  }
  if (d.month < 1 || d.month > 12 || d.day < 1 || d.day > DaysInMonth(d.year, d.month) ||
      d.hour > 23 || d.minute > 59 || d.second > 59) {
    return std::nullopt;
  }
  return d;
}

int64_t DateTime::ToEpochSeconds() const {
  return DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
         hour * 3600 + minute * 60 + second;
}

DateTime DateTime::FromEpochSeconds(int64_t seconds) {
  int64_t days = seconds / 86400;
  int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  DateTime d;
  CivilFromDays(days, d.year, d.month, d.day);
  d.hour = static_cast<int>(rest / 3600);
  d.minute = static_cast<int>(rest / 60 % 60);
  d.second = static_cast<int>(rest % 60);
  return d;
}

DateTime DateTime::AddSeconds(int64_t seconds) const {
  return FromEpochSeconds(ToEpochSeconds() + seconds);
}

bool Variant::IsNumber() const {
  switch (type()) {
    case Type::kInt32:
    case Type::kInt64:
    case Type::kDouble:
      return true;
    default:
      return false;
  }
}

bool Variant::IsBlank() const {
  return IsEmpty() || IsNull() || (IsText() && std::get<std::string>(value_).empty());
}

double Variant::ToDouble() const {
  switch (type()) {
    case Type::kEmpty:
      return 0;
    case Type::kNull:
      throw ComError::Of(err::kInvalidUseOfNull);
    case Type::kBool:
      return std::get<bool>(value_) ? -1 : 0;
    case Type::kInt32:
      return std::get<int32_t>(value_);
    case Type::kInt64:
      return static_cast<double>(std::get<int64_t>(value_));
    case Type::kDouble:
      return std::get<double>(value_);
    case Type::kDate:
      return ToDayNumber(std::get<DateTime>(value_));
    case Type::kText: {
      const auto& s = std::get<std::string>(value_);
      if (auto v = ParseNumber(s)) return *v;
      const auto lowered = Trim(s);
      if (lowered == "True" || lowered == "true") return -1;
      if (lowered == "False" || lowered == "false") return 0;
      throw ComError::Of(err::kTypeMismatch);
    }
    default:
      throw ComError::Of(err::kTypeMismatch);
  }
}

int32_t Variant::ToLong() const {
  switch (type()) {
    case Type::kInt32:
      return std::get<int32_t>(value_);
    case Type::kInt64: {
      const int64_t v = std::get<int64_t>(value_);
      if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) {
        throw ComError::Of(err::kOverflow);
      }
      return static_cast<int32_t>(v);
    }
    default:
      return RoundToWhole<int32_t>(ToDouble());
  }
}

int64_t Variant::ToLongLong() const {
  switch (type()) {
    case Type::kInt32:
      return std::get<int32_t>(value_);
    case Type::kInt64:
      return std::get<int64_t>(value_);
    default:
      return RoundToWhole<int64_t>(ToDouble());
  }
}

bool Variant::ToBool() const {
  switch (type()) {
    case Type::kBool:
      return std::get<bool>(value_);
    case Type::kText: {
      const auto s = Trim(std::get<std::string>(value_));
      if (s == "True" || s == "true" || s == "TRUE") return true;
      if (s == "False" || s == "false" || s == "FALSE") return false;
      if (auto v = ParseNumber(s)) return *v != 0;
      throw ComError::Of(err::kTypeMismatch);
    }
    default:
      return ToDouble() != 0;
  }
}

std::string Variant::ToText() const {
  switch (type()) {
    case Type::kEmpty:
      return "";
    case Type::kNull:
      throw ComError::Of(err::kInvalidUseOfNull);
    case Type::kBool:
      return std::get<bool>(value_) ? "True" : "False";
    case Type::kInt32:
      return std::to_string(std::get<int32_t>(value_));
    case Type::kInt64:
      return std::to_string(std::get<int64_t>(value_));
    case Type::kDouble:
      return FormatDouble(std::get<double>(value_));
    case Type::kDate:
      return std::get<DateTime>(value_).ToText();
    case Type::kText:
      return std::get<std::string>(value_);
    default:
      throw ComError::Of(err::kTypeMismatch);
  }
}

std::string Variant::ToTextOrEmpty() const { return IsNull() ? std::string() : ToText(); }

DateTime Variant::ToDate() const {
  switch (type()) {
    case Type::kDate:
      return std::get<DateTime>(value_);
    case Type::kNull:
      throw ComError::Of(err::kInvalidUseOfNull);
    case Type::kText: {
      if (auto d = DateTime::Parse(std::get<std::string>(value_))) return *d;
      throw ComError::Of(err::kTypeMismatch);
    }
    case Type::kDictionary:
    case Type::kArray:
      throw ComError::Of(err::kTypeMismatch);
    default:
      return FromDayNumber(ToDouble());
  }
}

DictionaryPtr Variant::ToDictionary() const {
  if (type() != Type::kDictionary) throw ComError::Of(err::kTypeMismatch);
  return std::get<DictionaryPtr>(value_);
}

ArrayPtr Variant::ToArray() const {
  if (type() != Type::kArray) throw ComError::Of(err::kTypeMismatch);
  return std::get<ArrayPtr>(value_);
}

void PrintTo(const Variant& value, std::ostream* out) {
  *out << TypeName(value.type());
  switch (value.type()) {
    case Variant::Type::kEmpty:
    case Variant::Type::kNull:
      return;
    case Variant::Type::kText:
      *out << " \"" << value.ToText() << "\"";
      return;
    case Variant::Type::kDictionary:
      *out << " of " << value.ToDictionary()->size() << " keys";
      return;
    case Variant::Type::kArray:
      *out << " of " << value.ToArray()->size() << " items";
      return;
    default:
      *out << " " << value.ToText();
  }
}

std::string_view TypeName(Variant::Type type) {
  switch (type) {
    case Variant::Type::kEmpty:
      return "Empty";
    case Variant::Type::kNull:
      return "Null";
    case Variant::Type::kBool:
      return "Boolean";
    case Variant::Type::kInt32:
      return "Long";
    case Variant::Type::kInt64:
      return "LongLong";
    case Variant::Type::kDouble:
      return "Double";
    case Variant::Type::kDate:
      return "Date";
    case Variant::Type::kText:
      return "String";
    case Variant::Type::kDictionary:
      return "Dictionary";
    case Variant::Type::kArray:
      return "Array";
  }
  return "Unknown";
}

namespace {
// Below this many keys a scan is as quick as a lookup and no index is kept.
constexpr size_t kIndexFrom = 32;
}  // namespace

size_t Dictionary::Find(std::string_view key) const {
  if (!index_.empty()) {
    const auto it = index_.find(key);
    return it == index_.end() ? entries_.size() : it->second;
  }
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].first == key) return i;
  }
  return entries_.size();
}

void Dictionary::Reindex() {
  index_.clear();
  if (entries_.size() < kIndexFrom) return;
  index_.reserve(entries_.size());
  for (size_t i = 0; i < entries_.size(); ++i) index_.emplace(entries_[i].first, i);
}

Variant Dictionary::Get(std::string_view key) const {
  const size_t at = Find(key);
  return at == entries_.size() ? Variant() : entries_[at].second;
}

void Dictionary::Set(std::string_view key, Variant value) {
  const size_t at = Find(key);
  if (at < entries_.size()) {
    entries_[at].second = std::move(value);
    return;
  }
  entries_.emplace_back(std::string(key), std::move(value));
  if (!index_.empty()) {
    index_.emplace(entries_.back().first, entries_.size() - 1);
  } else if (entries_.size() >= kIndexFrom) {
    Reindex();
  }
}

bool Dictionary::Exists(std::string_view key) const { return Find(key) < entries_.size(); }

bool Dictionary::Remove(std::string_view key) {
  const size_t at = Find(key);
  if (at == entries_.size()) return false;
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(at));
  // The positions after it moved: lookups scan until the next new key rebuilds the index, so a
  // run of removals costs no more than the scans did before there was an index.
  index_.clear();
  return true;
}

}  // namespace heliq
