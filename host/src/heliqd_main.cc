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

#include "common/heliq_utilities.h"
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
    if (!thread_.joinable()) return;
    done_ = true;
    pthread_kill(thread_.native_handle(), SIGTERM);
    thread_.join();
  }
  // Returns once a stop signal came and `stop` has returned.
  void Wait() { thread_.join(); }
  SignalWaiter(const SignalWaiter&) = delete;
  SignalWaiter& operator=(const SignalWaiter&) = delete;

 private:
  std::atomic<bool> done_{false};
  std::thread thread_;
};

// What an operator needs to know first: which configuration, which databases (secrets blanked),
// where the log goes. The address follows once the options are read.
void PrintStartup() {
  std::cout << "heliqd " << HELIQ_VERSION << ", configuration " << heliq::SettingsFile()
            << std::endl;
  for (const char* application : {"Heliq", "RAvuruvo", "BackOffice", "Directory"}) {
    std::string connection = heliq::SettingValue("connections", application);
    if (connection.empty()) connection = "(the Heliq database)";
    std::cout << "  database " << application << ": " << heliq::RedactSecrets(connection)
              << std::endl;
  }
  const std::string log_file = heliq::SettingValue("log", "file");
  std::cout << "  log: " << (log_file.empty() ? std::string("(none)") : log_file)
            << " (relative to " << heliq::GetInstallDir() << ")" << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "heliqd: the Heliq component host. Serves POST /api/v1/<class id>/<operation> "
      "with JSON arguments (each call one unit of work) and the web front end at / from "
      "[host] web_root."};
  app.set_version_flag("--version", std::string("heliqd ") + HELIQ_VERSION);
  std::string config;
  app.add_option("--config", config,
                 "configuration file (default: $HELIQ_CONFIG, else config/heliq.toml in the "
                 "current directory, else /etc/heliq/heliq.toml)");
  CLI11_PARSE(app, argc, argv);
  BlockStopSignals();
  try {
    heliq::LoadSettings(heliq::ConfigurationPath(config));
    heliq::InitializeSystem();
    PrintStartup();
    const heliq::HttpServerOptions options = heliq::OptionsFromSettings();
    heliq::HttpServer server(options);
    SignalWaiter stop_on_signal([&server] { server.Stop(); });
    // The scheduling service runs beside the calls and stops (after a run in progress) on return.
    std::unique_ptr<heliq::Scheduler> scheduler;
    if (heliq::SchedulerEnabled()) {
      scheduler = std::make_unique<heliq::Scheduler>();
      scheduler->Start();
    }
    if (server.Start() < 0) {
      std::cerr << "heliqd: cannot listen on " << server.BindFailure()
                << " (is another heliqd running on that port?)" << std::endl;
      return 1;
    }
    std::cout << "heliqd listening on http://" << options.address << ":" << options.port
              << " (pages from " << options.web_root.string() << ")" << std::endl;
    heliq::LogInfo("heliqd listening on " + options.address + ":" + std::to_string(options.port));
    stop_on_signal.Wait();
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
