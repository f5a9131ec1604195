// What the administration utility's core asks of the screen: message boxes, a yes/no question
// and the busy mouse pointer. The Qt windows implement it; tests use a recording fake. The core
// never includes Qt, so everything the user sees goes through this interface.
//
// Thread safety: called from the thread that owns the windows only.
#ifndef HELIQ_ADMINUTILITY_CORE_ADMIN_UI_H_
#define HELIQ_ADMINUTILITY_CORE_ADMIN_UI_H_

#include <string_view>

namespace heliq::admin {

// The icon of a message box. kNone is a plain box (text alone).
enum class MessageIcon { kNone, kInformation, kExclamation, kCritical };

class AdminUi {
 public:
  virtual ~AdminUi() = default;

  // Shows `text` in a modal message box with an OK button and `icon`; returns when it is closed.
  // Line breaks in `text` are "\r\n" or "\n"; both show as a new line.
  virtual void ShowMessage(std::string_view text, MessageIcon icon) = 0;
  // Asks a modal yes/no question (question icon, "no" the default button); true when the answer
  // is "yes".
  virtual bool AskYesNo(std::string_view text) = 0;
  // Busy (arrow with hourglass) or normal (arrow) mouse pointer over the program's windows.
  virtual void SetBusy(bool busy) = 0;

  // Shorthands.
  void ShowInformation(std::string_view text) { ShowMessage(text, MessageIcon::kInformation); }
  void ShowExclamation(std::string_view text) { ShowMessage(text, MessageIcon::kExclamation); }
  void ShowCritical(std::string_view text) { ShowMessage(text, MessageIcon::kCritical); }
};

// Shows the busy pointer for its lifetime; the normal pointer comes back also when a failure
// unwinds through the scope.
class BusyPointer {
 public:
  explicit BusyPointer(AdminUi& ui) : ui_(ui) { ui_.SetBusy(true); }
  ~BusyPointer() { ui_.SetBusy(false); }
  BusyPointer(const BusyPointer&) = delete;
  BusyPointer& operator=(const BusyPointer&) = delete;

 private:
  AdminUi& ui_;
};

}  // namespace heliq::admin

#endif  // HELIQ_ADMINUTILITY_CORE_ADMIN_UI_H_
