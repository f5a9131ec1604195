// heliq escalate: one escalation run under the service's lease, its mails delivered from the
// outbox, then what it mailed and which reminder timers it cleared.
#include <algorithm>
#include <cctype>
#include <iostream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "common/heliq_utilities.h"
#include "common/mail_outbox.h"
#include "host/scheduler.h"
#include "host/service_lease.h"
#include "platform/clock.h"
#include "platform/com_error.h"
#include "platform/connection.h"
#include "platform/mail.h"
#include "tools/commands.h"

namespace heliq::tools {
namespace {

constexpr std::string_view kSelectRunningTimers =
    "SELECT Q_ID FROM REMINDER WHERE T1_DATE IS NOT NULL ORDER BY Q_ID";

// Requests whose reminder timer runs, read outside any unit of work.
std::set<int64_t> RunningTimers() {
  std::unique_ptr<Connection> connection = GetHeliqConnection();
  std::set<int64_t> ids;
  for (const auto& row : connection->Query(kSelectRunningTimers).rows) {
    ids.insert(row[0].ToLongLong());
  }
  CloseConnection(connection);
  return ids;
}

// The request numbers of an escalation table: a line (after any indentation) that starts with a
// number followed by the column gap of 13 blanks.
std::vector<std::string> RequestNumbers(std::string_view body) {
  constexpr std::string_view kGap = "             ";
  std::vector<std::string> numbers;
  size_t start = 0;
  while (start < body.size()) {
    size_t end = body.find('\n', start);
    if (end == std::string_view::npos) end = body.size();
    std::string_view line = body.substr(start, end - start);
    start = end + 1;
    line.remove_prefix(std::min(line.find_first_not_of(' '), line.size()));
    size_t digits = 0;
    while (digits < line.size() && std::isdigit(static_cast<unsigned char>(line[digits]))) {
      ++digits;
    }
    if (digits > 0 && line.substr(digits).starts_with(kGap)) {
      numbers.emplace_back(line.substr(0, digits));
    }
  }
  return numbers;
}

template <typename Range>
std::string Joined(const Range& items, std::string_view separator) {
  std::string out;
  for (const auto& item : items) {
    if (!out.empty()) out += separator;
    if constexpr (std::is_arithmetic_v<std::decay_t<decltype(item)>>) {
      out += std::to_string(item);
    } else {
      out += item;
    }
  }
  return out.empty() ? "(none)" : out;
}

void PrintReport(const std::vector<MailRecord>& mails, const std::set<int64_t>& before) {
  for (size_t i = 0; i < mails.size(); ++i) {
    const MailRecord& mail = mails[i];
    std::vector<std::string> recipients = mail.message.to;
    recipients.insert(recipients.end(), mail.message.cc.begin(), mail.message.cc.end());
    std::cout << "mail " << (i + 1) << (mail.error.empty() ? "" : " (NOT SENT)") << "\n"
              << "  to:       " << Joined(recipients, ", ") << "\n"
              << "  subject:  " << mail.message.subject << "\n"
              << "  requests: " << Joined(RequestNumbers(mail.message.body), ", ") << "\n";
    if (!mail.error.empty()) std::cout << "  error:    " << mail.error << "\n";
  }
  std::vector<int64_t> cleared;
  const std::set<int64_t> after = RunningTimers();
  std::set_difference(before.begin(), before.end(), after.begin(), after.end(),
                      std::back_inserter(cleared));
  std::cout << mails.size() << (mails.size() == 1 ? " mail, " : " mails, ") << cleared.size()
            << (cleared.size() == 1 ? " reminder" : " reminders")
            << " cleared: " << Joined(cleared, ", ") << std::endl;
}

}  // namespace

CommandRunner AddEscalateCommand(CLI::App& app) {
  auto* command = app.add_subcommand(
      "escalate",
      "run the escalation once (as the scheduler's Alert service does) and show what it mailed "
      "and which requests' reminder timers it cleared");

  return [=] {
    if (!*command) return -1;
    // The same lease as the hosts' schedulers: a run by hand never overlaps a scheduled one.
    std::string holder;
    const std::unique_ptr<HeldLease> lease = HeldLease::Take(kAlertServiceName, Now(), &holder);
    if (!lease) {
      throw ComError(err::kServiceBusy, "heliq escalate",
                     "the escalation is running elsewhere: " + holder +
                         " holds the lease of service " + std::string(kAlertServiceName) +
                         "; try again when it has finished");
    }
    RecordedRun record(kAlertServiceName, lease->holder(), Now());
    const std::set<int64_t> before = RunningTimers();
    const int64_t last_entry = LastOutboxId();
    ScopedMailRecorder recorder;
    try {
      RunEscalation();
    } catch (...) {
      // The run rolled back with the mails it had written to the outbox: nothing went out.
      const ComError error = CurrentError();
      record.Failed(error.description() + " (" + std::to_string(error.number()) + ")");
      PrintReport(recorder.records(), before);
      throw;
    }
    record.Succeeded();
    // The run's mails, delivered before the command ends; one that cannot be delivered now stays
    // in the outbox for the hosts' senders to retry.
    OutboxOptions delivery;
    delivery.after_id = last_entry;
    while (true) {
      const std::vector<OutboxDelivery> delivered = DeliverOutbox(delivery);
      if (delivered.empty()) break;
      delivery.after_id = delivered.back().id;
    }
    PrintReport(recorder.records(), before);
    return 0;
  };
}

}  // namespace heliq::tools
