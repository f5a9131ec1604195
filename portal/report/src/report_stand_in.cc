#include "portal/report/report_stand_in.h"

#include <unistd.h>

#include <array>
#include <atomic>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "common/heliq_utilities.h"
#include "common/mail_outbox.h"
#include "common/operation_frame.h"
#include "common/report_component.h"
#include "platform/com_error.h"
#include "platform/database.h"
#include "platform/mail.h"
#include "platform/object_context.h"
#include "platform/text.h"
#include "portal/report/workbook_file.h"

namespace heliq {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kSpreadsheetSource = "Excel.Application";
constexpr std::string_view kWorkbookContentType = "application/vnd.ms-excel";

// Reads the request table: a database without it is not a service-request database.
constexpr std::string_view kCheckDatabase = "SELECT COUNT(*) FROM QUESTIONS";

// The report's queries; a template names them by `name`. Each sheet's header row is `headers`
// (column names differ in case between the databases, so they are not taken from the result).
struct ReportQuery {
  std::string_view name;
  std::string_view sql;
  std::vector<std::string_view> headers;
};

constexpr std::string_view kRequestsByStatus =
    "SELECT Q_STATUS, COUNT(*) FROM QUESTIONS GROUP BY Q_STATUS ORDER BY Q_STATUS";
constexpr std::string_view kRequestsByCentre =
    "SELECT CENTER, COUNT(*) FROM QUESTIONS GROUP BY CENTER ORDER BY CENTER NULLS FIRST";
constexpr std::string_view kRequestsByEngineer =
    "SELECT D_DIRECT_TO, COUNT(*) FROM QUESTIONS WHERE D_DIRECT_TO IS NOT NULL "
    "GROUP BY D_DIRECT_TO ORDER BY D_DIRECT_TO";
// One sheet holds at most 65536 rows, the header row included.
constexpr std::string_view kOpenRequests =
    "SELECT Q_ID, Q_STATUS, CENTER, D_DIRECT_TO, REGISTEREDDATE, Q_DESC FROM QUESTIONS "
    "ORDER BY Q_ID LIMIT 65535";
constexpr std::string_view kActionsByStatus =
    "SELECT T_STATUS, COUNT(*) FROM TRANSACTIONS GROUP BY T_STATUS ORDER BY T_STATUS NULLS FIRST";
constexpr std::string_view kArchivedByStatus =
    "SELECT Q_STATUS, COUNT(*) FROM QUESTIONHISTORY GROUP BY Q_STATUS ORDER BY Q_STATUS NULLS "
    "FIRST";

const std::vector<ReportQuery>& ReportQueries() {
  static const std::vector<ReportQuery> queries = {
      {"RequestsByStatus", kRequestsByStatus, {"Status", "Requests"}},
      {"RequestsByCentre", kRequestsByCentre, {"Centre", "Requests"}},
      {"RequestsByEngineer", kRequestsByEngineer, {"Engineer", "Requests"}},
      {"OpenRequests",
       kOpenRequests,
       {"Request", "Status", "Centre", "Engineer", "Registered", "Description"}},
      {"ActionsByStatus", kActionsByStatus, {"Status", "Actions"}},
      {"ArchivedByStatus", kArchivedByStatus, {"Status", "Requests"}},
  };
  return queries;
}

const ReportQuery* FindQuery(std::string_view name) {
  for (const ReportQuery& query : ReportQueries()) {
    if (EqualsIgnoreCase(query.name, name)) return &query;
  }
  return nullptr;
}

// A file of [sections] and key=value lines, kept in file order.
struct IniSection {
  std::string name;
  std::vector<std::pair<std::string, std::string>> entries;

  const std::string* Find(std::string_view key) const {
    for (const auto& [k, v] : entries) {
      if (EqualsIgnoreCase(k, key)) return &v;
    }
    return nullptr;
  }
};

struct IniFile {
  std::vector<IniSection> sections;

  IniSection* Find(std::string_view name) {
    for (IniSection& section : sections) {
      if (EqualsIgnoreCase(section.name, name)) return &section;
    }
    return nullptr;
  }

