#include "servicerequest/service_request_library.h"

#include "common/heliq_utilities.h"
#include "platform/operation_table.h"
#include "servicerequest/question/prospect.h"

namespace heliq {
namespace {

std::string Text(const Dictionary& args, std::string_view name) {
  return args.Get(name).ToTextOrEmpty();
}

void AddProspectOperations() {
  AddOperation({std::string(kProspectClassId),
                "CreateNewProspect",
                {In("i_sEmailID", ParamKind::kText), In("i_sContactInfo", ParamKind::kText),
                 Optional("i_sPendingQuestions", ParamKind::kText, Variant(""))},
                [](Dictionary& args) {
                  GetComponentAs<Prospect>(kProspectClassId)
                      ->CreateNewProspect(Text(args, "i_sEmailID"), Text(args, "i_sContactInfo"),
                                          Text(args, "i_sPendingQuestions"));
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
                      ->UpdateProspect(Text(args, "i_sEmailID"), Text(args, "i_sContactInfo"),
                                       args.Get("i_lDeltaPending").ToLong());
                  return Variant();
                },
                "Changes a prospect's pending-request count and refreshes its last visit."});
}

}  // namespace

void RegisterServiceRequestLibrary() {
  RegisterProspectComponent();
  AddProspectOperations();
}

}  // namespace heliq
