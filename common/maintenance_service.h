// The maintenance services: outside components that the scheduling service and the
// administration utility start. Each is created anew for one run and offers one operation, Run,
// without arguments and without result; it returns normally or throws a ComError whose
// description says what failed. What a run did goes to the service's own log.
//
// Thread safety: a service object is used by one thread; two runs of one service may overlap
// (the panel and the schedule), so each run must be safe against another run of its kind.
#ifndef HELIQ_COMMON_MAINTENANCE_SERVICE_H_
#define HELIQ_COMMON_MAINTENANCE_SERVICE_H_

#include <string_view>

namespace heliq {

// Class identifiers of the five services.
inline constexpr std::string_view kCleanupServiceId = "HeliqServices.Cleanup";
inline constexpr std::string_view kReminderServiceId = "HeliqServices.Reminder";
inline constexpr std::string_view kDormantExpiryServiceId = "HeliqServices.DormantExpiry";
inline constexpr std::string_view kArchiveServiceId = "HeliqServices.Archive";
inline constexpr std::string_view kFaqNotifyServiceId = "HeliqServices.FAQNotify";

class MaintenanceService {
 public:
  virtual ~MaintenanceService() = default;
  // Runs the service once.
  virtual void Run() = 0;
};

}  // namespace heliq

#endif  // HELIQ_COMMON_MAINTENANCE_SERVICE_H_
