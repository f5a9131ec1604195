#include "adminutility/core/master_data_sync.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

#include "common/files_and_texts.h"
#include "common/heliq_utilities.h"
#include "common/lookups.h"
#include "common/master_data_audit.h"
#include "platform/com_error.h"
#include "platform/connection.h"

namespace heliq::admin {
namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kSource = "HeliqAdminUtility.MDSynch";

// One lookup and one deletion per table, by its key. The lookup is opened for update: a new row
// is added to it and an existing row's columns are written through it.
constexpr std::string_view kSelectPriority = "Select * from PRIORITY where PRIORITY = ?";
constexpr std::string_view kDeletePriority = "delete from PRIORITY where PRIORITY = ?";
constexpr std::string_view kSelectProblem = "Select * from PROBLEM where PROBLEM = ?";
constexpr std::string_view kDeleteProblem = "delete from PROBLEM where PROBLEM = ?";
constexpr std::string_view kSelectSymptom = "Select * from SYMPTOM where SYMPTOM = ?";
constexpr std::string_view kDeleteSymptom = "delete from SYMPTOM where SYMPTOM = ?";
constexpr std::string_view kSelectSite = "Select * from SITE where SITE = ?";
constexpr std::string_view kDeleteSite = "delete from SITE where SITE = ?";
constexpr std::string_view kSelectObject =
    "Select * from OBJECT where SITE = ? and OBJECT = ? and OBJECTNR = ?";
constexpr std::string_view kDeleteObject =
    "delete from OBJECT where SITE = ? and OBJECT = ? and OBJECTNR = ?";
constexpr std::string_view kSelectProduct = "Select * from PRODUCT where PRODUCT = ?";
constexpr std::string_view kDeleteProduct = "delete from PRODUCT where PRODUCT = ?";

// The range of one key field asked of the audit reader: numbers from..to, or every text key (the
// empty text to ten characters of code 127).
struct KeyRange {
  std::string_view field;
  bool text = true;
  int32_t from = 0;
  int32_t to = 0;
};

struct KeyColumn {
  std::string_view column;
  std::string_view getter;
  bool number = false;
};

// A column written from the business object. On update it is written only when its has-test is
// true.
struct WrittenColumn {
  std::string_view column;
  std::string_view getter;
  std::string_view has_test;
};

struct Member {
  std::string_view name;   // in failure sources: HeliqAdminUtility.MDSynch.<name>
  std::string_view table;  // also the log's "<table> TABLE:"
  std::string_view manager_id;
  std::string_view object_id;
  std::vector<KeyRange> ranges;
  std::vector<std::string_view> output_fields;
  std::string_view select_sql;
  std::string_view delete_sql;
  std::vector<KeyColumn> keys;
  std::vector<WrittenColumn> columns;
  std::string_view no_data_text;  // empty: the member logs its counts even without data
  bool log_skipped = true;
};

struct Generation {
  std::string_view name;
  std::string_view parameter_type;  // PARAM_TYPE of its LastSynchronizedDate
  std::string_view no_component_text;
  // Mk4 record statuses must be retrieved before they are asked, and are asked inserted, deleted,
  // updated; Mk5 ones are asked inserted, updated, deleted.
  bool retrieve_status = false;
  std::vector<Member> members;
};

const Generation& GenerationOf(SyncGeneration generation) {
  static const Generation mk5{
      "Mk5",
      "3",
      "The system cannot get a VIS Component; maintain a valid VIS Rule or \r\na default VIS "
      "Component",
      false,
      {
          {"Mk5Priorities",
           "PRIORITY",
           kMk5PrioritiesManagerId,
           kMk5PrioritiesId,
           {{"prio", false, 1, 99}},
           {"prio", "dsca"},
           kSelectPriority,
           kDeletePriority,
           {{"PRIORITY", "getPriority", true}},
           {{"DESCRIPTION", "getDescription", "hasDescription"}},
           "PRIORITY TABLE: No data to synchronize"},
          {"Mk5Problems",
           "PROBLEM",
           kMk5ProblemsManagerId,
           kMk5ProblemsId,
           {{"cprl"}},
           {"cprl", "desc", "cltp"},
           kSelectProblem,
           kDeleteProblem,
           {{"PROBLEM", "getProblem"}},
           {{"DESCRIPTION", "getDescription", "hasDescription"},
            {"CALLTYPE", "getCallType", "hasCallType"}},
           "PROBLEM TABLE: No Data to synchronize"},
          {"Mk5Configurations",
           "SITE",
           kMk5ConfigurationsManagerId,
           kMk5ConfigurationsId,
           {{"ccfg"}},
           {"ccfg", "desc", "ofbp"},
           kSelectSite,
           kDeleteSite,
           {{"SITE", "getconfiguration"}},
           {{"DESCRIPTION", "getConfigurationDescription", "hasConfigurationDescription"},
            {"CUSTOMER", "getSoldToBusinessPartner", "hasSoldToBusinessPartner"}},
           "SITE TABLE: No data to Synchronize"},
          {"Mk5Objects",
           "OBJECT",
           kMk5ObjectsManagerId,
           kMk5ObjectsId,
           {{"ccfg"}, {"crob"}, {"oseq"}},
           {"ccfg", "crob", "oseq", "cser", "item", "desc"},
           kSelectObject,
           kDeleteObject,
           {{"SITE", "getconfiguration"}, {"OBJECT", "GetObject"}, {"OBJECTNR", "getObjectNumber"}},
           {{"SERIALNUMBER", "getSerialNumber", "hasSerialNumber"},
            {"ITEM", "getDerivedFromItem", "hasDerivedFromItem"},
            {"OBJECTDESC", "getDescription", "hasDescription"}},
           "",
           false},
      }};
  static const Generation mk4{
      "Mk4",
      "1",
      "The system cannot find a VIS Component; maintain a valid VIS Rule or \r\na default VIS "
      "Component",
      true,
      {
          {"Mk4Problems",
           "PROBLEM",
           kMk4ProblemsManagerId,
           kMk4ProblemsId,
           {{"cprl"}},
           {"cprl", "desc"},
           kSelectProblem,
           kDeleteProblem,
           {{"PROBLEM", "getProblem"}},
           {{"DESCRIPTION", "getDescription", "hasDescription"}},
           "PROBLEM TABLE: No data to synchronize"},
          {"Mk4Priorities",
           "PRIORITY",
           kMk4PrioritiesManagerId,
           kMk4PrioritiesId,
           {{"prno", false, 0, 999}},
           {"prno", "desc"},
           kSelectPriority,
           kDeletePriority,
           {{"PRIORITY", "getPriority", true}},
           {{"DESCRIPTION", "getDescription", "hasDescription"}},
           "PRIORITY TABLE: No Data to synchronize"},
          {"Mk4Symptoms",
           "SYMPTOM",
           kMk4SymptomsManagerId,
           kMk4SymptomsId,
           {{"csym"}},
           {"csym", "desc"},
           kSelectSymptom,
           kDeleteSymptom,
           {{"SYMPTOM", "getSymptom"}},
           {{"DESCRIPTION", "getDescription", "hasDescription"}},
           "SYMPTOM TABLE: No Data to synchronize"},
          {"Mk4Locations",
           "SITE",
           kMk4LocationsManagerId,
           kMk4LocationsId,
           {{"cloc"}},
           {"cloc", "desc", "cuno"},
           kSelectSite,
           kDeleteSite,
           {{"SITE", "getLocation"}},
           {{"DESCRIPTION", "getDescription", "hasDescription"},
            {"CUSTOMER", "getCustomer", "hasCustomer"}},
           "SITE TABLE: No Data to Synchronize"},
          {"Mk4Installations",
           "PRODUCT",
           kMk4InstallationsManagerId,
           kMk4InstallationsId,
           {{"cins"}},
           {"cins", "desc", "cloc"},
           kSelectProduct,
           kDeleteProduct,
           {{"PRODUCT", "getInstallation"}},
           {{"DESCRIPTION", "getDescription", "hasDescription"},
            {"SITE", "getLocation", "haslocation"}},
           "PRODUCT TABLE: No Data to Synchronize"},
      }};
  return generation == SyncGeneration::kMk5 ? mk5 : mk4;
}

std::string Trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  return std::string(text);
}

