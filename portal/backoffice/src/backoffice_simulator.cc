#include "portal/backoffice/backoffice_simulator.h"

#include "platform/clock.h"
#include "platform/com_error.h"
#include "portal/backoffice/src/call_store.h"

namespace heliq {
namespace {

using backoffice::CallStore;
using backoffice::kSource;

// Who a change made through the simulator is recorded as.
constexpr std::string_view kBackOfficeUser = "backoffice";

[[noreturn]] void Invalid(const std::string& description) {
  throw ComError(err::kInvalidProcedureCall, std::string(kSource), description);
}

}  // namespace

std::vector<BackOfficeCall> BackOfficeSimulator::ListCalls() const {
  CallStore store;
  return store.ListCalls();
}

std::optional<BackOfficeCall> BackOfficeSimulator::FindCall(std::string_view call_number) const {
  CallStore store;
  return store.FindCall(call_number);
}

BackOfficeCall BackOfficeSimulator::ChangeCall(std::string_view call_number,
                                               const BackOfficeCallChange& change) const {
  if (change.waiting_flag && (*change.waiting_flag < 0 || *change.waiting_flag > 2)) {
    Invalid("the waiting flag is 0, 1 or 2, not " + std::to_string(*change.waiting_flag));
  }
  CallStore store;
  store.Begin();
  std::optional<BackOfficeCall> call = store.FindCall(call_number);
  if (!call) Invalid("call " + std::string(call_number) + " does not exist");
  BackOfficeCall changed = *call;
  if (change.status) changed.status = *change.status;
  if (change.waiting_flag) changed.waiting_flag = *change.waiting_flag;
  if (change.waiting_desc) changed.waiting_desc = *change.waiting_desc;
  if (change.support_eng_code) changed.support_eng_code = *change.support_eng_code;
  if (change.service_order) changed.service_order = *change.service_order;
  changed.last_action_by = std::string(kBackOfficeUser);
  changed.changed = Now();
  changed.last_trans_time = store.NextStamp();
  // Inside the transaction the row cannot have moved on SQLite; on PostgreSQL a request that
  // committed in between makes the save miss, and the change is refused rather than lost.
  if (!store.SaveCall(changed, call->last_trans_time)) {
    throw ComError(err::kDbRowChanged, std::string(kSource),
                   "call " + std::string(call_number) + " changed meanwhile; try again");
  }
  store.Commit();
  return changed;
}

void BackOfficeSimulator::RefuseNext(std::string_view message) const {
  if (message.find_first_not_of(" \t\r\n") == std::string_view::npos) {
    Invalid("a refusal needs a message");
  }
  CallStore store;
  store.AddRefusal(message);
}

int64_t BackOfficeSimulator::PendingRefusals() const {
  CallStore store;
  return store.PendingRefusals();
}

std::vector<BackOfficeRequest> BackOfficeSimulator::Requests(std::string_view call_number) const {
  CallStore store;
  return store.Requests(call_number);
}

}  // namespace heliq
