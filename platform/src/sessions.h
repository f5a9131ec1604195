// Private: constructors of the two Session implementations.
#ifndef HELIQ_PLATFORM_SRC_SESSIONS_H_
#define HELIQ_PLATFORM_SRC_SESSIONS_H_

#include <memory>
#include <string>

#include "platform/database.h"

namespace heliq::internal {

// Opens (creating if needed) the SQLite file at `path` in WAL mode.
std::unique_ptr<Session> OpenSqliteSession(const std::string& path);
// Connects with a libpq connection string (keywords or URI).
std::unique_ptr<Session> OpenPostgresSession(const std::string& conninfo);

}  // namespace heliq::internal

#endif  // HELIQ_PLATFORM_SRC_SESSIONS_H_
