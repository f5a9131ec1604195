#include "servicerequest/src/operations.h"

namespace heliq::internal {

void AddClosingOperations() {}

}  // namespace heliq::internal
