// The report wizard's two pages, frmReport (database details and template) and frmReportNext
// (target file, mail list, generation), over the Qt-free core in adminutility/core/report_wizard.h.
#ifndef HELIQ_ADMINUTILITY_UI_REPORT_WIZARD_H_
#define HELIQ_ADMINUTILITY_UI_REPORT_WIZARD_H_

class QWidget;

namespace heliq::admin {

// Opens the wizard on its first page and hides `panel` (may be null); the panel is shown again
// when the wizard is cancelled or left. When the wizard cannot open (its texts or the report
// component fail), the failure is shown and the panel stays as it is. The pages can be left only
// by their buttons. Call on the GUI thread.
void ShowReportWizard(QWidget* panel);

}  // namespace heliq::admin

#endif  // HELIQ_ADMINUTILITY_UI_REPORT_WIZARD_H_
