#include "portal/backend/backend_components.h"

#include <cctype>
#include <cstdlib>
#include <memory>
#include <string>

#include "common/directory.h"
#include "platform/com_error.h"
#include "platform/configuration.h"

namespace heliq {
namespace {

struct Backend {
  int32_t id;
  std::string_view name;
  std::string_view component_id;
};

constexpr Backend kBackends[] = {
    {1, "Mk4", "HeliqMk4.VIS"},
    {3, "Mk5", "HeliqMk5.VIS"},
    {8, "Mk6", "HeliqMk6.VIS"},
};

struct Language {
  int32_t locale;
  std::string_view name;
};

constexpr Language kLanguages[] = {
    {1025, "Arabic"},     {1028, "Chinese"},  {1029, "Czech"},      {1030, "Danish"},
    {1031, "German"},     {1032, "Greek"},    {1033, "English"},    {1034, "Spanish"},
    {1035, "Finnish"},    {1036, "French"},   {1037, "Hebrew"},     {1038, "Hungarian"},
    {1040, "Italian"},    {1041, "Japanese"}, {1042, "Korean"},     {1043, "Dutch"},
    {1044, "Norwegian"},  {1045, "Polish"},   {1046, "Portuguese"}, {1049, "Russian"},
    {1053, "Swedish"},    {1054, "Thai"},     {1055, "Turkish"},    {2052, "Chinese"},
    {2055, "German"},     {2057, "English"},  {2060, "French"},     {2067, "Dutch"},
    {2070, "Portuguese"}, {3076, "Chinese"},  {3079, "German"},     {3081, "English"},
    {3082, "Spanish"},    {3084, "French"},   {4105, "English"},    {4108, "French"},
};

[[noreturn]] void BadBackend(std::string description) {
  throw ComError(err::kInvalidProcedureCall, std::string(kBackendSelectorClassId),
                 std::move(description));
}

const Backend* FindBackend(int32_t id) {
  for (const auto& backend : kBackends) {
    if (backend.id == id) return &backend;
  }
  return nullptr;
}

// A configured back-end number; 0 for an empty setting.
int32_t ConfiguredNumber(std::string_view section, std::string_view key) {
  const std::string text = SettingValue(section, key);
  if (text.empty()) return 0;
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (end == text.c_str() || *end != '\0' || value < 0 || value > 1000) {
    BadBackend("[" + std::string(section) + "] " + std::string(key) +
               " is not a back-end number: '" + text + "'");
  }
  return static_cast<int32_t>(value);
}

class ConfiguredBackendSelector final : public BackendSelector {
 public:
  int32_t SelectDefaultBackend() override {
    int32_t id = ConfiguredNumber("backend", "default");
    if (id == 0) id = ConfiguredNumber("backoffice", "generation");
    if (id == 0) {
      BadBackend(
          "no default back end is configured ([backend] default or [backoffice] generation)");
    }
    if (FindBackend(id) == nullptr)
      BadBackend("the default back end " + std::to_string(id) + " is not known");
    return id;
  }

  DictionaryPtr GetBackendProperties(int32_t backend_id) override {
    const Backend* backend = FindBackend(backend_id);
    if (backend == nullptr) BadBackend("back end " + std::to_string(backend_id) + " is not known");
    bool is_default = false;
    try {
      is_default = SelectDefaultBackend() == backend_id;
    } catch (const ComError&) {
      // Without a usable default no back end is the default one.
    }
    std::string component(backend->component_id);
    if (const std::string configured = SettingValue("backend", "component_id");
        is_default && !configured.empty()) {
      component = configured;
    }
    auto properties = Dictionary::Create();
    properties->Set("id", Variant(backend->id));
    properties->Set("name", Variant(backend->name));
    properties->Set("componentid", Variant(component));
    properties->Set("isdefault", Variant(is_default));
    return properties;
  }
};

class StaticLanguageList final : public LanguageList {
 public:
  std::string GetLanguageName(int32_t locale) override {
    for (const auto& language : kLanguages) {
      if (language.locale == locale) return std::string(language.name);
    }
    return "";
  }
};

}  // namespace

void RegisterBackendComponents() {
  auto& registry = ComponentRegistry::Global();
  registry.Register(kBackendSelectorClassId,
                    [] { return std::make_unique<ConfiguredBackendSelector>(); });
  registry.Register(kLanguageListClassId, [] { return std::make_unique<StaticLanguageList>(); });
}

}  // namespace heliq
