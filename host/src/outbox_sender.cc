#include "host/outbox_sender.h"

#include <string>
#include <vector>

#include "common/heliq_utilities.h"
#include "common/mail_outbox.h"
#include "platform/com_error.h"
#include "platform/configuration.h"
#include "platform/text.h"

namespace heliq {
namespace {

constexpr std::string_view kSenderSource = "Heliq.OutboxSender";
constexpr std::chrono::seconds kDefaultPoll{5};
constexpr size_t kMaxPollDigits = 5;

}  // namespace

std::chrono::seconds OutboxPollPeriod() {
  const std::string value(TrimSpace(SettingValue("mail", "outbox_poll_seconds")));
  if (value.empty()) return kDefaultPoll;
  if (value.size() > kMaxPollDigits || value.find_first_not_of("0123456789") != std::string::npos ||
      std::stoi(value) <= 0) {
    throw ComError(
        err::kInvalidProcedureCall, std::string(kSenderSource),
        "[mail] outbox_poll_seconds \"" + value + "\" is not a positive whole number of seconds");
  }
  return std::chrono::seconds(std::stoi(value));
}

OutboxSender::OutboxSender(std::chrono::milliseconds poll_period) : poll_period_(poll_period) {}

OutboxSender::~OutboxSender() { Stop(); }

int OutboxSender::Pass() {
  int delivered = 0;
  try {
    OutboxOptions options;
    while (true) {
      const std::vector<OutboxDelivery> tried = DeliverOutbox(options);
      if (tried.empty()) break;
      for (const OutboxDelivery& delivery : tried) {
        if (delivery.error.empty()) ++delivered;
      }
      options.after_id = tried.back().id;
    }
    last_error_.clear();
  } catch (...) {
    const ComError error = CurrentError();
    if (error.description() != last_error_) {
      last_error_ = error.description();
      WriteErrorLog(std::string(kSenderSource) + ".Pass", "the mail outbox cannot be delivered");
    }
  }
  return delivered;
}

void OutboxSender::Start() {
  std::lock_guard lock(mutex_);
  if (thread_.joinable()) return;
  stopping_ = false;
  thread_ = std::thread([this] {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
      lock.unlock();
      Pass();
      lock.lock();
      wake_.wait_for(lock, poll_period_, [this] { return stopping_; });
    }
  });
}

void OutboxSender::Stop() {
  {
    std::lock_guard lock(mutex_);
    if (!thread_.joinable()) return;
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

}  // namespace heliq
