#include "servicerequest/src/operations.h"

namespace heliq::internal {

void AddPublishingOperations() {}

}  // namespace heliq::internal
