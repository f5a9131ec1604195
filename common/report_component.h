// The report component ("HeliqReportUtility.Report") and the spreadsheet application it drives
// ("Excel.Application"): outside components the administration utility's report wizard calls.
//
// The report component checks a report template and a database, generates a report of the
// database as a spreadsheet file from the template, mails a file, and keeps the wizard's settings
// between runs (a settings file in a folder the caller names). The spreadsheet application writes
// workbooks; the wizard only creates it to learn whether it is installed.
//
// Failures are ComError exceptions whose description says what failed; the checks
// (isTemplateValid, IsDBValid) answer false instead of failing.
//
// Thread safety: one object per thread; separate objects may run concurrently.
#ifndef HELIQ_COMMON_REPORT_COMPONENT_H_
#define HELIQ_COMMON_REPORT_COMPONENT_H_

#include <string>
#include <string_view>
#include <vector>

#include "platform/component.h"
#include "platform/variant.h"

namespace heliq {

inline constexpr std::string_view kReportClassId = "HeliqReportUtility.Report";
inline constexpr std::string_view kSpreadsheetApplicationClassId = "Excel.Application";

// One worksheet: its tab name and its rows, top to bottom. A cell is text, a number, a Boolean or
// a date; empty and null cells stay blank.
struct Worksheet {
  std::string name;
  std::vector<std::vector<Variant>> rows;
};

class SpreadsheetApplication : public Component {
 public:
  // Writes `sheets` (at least one) as a workbook file at `path`, replacing an existing file; a
  // reader never sees half a file. Errors: 5 (invalid procedure call) for a workbook the format
  // cannot hold (no sheet, a sheet name that is empty, longer than 31 characters, holds one of
  // : \ / ? * [ ], starts or ends with "'" or repeats another without regard to case, more than
  // 65536 rows or 256 columns),
  // 76 when the folder does not exist, 75 when the file cannot be written.
  virtual void SaveWorkbook(const std::vector<Worksheet>& sheets, const std::string& path) = 0;
};

class ReportComponent : public Component {
 public:
  // True when `template_path` names a readable report template that the component can generate.
  virtual bool isTemplateValid(const std::string& template_path) = 0;
  // True when the database named by the four values can be opened and holds the service-request
  // tables. The object remembers the last database found valid: GenerateReport reads it.
  virtual bool IsDBValid(const std::string& server, const std::string& database,
                         const std::string& login, const std::string& password) = 0;
  // Generates the report of the remembered database from the template into the spreadsheet file
  // `target_path` (its folder is created when missing). Error 5 when no database was found valid
  // or the template is not valid; database and file errors as they come.
  virtual void GenerateReport(const std::string& template_path, const std::string& target_path) = 0;
  // Mails the file `attachment_path` to `recipients` (addresses separated by ";") through the mail
  // outbox, delivered at once outside a unit of work. Error 5 when there is no recipient, 53 when
  // the file is missing; a failed delivery raises the transport's error (the outbox retries it).
  virtual void SendMail(const std::string& sender, const std::string& recipients,
                        const std::string& subject, const std::string& body,
                        const std::string& attachment_path) = 0;
  // The stored value of `key` in `section` of the settings kept in the folder `location`; "" when
  // none is stored. Sections and keys compare without regard to case.
  virtual std::string GetData(const std::string& location, const std::string& section,
                              const std::string& key) = 0;
  // Stores `value`, replacing the stored one. Error 5 for a section or key the settings file
  // cannot hold, a value with a line break, or a key that names a password: passwords are never
  // written to disk. Error 76/75 when the folder cannot be written.
  virtual void SaveData(const std::string& location, const std::string& section,
                        const std::string& key, const std::string& value) = 0;
};

}  // namespace heliq

#endif  // HELIQ_COMMON_REPORT_COMPONENT_H_
