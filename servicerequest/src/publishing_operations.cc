#include "common/heliq_utilities.h"
#include "servicerequest/question/question.h"
#include "servicerequest/src/operations.h"

namespace heliq::internal {

void AddPublishingOperations() {
  const std::string id(kQuestionClassId);
  AddOperation({id,
                "SetToToPublish",
                {Details("i_dictDetails", LoggedKeys({Reads("Q_CATEGORY", ParamKind::kLong),
                                                      Reads("Q_PRODUCTCAT", ParamKind::kLong),
                                                      Reads("PRODUCTID", ParamKind::kLong),
                                                      Reads("A_LINK", ParamKind::kText)}))},
                [](Dictionary& args) {
                  NewQuestion()->SetToToPublish(args.Get("i_dictDetails").ToDictionary());
                  return Variant();
                },
                "Marks a request for publishing (status 170) with its classification and answer "
                "link, logs it and marks its files."});
  OperationSpec publish{
      id,
      "PublishQuestion",
      {Details("i_dictDetails",
               LoggedKeys({Reads("Q_PRODUCTCAT", ParamKind::kLong),
                           Reads("Q_CATEGORY", ParamKind::kLong),
                           Reads("P_PUBLISH_FOR", ParamKind::kLong),
                           Reads("Q_DESC", ParamKind::kText), Reads("Q_TEXT", ParamKind::kText),
                           Reads("A_TEXT", ParamKind::kText), Reads("A_LINK", ParamKind::kText)}))},
      [](Dictionary& args) {
        return Variant(NewQuestion()->PublishQuestion(args.Get("i_dictDetails").ToDictionary()));
      },
      "Creates the request's FAQ entry, archives the request as published "
      "(175), logs it and returns the FAQ number."};
  publish.result = ParamKind::kLong;
  AddOperation(std::move(publish));
}

}  // namespace heliq::internal
