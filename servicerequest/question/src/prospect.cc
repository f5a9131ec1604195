#include "servicerequest/question/prospect.h"

#include <cmath>
#include <limits>
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
constexpr std::string_view kSelectProspect = "select * from PROSPECT where EMAILID = ?";

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

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
    if (Trim(email_id).empty()) return;
    const DateTime now = GetCurrentDateTime();
    const std::string pending =
        Trim(pending_questions).empty() ? std::string("1") : std::string(pending_questions);
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
    if (Trim(email_id).empty()) return;
    const DateTime now = GetCurrentDateTime();
    auto connection = GetHeliqConnection();
    auto row = Recordset::OpenForUpdate(*connection, kSelectProspect, {Variant(email_id)},
                                        UpdateTarget{"PROSPECT", {{"PROSPECT_ID", {}}}});
    if (!row->eof()) {
      if (!Trim(contact_info).empty()) row->SetField("INFORMATION", Variant(contact_info));
      const Variant stored = row->Field("PENDINGQUESTIONS");
      const int64_t sum = static_cast<int64_t>(stored.IsNull() ? 0 : stored.ToLong()) +
                          static_cast<int64_t>(delta_pending);
      if (sum < std::numeric_limits<int32_t>::min() || sum > std::numeric_limits<int32_t>::max()) {
        throw ComError::Of(err::kOverflow);
      }
      row->SetField("PENDINGQUESTIONS", Variant(static_cast<int32_t>(sum)));
      row->SetField("LASTVISITEDTIME", Variant(now));
      row->Update();
    }
    CommitContext();
    CloseRecordset(row);
    CloseConnection(connection);
  });
}

void RegisterProspectComponent() {
  ComponentRegistry::Global().Register(kProspectClassId,
                                       [] { return std::make_unique<Prospect>(); });
}

}  // namespace heliq
