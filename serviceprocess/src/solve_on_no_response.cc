#include "serviceprocess/solve_on_no_response.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <exception>
#include <iostream>
#include <optional>
#include <utility>

#include "common/files_and_texts.h"
#include "common/heliq_utilities.h"
#include "common/lookups.h"
#include "common/mail_outbox.h"
#include "platform/com_error.h"
#include "platform/component.h"
#include "platform/connection.h"
#include "platform/log.h"
#include "platform/mail.h"
#include "platform/text.h"

namespace heliq {
namespace {

constexpr std::string_view kMembersSource = "HlqServiceProcess.Solveonnoresponse.getMembersObject";
constexpr std::string_view kRolesSource = "HlqServiceProcess.Solveonnoresponse.GetListOfHeliqroles";
constexpr std::string_view kSendSource = "HlqServiceProcess.Solveonnoresponse.SendEscalaltionMail";

constexpr std::string_view kSelectSettings =
    "Select PARAM_NAME, PARAM_VALUE from PARAMETERS where PARAM_NAME = ? or PARAM_NAME = ? or "
    "PARAM_NAME = ? or PARAM_NAME = ? or PARAM_NAME = ? or PARAM_NAME = ? or PARAM_NAME = ? or "
    "PARAM_NAME = ? or PARAM_NAME = ? ";
// The keys as the query asks for them; the database matches names without regard to case, and
// the rows are then told apart by their stored spelling (kSettingKeys).
constexpr std::string_view kQueriedSettings[] = {
    "BackOfficeApplication",     "Escalation_mail",           "MaxHours_Registered",
    "MaxHours_Assigned",         "Maxhours_ScQueue",          "Maxhours_SCEassigned",
    "Dispatcher_EscalationMail", "Supervisor_EscalationMail", "Engineer_EscalationMail"};

// The template query is this head, one filter term per mail type wanted (the last " OR " cut
// off) and the tail.
constexpr std::string_view kSelectTemplatesHead =
    "SELECT Mail_Id,Mail_Type,Mail_Subject, Mail_Body,Mail_Hyperlink, Mail_From From EMAIL WHERE ";
constexpr std::string_view kTemplateTerm = "(Mail_Type =?) OR ";
constexpr std::string_view kSelectTemplatesTail = "ORDER BY Mail_Id";

constexpr std::string_view kSelectDataLabel =
    "Select TEXT From DATALABEL where LOCALEID = ? and TEXTID = ?";

constexpr std::string_view kSelectLabels =
    "SELECT LOCALEID, TEXT, LABEL From I18NTEXT WHERE (LOCALEID = ? ) AND ((LABEL = ?) OR "
    "(LABEL = ?) OR(LABEL = ?) OR (LABEL = ?) OR (LABEL = ?)OR (LABEL = ?) OR (LABEL = ?)) "
    "ORDER BY LOCALEID, LABEL";
// The escalation label texts by position: the labels in ascending order.
constexpr std::string_view kLabels[] = {"HQLBL3045", "HQLBL3189", "HQLBL3193", "HQLBL3207",
                                        "HQLBL3208", "HQLBL3319", "HQLBL4140"};
// The labels as the query names them; the database matches them without regard to case.
constexpr std::string_view kQueriedLabels[] = {"hqlbl3189", "hqlbl3045", "hqlbl3193", "hqlbl3319",
                                               "hqlbl4140", "hqlbl3207", "hqlbl3208"};
constexpr size_t kDescriptionTitle = 0;
constexpr size_t kRequestTitle = 1;
constexpr size_t kPriorityTitle = 2;
constexpr size_t kVisitYes = 3;
constexpr size_t kVisitNo = 4;
constexpr size_t kCustomerTitle = 5;
constexpr size_t kVisitTitle = 6;

constexpr std::string_view kSelectCandidates =
    "SELECT QUESTIONS.Q_ID,QUESTIONS.D_DIRECT_TO,QUESTIONS.Q_PRIORITY,QUESTIONS.Q_DESC,"
    "QUESTIONS.CENTER ,REMINDER.Q_ID as REMINDERQID, QUESTIONS.Q_ORIGINATOR,"
    "QUESTIONS.OSVREQUESTED, REMINDER.R_STATUS,REMINDER.T1_DATE FROM QUESTIONS INNER JOIN "
    "REMINDER ON  QUESTIONS.Q_ID = REMINDER.Q_ID Where (REMINDER.T1_DATE IS NOT NULL) AND ("
    "(REMINDER.R_STATUS=?) OR (REMINDER.R_STATUS=?) OR (REMINDER.R_STATUS=?) OR "
    "(REMINDER.R_STATUS=?) OR (REMINDER.R_STATUS=?) OR (REMINDER.R_STATUS=?) OR "
    "(REMINDER.R_STATUS=?) OR (REMINDER.R_STATUS=?) OR (REMINDER.R_STATUS=?) OR "
    "(REMINDER.R_STATUS=?) OR (REMINDER.R_STATUS=?) OR (REMINDER.R_STATUS=?) OR "
    "(REMINDER.R_STATUS=?) OR (REMINDER.R_STATUS=?) OR (REMINDER.R_STATUS=?)) "
    "ORDER BY QUESTIONS.Q_ID";
constexpr std::string_view kWatchedStatuses[] = {"5",  "10", "15", "20", "25", "30", "35", "40",
                                                 "45", "50", "55", "85", "90", "95", "155"};

// Timers are cleared by request number lists. A list is padded (repeating its last number) to a
// power of two up to kClearBatch, so a run prepares at most a handful of statement texts however
// many requests it clears. A timer restarted by a status change after the run read it (possible
// where readers do not wait for the run, as on PostgreSQL) starts later than every timer the run
// read, so the time condition keeps it running. The condition compares whole seconds in the
// form the run read them: a timer stored with a fraction of a second, or (on SQLite, where a
// timestamp is text) with a "T" between date and time, is cleared like any other.
constexpr std::string_view kClearTimersHeadSqlite =
    "UPDATE REMINDER SET T1_DATE= NULL WHERE datetime(T1_DATE) <= ? AND Q_ID IN (";
constexpr std::string_view kClearTimersHeadPostgres =
    "UPDATE REMINDER SET T1_DATE= NULL WHERE date_trunc('second', T1_DATE) <= ? AND Q_ID IN (";
constexpr size_t kClearBatch = 512;
// When the run mailed about a request, for the supervisor; the same padded lists (a repeated
// number selects its row once).
// PostgreSQL cannot tell the type of a parameter in a select list: it is named.
constexpr std::string_view kRecordEscalatedHeadSqlite =
    "INSERT INTO ESCALATIONS (Q_ID, ESCALATED) SELECT Q_ID, ? FROM QUESTIONS WHERE Q_ID IN (";
constexpr std::string_view kRecordEscalatedHeadPostgres =
    "INSERT INTO ESCALATIONS (Q_ID, ESCALATED) SELECT Q_ID, CAST(? AS TIMESTAMP) FROM QUESTIONS "
    "WHERE Q_ID IN (";
constexpr std::string_view kRecordEscalatedTail =
    ") ON CONFLICT (Q_ID) DO UPDATE SET ESCALATED = excluded.ESCALATED";

constexpr std::string_view kCrLf = "\r\n";
constexpr int32_t kDispatcherMail = 29;
constexpr int32_t kEngineerMail = 30;
constexpr int32_t kSupervisorMail = 31;

std::string TrimmedText(const Variant& value) {
  return std::string(TrimSpace(value.ToTextOrEmpty()));
}

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

std::string Spaces(size_t count) { return std::string(count, ' '); }

// Characters, not bytes: a name with accents pads like one without.
size_t CharacterCount(std::string_view text) {
  return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

// `text` padded with blanks to `width` characters; never cut.
std::string Padded(std::string_view text, size_t width) {
  const size_t length = CharacterCount(text);
  return std::string(text) + (length < width ? Spaces(width - length) : std::string());
}

// A plain table line; an indented one (supervisor table) starts 32 columns in. The request
// number is not padded: exactly 13 blanks follow it.
std::string TableLine(const std::string& request, const std::string& partner_name,
                      const std::string& fourth, const std::string& description, bool indented) {
  return std::string(kCrLf) + (indented ? Spaces(32) : std::string()) + request + Spaces(13) +
         Padded(partner_name, 34) + Padded(fourth, 10) + description;
}

const std::string& LabelAt(const std::vector<std::string>& labels, size_t position) {
  if (position >= labels.size()) {
    throw ComError(err::kSubscriptOutOfRange, "HeliqProcessMTS.SolveOnNoResponse.Setheaders",
                   "label position " + std::to_string(position) + " is beyond the " +
                       std::to_string(labels.size()) + " label texts given");
  }
  return labels[position];
}

// A whole number that fits 32 bits, else nothing.
std::optional<int32_t> WholeNumber(std::string_view text) {
  text = TrimSpace(text);
  int32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
    return std::nullopt;
  }
  return value;
}

// The addresses of a ";"-separated recipient text, blanks dropped.
std::vector<std::string> SplitAddresses(std::string_view recipients) {
  std::vector<std::string> addresses;
  while (!recipients.empty()) {
    const size_t end = recipients.find(';');
    const std::string_view address = TrimSpace(recipients.substr(0, end));
    if (!address.empty()) addresses.emplace_back(address);
    if (end == std::string_view::npos) break;
    recipients.remove_prefix(end + 1);
  }
  return addresses;
}

// One log entry per recipient left out of a mail; `requests` lists the mail's request numbers.
// A log that fails goes to standard error: it must not stop the mail to the others.
void LogRefusedRecipient(const std::string& problem, const std::string& requests) {
  std::string text = std::string(kSendSource) + " left out a recipient: " + problem + ".";
  if (!requests.empty()) text += " requests:" + requests;
  try {
    auto log = ComponentAs<Log>(ComponentRegistry::Global().Create(kLogClassId), kLogClassId);
    log->LogEvent(kSendSource, text, 0, Variant());
  } catch (...) {
    std::cerr << RedactSecrets(text) << std::endl;
  }
}

std::string AddressList(const RoleList& members) {
  std::string out;
  for (const auto& member : members) out += member[1] + ";";
  return out;
}

int Column(const ResultSet& result, std::string_view name) {
  const int index = result.ColumnIndex(name);
  if (index < 0) {
    throw ComError(err::kItemNotFound, "HeliqProcessMTS.SolveOnNoResponse",
                   "the result has no column " + std::string(name));
  }
  return index;
}

class OutboxMailer final : public EscalationMailer {
 public:
  void Send(const MailMessage& message) override { EnqueueMail(message); }
};

}  // namespace

std::unique_ptr<EscalationMailer> MakePlatformMailer() { return std::make_unique<OutboxMailer>(); }

// The run settings; a setting without a row stays 0.
struct SolveOnNoResponse::Settings {
  int32_t back_office = 0;
  int32_t escalation = 0;
  int32_t hours_registered = 0;
  int32_t hours_assigned = 0;
  int32_t hours_queue = 0;
  int32_t hours_support_assigned = 0;
  int32_t dispatcher = 0;
  int32_t supervisor = 0;
  int32_t engineer = 0;

