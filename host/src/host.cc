#include "host/host.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>

#include "common/heliq_utilities.h"
#include "host/json_convert.h"
#include "people/permissions.h"
#include "platform/configuration.h"
#include "platform/log.h"
#include "platform/object_context.h"
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
    {err::kBadRequest, 400},           {err::kUnauthorized, 401},
    {err::kInvalidProcedureCall, 422}, {err::kOverflow, 422},
    {err::kTypeMismatch, 422},         {err::kInvalidUseOfNull, 422},
    {err::kArgumentNotOptional, 422},  {err::kDbRowChanged, 409},
    {err::kDbConstraint, 409},         {err::kBackOfficeRefused, 502},
    {err::kMailNotSent, 502},          {err::kCannotCreateComponent, 503},
    {err::kDbConnection, 503},         {err::kCallDeadlineExceeded, 503},
    {err::kResourceNotFound, 404},     {err::kPayloadTooLarge, 413},
    {err::kHostStopping, 503},         {err::kForbidden, 403},
    {err::kTooManyAttempts, 429},
};

constexpr std::string_view kHealthQuery = "SELECT COUNT(*) FROM PARAMETERS WHERE 1 = 0";

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

HostResponse ErrorResponse(const ComError& error) {
  HostResponse response;
  response.status = HttpStatusFor(error.number());
  response.body = ErrorToJson(
      ComError(error.number(), RedactSecrets(error.source()), RedactSecrets(error.description())));
  return response;
}

HostResponse Guarded(const std::function<HostResponse()>& body) {
  try {
    return body();
  } catch (...) {
    return ErrorResponse(CurrentError());
  }
}

HostResponse InvokeOperation(std::string_view class_id, std::string_view operation,
                             std::string_view arguments, const CallLimits& limits,
                             const Caller* caller) {
  const auto started = std::chrono::steady_clock::now();
  return Guarded([&] {
    const OperationSpec* spec = FindOperation(class_id, operation);
    if (spec == nullptr) {
      throw ComError(err::kBadRequest, "Host",
                     "unknown operation " + std::string(class_id) + "." + std::string(operation));
    }
    // Refused before the arguments are read; the request checks run inside the unit of work.
    OperationSpec authorized;
    if (caller != nullptr) {
      authorized = AuthorizedOperation(*caller, *spec,
                                       SettingValue("host", "serve_all_operations") == "true");
      spec = &authorized;
    }
    DictionaryPtr args = ParseArguments(arguments, limits.json);
    CallResult call;
    if (limits.deadline.count() > 0) {
      // The check runs inside the unit of work, after the operation and before the commit, so a
      // late call is rolled back like any failing one.
      OperationSpec bounded = *spec;
      bounded.invoke = [spec, deadline = started + limits.deadline,
                        allowed = limits.deadline](Dictionary& prepared) {
        Variant result = spec->invoke(prepared);
        if (std::chrono::steady_clock::now() > deadline) {
          throw ComError(err::kCallDeadlineExceeded, "Host",
                         spec->class_id + "." + spec->name + " ran longer than its deadline of " +
                             std::to_string(allowed.count()) + " ms; nothing of it was committed");
        }
        return result;
      };
      call = CallOperation(bounded, *args);
    } else {
      call = CallOperation(*spec, *args);
    }
    HostResponse response;
    response.body = {{"result", VariantToJson(call.result)},
                     {"byref", VariantToJson(Variant(call.by_ref))}};
    return response;
  });
}

HostResponse CheckHealth() {
  HostResponse response = Guarded([] {
    RunUnitOfWork([] { GetHeliqConnection()->QueryValue(kHealthQuery); }, true);
    HostResponse ok;
    ok.body = {{"status", "ok"}};
    return ok;
  });
  if (response.status != 200) {
    response.status = 503;
    nlohmann::ordered_json body = {{"status", "unavailable"}};
    body["error"] = response.body["error"];
    response.body = std::move(body);
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
