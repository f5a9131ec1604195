// heliq scheduler: runs the scheduling service alone, in the foreground, until SIGTERM or SIGINT.
#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <iostream>
#include <memory>

#include "host/scheduler.h"
#include "platform/clock.h"
#include "platform/registry_store.h"
#include "tools/commands.h"

namespace heliq::tools {

CommandRunner AddSchedulerCommand(CLI::App& app) {
  auto* command = app.add_subcommand(
      "scheduler",
      "run the scheduled services (archive, clean-up, dormant expiry, escalation) in the "
      "foreground until interrupted, whatever [scheduler] enabled says");
  auto poll_seconds = std::make_shared<int>(10);
  command->add_option("--poll", *poll_seconds, "seconds between looks at the schedule")
      ->check(CLI::Range(1, 3600));

  return [=] {
    if (!*command) return -1;
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
    int signal = 0;
    sigwait(&signals, &signal);
    std::cout << "heliq scheduler: stopping" << std::endl;
    scheduler.Stop();
    return 0;
  };
}

}  // namespace heliq::tools