  // nullopt (with the reason) when a line is neither a section, an entry, a comment nor blank,
  // or an entry comes before the first section.
  static std::optional<IniFile> Parse(std::string_view text, std::string* reason) {
    IniFile file;
    size_t number = 0;
    while (!text.empty()) {
      const size_t end = text.find('\n');
      const std::string_view line = TrimSpace(text.substr(0, end));
      text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
      ++number;
      if (line.empty() || line.front() == ';' || line.front() == '#') continue;
      if (line.front() == '[' && line.back() == ']') {
        file.sections.push_back({std::string(TrimSpace(line.substr(1, line.size() - 2))), {}});
        continue;
      }
      const size_t equals = line.find('=');
      if (equals == std::string_view::npos || file.sections.empty()) {
        *reason = "line " + std::to_string(number) + " is not understood";
        return std::nullopt;
      }
      file.sections.back().entries.emplace_back(std::string(TrimSpace(line.substr(0, equals))),
                                                std::string(TrimSpace(line.substr(equals + 1))));
    }
    return file;
  }

  std::string Text() const {
    std::string out;
    for (const IniSection& section : sections) {
      out += "[" + section.name + "]\n";
      for (const auto& [key, value] : section.entries) out += key + "=" + value + "\n";
    }
    return out;
  }
};

// The file's bytes; nullopt when it cannot be read.
std::optional<std::string> ReadFileBytes(const fs::path& path) {
  std::error_code error;
  if (!fs::is_regular_file(path, error)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

// Writes `bytes` to `path` through a temporary file in the same folder renamed into place.
void WriteFileAtomically(const fs::path& path, std::string_view bytes, std::string_view source) {
  std::error_code error;
  const fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
  if (!fs::is_directory(folder, error)) {
    throw ComError(err::kPathNotFound, std::string(source),
                   "folder " + folder.string() + " does not exist");
  }
  static std::atomic<uint64_t> counter{0};
  const fs::path temporary = path.string() + ".tmp" + std::to_string(getpid()) + "-" +
                             std::to_string(counter.fetch_add(1));
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      fs::remove(temporary, error);
      throw ComError(err::kPathFileAccess, std::string(source),
                     "cannot write " + temporary.string());
    }
  }
  fs::rename(temporary, path, error);
  if (error) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    throw ComError(err::kPathFileAccess, std::string(source),
                   "cannot write " + path.string() + ": " + error.message());
  }
}

struct TemplateSheet {
  std::string name;
  const ReportQuery* query;
};

// The worksheets a template asks for; nullopt (with the reason) when it is not valid.
std::optional<std::vector<TemplateSheet>> ReadTemplate(const std::string& path,
                                                       std::string* reason) {
  const std::optional<std::string> text = ReadFileBytes(path);
  if (!text) {
    *reason = "cannot be read";
    return std::nullopt;
  }
  std::optional<IniFile> file = IniFile::Parse(*text, reason);
  if (!file) return std::nullopt;
  if (file->Find("Report") == nullptr) {
    *reason = "has no [Report] section";
    return std::nullopt;
  }
  std::vector<TemplateSheet> sheets;
  for (int number = 1;; ++number) {
    const IniSection* section = file->Find("Sheet" + std::to_string(number));
    if (section == nullptr) break;
    const std::string* name = section->Find("Name");
    const std::string* query = section->Find("Query");
    if (name == nullptr || name->empty() || query == nullptr || FindQuery(*query) == nullptr) {
      *reason = "[" + section->name + "] needs a Name and one of the report's queries";
      return std::nullopt;
    }
    sheets.push_back({*name, FindQuery(*query)});
  }
  if (sheets.empty()) {
    *reason = "names no worksheet ([Sheet1] ...)";
    return std::nullopt;
  }
  // The workbook's own rules on sheet names, checked now rather than after the queries ran.
  std::vector<Worksheet> names;
  for (const TemplateSheet& sheet : sheets) names.push_back({sheet.name, {}});
  try {
    CheckWorksheets(names);
  } catch (const ComError& e) {
    *reason = e.description();
    return std::nullopt;
  }
  return sheets;
}

// libpq keyword value in single quotes, with backslash and quote escaped.
std::string ConninfoValue(std::string_view value) {
  std::string out = "'";
  for (char c : value) {
    if (c == '\\' || c == '\'') out += '\\';
    out += c;
  }
  return out + "'";
}

