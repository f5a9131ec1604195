// The back office's master-data tables and audit trail, shared by the audit components and the
// simulator API.
//
// A MasterDataStore borrows one session of the back office's database for its lifetime; it never
// joins the caller's unit of work. Statements outside Begin ... Commit commit as they run; a store
// destroyed with its transaction open rolls it back.
//
// Not thread-safe: one store per use.
#ifndef HELIQ_PORTAL_BACKOFFICE_SRC_MASTER_DATA_STORE_H_
#define HELIQ_PORTAL_BACKOFFICE_SRC_MASTER_DATA_STORE_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/database.h"
#include "portal/backoffice/master_data_simulator.h"

namespace heliq::backoffice {

inline constexpr std::string_view kMasterDataSource = "BackOfficeMasterData";

struct MasterDataField {
  std::string_view name;
  bool number = false;  // a whole number; handed out as a Long
};

// A getter of the business object and the field it reads. The has-test of a getter "getX" is
// "hasX" (any case).
struct MasterDataGetter {
  std::string_view getter;
  std::string_view field;
};

struct MasterDataEntity {
  std::string_view name;
  std::string_view manager_id;
  std::string_view object_id;
  size_t key_count = 1;                 // the first key_count fields form the key
  std::vector<MasterDataField> fields;  // key fields first
  std::vector<MasterDataGetter> getters;

  // nullptr when the entity has no such field (names compare without regard to case).
  const MasterDataField* FindField(std::string_view name) const;
};

// Every entity, in the order of MasterDataSimulator::Entities.
const std::vector<MasterDataEntity>& MasterDataEntities();
// The entity of that name; err::kInvalidProcedureCall when there is none.
const MasterDataEntity& FindMasterDataEntity(std::string_view name);

// The key fields' values of `fields` joined with "|"; err::kInvalidProcedureCall when a key field
// is missing or holds "|".
std::string RecordKey(const MasterDataEntity& entity, const MasterDataFields& fields);

struct Refusal {
  std::string message;
  int32_t after_elements = 0;
};

class MasterDataStore {
 public:
  // Borrows a session of the "BackOffice" application's database (err::kDbConnection).
  MasterDataStore();
  MasterDataStore(const MasterDataStore&) = delete;
  MasterDataStore& operator=(const MasterDataStore&) = delete;

  void Begin();
  void Commit();

  // Records in order of their key text; fields in the entity's order.
  std::vector<MasterDataFields> List(const MasterDataEntity& entity);
  std::optional<MasterDataFields> Find(const MasterDataEntity& entity, std::string_view key);
  // Writes (adds or replaces) the given fields of the record `key`.
  void SaveFields(const MasterDataEntity& entity, std::string_view key,
                  const MasterDataFields& fields);
  void Delete(const MasterDataEntity& entity, std::string_view key);

  void AddChange(const MasterDataEntity& entity, std::string_view key, std::string_view action,
                 const MasterDataFields& image);
  // The changes of `entity`, oldest first; with a period only those stamped within it.
  std::vector<MasterDataChange> Changes(const MasterDataEntity& entity,
                                        std::optional<std::pair<DateTime, DateTime>> period);

  // Takes the refusal waiting for `entity` away; nullopt when there is none.
  std::optional<Refusal> TakeRefusal(const MasterDataEntity& entity);
  void SetRefusal(const MasterDataEntity& entity, const Refusal& refusal);

 private:
  PooledSession session_;
};

}  // namespace heliq::backoffice

#endif  // HELIQ_PORTAL_BACKOFFICE_SRC_MASTER_DATA_STORE_H_
