#include "platform/component.h"

#include <mutex>


namespace heliq {
namespace {

std::string Fold(std::string_view id) {
  std::string out(id);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

ComponentRegistry& ComponentRegistry::Global() {
  static ComponentRegistry* registry = new ComponentRegistry();
  return *registry;
}

std::optional<ComponentFactory> ComponentRegistry::Register(std::string_view class_id,
                                                            ComponentFactory factory) {
  std::unique_lock lock(mutex_);
  auto& slot = factories_[Fold(class_id)];
  std::optional<ComponentFactory> previous;
  if (slot) previous = std::move(slot);
  slot = std::move(factory);
  return previous;
}

void ComponentRegistry::Unregister(std::string_view class_id) {
  std::unique_lock lock(mutex_);
  factories_.erase(Fold(class_id));
}

void ComponentRegistry::Restore(std::string_view class_id,
                                std::optional<ComponentFactory> factory) {
  if (factory) {
    Register(class_id, std::move(*factory));
  } else {
    Unregister(class_id);
  }
}

bool ComponentRegistry::IsRegistered(std::string_view class_id) const {
  std::shared_lock lock(mutex_);
  return factories_.count(Fold(class_id)) > 0;
}

std::unique_ptr<Component> ComponentRegistry::Create(std::string_view class_id) const {
  ComponentFactory factory;
  {
    std::shared_lock lock(mutex_);
    auto it = factories_.find(Fold(class_id));
    if (it != factories_.end()) factory = it->second;
  }
  if (!factory) {
    throw ComError(err::kCannotCreateComponent, std::string(class_id),
                   DefaultErrorDescription(err::kCannotCreateComponent) + ": " +
                       std::string(class_id) + " is not registered");
  }
  std::unique_ptr<Component> component;
  try {
    component = factory();
  } catch (const std::exception& e) {
    throw ComError(err::kCannotCreateComponent, std::string(class_id),
                   DefaultErrorDescription(err::kCannotCreateComponent) + ": " +
                       std::string(class_id) + ": " + e.what());
  }
  if (!component) throw ComError::Of(err::kCannotCreateComponent, std::string(class_id));
  return component;
}

ScopedRegistration::ScopedRegistration(std::string class_id, ComponentFactory factory)
    : class_id_(std::move(class_id)),
      previous_(ComponentRegistry::Global().Register(class_id_, std::move(factory))) {}

ScopedRegistration::~ScopedRegistration() {
  ComponentRegistry::Global().Restore(class_id_, std::move(previous_));
}

}  // namespace heliq