// The connection string the four database details name; nullopt when they cannot name one.
std::optional<std::string> DatabaseConnectionString(std::string_view server,
                                                    std::string_view database,
                                                    std::string_view login,
                                                    std::string_view password) {
  if (database.empty()) return std::nullopt;
  if (EqualsIgnoreCase(server, "sqlite")) {
    fs::path file(database);
    if (file.is_relative()) file = fs::path(GetInstallDir()) / file;
    std::error_code error;
    // Opening a missing SQLite file would create an empty database.
    if (!fs::is_regular_file(file, error)) return std::nullopt;
    return "sqlite:" + file.string();
  }
  if (server.empty()) return std::nullopt;
  std::string host(server);
  std::string port;
  if (const size_t colon = host.rfind(':'); colon != std::string::npos) {
    port = host.substr(colon + 1);
    host.resize(colon);
  }
  std::string text = "postgresql:host=" + ConninfoValue(host);
  if (!port.empty()) text += " port=" + ConninfoValue(port);
  text += " dbname=" + ConninfoValue(database) + " user=" + ConninfoValue(login) +
          " password=" + ConninfoValue(password) + " connect_timeout=10";
  return text;
}

fs::path SettingsFile(const std::string& location) {
  return fs::path(location) / kReportSettingsFileName;
}

class WorkbookWriter final : public SpreadsheetApplication {
 public:
  void SaveWorkbook(const std::vector<Worksheet>& sheets, const std::string& path) override {
    WriteFileAtomically(path, EncodeWorkbook(sheets), kSpreadsheetSource);
  }
};

class ReportStandIn final : public ReportComponent {
 public:
  bool isTemplateValid(const std::string& template_path) override {
    std::string reason;
    return ReadTemplate(template_path, &reason).has_value();
  }

  bool IsDBValid(const std::string& server, const std::string& database, const std::string& login,
                 const std::string& password) override {
    const std::optional<std::string> connection = DatabaseConnectionString(
        TrimSpace(server), TrimSpace(database), TrimSpace(login), password);
    if (!connection) return false;
    try {
      auto session = OpenSession(*connection, GetInstallDir());
      session->Query(kCheckDatabase, {});
    } catch (...) {
      // Not valid, whatever the reason; the reason may quote the password, so it is not logged.
      return false;
    }
    connection_string_ = *connection;
    return true;
  }

  void GenerateReport(const std::string& template_path, const std::string& target_path) override {
    RunOperation("HeliqReportUtility.Report.GenerateReport", [&] {
      if (connection_string_.empty()) {
        throw ComError(err::kInvalidProcedureCall, "HeliqReportUtility.Report",
                       "no database was found valid (IsDBValid) before generating");
      }
      std::string reason;
      const auto sheets = ReadTemplate(template_path, &reason);
      if (!sheets) {
        throw ComError(err::kInvalidProcedureCall, "HeliqReportUtility.Report",
                       "the report template " + template_path + " " + reason);
      }
      std::vector<Worksheet> workbook;
      {
        auto session = OpenSession(connection_string_, GetInstallDir());
        for (const TemplateSheet& sheet : *sheets) {
          ResultSet result = session->Query(sheet.query->sql, {});
          Worksheet worksheet{sheet.name, {}};
          worksheet.rows.emplace_back(sheet.query->headers.begin(), sheet.query->headers.end());
          for (auto& row : result.rows) worksheet.rows.push_back(std::move(row));
          workbook.push_back(std::move(worksheet));
        }
      }
      const fs::path target(target_path);
      if (target.has_parent_path()) fs::create_directories(target.parent_path());
      auto application = CreateObjectAs<SpreadsheetApplication>(kSpreadsheetApplicationClassId);
      application->SaveWorkbook(workbook, target_path);
    });
  }

