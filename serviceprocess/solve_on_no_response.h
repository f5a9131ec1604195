// SolveOnNoResponse ("HeliqProcessMTS.SolveOnNoResponse"): the escalation run and its helpers.
//
// The scheduling service calls SendingEscalationMails periodically. One run finds the requests
// whose reminder timer (REMINDER.T1_DATE) has run longer than the hours configured for their
// centre and state, mails fixed-width tables of them to dispatchers, to the responsible engineers
// and to supervisors (as the PARAMETERS switches say), and clears the timer of every request it
// put into a mailed table, so each timer start escalates once; ESCALATIONS records when each
// request was last mailed about.
//
// Database work belongs to the caller's unit of work; the directory and the business-partner
// component are outside it. Mail goes through an EscalationMailer: the default writes each
// message to the mail outbox (common/mail_outbox.h) in the same unit of work that clears the
// timers, so a run that fails leaves neither mails nor cleared timers, and a sender delivers the
// mails once the run has committed; tests and benchmarks pass their own.
//
// Thread safety: an object serves one call at a time; separate objects may run concurrently.
// Lookups remembered during a run (originator -> partner number, partner number -> name) are
// dropped when the run ends; nothing is kept between runs.
#ifndef HELIQ_SERVICEPROCESS_SOLVE_ON_NO_RESPONSE_H_
#define HELIQ_SERVICEPROCESS_SOLVE_ON_NO_RESPONSE_H_

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/directory.h"
#include "platform/component.h"
#include "platform/mail.h"
#include "platform/variant.h"

namespace heliq {

inline constexpr std::string_view kSolveOnNoResponseClassId = "HeliqProcessMTS.SolveOnNoResponse";

// Delivers one escalation mail. Send throws (a ComError) when the message cannot be handed on,
// a message without recipients included.
class EscalationMailer {
 public:
  virtual ~EscalationMailer() = default;
  virtual void Send(const MailMessage& message) = 0;
};

// The mailer that writes messages to the mail outbox in the caller's unit of work.
std::unique_ptr<EscalationMailer> MakePlatformMailer();

// The members of a directory role: one entry per member, the first five fields of the member
// table trimmed (0 distinguished name, 1 mail address, 2 login, 3 given name, 4 surname).
using RoleMember = std::array<std::string, 5>;
using RoleList = std::vector<RoleMember>;

class SolveOnNoResponse : public Component {
 public:
  // `mailer` nullptr: MakePlatformMailer().
  explicit SolveOnNoResponse(std::unique_ptr<EscalationMailer> mailer = nullptr);
  ~SolveOnNoResponse() override;
  SolveOnNoResponse(const SolveOnNoResponse&) = delete;
  SolveOnNoResponse& operator=(const SolveOnNoResponse&) = delete;

  // One escalation run (see the file comment). Traps nothing: a failing query or update, or a
  // setting that is not a whole number (error 13), ends the run with that error; within a unit
  // of work the clearing done so far is then rolled back with the rest of the call.
  void SendingEscalationMails();

  // The business-partner number of the directory user `originator_id`; "" on any failure.
  std::string GetBPIDOFOriginator(std::string_view originator_id);

  // The header block of a table: `header_type` 0 plain (dispatcher and engineer tables), any
  // other the supervisor table with its login column. `labels` are the seven escalation label
  // texts by position; `back_office_application` chooses the fourth column's title and ruler
  // (1 on-site visit, 3 or 8 priority, other: eight blanks). Error 9 when a position it uses is
  // beyond `labels`.
  std::string Setheaders(const std::vector<std::string>& labels, int32_t back_office_application,
                         int32_t header_type);

  // The name of business partner `bp_id`; "" for 0 and on any failure.
  std::string GetBPNameofBPID(int32_t bp_id);

  // Sends one mail to the addresses of `recipients` (separated by ";"). Never raises: a mail
  // that cannot be sent (no recipient, transport failure) is written to the log with its
  // recipients.
  void SendEscalaltionMail(std::string_view from, std::string_view recipients,
                           std::string_view subject, std::string_view body);

  // The mail address (field 1) of the first member whose login (field 2) equals `login`, both
  // trimmed and compared without regard to case; "" when none does or `login` is blank.
  std::string GetMaildidOFEngineer(const RoleList& members, std::string_view login);

  // "YYYY-MM-DD hh:mm:ss": year-first with two-digit parts, so the texts sort in time order.
  std::string SQLEncodeDateTimeforEscalations(const DateTime& value);

 private:
  // One table row of the run. Dispatcher rows have no engineer; `partner` is the originator's
  // business-partner number as the directory gives it, `partner_name` that partner's name.
  struct Row {
    int32_t id = 0;
    DateTime started;  // the reminder timer's start as read
    std::string request;
    std::string engineer;
    std::string description;
    std::string partner;
    std::string partner_name;
    std::string fourth;
  };
  struct Template {
    std::string subject;
    std::string body;
    std::string hyperlink;
    std::string from;
  };
  struct Settings;
  class Run;

  // Fills `list` with the members of `role` (31 adds 38, 35 adds 39, when the first role has
  // members). Failures are logged and leave what was stored.
  void GetListOfHeliqroles(int32_t role, RoleList& list);
  // The text of DATALABEL `text_id` for `locale`, "" when there is none.
  std::string GetDataLabelText(std::string_view text_id, int32_t locale);
  // Order by login without regard to case, then request number as text (stable).
  void SortEngineerRows(std::vector<Row>& rows);
  void SortSupervisorRows(std::vector<Row>& rows);
  // The bound directory members object, or nullptr (the failure is logged).
  std::unique_ptr<MembershipMembers> getMembersObject();

  // Sends and, when that fails, logs the recipients and the request numbers of the table. True
  // when the mailer took the message.
  bool Deliver(std::string_view from, std::string_view recipients, std::string_view subject,
               std::string_view body, const std::vector<const Row*>& rows);
  // The partner name of a row's partner number text, remembered for the run.
  const std::string& PartnerName(const std::string& partner);
  const std::string& OriginatorPartner(const std::string& originator);

  std::unique_ptr<EscalationMailer> mailer_;
  std::unique_ptr<MembershipMembers> members_;
  std::map<std::string, std::string> originator_partners_;
  std::map<std::string, std::string> partner_names_;
};

// Registers the "HeliqProcessMTS.SolveOnNoResponse" component.
void RegisterSolveOnNoResponseComponent();

}  // namespace heliq

#endif  // HELIQ_SERVICEPROCESS_SOLVE_ON_NO_RESPONSE_H_
