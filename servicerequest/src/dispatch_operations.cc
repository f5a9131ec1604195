#include "common/heliq_utilities.h"
#include "servicerequest/dispatch/dispatch.h"
#include "servicerequest/src/operations.h"

namespace heliq::internal {
namespace {

std::unique_ptr<Dispatch> NewDispatch() { return GetComponentAs<Dispatch>(kDispatchClassId); }

DictionaryPtr ArgDictionary(const Dictionary& args, std::string_view name) {
  const Variant value = args.Get(name);
  return value.type() == Variant::Type::kDictionary ? value.ToDictionary() : nullptr;
}

// Runs `call` with the in-out error argument `name` and stores its value back.
template <typename F>
Variant WithError(Dictionary& args, std::string_view name, F&& call) {
  Variant error = args.Get(name);
  Variant result = call(error);
  args.Set(name, error.IsEmpty() ? Variant("") : error);
  return result;
}

std::vector<ParamSpec> DispatchParams() {
  return {In("i_sPCategory", ParamKind::kText),  In("i_sQCategory", ParamKind::kText),
          In("i_sUserId", ParamKind::kText),     In("i_lQID", ParamKind::kLong),
          In("i_sText", ParamKind::kText),       In("i_bAutomatic", ParamKind::kBool),
          In("i_lLoginLocale", ParamKind::kLong)};
}

void AddCounter(std::string name, bool with_change, void (Dispatch::*queue)(int32_t, int32_t),
                void (Dispatch::*experience)(int32_t)) {
  std::vector<ParamSpec> params{In("i_lQID", ParamKind::kLong)};
  if (with_change) params.push_back(In("i_lQueueSize", ParamKind::kLong));
  AddOperation({std::string(kDispatchClassId), std::move(name), params,
                [=](Dictionary& args) {
                  auto dispatch = NewDispatch();
                  if (with_change) {
                    (dispatch.get()->*queue)(ArgLong(args, "i_lQID"),
                                             ArgLong(args, "i_lQueueSize"));
                  } else {
                    (dispatch.get()->*experience)(ArgLong(args, "i_lQID"));
                  }
                  return Variant();
                },
                with_change ? "Adds a change to the queue size of the request's engineer."
                            : "Adds 1 to the experience of the request's engineer."});
}

}  // namespace

void AddDispatchOperations() {
  const std::string id(kDispatchClassId);
  AddOperation({id, "DispatchHDS", DispatchParams(),
                [](Dictionary& args) {
                  NewDispatch()->DispatchHDS(
                      ArgText(args, "i_sPCategory"), ArgText(args, "i_sQCategory"),
                      ArgText(args, "i_sUserId"), ArgLong(args, "i_lQID"), ArgText(args, "i_sText"),
                      args.Get("i_bAutomatic").ToBool(), ArgLong(args, "i_lLoginLocale"));
                  return Variant();
                },
                "Dispatches a request to the call centre: assigns the best engineer "
                "(automatic) or writes the ranked engineer list (manual)."});
  auto ahds_params = DispatchParams();
  ahds_params.push_back(Optional("i_oDictCallDetails", ParamKind::kVariant, Variant()));
  ahds_params.push_back(Optional("o_sError", ParamKind::kVariant, Variant("")));
  ahds_params.back().by_ref = true;
  AddOperation({id, "DispatchAHDS", ahds_params,
                [](Dictionary& args) {
                  return WithError(args, "o_sError", [&](Variant& error) {
                    return Variant(NewDispatch()->DispatchAHDS(
                        ArgText(args, "i_sPCategory"), ArgText(args, "i_sQCategory"),
                        ArgText(args, "i_sUserId"), ArgLong(args, "i_lQID"),
                        ArgText(args, "i_sText"), args.Get("i_bAutomatic").ToBool(),
                        ArgLong(args, "i_lLoginLocale"), ArgDictionary(args, "i_oDictCallDetails"),
                        error));
                  });
                },
                "Dispatches a request to the support centre; automatic mode opens the "
                "back-office call and returns its number.",
                false, ParamKind::kText});
  OperationSpec cc{
      id,
      "AutomaticdispatchingNeededforCC",
      {},
      [](Dictionary&) { return Variant(NewDispatch()->AutomaticdispatchingNeededforCC()); },
      "True when a call-centre rule takes part in automatic dispatching.",
      true,
      ParamKind::kBool};
  AddOperation(std::move(cc));
  OperationSpec sc{
      id,
      "AutomaticdispatchingNeededforSC",
      {},
      [](Dictionary&) { return Variant(NewDispatch()->AutomaticdispatchingNeededforSC()); },
      "True when a support-centre rule takes part in automatic dispatching.",
      true,
      ParamKind::kBool};
  AddOperation(std::move(sc));
  AddOperation({id,
                "assignQuestiontoCCE",
                {Details("i_odictDetails", LoggedKeys({Reads("D_DIRECT_TO", ParamKind::kText),
                                                       Reads("Q_PRODUCTCAT", ParamKind::kLong),
                                                       Reads("PRODUCTID", ParamKind::kLong),
                                                       Reads("Q_CATEGORY", ParamKind::kLong),
                                                       Reads("TIMESPENT", ParamKind::kLong)}))},
                [](Dictionary& args) {
                  NewDispatch()->assignQuestiontoCCE(args.Get("i_odictDetails").ToDictionary());
                  return Variant();
                },
                "Directs a request to a call-centre engineer (details D_DIRECT_TO)."});
  AddOperation({id,
                "assignQuestiontoSCE",
                {Details("i_odictDetails", LoggedKeys({Reads("D_DIRECT_TO", ParamKind::kText),
                                                       Reads("Q_PRODUCTCAT", ParamKind::kLong),
                                                       Reads("PRODUCTID", ParamKind::kLong),
                                                       Reads("Q_CATEGORY", ParamKind::kLong),
                                                       Reads("TIMESPENT", ParamKind::kLong),
                                                       Reads("LASTTRANSTIME", ParamKind::kText)})),
                 Details("i_oDictCallDetails", {Writes("ENGINEER", ParamKind::kText)}),
                 In("i_lBackend", ParamKind::kLong), ByRef("o_sError", ParamKind::kVariant),
                 Optional("i_bAutomatic", ParamKind::kBool, Variant(false))},
                [](Dictionary& args) {
                  return WithError(args, "o_sError", [&](Variant& error) {
                    return Variant(NewDispatch()->assignQuestiontoSCE(
                        args.Get("i_odictDetails").ToDictionary(),
                        args.Get("i_oDictCallDetails").ToDictionary(), ArgLong(args, "i_lBackend"),
                        error, args.Get("i_bAutomatic").ToBool()));
                  });
                },
                "Directs a request to a support-centre engineer; automatic runs open the "
                "back-office call and return its number.",
                false,
                ParamKind::kText});
  ParamSpec queue_error = Optional("io_vError", ParamKind::kVariant, Variant(""));
  queue_error.by_ref = true;
  AddOperation(
      {id,
       "AssignQuestionToSCQueue",
       {Details("i_oDictQDetails",
                LoggedKeys(
                    {Reads("Q_PRODUCTCAT", ParamKind::kLong), Reads("PRODUCTID", ParamKind::kLong),
                     Reads("Q_CATEGORY", ParamKind::kLong), Reads("TIMESPENT", ParamKind::kLong)})),
        In("i_lBackend", ParamKind::kLong), queue_error},
       [](Dictionary& args) {
         return WithError(args, "io_vError", [&](Variant& error) {
           return Variant(NewDispatch()->AssignQuestionToSCQueue(
               args.Get("i_oDictQDetails").ToDictionary(), ArgLong(args, "i_lBackend"), error));
         });
       },
       "Passes a request to the support-centre queue with a new back-office call.",
       false,
       ParamKind::kText});
  AddOperation({id,
                "ReassignQuestiontoSCE",
                {Details("i_odictDetails", LoggedKeys({Reads("D_DIRECT_TO", ParamKind::kText),
                                                       Reads("LASTTRANSTIME", ParamKind::kText),
                                                       Reads("TIMESPENT", ParamKind::kLong)})),
                 ByRef("o_sError", ParamKind::kVariant)},
                [](Dictionary& args) {
                  return WithError(args, "o_sError", [&](Variant& error) {
                    NewDispatch()->ReassignQuestiontoSCE(args.Get("i_odictDetails").ToDictionary(),
                                                         error);
                    return Variant();
                  });
                },
                "Moves a support-centre request to another support-centre engineer."});
  AddCounter("updateQueuesizeofCCE", true, &Dispatch::updateQueuesizeofCCE, nullptr);
  AddCounter("updateExperienceofCCE", false, nullptr, &Dispatch::updateExperienceofCCE);
  AddCounter("updateQueuesizeofSCE", true, &Dispatch::updateQueuesizeofSCE, nullptr);
  AddCounter("updateExperienceofSCE", false, nullptr, &Dispatch::updateExperienceofSCE);
}

}  // namespace heliq::internal