  bool dispatchers_or_supervisors() const { return dispatcher == 1 || supervisor == 1; }
  bool engineers_or_supervisors() const { return engineer == 1 || supervisor == 1; }

  // Takes one PARAMETERS row: the trimmed name chooses the setting, with case.
  void Take(std::string_view name, const Variant& value) {
    struct Key {
      std::string_view name;
      int32_t Settings::*field;
    };
    static constexpr Key kKeys[] = {
        {"BackOfficeApplication", &Settings::back_office},
        {"Escalation_mail", &Settings::escalation},
        {"MaxHours_Registered", &Settings::hours_registered},
        {"MaxHours_Assigned", &Settings::hours_assigned},
        {"MaxHours_SCQueue", &Settings::hours_queue},
        {"MaxHours_SCEAssigned", &Settings::hours_support_assigned},
        {"Dispatcher_EscalationMail", &Settings::dispatcher},
        {"Supervisor_EscalationMail", &Settings::supervisor},
        {"Engineer_EscalationMail", &Settings::engineer},
    };
    name = TrimSpace(name);
    for (const Key& key : kKeys) {
      if (key.name == name) this->*key.field = value.ToLong();
    }
  }
};

// One escalation run. Holds the run's lists; the owner holds the directory object and the
// lookups remembered for the run, and both are dropped when the run ends, however it ends.
class SolveOnNoResponse::Run {
 public:
  explicit Run(SolveOnNoResponse& owner) : owner_(owner) {}
  ~Run() {
    owner_.members_.reset();
    owner_.originator_partners_.clear();
    owner_.partner_names_.clear();
  }
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  void Execute() {
    const DateTime now = GetCurrentDateTime();
    now_ = now;
    connection_ = GetHeliqConnection();
    ReadSettings();
    if (settings_.escalation != 1) return;
    owner_.members_ = owner_.getMembersObject();
    if (settings_.dispatcher != 1 && settings_.engineer != 1 && settings_.supervisor != 1) return;
    const int32_t language = GetDefaultLanguage().ToLong();
    ReadRoleLists();
    ReadTemplates(language);
    if (!ReadLabels(language)) return;
    if (!SelectOverdue(now)) return;
    MailDispatchers();
    MailEngineers(call_centre_rows_, call_centre_engineers_);
    MailEngineers(support_centre_rows_, support_centre_engineers_);
    MailSupervisors();
    CloseConnection(connection_);
  }