// The log of one run: every text goes to the log file (after an empty line) and to the summary.
class SyncLog {
 public:
  explicit SyncLog(std::filesystem::path path) : path_(std::move(path)) {}

  void Write(std::string_view text) {
    summary_ += summary_.empty() ? "" : kCrLf;
    summary_ += text;
    OpenAndWriteToFile(path_.string(), text);
  }
  // For failure texts: a log file that cannot be written must not hide the failure itself.
  void WriteQuietly(std::string_view text) noexcept {
    try {
      Write(text);
    } catch (...) {
    }
  }
  const std::string& summary() const { return summary_; }

 private:
  std::filesystem::path path_;
  std::string summary_;
};

// Claims a new file name in `folder`: "SynchronizedOn <now>.txt", or with " (n)" when a run of
// the same second (this process or another) has it already.
std::filesystem::path ClaimLogFileName(const std::filesystem::path& folder, const DateTime& now) {
  std::string stamp = now.ToText();
  for (char& c : stamp) {
    if (c == ':') c = '-';
  }
  for (int n = 1;; ++n) {
    const std::filesystem::path path =
        folder /
        ("SynchronizedOn " + stamp + (n > 1 ? " (" + std::to_string(n) + ")" : "") + ".txt");
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
      ::close(fd);
      return path;
    }
    if (errno != EEXIST || n >= 1000) {
      throw ComError(err::kPathFileAccess, std::string(kSource),
                     "cannot create " + path.string() + ": " + std::strerror(errno));
    }
  }
}

