// The stand-ins of the back office's audit components and master-data managers.
#include <algorithm>
#include <cstdlib>
#include <optional>
#include <utility>

#include "common/master_data_audit.h"
#include "platform/com_error.h"
#include "platform/database.h"
#include "portal/backoffice/master_data_simulator.h"
#include "portal/backoffice/src/master_data_store.h"

namespace heliq {
namespace {

using backoffice::kMasterDataSource;
using backoffice::MasterDataEntities;
using backoffice::MasterDataEntity;
using backoffice::MasterDataStore;
using backoffice::Refusal;

[[noreturn]] void OutOfOrder(const std::string& description) {
  throw ComError(err::kInvalidProcedureCall, std::string(kMasterDataSource), description);
}

class StandInPeriod : public AuditPeriod {
 public:
  void setFrom(const DateTime& from) override { from_ = from; }
  void setTo(const DateTime& to) override { to_ = to; }
  DateTime From() const override { return from_; }
  DateTime To() const override { return to_; }

 private:
  DateTime from_;
  DateTime to_;
};

class StandInParameter : public AuditParameter {
 public:
  void setFieldName(std::string_view name) override { name_ = name; }
  void setFrom(const Variant& from) override { from_ = from; }
  void setTo(const Variant& to) override { to_ = to; }
  std::string FieldName() const override { return name_; }
  Variant From() const override { return from_; }
  Variant To() const override { return to_; }

 private:
  std::string name_;
  Variant from_;
  Variant to_;
};

class StandInCriteria : public AuditCriteria {
 public:
  void setPeriod(const AuditPeriod& period) override {
    from_ = period.From();
    to_ = period.To();
  }
  void addParameter(const AuditParameter& parameter) override {
    ranges_.push_back({parameter.FieldName(), parameter.From(), parameter.To()});
  }
  void addoutputfield(std::string_view field) override { output_fields_.emplace_back(field); }
  DateTime From() const override { return from_; }
  DateTime To() const override { return to_; }
  std::vector<Range> Ranges() const override { return ranges_; }
  std::vector<std::string> OutputFields() const override { return output_fields_; }

 private:
  DateTime from_;
  DateTime to_;
  std::vector<Range> ranges_;
  std::vector<std::string> output_fields_;
};

class StandInRecordStatus : public RecordStatus {
 public:
  StandInRecordStatus() = default;
  StandInRecordStatus(std::string action, DictionaryPtr tuple)
      : action_(std::move(action)), tuple_(std::move(tuple)) {}
  // The back office knows the status with the record; asking for it again changes nothing.
  void retrieveStatus() override {}
  bool isInserted() const override { return action_ == "I"; }
  bool isUpdated() const override { return action_ == "U"; }
  bool isDeleted() const override { return action_ == "D"; }
  DictionaryPtr getTuple() const override {
    auto copy = Dictionary::Create();
    if (tuple_) {
      for (const auto& [name, value] : tuple_->entries()) copy->Set(name, value);
    }
    return copy;
  }

 private:
  std::string action_;
  DictionaryPtr tuple_;
};

class StandInObject : public MasterDataObject {
 public:
  StandInObject(const MasterDataEntity& entity, DictionaryPtr record)
      : entity_(entity), record_(std::move(record)) {}

  const MasterDataEntity& entity() const { return entity_; }

  Variant Invoke(std::string_view getter) const override {
    const bool has_test = getter.size() > 3 && EqualsIgnoreCase(getter.substr(0, 3), "has");
    const std::string get = has_test ? "get" + std::string(getter.substr(3)) : std::string(getter);
    for (const auto& known : entity_.getters) {
      if (!EqualsIgnoreCase(known.getter, get)) continue;
      const std::optional<Variant> value = Field(known.field);
      if (has_test) return Variant(value.has_value());
      return value.value_or(Variant());
    }
    throw ComError(err::kMethodNotSupported, std::string(entity_.object_id),
                   "Object doesn't support this property or method: " + std::string(getter));
  }

 private:
  std::optional<Variant> Field(std::string_view name) const {
    if (!record_) return std::nullopt;
    for (const auto& [key, value] : record_->entries()) {
      if (EqualsIgnoreCase(key, name)) return value;
    }
    return std::nullopt;
  }

  const MasterDataEntity& entity_;
  DictionaryPtr record_;
};

class StandInManager : public MasterDataManager {
 public:
  explicit StandInManager(const MasterDataEntity& entity) : entity_(entity) {}

  const MasterDataEntity& entity() const { return entity_; }
  const std::string& component_id() const { return component_id_; }

  void Initialize(std::string_view component_id) override {
    if (component_id.find_first_not_of(' ') == std::string_view::npos) {
      OutOfOrder(std::string(entity_.manager_id) + ": no VIS component to initialise with");
    }
    component_id_ = component_id;
  }

  std::unique_ptr<MasterDataObject> getCurrentObject(const Dictionary& tuple) override {
    if (component_id_.empty()) OutOfOrder(std::string(entity_.manager_id) + " not initialised");
    auto record = Dictionary::Create();
    for (const auto& [name, value] : tuple.entries()) record->Set(name, value);
    return std::make_unique<StandInObject>(entity_, std::move(record));
  }