 private:
  void ReadSettings() {
    Params params(std::begin(kQueriedSettings), std::end(kQueriedSettings));
    const ResultSet result = connection_->Query(kSelectSettings, params);
    const int name = Column(result, "PARAM_NAME");
    const int value = Column(result, "PARAM_VALUE");
    for (const auto& row : result.rows) settings_.Take(row[name].ToTextOrEmpty(), row[value]);
  }

  // The role lists and the template filter. The supervisors are the same members whichever
  // audience asks for them, so they are read once.
  void ReadRoleLists() {
    auto want = [&](int32_t mail_type) {
      template_filter_ += kTemplateTerm;
      template_types_.emplace_back(mail_type);
    };
    bool supervisors_read = false;
    auto read_supervisors = [&] {
      if (!supervisors_read) owner_.GetListOfHeliqroles(kRoleSupervisors, supervisors_);
      supervisors_read = true;
    };
    if (settings_.dispatchers_or_supervisors()) {
      owner_.GetListOfHeliqroles(kRoleDispatchers, dispatchers_);
      want(kDispatcherMail);
      read_supervisors();
      want(kSupervisorMail);
    }
    if (settings_.engineers_or_supervisors()) {
      owner_.GetListOfHeliqroles(kRoleCallCentreEngineers, call_centre_engineers_);
      owner_.GetListOfHeliqroles(kRoleSupportCentreEngineers, support_centre_engineers_);
      want(kEngineerMail);
      read_supervisors();
      want(kSupervisorMail);
    }
    template_filter_.resize(template_filter_.size() - 3);  // the last "OR "
  }