// Creates "<parent of the install dir>/HlqLog/MasterData Synchronization/SynchronizedOn ...txt"
// with its three title lines.
std::filesystem::path CreateLogFile(const DateTime& now) {
  const std::filesystem::path install =
      std::filesystem::absolute(TrimPathSeparator(GetInstallDir()));
  const std::filesystem::path folder =
      install.parent_path() / "HlqLog" / "MasterData Synchronization";
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) {
    throw ComError(err::kPathFileAccess, std::string(kSource),
                   "cannot create " + folder.string() + ": " + error.message());
  }
  const std::filesystem::path path = ClaimLogFileName(folder, now);
  const std::string dashes(52, '-');
  CreateFile(path.string(), dashes + std::string(kCrLf) +
                                "Heliq Version 2.2 - MasterData Synchronization Log" +
                                std::string(kCrLf) + dashes);
  return path;
}

struct Counters {
  int32_t read = 0;
  int32_t inserted = 0;
  int32_t updated = 0;
  int32_t deleted = 0;
  int32_t skipped = 0;
};

std::string CountsText(const Member& member, const Counters& counters) {
  std::string text = std::string(member.table) + " TABLE:";
  auto line = [&](std::string_view caption, int32_t value) {
    text += std::string(kCrLf) + std::string(caption) + std::to_string(value);
  };
  line("Records Read - ", counters.read);
  line("Records Inserted - ", counters.inserted);
  line("Records Updated - ", counters.updated);
  line("Records Deleted - ", counters.deleted);
  if (member.log_skipped) line("Records Skipped - ", counters.skipped);
  return text;
}

enum class Change { kInserted, kUpdated, kDeleted, kOther };