 private:
  const MasterDataEntity& entity_;
  std::string component_id_;
};

// Whether the text of a number field lies in [from, to]; texts compare byte by byte.
bool InRange(const std::string& value, bool number, const AuditCriteria::Range& range) {
  if (number && range.from.IsNumber() && range.to.IsNumber()) {
    char* end = nullptr;
    const long long n = std::strtoll(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0') return false;
    return n >= range.from.ToLongLong() && n <= range.to.ToLongLong();
  }
  return value >= range.from.ToTextOrEmpty() && value <= range.to.ToTextOrEmpty();
}

class StandInReader : public AuditReader {
 public:
  void Initialize(const MasterDataObject& object, const AuditCriteria& criteria,
                  const MasterDataManager& manager) override {
    const auto* our_manager = dynamic_cast<const StandInManager*>(&manager);
    const auto* our_object = dynamic_cast<const StandInObject*>(&object);
    if (our_manager == nullptr || our_object == nullptr) {
      throw ComError(err::kTypeMismatch, std::string(kAuditReaderClassId),
                     "the audit reader reads the back office's own tables only");
    }
    const MasterDataEntity& entity = our_manager->entity();
    if (&our_object->entity() != &entity) {
      OutOfOrder(std::string(entity.object_id) + " does not belong to " +
                 std::string(entity.manager_id));
    }
    if (our_manager->component_id().empty()) {
      OutOfOrder(std::string(entity.manager_id) + " not initialised");
    }
    elements_.clear();
    position_ = 0;
    refuse_after_.reset();

    MasterDataStore store;
    if (std::optional<Refusal> refusal = store.TakeRefusal(entity)) {
      if (refusal->after_elements <= 0) Refuse(refusal->message);
      refuse_after_ = *refusal;
    }
    const std::vector<AuditCriteria::Range> ranges = criteria.Ranges();
    const std::vector<std::string> output = criteria.OutputFields();
    for (auto& change : store.Changes(entity, std::pair(criteria.From(), criteria.To()))) {
      if (!Selected(entity, change.fields, ranges)) continue;
      auto tuple = Dictionary::Create();
      for (const auto& [name, value] : change.fields) {
        const auto wanted = std::find_if(output.begin(), output.end(), [&](const auto& field) {
          return EqualsIgnoreCase(field, name);
        });
        if (wanted == output.end()) continue;
        const auto* field = entity.FindField(name);
        tuple->Set(*wanted, field != nullptr && field->number && !value.empty()
                                ? Variant(Variant(value).ToLong())
                                : Variant(value));
      }
      elements_.emplace_back(std::move(change.action), std::move(tuple));
    }
    initialised_ = true;
  }

  bool hasMoreElements() const override { return initialised_ && position_ < elements_.size(); }

  std::unique_ptr<RecordStatus> nextElement() override {
    if (!hasMoreElements()) OutOfOrder("the audit reader has no more elements");
    if (refuse_after_ && position_ >= static_cast<size_t>(refuse_after_->after_elements)) {
      Refuse(refuse_after_->message);
    }
    const auto& [action, tuple] = elements_[position_++];
    return std::make_unique<StandInRecordStatus>(action, tuple);
  }

 private:
  [[noreturn]] static void Refuse(const std::string& message) {
    throw ComError(err::kBackOfficeRefused, std::string(kAuditReaderClassId), message);
  }

  // A change is selected when each range's field, if the change carries it, lies in the range.
  static bool Selected(const MasterDataEntity& entity, const MasterDataFields& fields,
                       const std::vector<AuditCriteria::Range>& ranges) {
    for (const auto& range : ranges) {
      const auto* field = entity.FindField(range.field);
      for (const auto& [name, value] : fields) {
        if (EqualsIgnoreCase(name, range.field) &&
            !InRange(value, field != nullptr && field->number, range)) {
          return false;
        }
      }
    }
    return true;
  }

  std::vector<std::pair<std::string, DictionaryPtr>> elements_;
  size_t position_ = 0;
  bool initialised_ = false;
  std::optional<Refusal> refuse_after_;
};

template <typename T>
ComponentFactory FactoryOf() {
  return [] { return std::unique_ptr<Component>(std::make_unique<T>()); };
}

}  // namespace

void RegisterBackOfficeAuditComponents() {
  auto& registry = ComponentRegistry::Global();
  registry.Register(kAuditPeriodClassId, FactoryOf<StandInPeriod>());
  registry.Register(kAuditParameterClassId, FactoryOf<StandInParameter>());
  registry.Register(kAuditCriteriaClassId, FactoryOf<StandInCriteria>());
  registry.Register(kRecordStatusClassId, FactoryOf<StandInRecordStatus>());
  registry.Register(kAuditReaderClassId, FactoryOf<StandInReader>());
  for (const MasterDataEntity& entity : MasterDataEntities()) {
    const MasterDataEntity* pointer = &entity;
    registry.Register(entity.manager_id, [pointer] {
      return std::unique_ptr<Component>(std::make_unique<StandInManager>(*pointer));
    });
    registry.Register(entity.object_id, [pointer] {
      return std::unique_ptr<Component>(std::make_unique<StandInObject>(*pointer, nullptr));
    });
  }
}

}  // namespace heliq
