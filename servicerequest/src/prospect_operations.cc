#include "common/heliq_utilities.h"
#include "servicerequest/question/prospect.h"
#include "servicerequest/src/operations.h"

namespace heliq::internal {

void AddProspectOperations() {
  AddOperation({std::string(kProspectClassId),
                "CreateNewProspect",
                {In("i_sEmailID", ParamKind::kText), In("i_sContactInfo", ParamKind::kText),
                 Optional("i_sPendingQuestions", ParamKind::kText, Variant(""))},
                [](Dictionary& args) {
                  GetComponentAs<Prospect>(kProspectClassId)
                      ->CreateNewProspect(ArgText(args, "i_sEmailID"),
                                          ArgText(args, "i_sContactInfo"),
                                          ArgText(args, "i_sPendingQuestions"));
                  return Variant();
                },
                "Creates the prospect row of an e-mail address (first request of a prospect)."});
  AddOperation({std::string(kProspectClassId),
                "UpdateProspect",
                {In("i_sEmailID", ParamKind::kText),
                 Optional("i_sContactInfo", ParamKind::kText, Variant("")),
                 In("i_lDeltaPending", ParamKind::kLong)},
                [](Dictionary& args) {
                  GetComponentAs<Prospect>(kProspectClassId)
                      ->UpdateProspect(ArgText(args, "i_sEmailID"), ArgText(args, "i_sContactInfo"),
                                       ArgLong(args, "i_lDeltaPending"));
                  return Variant();
                },
                "Changes a prospect's pending-request count and refreshes its last visit."});
}

}  // namespace heliq::internal
