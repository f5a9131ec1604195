// The administration utility's start window MDSynch: the maintenance services panel with its
// menu. It shows an admin::Panel and forwards the clicks to it; QtAdminUi is the AdminUi of the
// program's windows (message boxes titled "HeliqAdminUtility", the busy pointer).
#ifndef HELIQ_ADMINUTILITY_UI_MAIN_WINDOW_H_
#define HELIQ_ADMINUTILITY_UI_MAIN_WINDOW_H_

#include <QMainWindow>
#include <QPointer>
#include <array>
#include <string_view>

#include "adminutility/core/admin_ui.h"
#include "adminutility/core/panel.h"

class QLabel;
class QPushButton;
class QWidget;

namespace heliq::admin {

// Message boxes parented to `parent` (may be null), the busy pointer over every window.
class QtAdminUi : public AdminUi {
 public:
  explicit QtAdminUi(QWidget* parent) : parent_(parent) {}
  void ShowMessage(std::string_view text, MessageIcon icon) override;
  bool AskYesNo(std::string_view text) override;
  void SetBusy(bool busy) override;

 private:
  QPointer<QWidget> parent_;
};

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  MainWindow();

  // Opens the panel (Panel::Open: button states and captions) and shows them.
  void OpenPanel();

 private:
  void BuildMenu();
  QWidget* BuildPanel();
  void RunService(ServiceButton button);
  void Synchronise(bool mk5);
  void ShowReport();

  QtAdminUi ui_;
  Panel panel_;
  std::array<QPushButton*, 5> service_buttons_{};
  QPushButton* report_button_ = nullptr;
  QLabel* report_label_ = nullptr;
};

}  // namespace heliq::admin

#endif  // HELIQ_ADMINUTILITY_UI_MAIN_WINDOW_H_
