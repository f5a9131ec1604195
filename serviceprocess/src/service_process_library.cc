#include "serviceprocess/service_process_library.h"

#include <mutex>

#include "serviceprocess/solve_on_no_response.h"
#include "serviceprocess/src/operations.h"

namespace heliq {

void RegisterServiceProcessLibrary() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterSolveOnNoResponseComponent();
    internal::AddSolveOnNoResponseOperations();
  });
}

}  // namespace heliq