  // A later row of a type overwrites an earlier one: the highest Mail_Id wins.
  void ReadTemplates(int32_t language) {
    const std::string sql =
        std::string(kSelectTemplatesHead) + template_filter_ + std::string(kSelectTemplatesTail);
    const ResultSet result = connection_->Query(sql, template_types_);
    const int type = Column(result, "Mail_Type");
    const int subject = Column(result, "Mail_Subject");
    const int body = Column(result, "Mail_Body");
    const int hyperlink = Column(result, "Mail_Hyperlink");
    const int from = Column(result, "Mail_From");
    for (const auto& row : result.rows) {
      const std::optional<int32_t> mail_type = WholeNumber(row[type].ToTextOrEmpty());
      Template* target = mail_type ? TemplateOf(*mail_type) : nullptr;
      if (target == nullptr) continue;
      target->subject = owner_.GetDataLabelText(row[subject].ToTextOrEmpty(), language);
      target->body = owner_.GetDataLabelText(row[body].ToTextOrEmpty(), language);
      target->hyperlink = TrimmedText(row[hyperlink]);
      target->from = TrimmedText(row[from]);
    }
  }

  Template* TemplateOf(int32_t mail_type) {
    switch (mail_type) {
      case kDispatcherMail:
        return &dispatcher_template_;
      case kEngineerMail:
        return &engineer_template_;
      case kSupervisorMail:
        return &supervisor_template_;
      default:
        return nullptr;
    }
  }

  // Each label's text goes to the label's own position; a label without a text for the
  // language shows as its code. No text at all for the language: nothing to escalate with.
  bool ReadLabels(int32_t language) {
    Params params{Variant(language)};
    params.insert(params.end(), std::begin(kQueriedLabels), std::end(kQueriedLabels));
    const ResultSet result = connection_->Query(kSelectLabels, params);
    if (result.rows.empty()) return false;
    labels_.assign(std::begin(kLabels), std::end(kLabels));
    const int text = Column(result, "TEXT");
    const int label = Column(result, "LABEL");
    for (const auto& row : result.rows) {
      const std::string code = TrimmedText(row[label]);
      for (size_t i = 0; i < std::size(kLabels); ++i) {
        if (EqualsIgnoreCase(code, kLabels[i])) labels_[i] = TrimmedText(row[text]);
      }
    }
    return true;
  }

