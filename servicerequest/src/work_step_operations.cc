#include "servicerequest/src/operations.h"

namespace heliq::internal {

void AddWorkStepOperations() {}

}  // namespace heliq::internal
