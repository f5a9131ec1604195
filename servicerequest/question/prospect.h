// Prospect: customers known only by an e-mail address, one PROSPECT row each.
//
// Registered as "HlqServiceRequestMTS.Prospect". Both operations run inside the caller's unit of
// work when there is one. A failure votes abort and is reported under
// "HlqServiceRequestMTS.Prospect.<operation>" (re-raised).
//
// Thread safety: an object serves one call at a time; separate objects may run concurrently.
#ifndef HELIQ_SERVICEREQUEST_QUESTION_PROSPECT_H_
#define HELIQ_SERVICEREQUEST_QUESTION_PROSPECT_H_

#include <cstdint>
#include <string_view>

#include "platform/component.h"

namespace heliq {

inline constexpr std::string_view kProspectClassId = "HlqServiceRequestMTS.Prospect";

class Prospect : public Component {
 public:
  // Inserts a prospect with a random PIN in [1000, 10000], registration and last-visit time now,
  // and the pending count `pending_questions` ("" or blanks: 1). An address of blanks inserts
  // nothing. No existing row of the same address is looked for.
  virtual void CreateNewProspect(std::string_view email_id, std::string_view contact_info,
                                 std::string_view pending_questions);
  // Adds `delta_pending` to the pending count of the prospect's first row (overflow: error 6),
  // replaces INFORMATION when `contact_info` is not blank, and sets the last visit to now. A change
  // of 0 still refreshes the visit; the count may go below 0. An unknown address changes nothing
  // and is no error; neither is an address of blanks.
  virtual void UpdateProspect(std::string_view email_id, std::string_view contact_info,
                              int32_t delta_pending);
};

// Registers the "HlqServiceRequestMTS.Prospect" component.
void RegisterProspectComponent();

}  // namespace heliq

#endif  // HELIQ_SERVICEREQUEST_QUESTION_PROSPECT_H_