  // Sorts every candidate into its list when it is overdue (see Classify). False when there is
  // no candidate at all.
  bool SelectOverdue(const DateTime& now) {
    const ResultSet result = connection_->Query(
        kSelectCandidates, Params(std::begin(kWatchedStatuses), std::end(kWatchedStatuses)));
    if (result.rows.empty()) return false;
    const Columns columns{Column(result, "Q_ID"),         Column(result, "D_DIRECT_TO"),
                          Column(result, "Q_PRIORITY"),   Column(result, "Q_DESC"),
                          Column(result, "CENTER"),       Column(result, "Q_ORIGINATOR"),
                          Column(result, "OSVREQUESTED"), Column(result, "R_STATUS"),
                          Column(result, "T1_DATE")};
    const int64_t now_seconds = now.ToEpochSeconds();
    for (const auto& row : result.rows) Classify(row, columns, now_seconds);
    return true;
  }

  struct Columns {
    int id, engineer, priority, description, center, originator, visit, status, started;
  };
  enum class Target { kDispatchers, kCallCentreEngineers, kSupportCentreEngineers };

  void Classify(const std::vector<Variant>& row, const Columns& columns, int64_t now_seconds) {
    const Variant& center_value = row[columns.center];
    if (center_value.IsNull()) return;  // no centre: nobody to escalate to
    const int32_t center = center_value.ToLong();
    const std::string engineer = TrimmedText(row[columns.engineer]);
    bool call_centre = true;
    Target target = Target::kDispatchers;
    int32_t hours = 0;
    if (center == 1 || center == 3) {
      if (!engineer.empty()) {
        if (!settings_.engineers_or_supervisors()) return;
        target = Target::kCallCentreEngineers;
        hours = settings_.hours_assigned;
      } else {
        if (!settings_.dispatchers_or_supervisors()) return;
        target = Target::kDispatchers;
        hours = settings_.hours_registered;
      }
    } else if (center == 2) {
      call_centre = false;
      if (!engineer.empty() && TrimmedText(row[columns.status]) != "5") {
        if (!settings_.engineers_or_supervisors()) return;
        target = Target::kSupportCentreEngineers;
        hours = settings_.hours_support_assigned;
      } else {
        if (!settings_.dispatchers_or_supervisors()) return;
        target = Target::kDispatchers;
        hours = settings_.hours_queue;
      }
    } else {
      return;
    }
    // Overdue when the deadline lies strictly before now, to the second.
    const DateTime started = row[columns.started].ToDate();
    const int64_t deadline = started.ToEpochSeconds() + static_cast<int64_t>(hours) * 3600;
    if (deadline >= now_seconds) return;

    Row entry;
    entry.id = row[columns.id].ToLong();
    entry.started = started;
    entry.request = TrimmedText(row[columns.id]);
    if (target != Target::kDispatchers) entry.engineer = engineer;
    entry.description = TrimmedText(row[columns.description]);
    entry.partner = owner_.OriginatorPartner(TrimmedText(row[columns.originator]));
    entry.partner_name = owner_.PartnerName(entry.partner);
    entry.fourth = FourthColumn(row, columns, call_centre, target == Target::kDispatchers);
    switch (target) {
      case Target::kDispatchers:
        dispatcher_rows_.push_back(std::move(entry));
        break;
      case Target::kCallCentreEngineers:
        call_centre_rows_.push_back(std::move(entry));
        break;
      case Target::kSupportCentreEngineers:
        support_centre_rows_.push_back(std::move(entry));
        break;
    }
  }

  // On-site-visit word (Mk4, call centre only), priority (Mk5, Mk6) or nothing.
  std::string FourthColumn(const std::vector<Variant>& row, const Columns& columns,
                           bool call_centre, bool dispatcher_list) const {
    switch (settings_.back_office) {
      case 1: {
        const Variant& visit = row[columns.visit];
        if (!call_centre || visit.IsNull()) return "";
        return labels_[visit.ToBool() ? kVisitYes : kVisitNo];
      }
      case 3:
      case 8: {
        const Variant& priority = row[columns.priority];
        if (priority.IsNull()) return call_centre && dispatcher_list ? " " : "";
        return TrimmedText(priority);
      }
      default:
        return "";
    }
  }

