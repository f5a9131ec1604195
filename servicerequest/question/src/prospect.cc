#include "servicerequest/question/prospect.h"
#include "platform/text.h"
#include "servicerequest/src/details_readers.h"

#include <cmath>
#include <random>

#include "common/heliq_utilities.h"
#include "common/operation_frame.h"

namespace heliq {
namespace {

constexpr std::string_view kCreateSource = "HlqServiceRequestMTS.Prospect.CreateNewProspect";
constexpr std::string_view kUpdateSource = "HlqServiceRequestMTS.Prospect.UpdateProspect";

constexpr std::string_view kInsertProspect =
    "Insert into PROSPECT ( EMAILID,PIN,INFORMATION,REGISTEREDTIME,LASTVISITEDTIME,"
    "PENDINGQUESTIONS) Values(?,?,?,?,?,? )";
// The pending count is changed by one statement on the prospect's first row, so concurrent
// registrations and conclusions never overwrite each other's change.
constexpr std::string_view kUpdatePending =
    "UPDATE PROSPECT SET PENDINGQUESTIONS = COALESCE(PENDINGQUESTIONS, 0) + ?, "
    "LASTVISITEDTIME = ?, INFORMATION = COALESCE(?, INFORMATION) "
    "WHERE PROSPECT_ID = (SELECT MIN(PROSPECT_ID) FROM PROSPECT WHERE EMAILID = ?) "
    "AND COALESCE(PENDINGQUESTIONS, 0) + CAST(? AS BIGINT) BETWEEN -2147483648 AND 2147483647";
constexpr std::string_view kCountProspects = "SELECT COUNT(*) FROM PROSPECT WHERE EMAILID = ?";

// The PIN is a credential of the prospect: it comes from the operating system's random source,
// not from a generator reseeded from the clock, which anyone knowing the time could replay.
int32_t NewPin() {
  static thread_local std::random_device device;
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const double r = unit(device);
  return static_cast<int32_t>(std::nearbyint(r * 9000 + 1000));
}

}  // namespace

void Prospect::CreateNewProspect(std::string_view email_id, std::string_view contact_info,
                                 std::string_view pending_questions) {
  RunOperation(kCreateSource, [&] {
    if (TrimSpace(email_id).empty()) return;
    const DateTime now = GetCurrentDateTime();
    const std::string pending =
        TrimSpace(pending_questions).empty() ? std::string("1") : std::string(pending_questions);
    auto connection = GetHeliqConnection();
    connection->Execute(kInsertProspect,
                        {Variant(email_id), Variant(std::to_string(NewPin())),
                         Variant(contact_info), Variant(now), Variant(now), Variant(pending)});
    CommitContext();
    CloseConnection(connection);
  });
}

void Prospect::UpdateProspect(std::string_view email_id, std::string_view contact_info,
                              int32_t delta_pending) {
  RunOperation(kUpdateSource, [&] {
    if (TrimSpace(email_id).empty()) return;
    const DateTime now = GetCurrentDateTime();
    auto connection = GetHeliqConnection();
    const Variant contact =
        TrimSpace(contact_info).empty() ? Variant::Null() : Variant(std::string(contact_info));
    const int64_t changed = connection->Execute(
        kUpdatePending,
        {Variant(delta_pending), Variant(now), contact, Variant(email_id), Variant(delta_pending)});
    // No row changed: either the address is unknown (no error) or the count would leave 32 bits.
    if (changed == 0 && connection->QueryValue(kCountProspects, {Variant(email_id)}).ToLong() > 0) {
      throw ComError::Of(err::kOverflow);
    }
    CommitContext();
    CloseConnection(connection);
  });
}

void RegisterProspectComponent() {
  ComponentRegistry::Global().Register(kProspectClassId,
                                       [] { return std::make_unique<Prospect>(); });
}

}  // namespace heliq
