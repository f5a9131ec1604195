// Scheduled-service settings: the DAEMON row and the scheduling service's registry values.
#include "servicerequest/question/daemon.h"

#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/heliq_utilities.h"
#include "common/operation_frame.h"
#include "platform/registry_store.h"

namespace heliq {
namespace {

// The name keeps the spelling that existing log readers match.
constexpr std::string_view kSaveSource = "HlqServiceRequestMTS.Daemon.SaveDameonData";

constexpr std::string_view kSelectDaemon = "SELECT * FROM DAEMON WHERE NAME = ?";

// What the scheduling service reads for one service. The services list their values in slightly
// different orders, kept as they always were (it is the order of first appearance in the store):
// `time_last` puts the interval before the time.
struct ServiceValues {
  std::string_view name;  // DAEMON.NAME, compared exactly
  std::string_view run;
  std::string_view time;
  std::string_view interval;
  bool time_last;
};

constexpr std::array<ServiceValues, 4> kServices = {{
    {"Archive", "Archive_Run", "Archive_Time", "Archive_Int", false},
    {"Delete", "Cleanup_Run", "Cleanup_Time", "Cleanup_Int", true},
    {"Dormant User Expiry", "Dormant_Run", "Dormant_Time", "Dormant_Int", false},
    {"Alert", "Sonr_Run", "Sonr_Time", "Sonr_Int", false},
}};

const ServiceValues* FindService(std::string_view name) {
  for (const auto& service : kServices) {
    if (service.name == name) return &service;
  }
  return nullptr;
}

// All values of the service in one replacement of the store: a failure leaves the store as it
// was, so the unit of work's rollback of the DAEMON row leaves the panel and the scheduling
// service in agreement.
void WriteRegistry(const ServiceValues& service, bool status, int32_t interval,
                   const DateTime& now) {
  std::vector<std::pair<std::string, std::string>> values;
  auto add = [&](std::string_view name, std::string value) {
    values.emplace_back(std::string(kSchedulerParametersKey) + std::string(name), std::move(value));
  };
  // The start time is only written when the service is switched on: switching off keeps the time
  // of the last start.
  auto add_time = [&] {
    if (status) add(service.time, now.ToText());
  };
  add(service.run, status ? "1" : "0");
  if (!service.time_last) add_time();
  add(service.interval, std::to_string(interval));
  if (service.time_last) add_time();
  RegistryStore::FromSettings().WriteAll(values);
}

}  // namespace

void Daemon::SaveDaemonData(const std::string& service_name, bool status, int32_t interval,
                            const std::string& comments) {
  RunOperation(kSaveSource, [&] {
    const DateTime now = GetCurrentDateTime();
    auto connection = GetHeliqConnection();
    auto row = Recordset::OpenForUpdate(*connection, kSelectDaemon, {Variant(service_name)},
                                        UpdateTarget{"DAEMON", {{"NAME", std::nullopt}}});
    if (!row->eof()) {
      row->SetField("STATUS", Variant(status ? 1 : 0));
      row->SetField("INTERVAL", Variant(interval));
      row->SetField("COMMENTS", Variant(comments));
      row->Update();
    }
    CloseRecordset(row);
    CloseConnection(connection);

    if (const ServiceValues* service = FindService(service_name)) {
      WriteRegistry(*service, status, interval, now);
    }
  });
}

void RegisterDaemonComponent() {
  ComponentRegistry::Global().Register(kDaemonClassId, [] { return std::make_unique<Daemon>(); });
}

}  // namespace heliq
