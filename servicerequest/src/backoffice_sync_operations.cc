#include <string>

#include "common/heliq_utilities.h"
#include "servicerequest/question/question.h"
#include "servicerequest/src/operations.h"

namespace heliq::internal {

void AddBackOfficeSyncOperations() {
  const std::string id(kQuestionClassId);
  AddOperation(
      {id,
       "UpdateBackendChangesToQuestion",
       {Details(
            "i_oCallchanges",
            {Reads("STATUS", ParamKind::kLong), Reads("WAITINGFLAG", ParamKind::kLong),
             Reads("SUPPORTENGCODE", ParamKind::kText), Reads("LASTTRANSTIME", ParamKind::kText),
             Reads("WAITINGDESC", ParamKind::kText), Reads("SERVICEORDER", ParamKind::kText)}),
        Details("i_oQDetails",
                {Reads("Q_ID", ParamKind::kLong), ReadsAndWrites("Q_STATUS", ParamKind::kLong),
                 Reads("CENTER", ParamKind::kLong), Reads("T_NAME", ParamKind::kText),
                 ReadsAndWrites("D_DIRECT_TO", ParamKind::kText),
                 ReadsAndWrites("LASTTRANSTIME", ParamKind::kText),
                 Writes("USERCOMMENT", ParamKind::kText), Writes("T_COMMENT", ParamKind::kText),
                 Writes("ENGRCHANGED", ParamKind::kBool), Writes("WAITINGTYPE", ParamKind::kLong),
                 Reads("BACKENDTYPE", ParamKind::kLong)}),
        ByRef("sError", ParamKind::kText)},
       [](Dictionary& args) {
         std::string error = ArgText(args, "sError");
         NewQuestion()->UpdateBackendChangesToQuestion(args.Get("i_oCallchanges").ToDictionary(),
                                                       args.Get("i_oQDetails").ToDictionary(),
                                                       error);
         args.Set("sError", Variant(error));
         return Variant();
       },
       "Makes a support-centre request follow the changes of its back-office call: "
       "status, engineer, waiting reason, service order."});
  OperationSpec map{
      id,
      "MaptoFrontEndStatus",
      {In("ibstatus", ParamKind::kLong), In("iprevstatus", ParamKind::kLong),
       In("iWFlag", ParamKind::kLong)},
      [](Dictionary& args) {
        return Variant(NewQuestion()->MaptoFrontEndStatus(
            ArgLong(args, "ibstatus"), ArgLong(args, "iprevstatus"), ArgLong(args, "iWFlag")));
      },
      "The front-end status of a back-office status (0: none)."};
  map.read_only = true;
  map.result = ParamKind::kLong;
  AddOperation(std::move(map));
  AddOperation(
      {id,
       "UpdateHLQAccordingtoStatus",
       {Details("i_oQDetails",
                {ReadsAndWrites("Q_STATUS", ParamKind::kLong),
                 ReadsAndWrites("D_DIRECT_TO", ParamKind::kText),
                 Writes("ENGRCHANGED", ParamKind::kBool), Writes("T_COMMENT", ParamKind::kText),
                 Writes("WAITINGTYPE", ParamKind::kLong), Reads("BACKENDTYPE", ParamKind::kLong)}),
        In("i_sNewStatus", ParamKind::kLong), In("i_sNewEng", ParamKind::kText),
        ByRef("sError", ParamKind::kText)},
       [](Dictionary& args) {
         std::string error = ArgText(args, "sError");
         NewQuestion()->UpdateHLQAccordingtoStatus(args.Get("i_oQDetails").ToDictionary(),
                                                   ArgLong(args, "i_sNewStatus"),
                                                   ArgText(args, "i_sNewEng"), error);
         args.Set("sError", Variant(error));
         return Variant();
       },
       "Hands the request to the back office's engineer and replays the engineer "
       "action of the new status."});
  AddOperation({id,
                "UpdateSvcOrderDetails",
                {In("i_sSOrder", ParamKind::kText), In("i_lQID", ParamKind::kLong)},
                [](Dictionary& args) {
                  NewQuestion()->UpdateSvcOrderDetails(ArgText(args, "i_sSOrder"),
                                                       ArgLong(args, "i_lQID"));
                  return Variant();
                },
                "Stores the back office's service order on the request (failures are ignored)."});
}

}  // namespace heliq::internal
