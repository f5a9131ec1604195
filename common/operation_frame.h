// The frame of a public operation, written once: run the body; on any failure vote abort and
// report under the operation's source name (which re-raises the composed error). Objects the body
// opened are closed by their destructors while the failure unwinds, before the report is made.
#ifndef HELIQ_COMMON_OPERATION_FRAME_H_
#define HELIQ_COMMON_OPERATION_FRAME_H_

#include <string_view>

#include "common/heliq_utilities.h"

namespace heliq {

// Runs `body` under the frame. `info` is passed to ReportError as additional information.
template <typename F>
auto RunOperation(std::string_view source, F&& body, const Variant& info = Variant())
    -> decltype(body()) {
  try {
    return body();
  } catch (...) {
    AbortContext();
    ReportError(source, info);
    throw;  // ReportError always throws while a failure is in flight
  }
}

}  // namespace heliq

#endif  // HELIQ_COMMON_OPERATION_FRAME_H_
