#include "portal/backoffice/master_data_simulator.h"

#include <algorithm>

#include "platform/com_error.h"
#include "portal/backoffice/src/master_data_store.h"

namespace heliq {
namespace {

using backoffice::FindMasterDataEntity;
using backoffice::kMasterDataSource;
using backoffice::MasterDataEntity;
using backoffice::MasterDataStore;

[[noreturn]] void Invalid(const std::string& description) {
  throw ComError(err::kInvalidProcedureCall, std::string(kMasterDataSource), description);
}

// The given fields under the entity's own names, numbers checked; a field given twice keeps the
// last value.
MasterDataFields Checked(const MasterDataEntity& entity, const MasterDataFields& fields) {
  MasterDataFields checked;
  for (const auto& [name, value] : fields) {
    const auto* field = entity.FindField(name);
    if (field == nullptr) {
      Invalid(std::string(entity.name) + " has no field \"" + name + "\"");
    }
    if (field->number && value.find_first_not_of("0123456789") != std::string::npos) {
      Invalid(std::string(entity.name) + ": " + name + " is a whole number, not \"" + value + "\"");
    }
    auto same = std::find_if(checked.begin(), checked.end(),
                             [&](const auto& done) { return done.first == field->name; });
    if (same != checked.end()) {
      same->second = value;
    } else {
      checked.emplace_back(std::string(field->name), value);
    }
  }
  return checked;
}

MasterDataFields KeyFields(const MasterDataEntity& entity, const MasterDataFields& fields) {
  MasterDataFields key;
  for (size_t i = 0; i < entity.key_count; ++i) {
    for (const auto& field : fields) {
      if (field.first == entity.fields[i].name) key.push_back(field);
    }
  }
  return key;
}

}  // namespace

std::vector<std::string> MasterDataSimulator::Entities() {
  std::vector<std::string> names;
  for (const auto& entity : backoffice::MasterDataEntities()) names.emplace_back(entity.name);
  return names;
}

std::vector<std::string> MasterDataSimulator::Fields(std::string_view entity) {
  std::vector<std::string> names;
  for (const auto& field : FindMasterDataEntity(entity).fields) names.emplace_back(field.name);
  return names;
}

std::vector<MasterDataFields> MasterDataSimulator::List(std::string_view entity) const {
  MasterDataStore store;
  return store.List(FindMasterDataEntity(entity));
}

bool MasterDataSimulator::Put(std::string_view entity_name, const MasterDataFields& fields) const {
  const MasterDataEntity& entity = FindMasterDataEntity(entity_name);
  const MasterDataFields given = Checked(entity, fields);
  const std::string key = backoffice::RecordKey(entity, given);
  MasterDataStore store;
  store.Begin();
  const std::optional<MasterDataFields> existing = store.Find(entity, key);
  if (!existing) {
    MasterDataFields record;
    for (const auto& field : entity.fields) {
      auto it = std::find_if(given.begin(), given.end(),
                             [&](const auto& g) { return g.first == field.name; });
      record.emplace_back(std::string(field.name), it == given.end() ? "" : it->second);
    }
    store.SaveFields(entity, key, record);
    store.AddChange(entity, key, "I", record);
    store.Commit();
    return true;
  }
  MasterDataFields image = KeyFields(entity, given);
  MasterDataFields changed;
  for (const auto& field : given) {
    auto old = std::find_if(existing->begin(), existing->end(),
                            [&](const auto& e) { return e.first == field.first; });
    if (old != existing->end() && old->second == field.second) continue;
    changed.push_back(field);
    if (std::find(image.begin(), image.end(), field) == image.end()) image.push_back(field);
  }
  store.SaveFields(entity, key, changed);
  store.AddChange(entity, key, "U", image);
  store.Commit();
  return false;
}

void MasterDataSimulator::Remove(std::string_view entity_name,
                                 const std::vector<std::string>& key) const {
  const MasterDataEntity& entity = FindMasterDataEntity(entity_name);
  if (key.size() != entity.key_count) {
    Invalid(std::string(entity.name) + " has " + std::to_string(entity.key_count) +
            " key field(s), " + std::to_string(key.size()) + " given");
  }
  MasterDataFields key_fields;
  for (size_t i = 0; i < key.size(); ++i) {
    key_fields.emplace_back(std::string(entity.fields[i].name), key[i]);
  }
  const std::string record_key = backoffice::RecordKey(entity, key_fields);
  MasterDataStore store;
  store.Begin();
  if (!store.Find(entity, record_key)) {
    Invalid(std::string(entity.name) + " has no record " + record_key);
  }
  store.Delete(entity, record_key);
  store.AddChange(entity, record_key, "D", key_fields);
  store.Commit();
}

void MasterDataSimulator::RefuseNextRead(std::string_view entity, std::string_view message,
                                         int32_t after_elements) const {
  if (message.find_first_not_of(" \t\r\n") == std::string_view::npos) {
    Invalid("a refusal needs a message");
  }
  if (after_elements < 0) Invalid("a refusal comes after 0 or more changes");
  const MasterDataEntity& known = FindMasterDataEntity(entity);
  MasterDataStore store;
  store.SetRefusal(known, {std::string(message), after_elements});
}

std::vector<MasterDataChange> MasterDataSimulator::AuditTrail(std::string_view entity) const {
  MasterDataStore store;
  return store.Changes(FindMasterDataEntity(entity), std::nullopt);
}

}  // namespace heliq