  std::string Header(int32_t type) {
    return owner_.Setheaders(labels_, settings_.back_office, type);
  }

  static std::string Body(const Template& mail, const std::string& table) {
    return mail.body + std::string(kCrLf) + table + std::string(kCrLf) + std::string(kCrLf) +
           mail.hyperlink;
  }

  void MailDispatchers() {
    if (dispatcher_rows_.empty()) return;
    std::string table = Header(0);
    std::vector<const Row*> mailed;
    for (const Row& row : dispatcher_rows_) {
      table += TableLine(row.request, row.partner_name, row.fourth, row.description, false);
      mailed.push_back(&row);
    }
    std::string recipients;
    if (settings_.dispatcher == 1) recipients += AddressList(dispatchers_);
    if (settings_.supervisor == 1) recipients += AddressList(supervisors_);
    Mail(dispatcher_template_, recipients, table, mailed);
  }

  // One mail per engineer (rows grouped by their exact login after sorting), when engineer
  // mails are on; the rows join the supervisor list in every case.
  void MailEngineers(std::vector<Row>& rows, const RoleList& engineers) {
    if (rows.empty()) return;
    owner_.SortEngineerRows(rows);
    const bool mail_engineers = settings_.engineer == 1;
    std::string table = Header(0);
    std::vector<const Row*> group;
    auto mail_group = [&] {
      const std::string address = owner_.GetMaildidOFEngineer(engineers, group.back()->engineer);
      Mail(engineer_template_, address, table, group);
    };
    for (const Row& row : rows) {
      if (!group.empty() && row.engineer != group.back()->engineer && mail_engineers) {
        mail_group();
        table = Header(0);
        group.clear();
      }
      table += TableLine(row.request, row.partner_name, row.fourth, row.description, false);
      supervisor_rows_.push_back(row);
      group.push_back(&row);
    }
    if (mail_engineers) mail_group();
  }

  void MailSupervisors() {
    if (settings_.supervisor != 1 || supervisor_rows_.empty()) return;
    std::string table = Header(1);
    owner_.SortSupervisorRows(supervisor_rows_);
    std::vector<const Row*> mailed;
    for (const Row& row : supervisor_rows_) {
      if (mailed.empty() || row.engineer != mailed.back()->engineer) {
        if (!mailed.empty()) table += kCrLf;
        table += row.engineer;
      }
      table += TableLine(row.request, row.partner_name, row.fourth, row.description, true);
      mailed.push_back(&row);
    }
    Mail(supervisor_template_, AddressList(supervisors_), table, mailed);
  }

  // Writes the mail to the outbox (a failure is logged by Deliver), clears the timers of the
  // mailed requests and, when the mail was written, records them as escalated now.
  void Mail(const Template& mail, const std::string& recipients, const std::string& table,
            const std::vector<const Row*>& rows) {
    const bool written =
        owner_.Deliver(mail.from, recipients, mail.subject, Body(mail, table), rows);
    CommitContext();
    ClearTimers(rows, written);
  }

  void ClearTimers(const std::vector<const Row*>& rows, bool record_escalated) {
    for (size_t start = 0; start < rows.size(); start += kClearBatch) {
      const size_t count = std::min(kClearBatch, rows.size() - start);
      size_t width = 1;
      while (width < count) width *= 2;
      DateTime latest = rows[start]->started;
      for (size_t i = start; i < start + count; ++i) latest = std::max(latest, rows[i]->started);
      Params params{Variant(latest)};
      params.reserve(width + 1);
      for (size_t i = 0; i < width; ++i) {
        params.emplace_back(rows[start + std::min(i, count - 1)]->id);
      }
      const bool sqlite = connection_->dialect() == Dialect::kSqlite;
      const std::string list = Placeholders(width);
      connection_->Execute(
          std::string(sqlite ? kClearTimersHeadSqlite : kClearTimersHeadPostgres) + list + ")",
          params);
      if (record_escalated) {
        params[0] = Variant(now_);
        connection_->Execute(
            std::string(sqlite ? kRecordEscalatedHeadSqlite : kRecordEscalatedHeadPostgres) + list +
                std::string(kRecordEscalatedTail),
            params);
      }
    }
  }

