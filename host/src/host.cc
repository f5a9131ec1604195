#include "host/host.h"

#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "common/heliq_utilities.h"
#include "host/json_convert.h"
#include "platform/configuration.h"
#include "platform/log.h"
#include "platform/operation_table.h"
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
    {err::kCannotCreateComponent, 503},
    {err::kDbConnection, 503},
};

std::string ReadFile(const std::filesystem::path& path) {
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
    RegisterServiceRequestLibrary();
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

std::string InitializeDatabase(bool demo) {
  auto configuration = GetComponentAs<Configuration>(kConfigurationClassId);
  const std::string install_dir = configuration->GetInstallDir();
  auto session =
      SessionPool::For(configuration->GetConnectionString("Heliq"), install_dir)->Acquire();
  const std::filesystem::path dir = std::filesystem::path(install_dir) / "db";
  const auto schema =
      dir / (session->dialect() == Dialect::kPostgres ? "postgresql.sql" : "sqlite.sql");
  // One transaction: a failure half-way leaves the database as it was.
  session->Begin(true);
  session->ExecuteScript(ReadFile(schema));
  std::string done = "schema created from " + schema.string();
  if (demo) {
    session->ExecuteScript(ReadFile(dir / "demo.sql"));
    done += "; demo data loaded from " + (dir / "demo.sql").string();
  }
  session->Commit();
  return done;
}

}  // namespace heliq
