// The service-process component library: registers its public class SolveOnNoResponse
// ("HeliqProcessMTS.SolveOnNoResponse") and its operations in the operation table.
//
// Thread safety: call once at start-up (idempotent).
#ifndef HELIQ_SERVICEPROCESS_SERVICE_PROCESS_LIBRARY_H_
#define HELIQ_SERVICEPROCESS_SERVICE_PROCESS_LIBRARY_H_

namespace heliq {

void RegisterServiceProcessLibrary();

}  // namespace heliq

#endif  // HELIQ_SERVICEPROCESS_SERVICE_PROCESS_LIBRARY_H_