  void SendMail(const std::string& sender, const std::string& recipients,
                const std::string& subject, const std::string& body,
                const std::string& attachment_path) override {
    RunOperation("HeliqReportUtility.Report.SendMail", [&] {
      MailMessage message{sender, {}, {}, subject, body, {}};
      std::string_view rest = recipients;
      while (!rest.empty()) {
        const size_t end = rest.find(';');
        const std::string_view address = TrimSpace(rest.substr(0, end));
        if (!address.empty()) message.to.emplace_back(address);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
      }
      if (message.to.empty()) {
        throw ComError(err::kInvalidProcedureCall, "HeliqReportUtility.Report",
                       "the mail has no recipient");
      }
      std::optional<std::string> content = ReadFileBytes(attachment_path);
      if (!content) {
        throw ComError(err::kFileNotFound, "HeliqReportUtility.Report",
                       "cannot read the attachment " + attachment_path);
      }
      message.attachments.push_back({fs::path(attachment_path).filename().string(),
                                     std::string(kWorkbookContentType), std::move(*content)});
      // Through the outbox like every mail; the administrator waits for this one, so outside a
      // unit of work it is delivered at once and a failure is his to see (the outbox retries it).
      const int64_t id = EnqueueMail(message);
      if (GetObjectContext() != nullptr) return;
      OutboxOptions this_one;
      this_one.after_id = id - 1;
      this_one.limit = 1;
      for (const OutboxDelivery& delivery : DeliverOutbox(this_one)) {
        if (delivery.id == id && !delivery.error.empty()) {
          throw ComError(err::kMailNotSent, "HeliqReportUtility.Report",
                         delivery.error + " (the mail stays in the outbox and is retried)");
        }
      }
    });
  }

  std::string GetData(const std::string& location, const std::string& section,
                      const std::string& key) override {
    return RunOperation("HeliqReportUtility.Report.GetData", [&] {
      std::optional<IniFile> file = ReadSettings(location);
      const IniSection* found = file ? file->Find(section) : nullptr;
      const std::string* value = found ? found->Find(key) : nullptr;
      return value ? *value : std::string();
    });
  }

  void SaveData(const std::string& location, const std::string& section, const std::string& key,
                const std::string& value) override {
    RunOperation("HeliqReportUtility.Report.SaveData", [&] {
      const auto refuse = [](const std::string& what) {
        throw ComError(err::kInvalidProcedureCall, "HeliqReportUtility.Report", what);
      };
      if (TrimSpace(section).empty() || section != TrimSpace(section) ||
          section.find_first_of("[]\r\n") != std::string::npos) {
        refuse("the settings cannot hold the section \"" + section + "\"");
      }
      if (TrimSpace(key).empty() || key != TrimSpace(key) ||
          key.find_first_of("=[;#\r\n") != std::string::npos) {
        refuse("the settings cannot hold the key \"" + key + "\"");
      }
      if (value.find_first_of("\r\n") != std::string::npos) {
        refuse("a setting cannot hold a line break");
      }
      std::string lower;
      for (char c : key) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (lower.find("password") != std::string::npos) {
        refuse("passwords are never stored");
      }
      IniFile file = ReadSettings(location).value_or(IniFile{});
      IniSection* target = file.Find(section);
      if (target == nullptr) {
        file.sections.push_back({section, {}});
        target = &file.sections.back();
      }
      bool replaced = false;
      for (auto& [k, v] : target->entries) {
        if (EqualsIgnoreCase(k, key)) {
          v = value;
          replaced = true;
        }
      }
      if (!replaced) target->entries.emplace_back(key, value);
      WriteFileAtomically(SettingsFile(location), file.Text(), "HeliqReportUtility.Report");
    });
  }

 private:
  // The stored settings; nullopt when there are none yet. A file that cannot be parsed counts as
  // none: the next save writes a clean one.
  static std::optional<IniFile> ReadSettings(const std::string& location) {
    const std::optional<std::string> text = ReadFileBytes(SettingsFile(location));
    if (!text) return std::nullopt;
    std::string reason;
    return IniFile::Parse(*text, &reason);
  }

  std::string connection_string_;  // the database last found valid
};

}  // namespace

void RegisterReportComponents() {
  ComponentRegistry::Global().Register(kReportClassId,
                                       [] { return std::make_unique<ReportStandIn>(); });
  ComponentRegistry::Global().Register(kSpreadsheetApplicationClassId,
                                       [] { return std::make_unique<WorkbookWriter>(); });
}

}  // namespace heliq
