#include "common/heliq_utilities.h"
#include "servicerequest/question/question.h"
#include "servicerequest/src/operations.h"

namespace heliq::internal {

void AddAdvancedOperations() {
  const std::string id(kQuestionClassId);
  AddOperation({id,
                "AssignToEngineer",
                {In("i_aQList", ParamKind::kArray), In("i_sUserId", ParamKind::kText)},
                [](Dictionary& args) {
                  NewQuestion()->AssignToEngineer(args.Get("i_aQList").ToArray(),
                                                  ArgText(args, "i_sUserId"));
                  return Variant();
                },
                "Directs the listed requests to another engineer (status kept), moving the "
                "call-centre queue counts and logging each change."});
  AddOperation(
      {id,
       "UpdateAdvancedDetails",
       {Details("i_oDict",
                {Reads("Q_ID", ParamKind::kLong), Reads("Q_CATEGORY", ParamKind::kLong),
                 Reads("Q_PRODUCTCAT", ParamKind::kLong), Reads("PRODUCTID", ParamKind::kLong),
                 Reads("Q_PRIORITY", ParamKind::kLong), Reads("Q_SITE", ParamKind::kText),
                 Reads("Q_PRODUCT", ParamKind::kText), Reads("Q_REPORTED", ParamKind::kText),
                 Reads("Q_OBJECT", ParamKind::kText), Reads("BP_NUMBER", ParamKind::kText),
                 Reads("Q_OBJECTNR", ParamKind::kText), Reads("PREFSTARTDATE", ParamKind::kDate),
                 Reads("OSVREQUESTED", ParamKind::kVariant)})},
       [](Dictionary& args) {
         NewQuestion()->UpdateAdvancedDetails(args.Get("i_oDict").ToDictionary());
         return Variant();
       },
       "Writes the back-office classification columns given in the dictionary "
       "(other keys are ignored) of request Q_ID."});
  OperationSpec time{
      id,
      "GetEngineerTime",
      {ByRef("i_lQID", ParamKind::kLong)},
      [](Dictionary& args) { return NewQuestion()->GetEngineerTime(ArgLong(args, "i_lQID")); },
      "Time booked on a request (0 when none); empty for an unknown request."};
  time.read_only = true;
  AddOperation(std::move(time));
  AddOperation({id,
                "CreateTransactionLog1",
                {In("i_lQID", ParamKind::kLong), In("i_sName", ParamKind::kText),
                 In("i_sStatus", ParamKind::kText), In("i_lCenter", ParamKind::kLong),
                 In("i_dDate", ParamKind::kDate), In("i_sComment", ParamKind::kText),
                 In("i_sUserComment", ParamKind::kText)},
                [](Dictionary& args) {
                  NewQuestion()->CreateTransactionLog1(
                      ArgLong(args, "i_lQID"), ArgText(args, "i_sName"), ArgText(args, "i_sStatus"),
                      ArgLong(args, "i_lCenter"), args.Get("i_dDate").ToDate(),
                      ArgText(args, "i_sComment"), ArgText(args, "i_sUserComment"));
                  return Variant();
                },
                "Writes a log row for an action the front end performed itself."});
  OperationSpec encode{
      id,
      "SQLEncodeStrForheliq",
      {In("i_sStrValue", ParamKind::kVariant)},
      [](Dictionary& args) {
        return Variant(NewQuestion()->SQLEncodeStrForheliq(args.Get("i_sStrValue")));
      },
      "The value as text with single quotes doubled and outer blanks removed "
      "(null gives \"\")."};
  encode.read_only = true;
  encode.result = ParamKind::kText;
  AddOperation(std::move(encode));
}

}  // namespace heliq::internal
