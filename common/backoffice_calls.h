// The back-office call components: "HeliqMk5.Calls" (generation 3) and "HeliqMk6.Calls"
// (generation 8). Generation 1 has no call component: creating one raises error 429.
//
// A refusal is reported through `error` (non-empty: the back office's message); success leaves it
// empty. The back office is outside the unit of work: a call it opened stays open when the
// caller rolls back.
//
// Thread safety: one object per use; separate objects may run concurrently.
#ifndef HELIQ_COMMON_BACKOFFICE_CALLS_H_
#define HELIQ_COMMON_BACKOFFICE_CALLS_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/component.h"
#include "platform/variant.h"

namespace heliq {

inline constexpr std::string_view kMk5CallsClassId = "HeliqMk5.Calls";
inline constexpr std::string_view kMk6CallsClassId = "HeliqMk6.Calls";

// Back-office generations.
inline constexpr int32_t kBackOfficeMk4 = 1;
inline constexpr int32_t kBackOfficeMk5 = 3;
inline constexpr int32_t kBackOfficeMk6 = 8;

class BackOfficeCalls : public Component {
 public:
  // Opens a call from the request's call details (ENGINEER, BACKOFFICEAPPLICATION and the request
  // data). Result keys: CALLNUMBER, CALLTYPE, LASTTRANSTIME, CONTRACT, CONTRACTDESC, WARRANTY,
  // WARRANTYDESC, WARRANTYEXPDATE.
  virtual DictionaryPtr CreateCall(const DictionaryPtr& call_details, std::string& error) = 0;
  // Applies an update (ACTIONDONEBY, ENGINEER, COMPONENT, CALLNUMBER, [Q_TEXT], OPTION,
  // LASTTRANSTIME). Result keys: CHANGEDFLAG (1: the call changed since LASTTRANSTIME, the update
  // was not applied), LASTTRANSTIME, and with CHANGEDFLAG 1 the call's STATUS, WAITINGFLAG,
  // WAITINGDESC, SUPPORTENGCODE, SERVICEORDER.
  virtual DictionaryPtr UpdateCall(const DictionaryPtr& call_details, std::string& error) = 0;
};

// The class identifier of a generation's call component; "" for a generation without one.
std::string_view CallComponentFor(int32_t generation);

// Creates the generation's call component directly (the back office is outside the unit of
// work). A generation without one raises error 429 under `source`.
std::unique_ptr<BackOfficeCalls> CreateCallComponent(int32_t generation, std::string_view source);

}  // namespace heliq

#endif  // HELIQ_COMMON_BACKOFFICE_CALLS_H_
