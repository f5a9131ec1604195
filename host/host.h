// The component host: registers the system's components and operations, and runs one operation
// per request as one unit of work. Shared by heliqd (HTTP) and heliq call (in process).
//
// Thread safety: InitializeSystem once at start-up; InvokeOperation from any number of threads.
#ifndef HELIQ_HOST_HOST_H_
#define HELIQ_HOST_HOST_H_

#include <cstdint>
#include <filesystem>
#include <vector>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "platform/database.h"

namespace heliq {

// Registers the platform components (configuration, log), the portal stand-ins and the component
// libraries with their operations. Idempotent.
void InitializeSystem();

struct HostResponse {
  int status = 200;
  nlohmann::ordered_json body;
};

// Runs `class_id`.`operation` with the JSON object `arguments`. Success: status 200 and
// {"result": ..., "byref": {...}}. Failure: the status of HttpStatusFor and
// {"error": {"number", "source", "description"}}; the call's work is rolled back.
HostResponse InvokeOperation(std::string_view class_id, std::string_view operation,
                             std::string_view arguments);

// The one table from error numbers to HTTP statuses.
int HttpStatusFor(int32_t error_number);

// Creates the schema of every configured database and, with `demo`, loads the demo data; with
// `schema` false only the demo data. Scripts come from `db_dir`: <dialect>.sql and demo.sql for the
// system database ("Heliq"), and stand-ins/<application>.<dialect>.sql and
// stand-ins/<application>.demo.sql for the database of each stand-in component, which is the
// [connections] entry of that application (the system database when it has none). Each database
// is changed in one transaction. Returns a line describing what was done.
std::string InitializeDatabases(const std::filesystem::path& db_dir, bool schema, bool demo);

// heliq init: InitializeDatabases on <install dir>/db.
std::string InitializeDatabase(bool demo);

}  // namespace heliq

#endif  // HELIQ_HOST_HOST_H_
