// The report wizard's logic: the first page (database details and template) and the second page
// (target file name, mail list), their checks and messages, generation through the report
// component "HeliqReportUtility.Report", storing the file in the file store, mailing it, and the
// settings kept between runs. The Qt pages in adminutility/ui/ only show what this core decides.
//
// Everything the user sees goes through AdminUi. Every entry point traps its failures: a failure
// ends the click with a message box showing the error's description alone (exclamation icon),
// and the wizard stays usable.
//
// Thread safety: used by the thread that owns the windows only.
#ifndef HELIQ_ADMINUTILITY_CORE_REPORT_WIZARD_H_
#define HELIQ_ADMINUTILITY_CORE_REPORT_WIZARD_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "adminutility/core/admin_ui.h"
#include "common/report_component.h"
#include "platform/variant.h"

namespace heliq::admin {

// The labels whose texts the wizard's captions use (HQLBL4313 appears twice, as requested).
const std::vector<std::string>& ReportWizardLabels();

// The TEXT of each label in I18NTEXT for `locale_id`, keyed by the label as given; a label without
// a text is absent. nullptr when `labels` is empty or all blank. Failures are reported under
// "HeliqAdminUtility.modUI.GetMultipleI18NText" and re-raised.
DictionaryPtr GetMultipleI18NText(const std::vector<std::string>& labels, int32_t locale_id);

// What the first page holds.
struct ReportSource {
  std::string server;
  std::string database;
  std::string login;
  std::string password;
  std::string template_path;
};

// The folder the template dialog opens in: share/heliq/templates beside `program_dir` (an
// installation or a build folder), else portal/report/templates under the install directory (a
// source checkout), else `program_dir` itself.
std::string ReportTemplatesFolder(const std::string& program_dir);

// The target file name for what the user chose in "Save As...": ".xls" added unless the name ends
// in it (in any case); the plain file name when the chosen folder is `analysis_folder`, else the
// whole path, so that a folder the user picked is kept.
std::string SaveAsTarget(std::string_view chosen, std::string_view analysis_folder);

// What the second page holds.
struct ReportTarget {
  std::string file_name;  // a file name (the file goes into the analysis folder) or a path
  std::string mail_list;  // recipients separated by ";"
  bool send_mail = false;
  bool save_details = false;
};

class ReportWizard {
 public:
  // Opens the first page: reads the utility's language and the label texts and creates the
  // report object. `settings_location` is the folder of the utility program, where the report
  // component keeps the saved settings. A failure is shown (exclamation, description alone) and
  // the result is nullptr: the wizard does not open.
  static std::unique_ptr<ReportWizard> Open(AdminUi& ui, std::string settings_location);

  // The caption of `label`: its text for the utility's language, the label itself when it has
  // none.
  std::string Caption(std::string_view label) const;
  int32_t language() const { return language_; }
  const std::string& settings_location() const { return settings_location_; }

  // The first page's fields as saved by an earlier run; the password is always empty.
  ReportSource SavedSource();
  // "Next >>": checks the template, then the database. Shows HQLBL4320 for a template that is not
  // valid, HQLBL4319 for database details that are not valid. True when the second page is to be
  // shown. The source is kept for generating and saving.
  bool Next(const ReportSource& source);

  // Opens the second page: works out the analysis folder and returns the saved mail list and
  // target name (send_mail and save_details cleared). A failure is shown; the fields are then
  // empty.
  ReportTarget OpenSecondPage();
  // install directory + "/" + the DataFileRelativePath parameter + "/Analysis"; known once the
  // second page was opened.
  const std::string& analysis_folder() const { return analysis_folder_; }

  // "Generate Report". Trims target.file_name in place, checks it (empty: HQLBL4380; not ending
  // in ".xls" in any case: HQLBL4307 "name" HQLBL4364; only the extension: HQLBL4379), asks
  // whether to replace a report the file store already holds under that file name ("no" stops),
  // checks that the spreadsheet application is installed (HQLBL4365), generates the report into
  // the analysis folder (or at the path, when file_name is one), stores it in the file store, mails
  // it when target.send_mail is set, and shows HQLBL4321 with the file's path (and HQLBL4322 when
  // mailed). True when a report was generated.
  bool GenerateReport(ReportTarget& target);

  // "Exit": when target.save_details is set, stores the mail list, the target name, the template
  // path and the database server, name and login (never the password). A failure is shown.
  void Exit(const ReportTarget& target);

 private:
  ReportWizard(AdminUi& ui, std::string settings_location, int32_t language, DictionaryPtr labels,
               std::unique_ptr<ReportComponent> report);
  // Runs `body`; a failure is shown with its description and false is returned.
  template <typename F>
  bool Guarded(F&& body);
  std::string Text(std::string_view label) const;

  AdminUi& ui_;
  std::string settings_location_;
  int32_t language_;
  DictionaryPtr labels_;
  std::unique_ptr<ReportComponent> report_;
  ReportSource source_;
  std::string analysis_folder_;
};

}  // namespace heliq::admin

#endif  // HELIQ_ADMINUTILITY_CORE_REPORT_WIZARD_H_
