// The component host: registers the system's components and operations, and runs one operation
// per request as one unit of work. Shared by heliqd (HTTP) and heliq call (in process).
//
// Thread safety: InitializeSystem once at start-up; InvokeOperation from any number of threads.
#ifndef HELIQ_HOST_HOST_H_
#define HELIQ_HOST_HOST_H_

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/json_convert.h"
#include "people/caller.h"
#include "platform/com_error.h"
#include "platform/database.h"

namespace heliq {

// Registers the platform components (configuration, log), the portal stand-ins and the component
// libraries with their operations. Idempotent.
void InitializeSystem();

struct HostResponse {
  int status = 200;
  nlohmann::ordered_json body;
};

// What one call may take. A zero deadline means none.
struct CallLimits {
  JsonLimits json;
  std::chrono::milliseconds deadline{0};
};

// Runs `class_id`.`operation` with the JSON object `arguments`. Success: status 200 and
// {"result": ..., "byref": {...}}. Failure: the status of HttpStatusFor and
// {"error": {"number", "source", "description"}}; the call's work is rolled back. An operation
// that returns after its deadline is rolled back too and fails with kCallDeadlineExceeded (the
// deadline cannot interrupt a running statement; it guarantees that a late call commits nothing).
// `caller` is who calls over HTTP: the permission table (people/permissions.h) decides what he
// may do, refusals answer 403 and write nothing. nullptr (heliq call, in process) may call every
// operation.
HostResponse InvokeOperation(std::string_view class_id, std::string_view operation,
                             std::string_view arguments, const CallLimits& limits = {},
                             const Caller* caller = nullptr);

// The one table from error numbers to HTTP statuses.
int HttpStatusFor(int32_t error_number);

// The error answer for `error`: status from HttpStatusFor, body from ErrorToJson. Every known
// secret is blanked out of the source and description of a failure to reach a configured service
// (database connection, mail, back office, file store, component); other errors go out as they
// are, so that caller text echoed in them is never redacted (a blanked echo would confirm a
// guessed secret).
HostResponse ErrorResponse(const ComError& error);

// Runs `body`; any failure it raises becomes ErrorResponse of that failure. Must not be called
// with a failure in flight that should survive (it takes the current exception only inside its
// own catch).
HostResponse Guarded(const std::function<HostResponse()>& body);

// Health of the host: a trivial read on the system database. 200 {"status": "ok"}, or 503
// {"status": "unavailable", "error": {...}} (secrets blanked; the router passes on only the
// number).
HostResponse CheckHealth();

// Creates the schema of every configured database and, with `demo`, loads the reference data and
// the demo data; with `schema` false only the data. Scripts come from `db_dir`: <dialect>.sql,
// reference.sql and demo.sql for the system database ("Heliq"), and
// stand-ins/<application>.<dialect>.sql, .reference.sql and .demo.sql (each optional) for the
// database of each stand-in component, which is the [connections] entry of that application (the
// system database when it has none). Each database is changed in one transaction and all are
// committed at the end, so a failure changes none; its message names the database (connection
// string) and the applications that use it. Returns a line describing what was done.
std::string InitializeDatabases(const std::filesystem::path& db_dir, bool schema, bool demo);

// Where the database scripts are: share/heliq/db beside the program's bin/ (an installation, or
// a build folder, where the build links it to the sources), else <install dir>/db (a source
// checkout). Error: ComError 53 naming the folders searched.
std::filesystem::path ScriptDirectory();

// heliq init: the schema and the reference data every installation needs on every configured
// database, plus the demo data with `demo`, from ScriptDirectory().
std::string InitializeDatabase(bool demo);

}  // namespace heliq

#endif  // HELIQ_HOST_HOST_H_
