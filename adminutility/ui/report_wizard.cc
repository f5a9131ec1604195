#include "adminutility/ui/report_wizard.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "adminutility/core/report_wizard.h"
#include "adminutility/ui/main_window.h"

namespace heliq::admin {
namespace {

QString ToQString(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
std::string ToStd(const QString& text) { return text.toUtf8().toStdString(); }

// A wizard page: a window whose close button does what the page's own way out does (Cancel on
// the first page, Exit on the second), so the wizard never ends half-way.
class Page : public QWidget {
 public:
  explicit Page(const char* name) : QWidget(nullptr, Qt::Window) { setObjectName(name); }
  void set_on_close(std::function<void()> on_close) { on_close_ = std::move(on_close); }

 protected:
  void closeEvent(QCloseEvent* event) override {
    // The page is hidden and unloaded by on_close itself, not by Qt.
    event->ignore();
    if (on_close_) on_close_();
  }

 private:
  std::function<void()> on_close_;
};

QLineEdit* AddField(QFormLayout* form, QWidget* parent, const char* name, const QString& caption,
                    QWidget* beside = nullptr) {
  auto* field = new QLineEdit(parent);
  field->setObjectName(name);
  field->setMinimumWidth(260);
  if (beside == nullptr) {
    form->addRow(caption, field);
  } else {
    auto* row = new QHBoxLayout();
    row->addWidget(field, 1);
    row->addWidget(beside);
    form->addRow(caption, row);
  }
  return field;
}

QPushButton* AddButton(QHBoxLayout* row, QWidget* parent, const char* name, const QString& text) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(name);
  row->addWidget(button);
  return button;
}

// One run of the wizard: the core, both pages (the second created on first use) and the panel
// to show again at the end.
class WizardSession {
 public:
  WizardSession(QWidget* panel, std::unique_ptr<ReportWizard> wizard)
      : panel_(panel), wizard_(std::move(wizard)) {}

  void Start() {
    BuildFirstPage();
    const ReportSource saved = wizard_->SavedSource();
    server_->setText(ToQString(saved.server));
    database_->setText(ToQString(saved.database));
    login_->setText(ToQString(saved.login));
    template_path_->setText(ToQString(saved.template_path));
    if (panel_) panel_->hide();
    first_->show();
  }

 private:
  QString Caption(std::string_view label) const { return ToQString(wizard_->Caption(label)); }

  void BuildFirstPage() {
    first_ = std::make_unique<Page>("frmReport");
    first_->setWindowTitle(Caption("HQLBL4305"));
    auto* layout = new QVBoxLayout(first_.get());

    auto* source = new QGroupBox(Caption("HQLBL4312"), first_.get());
    source->setObjectName("fraSource");
    auto* source_form = new QFormLayout(source);
    server_ = AddField(source_form, source, "txtDBServer", Caption("HQLBL4141"));
    database_ = AddField(source_form, source, "txtDBName", Caption("HQLBL4313"));
    login_ = AddField(source_form, source, "txtLoginID", Caption("HQLBL4314"));
    password_ = AddField(source_form, source, "txtPassword", Caption("HQLBL4315"));
    password_->setEchoMode(QLineEdit::Password);
    layout->addWidget(source);

    auto* destination = new QGroupBox(Caption("HQLBL4173"), first_.get());
    destination->setObjectName("fraDestinatin");
    auto* destination_form = new QFormLayout(destination);
    auto* browse = new QPushButton(Caption("HQLBL4172"), destination);
    browse->setObjectName("Command3");
    template_path_ =
        AddField(destination_form, destination, "txtTempPath", Caption("HQLBL4316"), browse);
    layout->addWidget(destination);

    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    auto* next = AddButton(buttons, first_.get(), "cmdNext", QObject::tr("Next >>"));
    auto* cancel = AddButton(buttons, first_.get(), "cmdCancel", QObject::tr("Cancel"));
    next->setDefault(true);
    layout->addLayout(buttons);

    QObject::connect(browse, &QPushButton::clicked, first_.get(), [this] { ChooseTemplate(); });
    QObject::connect(next, &QPushButton::clicked, first_.get(), [this] { Next(); });
    QObject::connect(cancel, &QPushButton::clicked, first_.get(), [] { End(); });
    first_->set_on_close([] { End(); });
  }

