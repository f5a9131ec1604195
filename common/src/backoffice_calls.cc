#include "common/backoffice_calls.h"

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

}  // namespace heliq
