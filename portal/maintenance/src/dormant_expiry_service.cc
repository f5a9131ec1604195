// The dormant-prospect expiry service.
#include <string>

#include "common/heliq_utilities.h"
#include "portal/maintenance/src/maintenance_support.h"

namespace heliq::maintenance {
namespace {

// A prospect is dormant when nothing of theirs is pending (the count, which may have gone below
// zero, and no active request under their address) and their last visit (or, never having
// visited, their registration) is older than the cut-off. A prospect without either time is kept.
constexpr std::string_view kSelectDormant =
    "SELECT PROSPECT_ID, EMAILID FROM PROSPECT "
    "WHERE (PENDINGQUESTIONS IS NULL OR PENDINGQUESTIONS <= 0) "
    "AND COALESCE(LASTVISITEDTIME, REGISTEREDTIME) < ? "
    "AND NOT EXISTS (SELECT 1 FROM QUESTIONS WHERE QUESTIONS.EMAILID = PROSPECT.EMAILID) "
    "ORDER BY PROSPECT_ID";
// The same condition again: a prospect that registered a request since the select stays.
constexpr std::string_view kExpireDormant =
    "DELETE FROM PROSPECT WHERE PROSPECT_ID = ? "
    "AND (PENDINGQUESTIONS IS NULL OR PENDINGQUESTIONS <= 0) "
    "AND COALESCE(LASTVISITEDTIME, REGISTEREDTIME) < ? "
    "AND NOT EXISTS (SELECT 1 FROM QUESTIONS WHERE QUESTIONS.EMAILID = PROSPECT.EMAILID)";

class DormantExpiryService final : public ServiceBase {
 public:
  explicit DormantExpiryService(MaintenanceOptions options)
      : ServiceBase(kDormantExpiryServiceId, std::move(options)) {}

 protected:
  void Execute(const MaintenanceSettings& settings) override {
    const Variant cutoff(GetCurrentDateTime().AddSeconds(-86400LL * settings.dormant_age_days));
    std::string expired;
    int count = 0;
    InUnitOfWork([&] {
      auto connection = GetHeliqConnection();
      for (const auto& row : connection->Query(kSelectDormant, {cutoff}).rows) {
        if (connection->Execute(kExpireDormant, {row[0], cutoff}) == 0) continue;
        expired += (expired.empty() ? "" : ", ") + row[1].ToTextOrEmpty();
        ++count;
      }
      connection->Close();
    });
    Note("Dormant prospect expiry: expired " + std::to_string(count) +
         " prospect(s) without pending requests and not seen for " +
         std::to_string(settings.dormant_age_days) + " days" +
         (expired.empty() ? "" : " (" + expired + ")") + ".");
  }
};

}  // namespace

std::unique_ptr<ServiceBase> MakeDormantExpiryService(MaintenanceOptions options) {
  return std::make_unique<DormantExpiryService>(std::move(options));
}

}  // namespace heliq::maintenance
