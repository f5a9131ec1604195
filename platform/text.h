// Small text helpers shared by every layer. ASCII only: the system's keys, codes and settings are
// ASCII, and user texts pass through untouched.
//
// Thread safety: pure functions.
#ifndef HELIQ_PLATFORM_TEXT_H_
#define HELIQ_PLATFORM_TEXT_H_

#include <cctype>
#include <string_view>

namespace heliq {

// `text` without leading and trailing white space (blank, tab, CR, LF, vertical tab, form feed).
// The result views `text`.
inline std::string_view TrimSpace(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  return text;
}

}  // namespace heliq

#endif  // HELIQ_PLATFORM_TEXT_H_
