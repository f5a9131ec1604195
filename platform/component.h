// The component registry: class identifier -> factory.
//
// Every outside component, and every public class of the system's libraries, is created by its
// class identifier ("HlqServiceRequestMTS.Prospect", "Xentra.Configuration", ...). Identifiers
// compare without regard to case. Creating an identifier that has no registration raises error 429,
// as creating a component that is not installed would. Tests replace registrations with fakes
// (ScopedRegistration puts the previous factory back when it goes out of scope).
//
// Thread safety: registration and creation may run concurrently from any thread.
#ifndef HELIQ_PLATFORM_COMPONENT_H_
#define HELIQ_PLATFORM_COMPONENT_H_

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>

#include "platform/com_error.h"

namespace heliq {

// Base of everything the registry creates.
class Component {
 public:
  virtual ~Component() = default;
};

using ComponentFactory = std::function<std::unique_ptr<Component>()>;

class ComponentRegistry {
 public:
  // The process-wide registry.
  static ComponentRegistry& Global();

  // Registers (or replaces) the factory of `class_id`; returns the factory it replaced, if any.
  std::optional<ComponentFactory> Register(std::string_view class_id, ComponentFactory factory);
  void Unregister(std::string_view class_id);
  // Puts back a factory returned by Register (nullopt: removes the registration).
  void Restore(std::string_view class_id, std::optional<ComponentFactory> factory);
  bool IsRegistered(std::string_view class_id) const;
  // A new object; error 429 when the identifier is not registered or its factory fails.
  std::unique_ptr<Component> Create(std::string_view class_id) const;

 private:
  ComponentRegistry() = default;
  mutable std::shared_mutex mutex_;
  std::map<std::string, ComponentFactory> factories_;  // keyed by the lower-case identifier
};

// Registers `factory` for the lifetime of the object (tests' fakes).
class ScopedRegistration {
 public:
  ScopedRegistration(std::string class_id, ComponentFactory factory);
  ~ScopedRegistration();
  ScopedRegistration(const ScopedRegistration&) = delete;
  ScopedRegistration& operator=(const ScopedRegistration&) = delete;

 private:
  std::string class_id_;
  std::optional<ComponentFactory> previous_;
};

// Casts a created component to the interface the caller needs; error 13 when it is not one.
template <typename T>
std::unique_ptr<T> ComponentAs(std::unique_ptr<Component> component, std::string_view class_id) {
  if (auto* typed = dynamic_cast<T*>(component.get())) {
    component.release();
    return std::unique_ptr<T>(typed);
  }
  throw ComError(err::kTypeMismatch, std::string(class_id),
                 "component " + std::string(class_id) + " does not offer the expected interface");
}

}  // namespace heliq

#endif  // HELIQ_PLATFORM_COMPONENT_H_
