#include "platform/log.h"

#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include <filesystem>
#include <mutex>

#include "platform/configuration.h"

namespace heliq {
namespace {

std::shared_ptr<spdlog::logger> Logger() {
  static std::once_flag once;
  static std::shared_ptr<spdlog::logger> logger;
  std::call_once(once, [] {
    std::string file;
    try {
      file = SettingValue("log", "file");
      if (!file.empty() && file.front() != '/') {
        file = SettingValue("", "install_dir").empty()
                   ? file
                   : (std::filesystem::absolute(SettingValue("", "install_dir")) / file).string();
      }
    } catch (...) {
      file.clear();
    }
    try {
      if (!file.empty()) {
        std::filesystem::create_directories(std::filesystem::path(file).parent_path());
        logger = std::make_shared<spdlog::logger>(
            "heliq", std::make_shared<spdlog::sinks::basic_file_sink_mt>(file));
      }
    } catch (...) {
      logger.reset();
    }
    if (!logger) {
      logger = std::make_shared<spdlog::logger>(
          "heliq", std::make_shared<spdlog::sinks::stderr_sink_mt>());
    }
    logger->flush_on(spdlog::level::warn);
  });
  return logger;
}

class FileLog final : public Log {
 public:
  void LogEvent(std::string_view source, std::string_view text, int32_t level,
                const Variant& extra) override {
    std::string entry = fmt::format("[{}] {}", source, text);
    if (!extra.IsBlank()) entry += fmt::format(" | {}", extra.ToTextOrEmpty());
    Logger()->log(level <= 0 ? spdlog::level::err : spdlog::level::warn, "{}",
                  RedactSecrets(std::move(entry)));
  }
};

}  // namespace

std::string RedactSecrets(std::string text) {
  std::vector<std::string> secrets;
  try {
    secrets = SecretValues();
  } catch (...) {
    return text;
  }
  for (const auto& secret : secrets) {
    for (size_t pos = text.find(secret); pos != std::string::npos;
         pos = text.find(secret, pos + 3)) {
      text.replace(pos, secret.size(), "***");
    }
  }
  return text;
}

void LogInfo(std::string_view text) {
  Logger()->info("{}", RedactSecrets(std::string(text)));
}

void RegisterLogComponent() {
  ComponentRegistry::Global().Register(kLogClassId, [] { return std::make_unique<FileLog>(); });
}

}  // namespace heliq
