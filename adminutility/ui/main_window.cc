#include "adminutility/ui/main_window.h"

#include <QApplication>
#include <QCursor>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>
#include <string>

#include "adminutility/core/master_data_sync.h"
#include "adminutility/ui/report_wizard.h"

namespace heliq::admin {
namespace {

constexpr char kMessageTitle[] = "HeliqAdminUtility";

QString ToQString(std::string_view text) {
  QString result = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  result.replace("\r\n", "\n");
  return result;
}

QMessageBox::Icon ToQtIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::kInformation:
      return QMessageBox::Information;
    case MessageIcon::kExclamation:
      return QMessageBox::Warning;
    case MessageIcon::kCritical:
      return QMessageBox::Critical;
    case MessageIcon::kNone:
      break;
  }
  return QMessageBox::NoIcon;
}

// A message box is only as wide as its text, which cuts a longer title off: widen it to the
// title. QMessageBox ignores minimum widths; a spacer in its grid is what it respects.
void FitTitle(QMessageBox& box) {
  auto* grid = qobject_cast<QGridLayout*>(box.layout());
  if (grid == nullptr) return;
  // Room for the window frame's buttons beside the title.
  const int width = box.fontMetrics().horizontalAdvance(box.windowTitle()) + 160;
  grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Expanding),
                grid->rowCount(), 0, 1, grid->columnCount());
}

}  // namespace

void QtAdminUi::ShowMessage(std::string_view text, MessageIcon icon) {
  QMessageBox box(ToQtIcon(icon), kMessageTitle, ToQString(text), QMessageBox::Ok, parent_);
  FitTitle(box);
  box.exec();
}

bool QtAdminUi::AskYesNo(std::string_view text) {
  QMessageBox box(QMessageBox::Question, kMessageTitle, ToQString(text),
                  QMessageBox::Yes | QMessageBox::No, parent_);
  // Enter must not replace anything by accident.
  box.setDefaultButton(QMessageBox::No);
  FitTitle(box);
  return box.exec() == QMessageBox::Yes;
}

void QtAdminUi::SetBusy(bool busy) {
  if (busy) {
    QApplication::setOverrideCursor(QCursor(Qt::BusyCursor));
    // The work runs on this thread: let the pointer change show before it starts, without
    // taking clicks meanwhile.
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

MainWindow::MainWindow() : ui_(this), panel_(ui_) {
  setObjectName("MDSynch");
  setWindowTitle(ToQString(kPanelCaption));
  BuildMenu();
  setCentralWidget(BuildPanel());
}

void MainWindow::BuildMenu() {
  QMenu* tools = menuBar()->addMenu(tr("&Tools"));
  tools->addAction(tr("Synchronise master data (Mk5)"), this, [this] { Synchronise(true); });
  tools->addAction(tr("Synchronise master data (Mk4)"), this, [this] { Synchronise(false); });
  tools->addSeparator();
  tools->addAction(tr("E&xit"), this, &QWidget::close);
}

QWidget* MainWindow::BuildPanel() {
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);

  auto* frame = new QGroupBox(ToQString(kServicesFrameCaption), central);
  auto* grid = new QGridLayout(frame);
  int row = 0;
  for (const ServiceButtonInfo& info : ServiceButtons()) {
    auto* button = new QPushButton(ToQString(info.caption), frame);
    button->setObjectName(ToQString(info.control));
    button->setMinimumWidth(100);
    auto* description = new QLabel(ToQString(info.description), frame);
    description->setWordWrap(true);
    grid->addWidget(button, row, 0);
    grid->addWidget(description, row, 1);
    ++row;
    service_buttons_[static_cast<size_t>(info.button)] = button;
    connect(button, &QPushButton::clicked, this,
            [this, which = info.button] { RunService(which); });
  }
  grid->setColumnStretch(1, 1);
  layout->addWidget(frame);

  auto* report_row = new QHBoxLayout();
  report_button_ = new QPushButton(ToQString(kReportCaptionLabel), central);
  report_button_->setObjectName("cmdReport");
  report_button_->setMinimumWidth(service_buttons_[0]->minimumWidth());
  report_label_ = new QLabel(ToQString(kReportDescriptionLabel), central);
  report_label_->setObjectName("lblReport");
  report_label_->setWordWrap(true);
  report_row->addWidget(report_button_);
  report_row->addWidget(report_label_, 1);
  layout->addLayout(report_row);
  connect(report_button_, &QPushButton::clicked, this, &MainWindow::ShowReport);

  layout->addStretch(1);
  auto* close_row = new QHBoxLayout();
  auto* close_button = new QPushButton(tr("Close"), central);
  close_button->setObjectName("closebutton");
  close_row->addStretch(1);
  close_row->addWidget(close_button);
  layout->addLayout(close_row);
  connect(close_button, &QPushButton::clicked, this, &QWidget::close);

  resize(640, 0);  // as high as the controls need
  return central;
}

void MainWindow::OpenPanel() {
  panel_.Open();
  for (const ServiceButtonInfo& info : ServiceButtons()) {
    QPushButton* button = service_buttons_[static_cast<size_t>(info.button)];
    button->setEnabled(panel_.enabled(info.button));
    button->setToolTip(ToQString(panel_.tooltip(info.button)));
  }
  report_button_->setText(ToQString(panel_.report_caption()));
  report_label_->setText(ToQString(panel_.report_description()));
}

void MainWindow::RunService(ServiceButton button) { panel_.RunService(button); }

void MainWindow::Synchronise(bool mk5) {
  RunMasterDataSync(mk5 ? SyncGeneration::kMk5 : SyncGeneration::kMk4, ui_);
}

void MainWindow::ShowReport() { ShowReportWizard(this); }

}  // namespace heliq::admin
