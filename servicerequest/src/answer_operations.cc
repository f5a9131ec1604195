#include "servicerequest/src/operations.h"

namespace heliq::internal {

void AddAnswerOperations() {}

}  // namespace heliq::internal
