#include "host/host.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <mutex>
#include <sstream>

#include "common/heliq_utilities.h"
#include "host/json_convert.h"
#include "platform/configuration.h"
#include "platform/log.h"
#include "platform/operation_table.h"
#include "portal/portal_components.h"
#include "serviceprocess/service_process_library.h"
#include "servicerequest/service_request_library.h"

namespace heliq {
namespace {

struct StatusRule {
  int32_t number;
  int status;
};

constexpr StatusRule kStatusTable[] = {
    {err::kBadRequest, 400},
    {err::kUnauthorized, 401},
    {err::kInvalidProcedureCall, 422},
    {err::kOverflow, 422},
    {err::kTypeMismatch, 422},
    {err::kInvalidUseOfNull, 422},
    {err::kArgumentNotOptional, 422},
    {err::kDbRowChanged, 409},
    {err::kDbConstraint, 409},
    {err::kBackOfficeRefused, 502},
    {err::kMailNotSent, 502},
    {err::kCannotCreateComponent, 503},
    {err::kDbConnection, 503},
};

// Applications that have stand-in scripts, from the file names in db/stand-ins.
std::vector<std::string> StandInApplications(const std::filesystem::path& db_dir) {
  std::set<std::string> applications;
  const auto dir = db_dir / "stand-ins";
  if (std::filesystem::is_directory(dir)) {
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      const std::string name = entry.path().filename().string();
      if (name.ends_with(".sql")) applications.insert(name.substr(0, name.find('.')));
    }
  }
  return {applications.begin(), applications.end()};
}

std::string ReadScript(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ComError(err::kFileNotFound, "heliq init", "cannot read " + path.string());
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

int HttpStatusFor(int32_t error_number) {
  for (const auto& rule : kStatusTable) {
    if (rule.number == error_number) return rule.status;
  }
  return 500;
}

void InitializeSystem() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterConfigurationComponent();
    RegisterLogComponent();
    RegisterPortalComponents();
    RegisterServiceRequestLibrary();
    RegisterServiceProcessLibrary();
  });
}

HostResponse InvokeOperation(std::string_view class_id, std::string_view operation,
                             std::string_view arguments) {
  HostResponse response;
  try {
    const OperationSpec* spec = FindOperation(class_id, operation);
    if (spec == nullptr) {
      throw ComError(err::kBadRequest, "Host",
                     "unknown operation " + std::string(class_id) + "." + std::string(operation));
    }
    DictionaryPtr args = ParseArguments(arguments);
    CallResult call = CallOperation(*spec, *args);
    response.body = {{"result", VariantToJson(call.result)},
                     {"byref", VariantToJson(Variant(call.by_ref))}};
  } catch (...) {
    const ComError error = CurrentError();
    response.status = HttpStatusFor(error.number());
    ComError redacted(error.number(), error.source(), RedactSecrets(error.description()));
    response.body = ErrorToJson(redacted);
  }
  return response;
}

std::string InitializeDatabases(const std::filesystem::path& db_dir, bool schema, bool demo) {
  const std::string install_dir = GetInstallDir();
  const std::string system = SettingValue("connections", "Heliq");
  // One session per distinct database, all committed at the end: a failure half-way leaves every
  // database as it was.
  std::map<std::string, PooledSession> sessions;
  auto session_for = [&](const std::string& application) -> Session& {
    std::string connection = SettingValue("connections", application);
    if (connection.empty()) connection = system;
    auto& session = sessions[connection];
    if (!session) {
      session = SessionPool::For(connection, install_dir)->Acquire();
      session->Begin(true);
    }
    return *session.get();
  };
  auto dialect_name = [](const Session& session) {
    return session.dialect() == Dialect::kPostgres ? std::string("postgresql")
                                                   : std::string("sqlite");
  };
  size_t count = 0;
  auto run = [&](Session& session, const std::filesystem::path& script, bool required) {
    if (!required && !std::filesystem::exists(script)) return;
    session.ExecuteScript(ReadScript(script));
    ++count;
  };
  Session& main = session_for("Heliq");
  if (schema) run(main, db_dir / (dialect_name(main) + ".sql"), true);
  if (demo) run(main, db_dir / "demo.sql", true);
  for (const auto& application : StandInApplications(db_dir)) {
    Session& session = session_for(application);
    const auto dir = db_dir / "stand-ins";
    if (schema) run(session, dir / (application + "." + dialect_name(session) + ".sql"), false);
    if (demo) run(session, dir / (application + ".demo.sql"), false);
  }
  for (auto& [connection, session] : sessions) session->Commit();
  return std::string(schema ? "schema created" : "") + (schema && demo ? ", " : "") +
         (demo ? "demo data loaded" : "") + " (" + std::to_string(count) + " scripts from " +
         db_dir.string() + ")";
}

std::string InitializeDatabase(bool demo) {
  return InitializeDatabases(std::filesystem::path(GetInstallDir()) / "db", true, demo);
}

}  // namespace heliq
