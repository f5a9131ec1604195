// The operation-table rows of SolveOnNoResponse's public operations.
#include "serviceprocess/src/operations.h"

#include <string>
#include <vector>

#include "common/heliq_utilities.h"
#include "platform/operation_table.h"
#include "serviceprocess/solve_on_no_response.h"

namespace heliq::internal {
namespace {

std::unique_ptr<SolveOnNoResponse> NewSolveOnNoResponse() {
  return GetComponentAs<SolveOnNoResponse>(kSolveOnNoResponseClassId);
}

std::string Text(const Dictionary& args, std::string_view name) {
  return args.Get(name).ToTextOrEmpty();
}

int32_t Long(const Dictionary& args, std::string_view name) {
  const Variant value = args.Get(name);
  return value.IsNull() ? 0 : value.ToLong();
}

std::vector<std::string> Texts(const Variant& value) {
  std::vector<std::string> texts;
  for (const Variant& item : *value.ToArray()) texts.push_back(item.ToTextOrEmpty());
  return texts;
}

// A role list arrives indexed (field, member): an array of up to five field arrays, each holding
// one value per member.
RoleList Members(const Variant& value) {
  RoleList members;
  const ArrayPtr fields = value.ToArray();
  for (size_t field = 0; field < fields->size() && field < RoleMember().size(); ++field) {
    const ArrayPtr values = (*fields)[field].ToArray();
    if (members.size() < values->size()) members.resize(values->size());
    for (size_t member = 0; member < values->size(); ++member) {
      members[member][field] = (*values)[member].ToTextOrEmpty();
    }
  }
  return members;
}

void AddReader(OperationSpec operation) {
  operation.read_only = true;
  AddOperation(std::move(operation));
}

}  // namespace

void AddSolveOnNoResponseOperations() {
  const std::string id(kSolveOnNoResponseClassId);
  AddOperation({id,
                "SendingEscalationMails",
                {},
                [](Dictionary&) {
                  NewSolveOnNoResponse()->SendingEscalationMails();
                  return Variant();
                },
                "One escalation run: mails the overdue requests to dispatchers, engineers and "
                "supervisors and clears their reminder timers."});
  AddReader({id,
             "GetBPIDOFOriginator",
             {In("originatorid", ParamKind::kText)},
             [](Dictionary& args) {
               return Variant(
                   NewSolveOnNoResponse()->GetBPIDOFOriginator(Text(args, "originatorid")));
             },
             "The business-partner number of a directory user; empty on any failure.",
             false,
             ParamKind::kText});
  AddReader({id,
             "Setheaders",
             {In("Arrlabels", ParamKind::kArray), ByRef("lBackOfficeApplication", ParamKind::kLong),
              In("lheaderType", ParamKind::kLong)},
             [](Dictionary& args) {
               return Variant(NewSolveOnNoResponse()->Setheaders(
                   Texts(args.Get("Arrlabels")), Long(args, "lBackOfficeApplication"),
                   Long(args, "lheaderType")));
             },
             "The header block of an escalation table (0 plain, other: supervisor table).",
             false,
             ParamKind::kText});
  AddReader({id,
             "GetBPNameofBPID",
             {In("lBPID", ParamKind::kLong)},
             [](Dictionary& args) {
               return Variant(NewSolveOnNoResponse()->GetBPNameofBPID(Long(args, "lBPID")));
             },
             "The name of a business partner; empty for 0 and on any failure.",
             false,
             ParamKind::kText});
  AddReader({id,
             "SendEscalaltionMail",
             {In("sMailTypeFrom", ParamKind::kText), In("sMailId", ParamKind::kText),
              In("sMailSubject", ParamKind::kText), In("sMailData", ParamKind::kText)},
             [](Dictionary& args) {
               NewSolveOnNoResponse()->SendEscalaltionMail(
                   Text(args, "sMailTypeFrom"), Text(args, "sMailId"), Text(args, "sMailSubject"),
                   Text(args, "sMailData"));
               return Variant();
             },
             "Sends one text mail to the \";\"-separated recipients; a failure is only logged."});
  AddReader({id,
             "GetMaildidOFEngineer",
             {In("ArrDispArrlist", ParamKind::kArray), In("sEngid", ParamKind::kText)},
             [](Dictionary& args) {
               return Variant(NewSolveOnNoResponse()->GetMaildidOFEngineer(
                   Members(args.Get("ArrDispArrlist")), Text(args, "sEngid")));
             },
             "The mail address of an engineer in a role list indexed (field, member).",
             false,
             ParamKind::kText});
  AddReader({id,
             "SQLEncodeDateTimeforEscalations",
             {In("i_dValue", ParamKind::kDate)},
             [](Dictionary& args) {
               return Variant(NewSolveOnNoResponse()->SQLEncodeDateTimeforEscalations(
                   args.Get("i_dValue").ToDate()));
             },
             "A date-time as \"YYYY-MM-DD hh:mm:ss\".",
             false,
             ParamKind::kText});
}

}  // namespace heliq::internal
