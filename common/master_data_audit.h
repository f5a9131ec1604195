// The back office's audit interface for master data: the outside components through which the
// master-data synchronisation reads what changed in the back office's tables within a period.
//
// The caller fills criteria (a period, key-field ranges, the output fields), hands them to a reader
// together with the table's manager and business object, and walks the reader's elements. Each
// element is a record status (inserted, updated or deleted) with the audited record as a tuple of
// output fields; the manager turns a tuple into a business object, whose fields are read with
// late-bound getters by name ("getDescription", "hasDescription", ...). A has-test is true when
// the audited record carries the field: an updated record carries its key and the fields that
// changed.
//
// All objects are created by class identifier, directly (outside any unit of work), and used by
// one thread. Failures are ComErrors: 429 for a component that is not installed, 438 for a getter
// the business object does not offer, 5 for a call out of order (a reader not initialised, a
// manager without component identifier), 1099 when the back office refuses to answer.
#ifndef HELIQ_COMMON_MASTER_DATA_AUDIT_H_
#define HELIQ_COMMON_MASTER_DATA_AUDIT_H_

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/component.h"
#include "platform/variant.h"

namespace heliq {

inline constexpr std::string_view kAuditCriteriaClassId = "audit.AuditCriteria";
inline constexpr std::string_view kAuditPeriodClassId = "audit.period";
inline constexpr std::string_view kAuditParameterClassId = "audit.Parameter";
inline constexpr std::string_view kRecordStatusClassId = "audit.RecordStatus";
inline constexpr std::string_view kAuditReaderClassId = "audit.AuditReader";

// Managers and business objects of the master-data tables, per back-office generation.
inline constexpr std::string_view kMk5PrioritiesManagerId = "Mk5HLQPriorities.PrioritiesManager";
inline constexpr std::string_view kMk5PrioritiesId = "Mk5HLQPriorities.Priorities";
inline constexpr std::string_view kMk5ProblemsManagerId = "Mk5HLQProblems.ProblemsManager";
inline constexpr std::string_view kMk5ProblemsId = "Mk5HLQProblems.Problems";
inline constexpr std::string_view kMk5ConfigurationsManagerId =
    "Mk5HLQConfigurations.ConfigurationsManager";
inline constexpr std::string_view kMk5ConfigurationsId = "Mk5HLQConfigurations.Configurations";
inline constexpr std::string_view kMk5ObjectsManagerId = "Mk5HLQObjects.ObjectsManager";
inline constexpr std::string_view kMk5ObjectsId = "Mk5HLQObjects.Objects";
inline constexpr std::string_view kMk4ProblemsManagerId = "Mk4HLQProblems.ProblemsManager";
inline constexpr std::string_view kMk4ProblemsId = "Mk4HLQProblems.Problems";
inline constexpr std::string_view kMk4PrioritiesManagerId = "Mk4HLQPriorities.PrioritiesManager";
inline constexpr std::string_view kMk4PrioritiesId = "Mk4HLQPriorities.Priorities";
inline constexpr std::string_view kMk4SymptomsManagerId = "Mk4HLQSymptoms.SymptomsManager";
inline constexpr std::string_view kMk4SymptomsId = "Mk4HLQSymptoms.Symptoms";
inline constexpr std::string_view kMk4LocationsManagerId = "Mk4HLQLocations.LocationsManager";
inline constexpr std::string_view kMk4LocationsId = "Mk4HLQLocations.Locations";
inline constexpr std::string_view kMk4InstallationsManagerId =
    "Mk4HLQInstallations.InstallationsManager";
inline constexpr std::string_view kMk4InstallationsId = "Mk4HLQInstallations.Installations";

// A time span of the audit trail; both ends belong to it.
class AuditPeriod : public Component {
 public:
  virtual void setFrom(const DateTime& from) = 0;
  virtual void setTo(const DateTime& to) = 0;
  virtual DateTime From() const = 0;
  virtual DateTime To() const = 0;
};

// A range of one key field; both ends belong to it. Numbers compare as numbers, texts byte by
// byte.
class AuditParameter : public Component {
 public:
  virtual void setFieldName(std::string_view name) = 0;
  virtual void setFrom(const Variant& from) = 0;
  virtual void setTo(const Variant& to) = 0;
  virtual std::string FieldName() const = 0;
  virtual Variant From() const = 0;
  virtual Variant To() const = 0;
};

// What a reader selects. The setters copy the values of the objects they are given.
class AuditCriteria : public Component {
 public:
  struct Range {
    std::string field;
    Variant from;
    Variant to;
  };

  virtual void setPeriod(const AuditPeriod& period) = 0;
  virtual void addParameter(const AuditParameter& parameter) = 0;
  virtual void addoutputfield(std::string_view field) = 0;

  virtual DateTime From() const = 0;
  virtual DateTime To() const = 0;
  virtual std::vector<Range> Ranges() const = 0;
  virtual std::vector<std::string> OutputFields() const = 0;
};

// One audited change. Some back-office generations need retrieveStatus before the is-tests.
class RecordStatus : public Component {
 public:
  virtual void retrieveStatus() = 0;
  virtual bool isInserted() const = 0;
  virtual bool isUpdated() const = 0;
  virtual bool isDeleted() const = 0;
  // The audited record: output field -> value. A new dictionary per call.
  virtual DictionaryPtr getTuple() const = 0;
};

// The current record of a master-data table, read through getters by name (compared without
// regard to case). Error 438 for a getter the object does not offer.
class MasterDataObject : public Component {
 public:
  virtual Variant Invoke(std::string_view getter) const = 0;
};

// The table's manager in the back office.
class MasterDataManager : public Component {
 public:
  // Binds the manager to the back office that `component_id` names. Error 5 when it is empty.
  virtual void Initialize(std::string_view component_id) = 0;
  // The business object of the table holding `tuple` as its current record.
  virtual std::unique_ptr<MasterDataObject> getCurrentObject(const Dictionary& tuple) = 0;
};

// Walks the audit trail of one table.
class AuditReader : public Component {
 public:
  // Selects the audited changes of the table that `manager` serves and `object` belongs to, as
  // `criteria` say, oldest first. The back office may refuse here (1099).
  virtual void Initialize(const MasterDataObject& object, const AuditCriteria& criteria,
                          const MasterDataManager& manager) = 0;
  virtual bool hasMoreElements() const = 0;
  // The next change; error 5 when there is none. The back office may refuse here (1099).
  virtual std::unique_ptr<RecordStatus> nextElement() = 0;
};

}  // namespace heliq

#endif  // HELIQ_COMMON_MASTER_DATA_AUDIT_H_