  static std::string Placeholders(size_t width) {
    std::string list;
    for (size_t i = 0; i < width; ++i) list += i == 0 ? "?" : ",?";
    return list;
  }

  SolveOnNoResponse& owner_;
  std::unique_ptr<Connection> connection_;
  DateTime now_;
  Settings settings_;
  RoleList dispatchers_, supervisors_, call_centre_engineers_, support_centre_engineers_;
  std::string template_filter_;
  Params template_types_;
  Template dispatcher_template_, engineer_template_, supervisor_template_;
  std::vector<std::string> labels_;
  std::vector<Row> dispatcher_rows_, call_centre_rows_, support_centre_rows_, supervisor_rows_;
};

SolveOnNoResponse::SolveOnNoResponse(std::unique_ptr<EscalationMailer> mailer)
    : mailer_(mailer ? std::move(mailer) : MakePlatformMailer()) {}

SolveOnNoResponse::~SolveOnNoResponse() = default;

void SolveOnNoResponse::SendingEscalationMails() {
  Run run(*this);
  run.Execute();
}

std::string SolveOnNoResponse::GetBPIDOFOriginator(std::string_view originator_id) {
  try {
    const std::unique_ptr<MembershipUser> user = GetUserFromID(originator_id);
    return user ? user->BusinessPartnerId() : std::string();
  } catch (...) {
    return "";
  }
}

std::string SolveOnNoResponse::Setheaders(const std::vector<std::string>& labels,
                                          int32_t back_office_application, int32_t header_type) {
  std::string title;
  std::string ruler;
  if (back_office_application == 1) {
    title = LabelAt(labels, kVisitTitle) + Spaces(2);
    ruler = std::string(12, '-') + Spaces(2);
  } else if (back_office_application == 3 || back_office_application == 8) {
    title = LabelAt(labels, kPriorityTitle) + Spaces(2);
    ruler = std::string(8, '-') + Spaces(2);
  } else {
    title = Spaces(8);
    ruler = Spaces(8);
  }
  const std::string columns = LabelAt(labels, kRequestTitle) + Spaces(2) +
                              LabelAt(labels, kCustomerTitle) + Spaces(17) + title +
                              LabelAt(labels, kDescriptionTitle);
  const std::string crlf(kCrLf);
  if (header_type == 0) {
    return columns + crlf + crlf + std::string(15, '-') + Spaces(2) + std::string(17, '-') +
           Spaces(16) + ruler + std::string(8, '-') + crlf;
  }
  return "Login" + Spaces(27) + columns + crlf + crlf + std::string(5, '-') + Spaces(27) +
         std::string(15, '-') + Spaces(2) + std::string(17, '-') + Spaces(17) + ruler +
         std::string(8, '-') + crlf;
}

std::string SolveOnNoResponse::GetBPNameofBPID(int32_t bp_id) {
  if (bp_id == 0) return "";
  try {
    return GetComponentAs<BusinessPartner>(kBusinessPartnerClassId)->GetBusinessPartnerName(bp_id);
  } catch (...) {
    return "";
  }
}

void SolveOnNoResponse::SendEscalaltionMail(std::string_view from, std::string_view recipients,
                                            std::string_view subject, std::string_view body) {
  Deliver(from, recipients, subject, body, {});
}

bool SolveOnNoResponse::Deliver(std::string_view from, std::string_view recipients,
                                std::string_view subject, std::string_view body,
                                const std::vector<const Row*>& rows) {
  std::string requests;
  for (const Row* row : rows) requests += " " + row->request;
  try {
    MailMessage message;
    message.from = std::string(from);
    // One bad address (a directory user's mail "not-an-address") must not cost the others their
    // mail: it is left out and logged with the requests its owner does not hear of.
    for (std::string& address : SplitAddresses(recipients)) {
      if (const auto problem = MailAddressProblem(address)) {
        LogRefusedRecipient(*problem, requests);
      } else {
        message.to.push_back(std::move(address));
      }
    }
    message.subject = std::string(subject);
    message.body = std::string(body);
    // A mail without (valid) recipients is still handed on: the transport refuses it, and whoever
    // watches the transport sees the escalation that reached nobody.
    mailer_->Send(message);
    return true;
  } catch (...) {
    // The timers of these requests are cleared all the same: the entry is what tells an
    // administrator which requests were escalated without anybody hearing of it.
    std::string info = "recipients: \"" + std::string(recipients) + "\"";
    if (!requests.empty()) info += ", requests:" + requests;
    WriteErrorLog(kSendSource, info);
    return false;
  }
}

std::string SolveOnNoResponse::GetMaildidOFEngineer(const RoleList& members,
                                                    std::string_view login) {
  const std::string wanted = Upper(TrimSpace(login));
  if (wanted.empty()) return "";
  for (const RoleMember& member : members) {
    if (Upper(TrimSpace(member[2])) == wanted) return std::string(TrimSpace(member[1]));
  }
  return "";
}

std::string SolveOnNoResponse::SQLEncodeDateTimeforEscalations(const DateTime& value) {
  return value.ToText();
}

void SolveOnNoResponse::GetListOfHeliqroles(int32_t role, RoleList& list) {
  list.clear();
  try {
    if (!members_) {
      throw ComError(err::kInvalidProcedureCall, std::string(kMembershipMembersClassId),
                     "no directory members object is bound");
    }
    auto append = [&](int32_t which) {
      const MemberTable table = members_->ListRoleMembers(which, "givenname,sn");
      for (int32_t row = 0; row < table.row_count(); ++row) {
        RoleMember member;
        for (size_t field = 0; field < member.size(); ++field) {
          member[field] = std::string(TrimSpace(table.Value(static_cast<size_t>(row), field)));
        }
        list.push_back(std::move(member));
      }
      return table.row_count();
    };
    if (append(role) > 0) {
      if (role == kRoleDispatchers) append(kRoleFurtherDispatchers);
      if (role == kRoleSupervisors) append(kRoleFurtherSupervisors);
    }
  } catch (...) {
    WriteErrorLog(kRolesSource, std::nullopt);
  }
}

std::string SolveOnNoResponse::GetDataLabelText(std::string_view text_id, int32_t locale) {
  auto connection = GetHeliqConnection();
  const Variant text =
      connection->QueryValue(kSelectDataLabel, {Variant(locale), Variant(text_id)});
  CloseConnection(connection);
  return text.ToTextOrEmpty();
}

void SolveOnNoResponse::SortEngineerRows(std::vector<Row>& rows) {
  // Keys are computed once per row, not once per comparison.
  std::vector<std::pair<std::pair<std::string, std::string>, size_t>> keys;
  keys.reserve(rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    keys.push_back(
        {{Upper(TrimSpace(rows[i].engineer)), std::string(TrimSpace(rows[i].request))}, i});
  }
  std::stable_sort(keys.begin(), keys.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<Row> sorted;
  sorted.reserve(rows.size());
  for (const auto& key : keys) sorted.push_back(std::move(rows[key.second]));
  rows = std::move(sorted);
}

void SolveOnNoResponse::SortSupervisorRows(std::vector<Row>& rows) { SortEngineerRows(rows); }

std::unique_ptr<MembershipMembers> SolveOnNoResponse::getMembersObject() {
  // Called while a failure is being handled, a failure here is the caller's to see.
  if (std::current_exception()) return BindDirectoryMembers();
  try {
    return BindDirectoryMembers();
  } catch (...) {
    WriteErrorLog(kMembersSource, std::nullopt);
    return nullptr;
  }
}

const std::string& SolveOnNoResponse::OriginatorPartner(const std::string& originator) {
  auto found = originator_partners_.find(originator);
  if (found == originator_partners_.end()) {
    found = originator_partners_.emplace(originator, GetBPIDOFOriginator(originator)).first;
  }
  return found->second;
}

const std::string& SolveOnNoResponse::PartnerName(const std::string& partner) {
  auto found = partner_names_.find(partner);
  if (found == partner_names_.end()) {
    // An empty or non-numeric number counts as 0: no partner.
    const int32_t id = WholeNumber(partner).value_or(0);
    found = partner_names_.emplace(partner, GetBPNameofBPID(id)).first;
  }
  return found->second;
}

void RegisterSolveOnNoResponseComponent() {
  ComponentRegistry::Global().Register(kSolveOnNoResponseClassId,
                                       [] { return std::make_unique<SolveOnNoResponse>(); });
}

}  // namespace heliq
