#include "serviceprocess/service_process_library.h"

#include <mutex>

namespace heliq {

void RegisterServiceProcessLibrary() {
  static std::once_flag once;
  std::call_once(once, [] {});
}

}  // namespace heliq
