// The maintenance services panel (window MDSynch) without its window: which service buttons are
// enabled, the captions, and what a click on a service button does. The Qt window shows a Panel
// and forwards clicks to it; tests drive it with a recording AdminUi.
//
// Button states are decided once, by Open: a button whose DAEMON row says the scheduled run is
// switched on is disabled (a button without a row keeps its state); the FAQ notification button
// is disabled when FAQPARAMETER says notifications are mailed periodically by the schedule
// (MODE_MAILNOTIFY "Periodic", MAILNOTIFY "Yes", NTS_MAILNOTIFY "On", each exactly).
//
// Thread safety: one thread (the window's).
#ifndef HELIQ_ADMINUTILITY_CORE_PANEL_H_
#define HELIQ_ADMINUTILITY_CORE_PANEL_H_

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "adminutility/core/admin_ui.h"

namespace heliq::admin {

enum class ServiceButton { kCleanup, kReminder, kDormant, kArchive, kFaqNotify };

// The fixed facts of a service button.
struct ServiceButtonInfo {
  ServiceButton button;
  std::string_view control;         // the control's name ("cleanup", ...)
  std::string_view caption;         // the button's caption
  std::string_view description;     // the label beside it
  std::string_view daemon_name;     // DAEMON.NAME that governs it; "" for the FAQ button
  std::string_view class_id;        // the service component it runs
  std::string_view success;         // information shown after a run
  std::string_view failure_prefix;  // shown before CR LF and the error's description
};

// The five buttons in the order the panel shows them.
const std::array<ServiceButtonInfo, 5>& ServiceButtons();
const ServiceButtonInfo& InfoOf(ServiceButton button);

// The window's caption.
inline constexpr std::string_view kPanelCaption = "Heliq 2.3 Admin Utility";
// The caption of the frame around the service buttons.
inline constexpr std::string_view kServicesFrameCaption = "Services";
// Labels of the report button and of the description beside it.
inline constexpr std::string_view kReportCaptionLabel = "HQLBL4309";
inline constexpr std::string_view kReportDescriptionLabel = "HQLBL4311";

// The log file the services write to: [log] file, relative to the install directory unless
// absolute; "" when none is configured.
std::string LogFilePath();

// `message` with the log file named at its end ("... see the log file: PATH"; a final period
// gives way to it); unchanged when `log_file` is empty.
std::string WithLogFile(std::string_view message, std::string_view log_file);

class Panel {
 public:
  // `ui` must outlive the panel.
  explicit Panel(AdminUi& ui);

  // Reads the language, DAEMON, FAQPARAMETER and the report captions. Any failure is shown with
  // an exclamation icon ("HeliqAdminUtility.Services and MDSynch - " CR LF description); what was
  // set before it stays, the rest keeps its initial value (all enabled, captions = label codes).
  void Open();

  // Runs the button's service once: busy pointer while it runs, then the success message as
  // information, naming the log file after "see the log file" when one is configured (LogFilePath),
  // or the failure prefix, CR LF and the error's description with an exclamation
  // icon (no success message). Returns true on success. Never throws.
  bool RunService(ServiceButton button);

  bool enabled(ServiceButton button) const { return enabled_[Index(button)]; }
  // Why a button is disabled, for its tooltip: "scheduled: runs every N minutes" (DAEMON's
  // INTERVAL; "scheduled" when it has none), or for the FAQ button "scheduled: mailed
  // periodically"; "" for an enabled button.
  std::string tooltip(ServiceButton button) const;
  int32_t language() const { return language_; }
  const std::string& report_caption() const { return report_caption_; }
  const std::string& report_description() const { return report_description_; }
  // The FAQPARAMETER values read by Open ("" when there is no row).
  const std::string& mail_notify() const { return mail_notify_; }
  const std::string& mode_mail_notify() const { return mode_mail_notify_; }
  const std::string& nts_mail_notify() const { return nts_mail_notify_; }

 private:
  static size_t Index(ServiceButton button) { return static_cast<size_t>(button); }
  void ReadDaemonStates();
  void ReadFaqParameters();

  AdminUi& ui_;
  std::array<bool, 5> enabled_ = {true, true, true, true, true};
  std::array<std::string, 5> intervals_;  // DAEMON.INTERVAL as text ("" when null or no row)
  int32_t language_ = 0;
  std::string report_caption_{kReportCaptionLabel};
  std::string report_description_{kReportDescriptionLabel};
  std::string mail_notify_;
  std::string mode_mail_notify_;
  std::string nts_mail_notify_;
};

}  // namespace heliq::admin

#endif  // HELIQ_ADMINUTILITY_CORE_PANEL_H_
