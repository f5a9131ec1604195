#include "common/heliq_utilities.h"
#include "servicerequest/question/daemon.h"
#include "servicerequest/src/operations.h"

namespace heliq::internal {

void AddDaemonOperations() {
  AddOperation({std::string(kDaemonClassId),
                "SaveDaemonData",
                {In("i_sServiceName", ParamKind::kText), In("i_bStatus", ParamKind::kBool),
                 In("i_lInterval", ParamKind::kLong), In("i_sComments", ParamKind::kText)},
                [](Dictionary& args) {
                  GetComponentAs<Daemon>(kDaemonClassId)
                      ->SaveDaemonData(ArgText(args, "i_sServiceName"),
                                       args.Get("i_bStatus").ToBool(), ArgLong(args, "i_lInterval"),
                                       ArgText(args, "i_sComments"));
                  return Variant();
                },
                "Switches a scheduled maintenance service on or off: its DAEMON row and the "
                "scheduling service's registry values."});
}

}  // namespace heliq::internal
