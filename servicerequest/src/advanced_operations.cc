#include "servicerequest/src/operations.h"

namespace heliq::internal {

void AddAdvancedOperations() {}

}  // namespace heliq::internal
