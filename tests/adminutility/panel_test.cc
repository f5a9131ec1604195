// The maintenance services panel: button states from DAEMON and FAQPARAMETER, captions, and what
// a service click shows.
#include "adminutility/core/panel.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/maintenance_service.h"
#include "platform/com_error.h"
#include "platform/component.h"
#include "platform/configuration.h"
#include "tests/support/database_fixture.h"
#include "tests/support/recording_admin_ui.h"

namespace heliq::admin {
namespace {

using heliq::testing::DatabaseTest;
using heliq::testing::RecordingAdminUi;

constexpr std::string_view kInsertDaemon = "INSERT INTO DAEMON (NAME, STATUS) VALUES (?, ?)";
constexpr std::string_view kInsertFaqParameter =
    "INSERT INTO FAQPARAMETER (PARAMNAME, PARAMVALUE) VALUES (?, ?)";
constexpr std::string_view kInsertText =
    "INSERT INTO I18NTEXT (LOCALEID, LABEL, TEXT) VALUES (?, ?, ?)";

// A service whose run does what the test says.
class ScriptedService : public Component, public MaintenanceService {
 public:
  explicit ScriptedService(std::function<void()> run) : run_(std::move(run)) {}
  void Run() override { run_(); }

 private:
  std::function<void()> run_;
};

// The configuration, except that the catalogue database has no connection string.
class ConfigurationWithoutCatalogue : public Configuration {
 public:
  explicit ConfigurationWithoutCatalogue(std::unique_ptr<Configuration> real)
      : real_(std::move(real)) {}
  void SelectApplication(std::string_view application, int32_t flags) override {
    real_->SelectApplication(application, flags);
  }
  std::string GetConnectionString(std::string_view application) override {
    if (application == "RAvuruvo") {
      throw ComError(err::kInvalidProcedureCall, "Configuration", "no catalogue configured");
    }
    return real_->GetConnectionString(application);
  }
  std::string GetInstallDir() override { return real_->GetInstallDir(); }
  std::string GetValue(std::string_view section, std::string_view key) override {
    return real_->GetValue(section, key);
  }

 private:
  std::unique_ptr<Configuration> real_;
};

// Replaces the configuration component by ConfigurationWithoutCatalogue for its lifetime.
class CatalogueUnavailable {
 public:
  CatalogueUnavailable() {
    previous_ = ComponentRegistry::Global().Register(kConfigurationClassId, [this] {
      return std::make_unique<ConfigurationWithoutCatalogue>(
          ComponentAs<Configuration>((*previous_)(), kConfigurationClassId));
    });
  }
  ~CatalogueUnavailable() { ComponentRegistry::Global().Restore(kConfigurationClassId, previous_); }

 private:
  std::optional<ComponentFactory> previous_;
};

class PanelTest : public DatabaseTest {
 protected:
  void Daemon(std::string_view name, bool on) { Exec(kInsertDaemon, {Variant(name), Variant(on)}); }
  void FaqParameter(std::string_view name, std::string_view value) {
    Exec(kInsertFaqParameter, {Variant(name), Variant(value)});
  }
  std::vector<bool> States(const Panel& panel) {
    std::vector<bool> states;
    for (const auto& info : ServiceButtons()) states.push_back(panel.enabled(info.button));
    return states;
  }

  RecordingAdminUi ui_;
};

TEST_P(PanelTest, DaemonRowsDisableScheduledServicesByTrimmedExactName) {
  Daemon("Archive", true);
  Daemon(" Delete ", true);             // blanks around the name do not matter
  Daemon("dormant user expiry", true);  // letter case does: this row governs nothing
  Daemon("Alert", false);
  Daemon("Escalation", true);  // not a panel service
  Panel panel(ui_);
  panel.Open();
  // cleanup, reminder, dormant, archive, faqnotify
  EXPECT_EQ(States(panel), (std::vector<bool>{false, true, true, false, true}));
  EXPECT_TRUE(ui_.messages.empty());
}

TEST_P(PanelTest, FaqButtonIsDisabledOnlyForPeriodicNotification) {
  struct Case {
    const char* mode;
    const char* notify;
    const char* nts;
    bool enabled;
  };
  for (const Case& c : {Case{"Periodic", "Yes", "On", false}, Case{"periodic", "Yes", "On", true},
                        Case{"Periodic", "Yes", "Off", true}, Case{"Periodic", "No", "On", true},
                        Case{"Periodic ", "Yes", "On", true}, Case{nullptr, "Yes", "On", true}}) {
    Exec("DELETE FROM FAQPARAMETER");
    if (c.mode != nullptr) FaqParameter("MODE_MAILNOTIFY", c.mode);
    FaqParameter("MAILNOTIFY", c.notify);
    FaqParameter("NTS_MAILNOTIFY", c.nts);
    Panel panel(ui_);
    panel.Open();
    EXPECT_EQ(panel.enabled(ServiceButton::kFaqNotify), c.enabled)
        << (c.mode ? c.mode : "(no row)") << "/" << c.notify << "/" << c.nts;
  }
  EXPECT_TRUE(ui_.messages.empty());
}

TEST_P(PanelTest, ReportCaptionsComeFromTheLanguageOrShowTheLabel) {
  Exec(kInsertText, {Variant(1033), Variant("HQLBL4311"), Variant("Make a report")});
  Exec(kInsertText, {Variant(1031), Variant("HQLBL4309"), Variant("Bericht erstellen")});
  Panel panel(ui_);
  panel.Open();
  EXPECT_EQ(panel.language(), 1033);
  EXPECT_EQ(panel.report_caption(), "HQLBL4309");  // only another language has a text
  EXPECT_EQ(panel.report_description(), "Make a report");
}

TEST_P(PanelTest, OpenFailureIsShownAndKeepsWhatWasSetBefore) {
  Daemon("Archive", true);
  FaqParameter("MODE_MAILNOTIFY", "Periodic");
  FaqParameter("MAILNOTIFY", "Yes");
  FaqParameter("NTS_MAILNOTIFY", "On");
  Exec(kInsertText, {Variant(1033), Variant("HQLBL4309"), Variant("Report")});
  CatalogueUnavailable unavailable;
  Panel panel(ui_);
  panel.Open();
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].icon, MessageIcon::kExclamation);
  EXPECT_TRUE(ui_.messages[0].text.starts_with("HeliqAdminUtility.Services and MDSynch - \r\n"))
      << ui_.messages[0].text;
  EXPECT_NE(ui_.messages[0].text.find("no catalogue configured"), std::string::npos);
  // The DAEMON states were read before the failure; the FAQ button and captions were not.
  EXPECT_FALSE(panel.enabled(ServiceButton::kArchive));
  EXPECT_TRUE(panel.enabled(ServiceButton::kFaqNotify));
  EXPECT_EQ(panel.report_caption(), "HQLBL4309");
}

