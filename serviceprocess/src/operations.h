// Private: the operation-table rows of the library's public class.
#ifndef HELIQ_SERVICEPROCESS_SRC_OPERATIONS_H_
#define HELIQ_SERVICEPROCESS_SRC_OPERATIONS_H_

namespace heliq::internal {

// Adds the rows of "HeliqProcessMTS.SolveOnNoResponse".
void AddSolveOnNoResponseOperations();

}  // namespace heliq::internal

#endif  // HELIQ_SERVICEPROCESS_SRC_OPERATIONS_H_
