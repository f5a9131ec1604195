// heliq scheduler: runs the scheduling service alone, in the foreground, until SIGTERM or SIGINT;
// heliq scheduler status: who holds each service's lease and how its last run went.
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "host/outbox_sender.h"
#include "host/scheduler.h"
#include "host/service_lease.h"
#include "platform/clock.h"
#include "platform/registry_store.h"
#include "tools/commands.h"

namespace heliq::tools {
namespace {

void PrintStatus(std::ostream& out) {
  const DateTime now = Now();
  std::map<std::string, LeaseState> leases;
  for (LeaseState& lease : ListLeases()) leases.emplace(lease.service, std::move(lease));
  std::map<std::string, RunRecord> runs;
  for (RunRecord& run : LatestRuns()) runs.emplace(run.service, std::move(run));
  std::vector<std::string> names;
  for (const ScheduledService& service : SystemServices()) names.push_back(service.name);
  for (const auto& [name, lease] : leases) {
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  }
  for (const std::string& name : names) {
    out << name << "\n  lease:    ";
    const auto lease = leases.find(name);
    if (lease == leases.end() || lease->second.expires <= now) {
      out << "free";
      if (lease != leases.end()) out << " (last held by " << lease->second.holder << ")";
    } else {
      out << "held by " << lease->second.holder << " until " << lease->second.expires.ToText();
    }
    out << "\n  last run: ";
    const auto run = runs.find(name);
    if (run == runs.end()) {
      out << "never\n";
      continue;
    }
    const RunRecord& last = run->second;
    out << last.started.ToText() << " on " << last.host << ", ";
    if (last.ended) {
      out << "ended " << last.ended->ToText() << ", " << last.outcome << "\n";
    } else {
      out << "not ended (running, or its host stopped during the run)\n";
    }
  }
  out.flush();
}

}  // namespace

CommandRunner AddSchedulerCommand(CLI::App& app) {
  auto* command = app.add_subcommand(
      "scheduler",
      "run the scheduled services (archive, clean-up, dormant expiry, escalation) in the "
      "foreground until interrupted, whatever [scheduler] enabled says");
  auto poll_seconds = std::make_shared<int>(10);
  command->add_option("--poll", *poll_seconds, "seconds between looks at the schedule")
      ->check(CLI::Range(1, 3600));
  auto* status = command->add_subcommand(
      "status",
      "show each scheduled service's lease (which host holds it, until when) and its "
      "last run (host, start, end, outcome), from the database all hosts share");

  return [=] {
    if (!*command) return -1;
    if (*status) {
      PrintStatus(std::cout);
      return 0;
    }
    // The stop signals are taken by sigwait below; blocked before the scheduler's thread starts,
    // they stay blocked there too.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    SchedulerOptions options;
    options.poll_period = std::chrono::seconds(*poll_seconds);
    options.on_run = [](const ServiceRun& run) {
      std::cout << Now().ToText() << "  " << run.service << ": "
                << (run.error.empty() ? "done" : "failed: " + run.error) << std::endl;
    };
    Scheduler scheduler(SystemServices(), options);
    std::cout << "heliq scheduler: schedule from " << RegistryStore::FromSettings().file().string()
              << "; stop with Ctrl-C or SIGTERM" << std::endl;
    scheduler.Start();
    // The services' mails go out from here too when no heliqd runs.
    OutboxSender sender(OutboxPollPeriod());
    sender.Start();
    int signal = 0;
    sigwait(&signals, &signal);
    std::cout << "heliq scheduler: stopping" << std::endl;
    scheduler.Stop();
    sender.Stop();
    return 0;
  };
}

}  // namespace heliq::tools
