// The outbox sender: a thread that delivers the mail outbox (common/mail_outbox.h) every poll
// period, in every heliqd (and `heliq scheduler`). Several senders on one database share the work:
// each entry is claimed by one of them.
//
// Settings: [mail] outbox_poll_seconds (whole seconds between passes, default 5).
//
// Thread safety: Pass may be called from any thread; Start and Stop by the owner's thread.
#ifndef HELIQ_HOST_OUTBOX_SENDER_H_
#define HELIQ_HOST_OUTBOX_SENDER_H_

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace heliq {

// [mail] outbox_poll_seconds; 5 when unset, error 5 when not a positive whole number.
std::chrono::seconds OutboxPollPeriod();

class OutboxSender {
 public:
  explicit OutboxSender(std::chrono::milliseconds poll_period);
  ~OutboxSender();  // stops the thread
  OutboxSender(const OutboxSender&) = delete;
  OutboxSender& operator=(const OutboxSender&) = delete;

  // Delivers every entry due now; returns how many were delivered. Never throws: a failure of the
  // database is logged once per distinct failure, a failed delivery stays for its retry.
  int Pass();
  // Starts the thread that calls Pass every poll period. Idempotent.
  void Start();
  // Stops the thread after the pass in progress. Idempotent.
  void Stop();

 private:
  const std::chrono::milliseconds poll_period_;
  std::string last_error_;  // the database failure last logged; used by the thread that passes
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace heliq

#endif  // HELIQ_HOST_OUTBOX_SENDER_H_