  void BuildSecondPage() {
    second_ = std::make_unique<Page>("frmReportNext");
    second_->setWindowTitle(Caption("HQLBL4305"));
    auto* layout = new QVBoxLayout(second_.get());

    auto* details = new QGroupBox(Caption("HQLBL4335"), second_.get());
    details->setObjectName("fraDetails");
    auto* form = new QFormLayout(details);
    auto* save_as = new QPushButton(Caption("HQLBL4339"), details);
    save_as->setObjectName("cmdSaveAs");
    target_ = AddField(form, details, "txtDestPath", Caption("HQLBL4307"), save_as);
    send_mail_ = new QCheckBox(Caption("HQLBL4308"), details);
    send_mail_->setObjectName("chkSendMail");
    form->addRow(QString(), send_mail_);
    mail_list_ = AddField(form, details, "txtMailList", Caption("HQLBL4306"));
    mail_list_->setEnabled(false);
    auto* hint = new QLabel(Caption("HQLBL4336"), details);
    hint->setEnabled(false);
    form->addRow(QString(), hint);
    save_details_ = new QCheckBox(QObject::tr("Save Details"), details);
    save_details_->setObjectName("chkSaveDetails");
    save_details_->setToolTip(Caption("HQLBL4337"));
    form->addRow(QString(), save_details_);
    layout->addWidget(details);

    auto* buttons = new QHBoxLayout();
    auto* back = AddButton(buttons, second_.get(), "cmdBack", Caption("HQLBL4310"));
    buttons->addStretch(1);
    auto* generate = AddButton(buttons, second_.get(), "cmdGenReport", Caption("HQLBL4309"));
    auto* exit = AddButton(buttons, second_.get(), "cmdExit", Caption("HQLBL4338"));
    generate->setDefault(true);
    layout->addLayout(buttons);

    QObject::connect(send_mail_, &QCheckBox::toggled, mail_list_, &QLineEdit::setEnabled);
    QObject::connect(save_as, &QPushButton::clicked, second_.get(), [this] { ChooseTarget(); });
    QObject::connect(back, &QPushButton::clicked, second_.get(), [this] {
      second_->hide();
      first_->show();
    });
    QObject::connect(generate, &QPushButton::clicked, second_.get(), [this] { Generate(); });
    QObject::connect(exit, &QPushButton::clicked, second_.get(), [this] { Exit(); });
    second_->set_on_close([this] { Exit(); });
  }

  void ChooseTemplate() {
    const QString start = template_folder_.isEmpty()
                              ? ToQString(ReportTemplatesFolder(wizard_->settings_location()))
                              : template_folder_;
    const QString chosen =
        QFileDialog::getOpenFileName(first_.get(), Caption("HQLBL4316"), start,
                                     QObject::tr("Report templates (*.hrt);;All files (*)"));
    if (chosen.isEmpty()) {
      template_path_->clear();
      return;
    }
    template_path_->setText(chosen);
    template_folder_ = QFileInfo(chosen).absolutePath();
  }

  void ChooseTarget() {
    const QString chosen = QFileDialog::getSaveFileName(
        second_.get(), Caption("HQLBL4339"), ToQString(wizard_->analysis_folder()),
        QObject::tr("Spreadsheet files (*.xls)"), nullptr, QFileDialog::DontConfirmOverwrite);
    if (!chosen.isEmpty()) {
      target_->setText(ToQString(SaveAsTarget(ToStd(chosen), wizard_->analysis_folder())));
    }
  }

  void Next() {
    const ReportSource source{ToStd(server_->text()), ToStd(database_->text()),
                              ToStd(login_->text()), ToStd(password_->text()),
                              ToStd(template_path_->text())};
    if (!wizard_->Next(source)) return;
    if (second_ == nullptr) {
      BuildSecondPage();
      const ReportTarget saved = wizard_->OpenSecondPage();
      target_->setText(ToQString(saved.file_name));
      mail_list_->setText(ToQString(saved.mail_list));
    }
    first_->hide();
    second_->show();
  }

  ReportTarget Target() const {
    return {ToStd(target_->text()), ToStd(mail_list_->text()), send_mail_->isChecked(),
            save_details_->isChecked()};
  }

  void Generate() {
    ReportTarget target = Target();
    wizard_->GenerateReport(target);
    target_->setText(ToQString(target.file_name));
  }

  void Exit() {
    wizard_->Exit(Target());
    End();
  }

  // Unloads both pages and shows the panel again.
  static void End();

  QPointer<QWidget> panel_;
  std::unique_ptr<ReportWizard> wizard_;
  std::unique_ptr<Page> first_;
  std::unique_ptr<Page> second_;
  QLineEdit* server_ = nullptr;
  QLineEdit* database_ = nullptr;
  QLineEdit* login_ = nullptr;
  QLineEdit* password_ = nullptr;
  QLineEdit* template_path_ = nullptr;
  QString template_folder_;
  QLineEdit* target_ = nullptr;
  QLineEdit* mail_list_ = nullptr;
  QCheckBox* send_mail_ = nullptr;
  QCheckBox* save_details_ = nullptr;
};

// The wizard shown now, if any. Owned here so a session outlives the click that started it.
std::unique_ptr<WizardSession>& CurrentSession() {
  static std::unique_ptr<WizardSession> session;
  return session;
}

void WizardSession::End() {
  std::unique_ptr<WizardSession> ending = std::move(CurrentSession());
  if (!ending) return;
  // The pages go once the click that ends the wizard has returned: its button is still on the
  // call stack.
  for (std::unique_ptr<Page>* page : {&ending->first_, &ending->second_}) {
    if (!*page) continue;
    (*page)->hide();
    page->release()->deleteLater();
  }
  if (ending->panel_) ending->panel_->show();
}

}  // namespace

void ShowReportWizard(QWidget* panel) {
  static QtAdminUi ui(nullptr);
  // Windows must go before the application object: a wizard still open at the end goes when the
  // event loop ends, not with the program's static objects.
  static const bool cleanup_connected = [] {
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, [] { CurrentSession().reset(); });
    return true;
  }();
  (void)cleanup_connected;
  std::unique_ptr<ReportWizard> wizard =
      ReportWizard::Open(ui, ToStd(QCoreApplication::applicationDirPath()));
  if (!wizard) return;
  CurrentSession() = std::make_unique<WizardSession>(panel, std::move(wizard));
  CurrentSession()->Start();
}

}  // namespace heliq::admin
