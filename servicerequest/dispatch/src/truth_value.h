// Private: reading the Manual_Dispatching parameter as a truth value.
#ifndef HELIQ_SERVICEREQUEST_DISPATCH_SRC_TRUTH_VALUE_H_
#define HELIQ_SERVICEREQUEST_DISPATCH_SRC_TRUTH_VALUE_H_

#include <cctype>
#include <optional>
#include <string>

#include "platform/com_error.h"
#include "platform/variant.h"

namespace heliq::internal {

// "true"/"false" in any letter case, or a number (0 is false, any other true); nullopt otherwise.
inline std::optional<bool> ParseTruthValue(const std::string& text) {
  std::string lower;
  for (char c : text) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower == "true") return true;
  if (lower == "false") return false;
  try {
    return Variant(text).ToDouble() != 0;
  } catch (const ComError&) {
    return std::nullopt;
  }
}

}  // namespace heliq::internal

#endif  // HELIQ_SERVICEREQUEST_DISPATCH_SRC_TRUTH_VALUE_H_
