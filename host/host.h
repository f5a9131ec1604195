// The component host: registers the system's components and operations, and runs one operation
// per request as one unit of work. Shared by heliqd (HTTP) and heliq call (in process).
//
// Thread safety: InitializeSystem once at start-up; InvokeOperation from any number of threads.
#ifndef HELIQ_HOST_HOST_H_
#define HELIQ_HOST_HOST_H_

#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

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

// Creates the schema on the configured system database and, with `demo`, loads the demo data.
// The SQL files are read from <install dir>/db. Returns a line describing what was done.
std::string InitializeDatabase(bool demo);

}  // namespace heliq

#endif  // HELIQ_HOST_HOST_H_
