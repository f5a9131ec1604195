#include "servicerequest/src/operations.h"

namespace heliq::internal {

void AddDaemonOperations() {}

}  // namespace heliq::internal
