// Daemon: the schedule of the four periodic maintenance services ("Archive", "Delete",
// "Dormant User Expiry", "Alert"). Registered as "HlqServiceRequestMTS.Daemon".
//
// The schedule lives in two places: the service's DAEMON row (read by the maintenance services
// panel) and text values in the registry store (read by the scheduling service). The DAEMON row
// is written in the caller's unit of work; the registry lies outside it, so values written before
// a failure stay written.
//
// Thread safety: an object serves one call at a time; separate objects may run concurrently.
#ifndef HELIQ_SERVICEREQUEST_QUESTION_DAEMON_H_
#define HELIQ_SERVICEREQUEST_QUESTION_DAEMON_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/component.h"

namespace heliq {

inline constexpr std::string_view kDaemonClassId = "HlqServiceRequestMTS.Daemon";

// The registry key under which the scheduling service reads its parameters (ends with "\").
inline constexpr std::string_view kSchedulerParametersKey =
    "HKLM\\SOFTWARE\\Vorn\\Vorn Xentra\\ConfigTypes\\WebServerConfig\\Modules\\"
    "Heliq\\Services\\HlqNTService\\Parameters\\";

class Daemon : public Component {
 public:
  // Switches the scheduled run of `service_name` on or off with an interval and a comment.
  // The service's DAEMON row (names compare as the database compares them) takes STATUS 1 or 0,
  // INTERVAL and COMMENTS; no row is ever added. Then, for a name that is exactly one of the four
  // (case and blanks count), the registry values <prefix>_Run ("1"/"0"), <prefix>_Time (now as
  // "YYYY-MM-DD hh:mm:ss", only when switched on: switching off keeps the last start time) and
  // <prefix>_Int (the interval in decimal) are written, one by one; any other name writes none.
  // Casts no commit vote. A failure votes abort and is reported under
  // "HlqServiceRequestMTS.Daemon.SaveDameonData" (re-raised).
  virtual void SaveDaemonData(const std::string& service_name, bool status, int32_t interval,
                              const std::string& comments);
};

// Registers the "HlqServiceRequestMTS.Daemon" component.
void RegisterDaemonComponent();

}  // namespace heliq

#endif  // HELIQ_SERVICEREQUEST_QUESTION_DAEMON_H_
