// The back office's tables, shared by the call components and the simulator API.
//
// A CallStore borrows one session of the back office's database for its lifetime and runs every
// piece of work in a transaction of its own (Begin ... Commit); a store destroyed with the
// transaction still open rolls it back. It never joins the caller's unit of work.
//
// Not thread-safe: one store per use.
#ifndef HELIQ_PORTAL_BACKOFFICE_SRC_CALL_STORE_H_
#define HELIQ_PORTAL_BACKOFFICE_SRC_CALL_STORE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/database.h"
#include "portal/backoffice/backoffice_simulator.h"

namespace heliq::backoffice {

inline constexpr std::string_view kSource = "BackOfficeSimulator";

// The connection string of the "BackOffice" application ([connections] BackOffice; the system's
// when none is set). Error err::kDbConnection when on SQLite it would be the system's own file.
std::string BackOfficeConnectionString();

class CallStore {
 public:
  // Borrows a session of the "BackOffice" application's database. Errors: err::kDbConnection,
  // also when on SQLite the back office would share the system's file.
  CallStore();
  CallStore(const CallStore&) = delete;
  CallStore& operator=(const CallStore&) = delete;

  // Starts the transaction that the next statements belong to; Commit ends it.
  void Begin();
  void Commit();

  // A new, unique stamp: "YYYYMMDDhhmmss" of the clock + a six-digit sequence.
  std::string NextStamp();
  // A new call number: "C" + a seven-digit sequence.
  std::string NextCallNumber();

  std::optional<BackOfficeCall> FindCall(std::string_view call_number);
  std::vector<BackOfficeCall> ListCalls();
  void InsertCall(const BackOfficeCall& call);
  // Writes the changeable columns of `call` when the stored stamp is still `expected_stamp`;
  // returns false (nothing written) when it is not.
  bool SaveCall(const BackOfficeCall& call, std::string_view expected_stamp);

  // Takes the oldest waiting refusal away; nullopt when there is none.
  std::optional<std::string> ConsumeRefusal();
  void AddRefusal(std::string_view message);
  int64_t PendingRefusals();

  void LogRequest(const BackOfficeRequest& request);
  std::vector<BackOfficeRequest> Requests(std::string_view call_number);

 private:
  int64_t NextValue(std::string_view counter);

  PooledSession session_;
};

}  // namespace heliq::backoffice

#endif  // HELIQ_PORTAL_BACKOFFICE_SRC_CALL_STORE_H_
