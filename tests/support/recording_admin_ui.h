// Test support: an AdminUi that records what the core showed and answers yes/no questions from a
// queue (default "yes"). Shared by the administration utility's tests.
#ifndef HELIQ_TESTS_SUPPORT_RECORDING_ADMIN_UI_H_
#define HELIQ_TESTS_SUPPORT_RECORDING_ADMIN_UI_H_

#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "adminutility/core/admin_ui.h"

namespace heliq::testing {

class RecordingAdminUi : public admin::AdminUi {
 public:
  struct Message {
    std::string text;
    admin::MessageIcon icon;
  };

  void ShowMessage(std::string_view text, admin::MessageIcon icon) override {
    messages.push_back({std::string(text), icon});
  }
  bool AskYesNo(std::string_view text) override {
    questions.emplace_back(text);
    if (answers.empty()) return true;
    bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void SetBusy(bool busy) override {
    busy_changes.push_back(busy);
    this->busy = busy;
  }

  std::vector<Message> messages;
  std::vector<std::string> questions;
  std::deque<bool> answers;        // answers to the next questions; "yes" when empty
  std::vector<bool> busy_changes;  // every SetBusy call, in order
  bool busy = false;               // the pointer's current state
};

}  // namespace heliq::testing

#endif  // HELIQ_TESTS_SUPPORT_RECORDING_ADMIN_UI_H_
