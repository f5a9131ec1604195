// The simulated back office's master data and its audit trail: the working stand-ins of the audit
// components and table managers of common/master_data_audit.h, and the API with which tests and
// `heliq backoffice master-data` change the back office's master data.
//
// The master data lives in the "BackOffice" application's database (BO_MDRECORD), outside any
// unit of work, one entity per back-office table:
//   mk5-priorities      prio (number), dsca
//   mk5-problems        cprl, desc, cltp
//   mk5-configurations  ccfg, desc, ofbp
//   mk5-objects         ccfg, crob, oseq, cser, item, desc
//   mk4-problems        cprl, desc
//   mk4-priorities      prno (number), desc
//   mk4-symptoms        csym, desc
//   mk4-locations       cloc, desc, cuno
//   mk4-installations   cins, desc, cloc
// (key fields first; mk5-objects has three). Every change is stamped with the clock into the
// audit trail (BO_MDAUDIT), which the audit reader walks: an insertion records every field, an
// update the key and the fields whose value changed (an update that changes nothing records the
// key alone), a deletion the key.
//
// Thread safety: every function may run concurrently; each borrows its own session.
#ifndef HELIQ_PORTAL_BACKOFFICE_MASTER_DATA_SIMULATOR_H_
#define HELIQ_PORTAL_BACKOFFICE_MASTER_DATA_SIMULATOR_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/variant.h"

namespace heliq {

// Registers the audit components ("audit.AuditReader", ...) and the managers and business objects
// of every entity ("Mk5HLQPriorities.PrioritiesManager", ...).
void RegisterBackOfficeAuditComponents();

// Field name -> value, in the entity's field order when returned.
using MasterDataFields = std::vector<std::pair<std::string, std::string>>;

// One entry of the audit trail.
struct MasterDataChange {
  int64_t id = 0;
  std::string action;  // "I", "U" or "D"
  DateTime changed;
  MasterDataFields fields;
};

// Acting as the back office on its master data. Errors: err::kInvalidProcedureCall for an unknown
// entity or field, a missing key field, a number field that is not a whole number, a key value
// holding "|", a record that does not exist; the database's errors.
class MasterDataSimulator {
 public:
  // The entity names, in the order listed above.
  static std::vector<std::string> Entities();
  // The fields of `entity`, key fields first.
  static std::vector<std::string> Fields(std::string_view entity);

  // The records of `entity`, in order of their key text.
  std::vector<MasterDataFields> List(std::string_view entity) const;
  // Adds the record whose key `fields` give, or changes the fields given of the existing one;
  // records the change in the audit trail. Returns true when it added the record. Unset fields of
  // a new record are "".
  bool Put(std::string_view entity, const MasterDataFields& fields) const;
  // Deletes the record of `key` (the key fields' values, in order) and records the deletion.
  void Remove(std::string_view entity, const std::vector<std::string>& key) const;
  // The next audit read of `entity` fails with `message` (error 1099) after delivering
  // `after_elements` changes (0: when the reader is initialised). Replaces a refusal still
  // waiting for that entity.
  void RefuseNextRead(std::string_view entity, std::string_view message,
                      int32_t after_elements) const;
  // The audit trail of `entity`, oldest first.
  std::vector<MasterDataChange> AuditTrail(std::string_view entity) const;
};

}  // namespace heliq

#endif  // HELIQ_PORTAL_BACKOFFICE_MASTER_DATA_SIMULATOR_H_
