// The call components of the simulated back office, one class for both generations.
//
// CreateCall opens a call for the request in the call details: a new call number, the call type
// (Mk5: "ZS02" when an on-site visit is requested, else "ZS01"; Mk6 has none), contract and
// warranty details derived from the request's back-office data (contract from BP_NUMBER, warranty
// from Q_OBJECTNR, else Q_OBJECT, else Q_PRODUCT, running one year from the day the call opens),
// status 10 with an engineer or 5 without, WAITINGFLAG 0, SUPPORTENGCODE = ENGINEER and a new
// stamp. UpdateCall applies an update that brings the call's current stamp: OPTION 7 appends
// Q_TEXT, OPTION 3 (the customer clarified) ends waiting for the customer, OPTION 6 (accepted)
// sets status 30; every applied update records OPTION and ACTIONDONEBY and stamps the call anew.
#include <memory>
#include <string>

#include "common/backoffice_calls.h"
#include "platform/clock.h"
#include "platform/com_error.h"
#include "platform/component.h"
#include "platform/text.h"
#include "portal/backoffice/backoffice_simulator.h"
#include "portal/backoffice/src/call_store.h"

namespace heliq {
namespace {

using backoffice::CallStore;

constexpr int32_t kOptionTextAdded = 7;
constexpr int32_t kOptionClarified = 3;
constexpr int32_t kOptionAccepted = 6;
constexpr int32_t kWaitingForCustomer = 1;
constexpr int32_t kWaitingResumed = 2;
constexpr int64_t kWarrantySeconds = 365LL * 24 * 60 * 60;

std::string Trim(std::string_view text) { return std::string(TrimSpace(text)); }

std::string TextOf(const Dictionary& details, std::string_view key) {
  return details.Get(key).ToTextOrEmpty();
}

int32_t LongOf(const Dictionary& details, std::string_view key) {
  const Variant value = details.Get(key);
  return value.IsBlank() ? 0 : value.ToLong();
}

std::string DateOnly(const DateTime& time) { return time.ToText().substr(0, 10); }

// Fills contract and warranty of a new call from the request's back-office data.
void DeriveContractAndWarranty(const Dictionary& details, BackOfficeCall& call) {
  const std::string partner = Trim(TextOf(details, "BP_NUMBER"));
  if (!partner.empty()) {
    call.contract = "SC-" + partner;
    call.contract_desc = "Service contract of business partner " + partner;
  }
  std::string item = Trim(TextOf(details, "Q_OBJECTNR"));
  if (item.empty()) item = Trim(TextOf(details, "Q_OBJECT"));
  if (item.empty()) item = Trim(TextOf(details, "Q_PRODUCT"));
  if (!item.empty()) {
    call.warranty = "WA-" + item;
    call.warranty_desc = "Standard warranty of " + item;
    call.warranty_exp_date = DateOnly(call.opened.AddSeconds(kWarrantySeconds));
  }
}

class SimulatedCalls : public BackOfficeCalls {
 public:
  SimulatedCalls(int32_t generation, std::string_view class_id)
      : generation_(generation), class_id_(class_id) {}

  DictionaryPtr CreateCall(const DictionaryPtr& call_details, std::string& error) override {
    error.clear();
    const Dictionary& details = Require(call_details, "CreateCall");
    auto result = Dictionary::Create();
    CallStore store;
    store.Begin();
    BackOfficeRequest request = NewRequest("CreateCall");
    if (Refused(store, request, error)) return result;

    BackOfficeCall call;
    call.call_number = store.NextCallNumber();
    call.generation = generation_;
    if (generation_ == kBackOfficeMk5) {
      const Variant on_site = details.Get("OSVREQUESTED");
      call.call_type = !on_site.IsBlank() && on_site.ToBool() ? "ZS02" : "ZS01";
    }
    call.question_id = LongOf(details, "Q_ID");
    call.bp_number = Trim(TextOf(details, "BP_NUMBER"));
    call.description = TextOf(details, "Q_DESC");
    call.text = TextOf(details, "Q_TEXT");
    call.support_eng_code = Trim(TextOf(details, "ENGINEER"));
    call.status = call.support_eng_code.empty() ? kBackOfficeStatusOpen : kBackOfficeStatusAssigned;
    call.opened = request.received;
    call.changed = request.received;
    call.last_trans_time = store.NextStamp();
    DeriveContractAndWarranty(details, call);
    store.InsertCall(call);

    request.call_number = call.call_number;
    request.outcome = "opened";
    store.LogRequest(request);
    store.Commit();

    result->Set("CALLNUMBER", Variant(call.call_number));
    result->Set("CALLTYPE", Variant(call.call_type));
    result->Set("LASTTRANSTIME", Variant(call.last_trans_time));
    result->Set("CONTRACT", Variant(call.contract));
    result->Set("CONTRACTDESC", Variant(call.contract_desc));
    result->Set("WARRANTY", Variant(call.warranty));
    result->Set("WARRANTYDESC", Variant(call.warranty_desc));
    result->Set("WARRANTYEXPDATE", Variant(call.warranty_exp_date));
    return result;
  }