Change ChangeOf(const Generation& generation, RecordStatus& status) {
  if (generation.retrieve_status) {
    status.retrieveStatus();
    if (status.isInserted()) return Change::kInserted;
    if (status.isDeleted()) return Change::kDeleted;
    if (status.isUpdated()) return Change::kUpdated;
    return Change::kOther;
  }
  if (status.isInserted()) return Change::kInserted;
  if (status.isUpdated()) return Change::kUpdated;
  if (status.isDeleted()) return Change::kDeleted;
  return Change::kOther;
}

// The key of the current record, as bound to the table's lookup and deletion.
Params KeyOf(const Member& member, const MasterDataObject& current) {
  Params key;
  for (const KeyColumn& column : member.keys) {
    const Variant value = current.Invoke(column.getter);
    key.push_back(column.number ? Variant(value.ToLong()) : Variant(value.ToTextOrEmpty()));
  }
  return key;
}

UpdateTarget TargetOf(const Member& member) {
  UpdateTarget target{std::string(member.table), {}};
  for (const KeyColumn& column : member.keys) {
    target.keys.push_back({std::string(column.column), std::nullopt});
  }
  return target;
}

// Applies one audited change to the table; counts it.
void ApplyChange(const Member& member, Change change, const MasterDataObject& current,
                 Connection& connection, Counters& counters) {
  if (change == Change::kOther) return;
  const Params key = KeyOf(member, current);
  auto row = Recordset::OpenForUpdate(connection, member.select_sql, key, TargetOf(member));
  switch (change) {
    case Change::kInserted:
      if (!row->eof()) {
        ++counters.skipped;
        break;
      }
      row->AddNew();
      for (size_t i = 0; i < member.keys.size(); ++i) row->SetField(member.keys[i].column, key[i]);
      for (const WrittenColumn& column : member.columns) {
        row->SetField(column.column, Trimmed(current.Invoke(column.getter).ToTextOrEmpty()));
      }
      row->Update();
      ++counters.inserted;
      break;
    case Change::kUpdated: {
      if (row->eof()) break;  // an update of a row the system never had is not counted
      bool written = false;
      for (const WrittenColumn& column : member.columns) {
        if (!current.Invoke(column.has_test).ToBool()) continue;
        row->SetField(column.column, Trimmed(current.Invoke(column.getter).ToTextOrEmpty()));
        written = true;
      }
      if (written) {
        row->Update();
        ++counters.updated;
      } else {
        ++counters.skipped;
      }
      break;
    }
    case Change::kDeleted:
      if (row->eof()) {
        ++counters.skipped;
        break;
      }
      row->Close();
      connection.Execute(member.delete_sql, key);
      ++counters.deleted;
      break;
    case Change::kOther:
      break;
  }
}

// One table: asks the audit reader for the changes since `from` and applies them. Rows written
// before a failure stay written (each statement commits on its own).
void SynchronizeTable(const Generation& generation, const Member& member,
                      const std::string& component_id, const DateTime& from, SyncLog& log) {
  auto manager = CreateObjectAs<MasterDataManager>(member.manager_id);
  auto object = CreateObjectAs<MasterDataObject>(member.object_id);
  auto criteria = CreateObjectAs<AuditCriteria>(kAuditCriteriaClassId);
  // The status object is replaced by each element the reader hands out.
  std::unique_ptr<RecordStatus> status = CreateObjectAs<RecordStatus>(kRecordStatusClassId);
  auto period = CreateObjectAs<AuditPeriod>(kAuditPeriodClassId);
  auto reader = CreateObjectAs<AuditReader>(kAuditReaderClassId);
  manager->Initialize(component_id);

  period->setFrom(from);
  period->setTo(GetCurrentDateTime());
  criteria->setPeriod(*period);
  for (const KeyRange& range : member.ranges) {
    auto parameter = CreateObjectAs<AuditParameter>(kAuditParameterClassId);
    parameter->setFieldName(range.field);
    parameter->setFrom(range.text ? Variant("") : Variant(range.from));
    parameter->setTo(range.text ? Variant(std::string(10, '\x7f')) : Variant(range.to));
    criteria->addParameter(*parameter);
  }
  for (std::string_view field : member.output_fields) criteria->addoutputfield(field);

  reader->Initialize(*object, *criteria, *manager);
  if (!member.no_data_text.empty() && !reader->hasMoreElements()) {
    log.Write(member.no_data_text);
    return;
  }
  Counters counters;
  auto connection = GetHeliqConnection();
  while (reader->hasMoreElements()) {
    status = reader->nextElement();
    const DictionaryPtr tuple = status->getTuple();
    const std::unique_ptr<MasterDataObject> current = manager->getCurrentObject(*tuple);
    ++counters.read;
    ApplyChange(member, ChangeOf(generation, *status), *current, *connection, counters);
  }
  CloseConnection(connection);
  log.Write(CountsText(member, counters));
}

}  // namespace

