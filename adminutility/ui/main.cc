// HeliqAdminUtility: the administrator's desktop program. Without options it opens the
// maintenance services panel; `--sync mk5|mk4` runs one master-data synchronisation on the
// console instead (no window, no display needed). `--help` lists the options.
#include <CLI/CLI.hpp>
#include <QApplication>
#include <QPixmap>
#include <iostream>
#include <string>

#include "adminutility/core/admin_ui.h"
#include "adminutility/core/master_data_sync.h"
#include "adminutility/ui/main_window.h"
#include "platform/com_error.h"
#include "platform/configuration.h"
#include "platform/log.h"
#include "portal/portal_components.h"

namespace {

// The console's AdminUi for a run without a window: information goes to standard output,
// warnings and errors to standard error; questions are answered "no" (nothing is replaced
// without someone to confirm it).
class ConsoleUi : public heliq::admin::AdminUi {
 public:
  void ShowMessage(std::string_view text, heliq::admin::MessageIcon icon) override {
    const bool failure = icon == heliq::admin::MessageIcon::kExclamation ||
                         icon == heliq::admin::MessageIcon::kCritical;
    failed_ = failed_ || failure;
    std::string line(text);
    for (size_t at; (at = line.find('\r')) != std::string::npos;) line.erase(at, 1);
    (failure ? std::cerr : std::cout) << line << std::endl;
  }
  bool AskYesNo(std::string_view text) override {
    std::cout << text << " -> no" << std::endl;
    return false;
  }
  void SetBusy(bool) override {}
  // True once a warning or an error was shown.
  bool failed() const { return failed_; }

 private:
  bool failed_ = false;
};

int RunSynchronisation(const std::string& generation) {
  ConsoleUi ui;
  const heliq::admin::SyncReport report = heliq::admin::RunMasterDataSync(
      generation == "mk4" ? heliq::admin::SyncGeneration::kMk4 : heliq::admin::SyncGeneration::kMk5,
      ui);
  std::cout << report.summary << std::endl;
  if (!report.log_file.empty()) std::cout << "Log file: " << report.log_file.string() << std::endl;
  return ui.failed() ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "HeliqAdminUtility: the administrator's panel of the Heliq service desk (maintenance "
      "services, analysis report wizard, master-data synchronisation)"};
  app.allow_extras();  // Qt's own options (-platform ...) pass through to QApplication
  std::string config;
  std::string sync;
  std::string screenshot;
  app.add_option("--config", config,
                 "configuration file (default: $HELIQ_CONFIG or config/heliq.toml)");
  app.add_option("--sync", sync,
                 "run one master-data synchronisation without a window and exit: mk5 or mk4; "
                 "prints what the run shows, its summary and its log file; exit status 1 when it "
                 "reported a failure")
      ->transform(CLI::IsMember({"mk5", "mk4"}, CLI::ignore_case));
  // Saves a picture of the opened panel and exits (documentation).
  app.add_option("--screenshot", screenshot)->group("");
  CLI11_PARSE(app, argc, argv);

  try {
    if (!config.empty()) heliq::LoadSettings(config);
    heliq::EnsureSettingsLoaded();
    heliq::RegisterConfigurationComponent();
    heliq::RegisterLogComponent();
    heliq::RegisterPortalComponents();
  } catch (const heliq::ComError& e) {
    std::cerr << "HeliqAdminUtility: " << heliq::RedactSecrets(e.description()) << std::endl;
    return 1;
  }
  if (!sync.empty()) return RunSynchronisation(sync);

  QApplication application(argc, argv);
  heliq::admin::MainWindow window;
  window.OpenPanel();
  window.show();
  if (!screenshot.empty()) {
    QApplication::processEvents();
    return window.grab().save(QString::fromStdString(screenshot)) ? 0 : 1;
  }
  return application.exec();
}
