// Private: readers of details dictionaries and fields shared by the library's operations. An
// unset key and a null value read as 0 or "".
#ifndef HELIQ_SERVICEREQUEST_SRC_DETAILS_READERS_H_
#define HELIQ_SERVICEREQUEST_SRC_DETAILS_READERS_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/variant.h"

namespace heliq::internal {

inline int32_t LongOf(const Variant& value) { return value.IsNull() ? 0 : value.ToLong(); }
inline int32_t LongOf(const Dictionary& details, std::string_view key) {
  return LongOf(details.Get(key));
}
inline std::string TextOf(const Dictionary& details, std::string_view key) {
  return details.Get(key).ToTextOrEmpty();
}

}  // namespace heliq::internal

#endif  // HELIQ_SERVICEREQUEST_SRC_DETAILS_READERS_H_