SyncReport RunMasterDataSync(SyncGeneration which, AdminUi& ui) {
  const Generation& generation = GenerationOf(which);
  const std::string failure_prefix = "ErrorMessage:" + std::string(kSource) + "." +
                                     std::string(generation.name) + "Synchronize - ";
  SyncReport report;
  std::vector<std::string> failures;
  bool started = false;
  {
    BusyPointer busy(ui);
    const DateTime now = GetCurrentDateTime();
    try {
      report.log_file = CreateLogFile(now);
    } catch (...) {
      const ComError error = CurrentError();
      WriteErrorLog(std::string(kSource) + ".CreateLogFile", std::nullopt);
      report.summary = "The synchronization log file cannot be created: " + error.description();
      failures.push_back(error.description());
    }
    if (!report.log_file.empty()) {
      SyncLog log(report.log_file);
      // A run that cannot start says why in its log; nothing is synchronised.
      auto not_started = [&](std::string_view text) {
        log.WriteQuietly(text);
        failures.emplace_back(text);
      };
      const std::string component_id = Trimmed(GetBackendComponentId());
      const std::string stored =
          component_id.empty() ? "" : GetLastSynchronizedDate(generation.parameter_type);
      const std::optional<DateTime> stored_date = DateTime::Parse(stored);
      if (component_id.empty()) {
        not_started(generation.no_component_text);
      } else if (stored.empty()) {
        not_started(
            "The system cannot get LastSynchronizedDate from Heliq Parameters, date is empty.");
      } else if (!stored_date) {
        not_started("The system cannot read LastSynchronizedDate from Heliq Parameters, \"" +
                    stored + "\" is not a date.");
      } else {
        started = true;
        log.WriteQuietly("Synchronization Period: " + stored + " - " + now.ToText());
        // The audit period starts at the stored minute.
        DateTime from = *stored_date;
        from.second = 0;
        for (const Member& member : generation.members) {
          try {
            SynchronizeTable(generation, member, component_id, from, log);
          } catch (...) {
            const ComError error = CurrentError();
            WriteErrorLog(std::string(kSource) + "." + std::string(member.name), std::nullopt);
            const std::string text = std::string(member.table) +
                                     " TABLE: synchronization stopped - " + error.description() +
                                     " (" + std::to_string(error.number()) + ")";
            log.WriteQuietly(text);
            failures.push_back(text);
          }
        }
      }
      report.summary = log.summary();
    }
  }
  if (!failures.empty()) {
    std::string text = failure_prefix;
    for (const std::string& failure : failures) text += std::string(kCrLf) + failure;
    ui.ShowExclamation(text);
  }
  if (started) {
    ui.ShowInformation(std::string(generation.name) +
                       " MasterData Synchronization executed; for additional information see "
                       "the log file" +
                       std::string(kCrLf) + report.log_file.string());
  }
  return report;
}

}  // namespace heliq::admin
