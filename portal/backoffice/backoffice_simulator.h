// The simulated back office: the working stand-in of the back-office call components
// ("HeliqMk5.Calls", "HeliqMk6.Calls") and the API with which tests and `heliq backoffice` act as
// the back office on its calls.
//
// The back office keeps its calls in tables of its own (BO_CALL, BO_REQUEST, BO_CONTROL,
// BO_COUNTER) in the database of the application "BackOffice" ([connections] BackOffice; the
// system database when none is configured). It works outside the caller's unit of work: each
// request runs in a short transaction of its own on a session borrowed from the pool, so a call
// it opened stays open when the caller rolls back. On SQLite the back office needs a file of its
// own (a call holding the system file's write lock would otherwise wait for itself).
//
// Every change of a call, by a request or through this API, gives the call a new LASTTRANSTIME
// stamp: "YYYYMMDDhhmmss" of the clock followed by a six-digit sequence, unique even within one
// second. An UpdateCall that brings another stamp than the call's current one is answered with
// CHANGEDFLAG 1 and the call's state, and changes nothing.
//
// Thread safety: every function may run concurrently from any thread; each borrows its own
// session.
#ifndef HELIQ_PORTAL_BACKOFFICE_BACKOFFICE_SIMULATOR_H_
#define HELIQ_PORTAL_BACKOFFICE_BACKOFFICE_SIMULATOR_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/variant.h"

namespace heliq {

// Registers "HeliqMk5.Calls" (generation 3) and "HeliqMk6.Calls" (generation 8). Generation 1 has
// no call component and stays unregistered.
void RegisterBackOfficeComponents();

// Back-office call statuses the simulator uses on its own (any number may be set by hand).
inline constexpr int32_t kBackOfficeStatusOpen = 5;       // opened without an engineer
inline constexpr int32_t kBackOfficeStatusAssigned = 10;  // opened for a support engineer
inline constexpr int32_t kBackOfficeStatusAccepted = 30;  // accepted by the customer (OPTION 6)

// One call as the back office keeps it.
struct BackOfficeCall {
  std::string call_number;
  int32_t generation = 0;
  std::string call_type;
  int32_t question_id = 0;
  std::string bp_number;
  std::string description;
  std::string text;  // the request's text, with every addition appended
  int32_t status = 0;
  int32_t waiting_flag = 0;  // 0 not waiting, 1 waiting for the customer, 2 resumed
  std::string waiting_desc;
  std::string support_eng_code;
  std::string service_order;
  std::string contract;
  std::string contract_desc;
  std::string warranty;
  std::string warranty_desc;
  std::string warranty_exp_date;  // "YYYY-MM-DD", "" without warranty
  int32_t last_option = 0;        // OPTION of the last update applied, 0 for none
  std::string last_action_by;     // ACTIONDONEBY of the last update, "backoffice" for a hand change
  DateTime opened;
  DateTime changed;
  std::string last_trans_time;
};

// A change made in the back office. Unset members stay as they are.
struct BackOfficeCallChange {
  std::optional<int32_t> status;
  std::optional<int32_t> waiting_flag;  // 0, 1 or 2
  std::optional<std::string> waiting_desc;
  std::optional<std::string> support_eng_code;
  std::optional<std::string> service_order;
};

// One request the back office received, with what it answered.
struct BackOfficeRequest {
  int64_t id = 0;  // increasing in order of arrival
  DateTime received;
  int32_t generation = 0;
  std::string operation;  // "CreateCall" or "UpdateCall"
  std::string call_number;
  int32_t option = 0;
  std::string action_done_by;
  std::string sent_stamp;  // LASTTRANSTIME the request brought ("" for CreateCall)
  // "opened", "applied", "changed" (stale stamp: state returned, nothing applied),
  // "refused: <message>".
  std::string outcome;
};

// Acting as the back office. Errors: err::kInvalidProcedureCall for an unknown call or a value out
// of range; the database's errors (err::kDbConnection when the back office's database cannot be
// reached).
class BackOfficeSimulator {
 public:
  // Every call, in order of call number.
  std::vector<BackOfficeCall> ListCalls() const;
  // The call, or nullopt when the back office has none of that number.
  std::optional<BackOfficeCall> FindCall(std::string_view call_number) const;
  // Applies a change made in the back office and stamps the call anew, even when the change sets
  // nothing; returns the call as changed.
  BackOfficeCall ChangeCall(std::string_view call_number, const BackOfficeCallChange& change) const;
  // The next request (CreateCall or UpdateCall, of either generation) is refused with `message`
  // (not empty). Several refusals are consumed one per request, oldest first.
  void RefuseNext(std::string_view message) const;
  // Refusals not yet consumed.
  int64_t PendingRefusals() const;
  // Requests received, oldest first; with `call_number` only those about that call.
  std::vector<BackOfficeRequest> Requests(std::string_view call_number = "") const;
};

}  // namespace heliq

#endif  // HELIQ_PORTAL_BACKOFFICE_BACKOFFICE_SIMULATOR_H_
