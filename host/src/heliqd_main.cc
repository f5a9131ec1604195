// heliqd: the component host. Serves the operation table over HTTP on the configured address.
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

#include <CLI/CLI.hpp>

#include "host/host.h"
#include "host/http_server.h"
#include "host/scheduler.h"
#include "platform/com_error.h"
#include "platform/configuration.h"
#include "platform/log.h"

namespace {

// SIGTERM and SIGINT are taken by one thread (sigwait) rather than by a handler, so stopping may
// lock, log and wait: the server then finishes the calls in progress before Run returns.
sigset_t StopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  return signals;
}

// Blocks the stop signals in the calling thread and in every thread it starts later: call it first.
void BlockStopSignals() {
  const sigset_t signals = StopSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

// Runs `stop` on the first stop signal. Destruction without a signal ends the waiting thread.
class SignalWaiter {
 public:
  explicit SignalWaiter(std::function<void()> stop)
      : thread_([this, stop = std::move(stop)] {
          const sigset_t signals = StopSignals();
          int signal = 0;
          sigwait(&signals, &signal);
          if (done_) return;
          heliq::LogInfo("heliqd stopping (signal " + std::to_string(signal) +
                         "): finishing the calls in progress");
          stop();
        }) {}
  ~SignalWaiter() {
    done_ = true;
    pthread_kill(thread_.native_handle(), SIGTERM);
    thread_.join();
  }
  SignalWaiter(const SignalWaiter&) = delete;
  SignalWaiter& operator=(const SignalWaiter&) = delete;

 private:
  std::atomic<bool> done_{false};
  std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "heliqd: the Heliq component host. Serves POST /api/v1/<class id>/<operation> "
      "with JSON arguments; each call is one unit of work."};
  std::string config;
  app.add_option("--config", config,
                 "configuration file (default: $HELIQ_CONFIG or "
                 "config/heliq.toml)");
  CLI11_PARSE(app, argc, argv);
  BlockStopSignals();
  try {
    if (!config.empty()) heliq::LoadSettings(config);
    heliq::EnsureSettingsLoaded();
    heliq::InitializeSystem();
    const heliq::HttpServerOptions options = heliq::OptionsFromSettings();
    heliq::HttpServer server(options);
    SignalWaiter stop_on_signal([&server] { server.Stop(); });
    // The scheduling service runs beside the calls and stops (after a run in progress) on return.
    std::unique_ptr<heliq::Scheduler> scheduler;
    if (heliq::SchedulerEnabled()) {
      scheduler = std::make_unique<heliq::Scheduler>();
      scheduler->Start();
    }
    std::cout << "heliqd listening on http://" << options.address << ":" << options.port
              << std::endl;
    heliq::LogInfo("heliqd listening on " + options.address + ":" + std::to_string(options.port));
    if (!server.Run()) {
      std::cerr << "heliqd: cannot listen on " << options.address << ":" << options.port
                << std::endl;
      return 1;
    }
    heliq::LogInfo("heliqd stopped");
    return 0;
  } catch (const heliq::ComError& e) {
    std::cerr << "heliqd: " << heliq::RedactSecrets(e.description()) << std::endl;
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "heliqd: " << e.what() << std::endl;
    return 1;
  }
}
