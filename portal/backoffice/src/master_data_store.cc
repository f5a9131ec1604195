#include "portal/backoffice/src/master_data_store.h"

#include <algorithm>

#include "common/heliq_utilities.h"
#include "common/master_data_audit.h"
#include "platform/clock.h"
#include "platform/com_error.h"
#include "portal/backoffice/src/call_store.h"

namespace heliq::backoffice {
namespace {

constexpr std::string_view kSelectRecords =
    "select RECORDKEY, FIELDNAME, FIELDVALUE from BO_MDRECORD where ENTITY = ? "
    "order by RECORDKEY";
constexpr std::string_view kSelectRecord =
    "select FIELDNAME, FIELDVALUE from BO_MDRECORD where ENTITY = ? and RECORDKEY = ?";
constexpr std::string_view kSaveField =
    "insert into BO_MDRECORD (ENTITY, RECORDKEY, FIELDNAME, FIELDVALUE) values (?, ?, ?, ?) "
    "on conflict (ENTITY, RECORDKEY, FIELDNAME) do update set FIELDVALUE = excluded.FIELDVALUE";
constexpr std::string_view kDeleteRecord =
    "delete from BO_MDRECORD where ENTITY = ? and RECORDKEY = ?";

constexpr std::string_view kInsertChange =
    "insert into BO_MDAUDIT (ENTITY, RECORDKEY, ACTION, CHANGED) values (?, ?, ?, ?) "
    "returning AUDIT_ID";
constexpr std::string_view kInsertChangeField =
    "insert into BO_MDAUDITFIELD (AUDIT_ID, FIELDNAME, FIELDVALUE) values (?, ?, ?)";
constexpr std::string_view kSelectChanges =
    "select A.AUDIT_ID, A.ACTION, A.CHANGED, F.FIELDNAME, F.FIELDVALUE from BO_MDAUDIT A "
    "join BO_MDAUDITFIELD F on F.AUDIT_ID = A.AUDIT_ID where A.ENTITY = ? order by A.AUDIT_ID";
constexpr std::string_view kSelectChangesInPeriod =
    "select A.AUDIT_ID, A.ACTION, A.CHANGED, F.FIELDNAME, F.FIELDVALUE from BO_MDAUDIT A "
    "join BO_MDAUDITFIELD F on F.AUDIT_ID = A.AUDIT_ID where A.ENTITY = ? and A.CHANGED >= ? "
    "and A.CHANGED <= ? order by A.AUDIT_ID";

constexpr std::string_view kTakeRefusal =
    "delete from BO_MDREFUSAL where ENTITY = ? returning MESSAGE, AFTER_ELEMENTS";
constexpr std::string_view kSetRefusal =
    "insert into BO_MDREFUSAL (ENTITY, MESSAGE, AFTER_ELEMENTS) values (?, ?, ?) "
    "on conflict (ENTITY) do update set MESSAGE = excluded.MESSAGE, "
    "AFTER_ELEMENTS = excluded.AFTER_ELEMENTS";

constexpr char kKeySeparator = '|';

[[noreturn]] void Invalid(const std::string& description) {
  throw ComError(err::kInvalidProcedureCall, std::string(kMasterDataSource), description);
}

// The fields of one record or change in the entity's field order; names the entity does not know
// (left by an older schema) follow in the order they came.
MasterDataFields InEntityOrder(const MasterDataEntity& entity, MasterDataFields fields) {
  auto rank = [&](const std::string& name) {
    for (size_t i = 0; i < entity.fields.size(); ++i) {
      if (EqualsIgnoreCase(entity.fields[i].name, name)) return i;
    }
    return entity.fields.size();
  };
  std::stable_sort(fields.begin(), fields.end(),
                   [&](const auto& a, const auto& b) { return rank(a.first) < rank(b.first); });
  return fields;
}

}  // namespace

const MasterDataField* MasterDataEntity::FindField(std::string_view field_name) const {
  for (const auto& field : fields) {
    if (EqualsIgnoreCase(field.name, field_name)) return &field;
  }
  return nullptr;
}

const std::vector<MasterDataEntity>& MasterDataEntities() {
  static const std::vector<MasterDataEntity> entities = {
      {"mk5-priorities",
       kMk5PrioritiesManagerId,
       kMk5PrioritiesId,
       1,
       {{"prio", true}, {"dsca"}},
       {{"getPriority", "prio"}, {"getDescription", "dsca"}}},
      {"mk5-problems",
       kMk5ProblemsManagerId,
       kMk5ProblemsId,
       1,
       {{"cprl"}, {"desc"}, {"cltp"}},
       {{"getProblem", "cprl"}, {"getDescription", "desc"}, {"getCallType", "cltp"}}},
      {"mk5-configurations",
       kMk5ConfigurationsManagerId,
       kMk5ConfigurationsId,
       1,
       {{"ccfg"}, {"desc"}, {"ofbp"}},
       {{"getConfiguration", "ccfg"},
        {"getConfigurationDescription", "desc"},
        {"getSoldToBusinessPartner", "ofbp"}}},
      {"mk5-objects",
       kMk5ObjectsManagerId,
       kMk5ObjectsId,
       3,
       {{"ccfg"}, {"crob"}, {"oseq"}, {"cser"}, {"item"}, {"desc"}},
       {{"getConfiguration", "ccfg"},
        {"getObject", "crob"},
        {"getObjectNumber", "oseq"},
        {"getSerialNumber", "cser"},
        {"getDerivedFromItem", "item"},
        {"getDescription", "desc"}}},
      {"mk4-problems",
       kMk4ProblemsManagerId,
       kMk4ProblemsId,
       1,
       {{"cprl"}, {"desc"}},
       {{"getProblem", "cprl"}, {"getDescription", "desc"}}},
      {"mk4-priorities",
       kMk4PrioritiesManagerId,
       kMk4PrioritiesId,
       1,
       {{"prno", true}, {"desc"}},
       {{"getPriority", "prno"}, {"getDescription", "desc"}}},
      {"mk4-symptoms",
       kMk4SymptomsManagerId,
       kMk4SymptomsId,
       1,
       {{"csym"}, {"desc"}},
       {{"getSymptom", "csym"}, {"getDescription", "desc"}}},
      {"mk4-locations",
       kMk4LocationsManagerId,
       kMk4LocationsId,
       1,
       {{"cloc"}, {"desc"}, {"cuno"}},
       {{"getLocation", "cloc"}, {"getDescription", "desc"}, {"getCustomer", "cuno"}}},
      {"mk4-installations",
       kMk4InstallationsManagerId,
       kMk4InstallationsId,
       1,
       {{"cins"}, {"desc"}, {"cloc"}},
       {{"getInstallation", "cins"}, {"getDescription", "desc"}, {"getLocation", "cloc"}}},
  };
  return entities;
}

const MasterDataEntity& FindMasterDataEntity(std::string_view name) {
  for (const auto& entity : MasterDataEntities()) {
    if (EqualsIgnoreCase(entity.name, name)) return entity;
  }
  Invalid("the back office has no master data \"" + std::string(name) + "\"");
}

std::string RecordKey(const MasterDataEntity& entity, const MasterDataFields& fields) {
  std::string key;
  for (size_t i = 0; i < entity.key_count; ++i) {
    const std::string_view name = entity.fields[i].name;
    auto it = std::find_if(fields.begin(), fields.end(),
                           [&](const auto& field) { return EqualsIgnoreCase(field.first, name); });
    if (it == fields.end()) {
      Invalid(std::string(entity.name) + ": the key field " + std::string(name) + " is missing");
    }
    if (it->second.find(kKeySeparator) != std::string::npos) {
      Invalid(std::string(entity.name) + ": a key may not hold \"|\"");
    }
    if (i > 0) key += kKeySeparator;
    key += it->second;
  }
  return key;
}

MasterDataStore::MasterDataStore()
    : session_(SessionPool::For(BackOfficeConnectionString(), GetInstallDir())->Acquire()) {}

void MasterDataStore::Begin() { session_->Begin(true); }

void MasterDataStore::Commit() { session_->Commit(); }

std::vector<MasterDataFields> MasterDataStore::List(const MasterDataEntity& entity) {
  const ResultSet result = session_->Query(kSelectRecords, {Variant(entity.name)});
  std::vector<MasterDataFields> records;
  std::string current_key;
  for (const auto& row : result.rows) {
    const std::string key = row[0].ToTextOrEmpty();
    if (records.empty() || key != current_key) {
      records.emplace_back();
      current_key = key;
    }
    records.back().emplace_back(row[1].ToTextOrEmpty(), row[2].ToTextOrEmpty());
  }
  for (auto& record : records) record = InEntityOrder(entity, std::move(record));
  return records;
}

std::optional<MasterDataFields> MasterDataStore::Find(const MasterDataEntity& entity,
                                                      std::string_view key) {
  const ResultSet result = session_->Query(kSelectRecord, {Variant(entity.name), Variant(key)});
  if (result.rows.empty()) return std::nullopt;
  MasterDataFields fields;
  for (const auto& row : result.rows) {
    fields.emplace_back(row[0].ToTextOrEmpty(), row[1].ToTextOrEmpty());
  }
  return InEntityOrder(entity, std::move(fields));
}

void MasterDataStore::SaveFields(const MasterDataEntity& entity, std::string_view key,
                                 const MasterDataFields& fields) {
  for (const auto& [name, value] : fields) {
    session_->Execute(kSaveField,
                      {Variant(entity.name), Variant(key), Variant(name), Variant(value)});
  }
}

void MasterDataStore::Delete(const MasterDataEntity& entity, std::string_view key) {
  session_->Execute(kDeleteRecord, {Variant(entity.name), Variant(key)});
}

void MasterDataStore::AddChange(const MasterDataEntity& entity, std::string_view key,
                                std::string_view action, const MasterDataFields& image) {
  const ResultSet inserted = session_->Query(
      kInsertChange, {Variant(entity.name), Variant(key), Variant(action), Variant(Now())});
  if (inserted.rows.empty()) {
    throw ComError(err::kDbError, std::string(kMasterDataSource), "the change gave no number");
  }
  const Variant id = inserted.rows[0][0];
  for (const auto& [name, value] : image) {
    session_->Execute(kInsertChangeField, {id, Variant(name), Variant(value)});
  }
}

std::vector<MasterDataChange> MasterDataStore::Changes(
    const MasterDataEntity& entity, std::optional<std::pair<DateTime, DateTime>> period) {
  const ResultSet result =
      period
          ? session_->Query(kSelectChangesInPeriod,
                            {Variant(entity.name), Variant(period->first), Variant(period->second)})
          : session_->Query(kSelectChanges, {Variant(entity.name)});
  std::vector<MasterDataChange> changes;
  for (const auto& row : result.rows) {
    const int64_t id = row[0].ToLongLong();
    if (changes.empty() || changes.back().id != id) {
      MasterDataChange change;
      change.id = id;
      change.action = row[1].ToTextOrEmpty();
      change.changed = row[2].ToDate();
      changes.push_back(std::move(change));
    }
    changes.back().fields.emplace_back(row[3].ToTextOrEmpty(), row[4].ToTextOrEmpty());
  }
  for (auto& change : changes) change.fields = InEntityOrder(entity, std::move(change.fields));
  return changes;
}

std::optional<Refusal> MasterDataStore::TakeRefusal(const MasterDataEntity& entity) {
  const ResultSet result = session_->Query(kTakeRefusal, {Variant(entity.name)});
  if (result.rows.empty()) return std::nullopt;
  return Refusal{result.rows[0][0].ToTextOrEmpty(), result.rows[0][1].ToLong()};
}

void MasterDataStore::SetRefusal(const MasterDataEntity& entity, const Refusal& refusal) {
  session_->Execute(kSetRefusal, {Variant(entity.name), Variant(refusal.message),
                                  Variant(refusal.after_elements)});
}

}  // namespace heliq::backoffice