TEST_P(PanelTest, ServiceClickShowsSuccessOrThePrefixedFailure) {
  Panel panel(ui_);
  // The real clean-up service, on an empty database.
  EXPECT_TRUE(panel.RunService(ServiceButton::kCleanup));
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].icon, MessageIcon::kInformation);
  EXPECT_EQ(ui_.messages[0].text,
            "CleanUp Service Executed, for additional information see the log file");
  EXPECT_EQ(ui_.busy_changes, (std::vector<bool>{true, false}));

  ui_.messages.clear();
  bool busy_while_running = false;
  {
    ScopedRegistration failing(std::string(kArchiveServiceId), [&] {
      return std::make_unique<ScriptedService>([&] {
        busy_while_running = ui_.busy;
        throw ComError(err::kDbConnection, "Archive", "the database went away");
      });
    });
    EXPECT_FALSE(panel.RunService(ServiceButton::kArchive));
  }
  EXPECT_TRUE(busy_while_running);
  EXPECT_FALSE(ui_.busy);
  ASSERT_EQ(ui_.messages.size(), 1u);  // no success message after a failure
  EXPECT_EQ(ui_.messages[0].icon, MessageIcon::kExclamation);
  EXPECT_EQ(ui_.messages[0].text,
            "ErrorMessage:HeliqAdminUtility.Services.Archive - \r\nthe database went away");

  // A component that cannot be created (here: not a service at all) fails the same way.
  ui_.messages.clear();
  {
    ScopedRegistration wrong(std::string(kReminderServiceId),
                             [] { return std::make_unique<Component>(); });
    EXPECT_FALSE(panel.RunService(ServiceButton::kReminder));
  }
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_TRUE(
      ui_.messages[0].text.starts_with("ErrorMessage:HeliqAdminUtility.Services.Remainder - \r\n"));
}

TEST_P(PanelTest, DisabledButtonsSayTheyAreScheduled) {
  Exec("INSERT INTO DAEMON (NAME, STATUS, INTERVAL) VALUES ('Archive', 1, 30)");
  Exec("INSERT INTO DAEMON (NAME, STATUS, INTERVAL) VALUES ('Delete', 0, 60)");
  Exec(kInsertDaemon, {Variant("Alert"), Variant(int32_t{1})});
  for (const auto& [name, value] : {std::pair{"MODE_MAILNOTIFY", "Periodic"},
                                    {"MAILNOTIFY", "Yes"},
                                    {"NTS_MAILNOTIFY", "On"}}) {
    Exec(kInsertFaqParameter, {Variant(name), Variant(value)});
  }
  Panel panel(ui_);
  panel.Open();
  EXPECT_EQ(panel.tooltip(ServiceButton::kArchive), "scheduled: runs every 30 minutes");
  EXPECT_EQ(panel.tooltip(ServiceButton::kCleanup), "");  // switched off: enabled, no hint
  EXPECT_EQ(panel.tooltip(ServiceButton::kReminder), "scheduled");  // no interval recorded
  EXPECT_EQ(panel.tooltip(ServiceButton::kDormant), "");
  EXPECT_EQ(panel.tooltip(ServiceButton::kFaqNotify), "scheduled: mailed periodically");
}

TEST_P(PanelTest, SuccessNamesTheLogFile) {
  EXPECT_EQ(WithLogFile("see the log file", "/l/heliq.log"), "see the log file: /l/heliq.log");
  EXPECT_EQ(WithLogFile("see the log file.", "/l/heliq.log"), "see the log file: /l/heliq.log");
  EXPECT_EQ(WithLogFile("see the log file.", ""), "see the log file.");

  SetSettingsText("install_dir = '" + install_dir().string() + "'\n[connections]\nHeliq = '" +
                  connection_string() + "'\nRAvuruvo = '" + connection_string() +
                  "'\n[log]\nfile = 'var/log/heliq.log'\n");
  Panel panel(ui_);
  EXPECT_TRUE(panel.RunService(ServiceButton::kCleanup));
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].text,
            "CleanUp Service Executed, for additional information see the log file: " +
                (install_dir() / "var" / "log" / "heliq.log").string());
}

INSTANTIATE_DATABASE_TEST_SUITE(PanelTest);

}  // namespace
}  // namespace heliq::admin
