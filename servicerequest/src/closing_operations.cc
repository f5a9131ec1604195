#include <memory>
#include <string>
#include <utility>

#include "common/heliq_utilities.h"
#include "servicerequest/question/question.h"
#include "servicerequest/src/operations.h"

namespace heliq::internal {

void AddClosingOperations() {
  AddQuestionDetailsOperation("CloseQuestion", &Question::CloseQuestion,
                              "Closes a request (180): archives it, deletes its reminder, logs it.",
                              LoggedKeys({}));
  AddQuestionDetailsOperation(
      "CancelQuestion", &Question::CancelQuestion,
      "Cancels a request for the engineer (185): adds the time spent, lowers the "
      "queue size and the prospect's pending count, archives it, logs it.",
      LoggedKeys({Reads("TIMESPENT", ParamKind::kLong), Reads("FromStatus", ParamKind::kLong),
                  Reads("CancelledBy", ParamKind::kText)}));
  AddQuestionDetailsOperation(
      "customerCancelSR", &Question::customerCancelSR,
      "Cancels a request for the customer (185): archives it, deletes the files "
      "nobody took over yet, logs it.",
      LoggedKeys({Reads("Q_STATUS", ParamKind::kLong), Reads("CENTER", ParamKind::kLong)}));
  AddOperation({std::string(kQuestionClassId),
                "TransferQuestions",
                {In("i_odictQList", ParamKind::kDictionary), In("i_sRegUserID", ParamKind::kText),
                 In("i_sEmailID", ParamKind::kText)},
                [](Dictionary& args) {
                  NewQuestion()->TransferQuestions(args.Get("i_odictQList").ToDictionary(),
                                                   ArgText(args, "i_sRegUserID"),
                                                   ArgText(args, "i_sEmailID"));
                  return Variant();
                },
                "Hands the listed requests of a prospect (by e-mail address) over to a "
                "registered user, active and archived, and lowers the prospect's pending count."});
}

}  // namespace heliq::internal
