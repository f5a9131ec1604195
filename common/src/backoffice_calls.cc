#include "common/backoffice_calls.h"

#include <string>

#include "common/heliq_utilities.h"
#include "platform/com_error.h"

namespace heliq {

std::string_view CallComponentFor(int32_t generation) {
  switch (generation) {
    case kBackOfficeMk5:
      return kMk5CallsClassId;
    case kBackOfficeMk6:
      return kMk6CallsClassId;
    default:
      return "";
  }
}

std::unique_ptr<BackOfficeCalls> CreateCallComponent(int32_t generation, std::string_view source) {
  const std::string_view class_id = CallComponentFor(generation);
  if (class_id.empty()) {
    throw ComError(err::kCannotCreateComponent, std::string(source),
                   DefaultErrorDescription(err::kCannotCreateComponent) +
                       ": back-office generation " + std::to_string(generation) +
                       " has no call component");
  }
  return CreateObjectAs<BackOfficeCalls>(class_id);
}

}  // namespace heliq