  DictionaryPtr UpdateCall(const DictionaryPtr& call_details, std::string& error) override {
    error.clear();
    const Dictionary& details = Require(call_details, "UpdateCall");
    auto changes = Dictionary::Create();
    CallStore store;
    store.Begin();
    BackOfficeRequest request = NewRequest("UpdateCall");
    request.call_number = Trim(TextOf(details, "CALLNUMBER"));
    request.option = LongOf(details, "OPTION");
    request.action_done_by = TextOf(details, "ACTIONDONEBY");
    request.sent_stamp = Trim(TextOf(details, "LASTTRANSTIME"));
    if (Refused(store, request, error)) return changes;

    std::optional<BackOfficeCall> call;
    if (!request.call_number.empty()) call = store.FindCall(request.call_number);
    if (!call) {
      const std::string message = request.call_number.empty()
                                      ? std::string("no call number was given")
                                      : "call " + request.call_number + " does not exist";
      Refuse(store, request, message, error);
      return changes;
    }

    if (call->last_trans_time == request.sent_stamp) {
      BackOfficeCall updated = *call;
      Apply(details, request, updated);
      updated.last_trans_time = store.NextStamp();
      // Only a change committed by another session between the read and this save makes it
      // miss; the call as it now is then answers the request.
      if (store.SaveCall(updated, call->last_trans_time)) {
        request.outcome = "applied";
        store.LogRequest(request);
        store.Commit();
        changes->Set("CHANGEDFLAG", Variant(int32_t{0}));
        changes->Set("LASTTRANSTIME", Variant(updated.last_trans_time));
        return changes;
      }
      call = store.FindCall(request.call_number);
      if (!call) {
        Refuse(store, request, "call " + request.call_number + " does not exist", error);
        return changes;
      }
    }

    request.outcome = "changed";
    store.LogRequest(request);
    store.Commit();
    changes->Set("CHANGEDFLAG", Variant(int32_t{1}));
    changes->Set("LASTTRANSTIME", Variant(call->last_trans_time));
    changes->Set("STATUS", Variant(call->status));
    changes->Set("WAITINGFLAG", Variant(call->waiting_flag));
    changes->Set("WAITINGDESC", Variant(call->waiting_desc));
    changes->Set("SUPPORTENGCODE", Variant(call->support_eng_code));
    changes->Set("SERVICEORDER", Variant(call->service_order));
    return changes;
  }

 private:
  const Dictionary& Require(const DictionaryPtr& details, std::string_view operation) const {
    if (!details) {
      throw ComError(err::kInvalidProcedureCall, class_id_ + "." + std::string(operation),
                     "no call details were given");
    }
    return *details;
  }

  BackOfficeRequest NewRequest(std::string_view operation) const {
    BackOfficeRequest request;
    request.received = Now();
    request.generation = generation_;
    request.operation = std::string(operation);
    return request;
  }

  // Answers the request with `message` as the back office's refusal and ends the transaction.
  static void Refuse(CallStore& store, BackOfficeRequest& request, const std::string& message,
                     std::string& error) {
    request.outcome = "refused: " + message;
    store.LogRequest(request);
    store.Commit();
    error = message;
  }

  // Consumes a refusal ordered through the simulator, if one waits.
  static bool Refused(CallStore& store, BackOfficeRequest& request, std::string& error) {
    std::optional<std::string> message = store.ConsumeRefusal();
    if (!message) return false;
    Refuse(store, request, *message, error);
    return true;
  }

  static void Apply(const Dictionary& details, const BackOfficeRequest& request,
                    BackOfficeCall& call) {
    switch (request.option) {
      case kOptionTextAdded: {
        const std::string added = TextOf(details, "Q_TEXT");
        if (!Trim(added).empty()) call.text += (call.text.empty() ? "" : "\r\n\r\n") + added;
        break;
      }
      case kOptionClarified:
        if (call.waiting_flag == kWaitingForCustomer) call.waiting_flag = kWaitingResumed;
        break;
      case kOptionAccepted:
        call.status = kBackOfficeStatusAccepted;
        break;
      default:
        break;
    }
    call.last_option = request.option;
    call.last_action_by = request.action_done_by;
    call.changed = request.received;
  }

  int32_t generation_;
  std::string class_id_;
};

}  // namespace

void RegisterBackOfficeComponents() {
  auto& registry = ComponentRegistry::Global();
  registry.Register(kMk5CallsClassId, [] {
    return std::make_unique<SimulatedCalls>(kBackOfficeMk5, kMk5CallsClassId);
  });
  registry.Register(kMk6CallsClassId, [] {
    return std::make_unique<SimulatedCalls>(kBackOfficeMk6, kMk6CallsClassId);
  });
}

}  // namespace heliq
