#include "host/host.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <vector>

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
    {err::kTooManyAttempts, 429},      {err::kServiceBusy, 409},
};

// Failures that report a configured service (database, mail, back office, file store, a
// component) unreachable or refusing, whose texts are redacted before they go out.
constexpr int32_t kServiceFailures[] = {err::kDbConnection, err::kCannotCreateComponent,
                                        err::kMailNotSent, err::kBackOfficeRefused,
                                        err::kFileServer};

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

// The body of InitializeDatabases and InitializeDatabase: each step is optional, so the tests can
// load the schema once and the data per test.
std::string LoadScripts(const std::filesystem::path& db_dir, bool schema, bool reference,
                        bool demo) {
  const std::string install_dir = GetInstallDir();
  const std::string system = SettingValue("connections", "Heliq");
  // One session per distinct database, all committed at the end: a failure half-way leaves every
  // database as it was.
  struct Target {
    std::string applications;  // the applications that use it, for messages
    PooledSession session;
  };
  std::map<std::string, Target> targets;
  // Runs `body` on the database of `application`; a failure names that database.
  auto on_database = [&](const std::string& application, const auto& body) {
    std::string connection = SettingValue("connections", application);
    if (connection.empty()) connection = system;
    Target& target = targets[connection];
    if (target.applications.find(application) == std::string::npos) {
      target.applications += (target.applications.empty() ? "" : ", ") + application;
    }
    try {
      if (!target.session) {
        target.session = SessionPool::For(connection, install_dir)->Acquire();
        target.session->Begin(true);
      }
      body(*target.session.get());
    } catch (const ComError& e) {
      throw ComError(e.number(), e.source(),
                     "database " + connection + " (" + target.applications +
                         "): " + e.description() + "; nothing was changed");
    }
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
  on_database("Heliq", [&](Session& main) {
    if (schema) run(main, db_dir / (dialect_name(main) + ".sql"), true);
    if (reference) run(main, db_dir / "reference.sql", true);
    if (demo) run(main, db_dir / "demo.sql", true);
  });
  for (const auto& application : StandInApplications(db_dir)) {
    on_database(application, [&](Session& session) {
      const auto dir = db_dir / "stand-ins";
      if (schema) run(session, dir / (application + "." + dialect_name(session) + ".sql"), false);
      if (reference) run(session, dir / (application + ".reference.sql"), false);
      if (demo) run(session, dir / (application + ".demo.sql"), false);
    });
  }
  for (auto& [connection, target] : targets) target.session->Commit();
  std::vector<std::string> done;
  if (schema) done.push_back("schema created");
  if (reference) done.push_back("reference data loaded");
  if (demo) done.push_back("demo data loaded");
  std::string summary;
  for (const auto& step : done) summary += (summary.empty() ? "" : ", ") + step;
  return summary + " (" + std::to_string(count) + " scripts from " + db_dir.string() + ")";
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
  // Only a failure to reach a configured service can carry a secret (its connection string or
  // credentials, in the text of a driver's message); no caller text is redacted, since a blanked
  // echo would confirm a guessed secret.
  const bool from_service = std::find(std::begin(kServiceFailures), std::end(kServiceFailures),
                                      error.number()) != std::end(kServiceFailures);
  response.body = from_service ? ErrorToJson(ComError(error.number(), RedactSecrets(error.source()),
                                                      RedactSecrets(error.description())))
                               : ErrorToJson(error);
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
      // A TOML boolean reads as "1"; the text "true" is taken too.
      const std::string serve_all = SettingValue("host", "serve_all_operations");
      authorized = AuthorizedOperation(*caller, *spec, serve_all == "1" || serve_all == "true");
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
      call = CallOperation(bounded, *args, started + limits.deadline);
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
  return LoadScripts(db_dir, schema, demo, demo);
}

std::filesystem::path ScriptDirectory() {
  std::vector<std::filesystem::path> candidates;
  std::error_code error;
  const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) candidates.push_back(program.parent_path() / ".." / "share" / "heliq" / "db");
  candidates.push_back(std::filesystem::path(GetInstallDir()) / "db");
  std::string searched;
  for (const auto& candidate : candidates) {
    if (std::filesystem::is_regular_file(candidate / "reference.sql")) {
      return candidate.lexically_normal();
    }
    searched += (searched.empty() ? "" : ", ") + candidate.lexically_normal().string();
  }
  throw ComError(err::kFileNotFound, "heliq init",
                 "no database scripts found (looked in " + searched + ")");
}

std::string InitializeDatabase(bool demo) {
  return LoadScripts(ScriptDirectory(), true, true, demo);
}

}  // namespace heliq
