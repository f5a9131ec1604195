#include "host/openapi.h"

#include <string>

#include "host/read_api.h"
#include "platform/operation_table.h"

namespace heliq {
namespace {

using Json = nlohmann::ordered_json;

Json SchemaOf(ParamKind kind) {
  switch (kind) {
    case ParamKind::kText:
      return {{"type", "string"}};
    case ParamKind::kLong:
      return {{"type", "integer"}, {"format", "int32"}};
    case ParamKind::kBool:
      return {{"type", "boolean"}};
    case ParamKind::kDate:
      return {{"type", "string"},
              {"pattern", "^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}$"},
              {"description", "local date-time YYYY-MM-DD hh:mm:ss"}};
    case ParamKind::kDictionary:
      return {{"type", "object"}, {"additionalProperties", true}};
    case ParamKind::kArray:
      return {{"type", "array"}, {"items", Json::object()}};
    case ParamKind::kVariant:
      break;
  }
  return {{"description", "any value"}};
}

// A dictionary argument: its declared keys as properties (other keys pass as they are), or a bare
// object when none are declared. `after_call` describes the dictionary as it comes back under
// byref: the keys the operation writes are the ones to look for there.
Json DictionarySchema(const ParamSpec& param, bool after_call) {
  if (param.keys.empty()) return SchemaOf(param.kind);
  Json properties = Json::object();
  for (const DetailKey& key : param.keys) {
    if (after_call && !key.written) continue;
    Json schema = SchemaOf(key.kind);
    const char* use = key.read && key.written ? "read and written by the operation"
                      : key.written           ? "written by the operation"
                                              : "read by the operation";
    schema["description"] = schema.contains("description")
                                ? std::string(use) + "; " + schema["description"].get<std::string>()
                                : std::string(use);
    properties[key.name] = std::move(schema);
  }
  return {{"type", "object"}, {"properties", properties}, {"additionalProperties", true}};
}

Json Ref(const std::string& name) { return {{"$ref", "#/components/" + name}}; }

Json JsonContent(Json schema) { return {{"application/json", {{"schema", std::move(schema)}}}}; }

// The failures every route may answer with.
Json ErrorResponses() {
  Json responses = Json::object();
  for (const char* status : {"400", "401", "404", "409", "413", "422", "500", "502", "503"}) {
    responses[status] = Ref("responses/Error");
  }
  return responses;
}

Json OperationPath(const OperationSpec& spec) {
  Json properties = Json::object();
  Json required = Json::array();
  Json byref = Json::object();
  for (const auto& param : spec.params) {
    Json schema = DictionarySchema(param, false);
    if (param.by_ref) {
      schema["description"] = "by reference: its value after the call comes back under byref";
    }
    properties[param.name] = schema;
    if (!param.optional && !param.by_ref) required.push_back(param.name);
    if (param.by_ref || param.kind == ParamKind::kDictionary) {
      byref[param.name] = DictionarySchema(param, true);
    }
  }
  Json body = {{"type", "object"}, {"properties", properties}, {"additionalProperties", false}};
  if (!required.empty()) body["required"] = required;
  Json answer = {{"type", "object"},
                 {"properties",
                  {{"result", SchemaOf(spec.result)},
                   {"byref", {{"type", "object"}, {"properties", byref}}}}}};
  Json responses = ErrorResponses();
  responses["200"] = {{"description", "the result and the by-reference values"},
                      {"content", JsonContent(answer)}};
  Json post = {{"operationId", spec.class_id + "." + spec.name},
               {"tags", {spec.class_id}},
               {"summary", spec.summary.empty() ? spec.name : spec.summary},
               {"requestBody", {{"required", false}, {"content", JsonContent(body)}}},
               {"responses", responses}};
  if (spec.read_only) post["description"] = "Only reads.";
  return {{"post", post}};
}

Json Success(const char* description, Json schema) {
  Json responses = ErrorResponses();
  responses["200"] = {{"description", description}, {"content", JsonContent(std::move(schema))}};
  return responses;
}

Json Query(const char* name, Json schema, const char* description, bool required = false) {
  return {{"name", name},
          {"in", "query"},
          {"required", required},
          {"description", description},
          {"schema", std::move(schema)}};
}

Json IdParameter() {
  return {{"name", "id"},
          {"in", "path"},
          {"required", true},
          {"schema", {{"type", "integer"}, {"format", "int32"}}}};
}

// The host's own routes: the front end's part of a request, health and metrics.
void AddHostPaths(Json& paths) {
  const Json object = {{"type", "object"}};
  Json created = ErrorResponses();
  created["201"] = {
      {"description", "the new request's id"},
      {"content",
       JsonContent({{"type", "object"}, {"properties", {{"Q_ID", SchemaOf(ParamKind::kLong)}}}})}};
  paths["/api/v1/requests"] = {
      {"post",
       {{"operationId", "requests.create"},
        {"tags", {"requests"}},
        {"summary",
         "Inserts an unregistered request (status 0) with the given QUESTIONS columns "
         "and returns its Q_ID."},
        {"requestBody", {{"required", true}, {"content", JsonContent(object)}}},
        {"responses", created}}},
      {"get",
       {{"operationId", "requests.list"},
        {"tags", {"requests"}},
        {"summary",
         "With email: the requests (active and archived) of a prospect's e-mail address, in "
         "Q_ID order. Without: the active requests filtered, sorted and paged by key "
         "(docs/api.md); each row with its DEADLINE, LASTCHANGE and ESCALATED."},
        {"parameters",
         {Query("email", SchemaOf(ParamKind::kText), "a prospect's address (the older list)"),
          Query("status", SchemaOf(ParamKind::kText), "Q_STATUS, repeatable or comma-separated"),
          Query("centre", SchemaOf(ParamKind::kLong), "CENTER"),
          Query("engineer", SchemaOf(ParamKind::kText), "D_DIRECT_TO, without case"),
          Query("originator", SchemaOf(ParamKind::kText), "Q_ORIGINATOR"),
          Query("q", SchemaOf(ParamKind::kText), "text in Q_DESC or Q_TEXT, 3 characters or more"),
          Query("registered_since", SchemaOf(ParamKind::kDate), "REGISTEREDDATE at or after"),
          Query("changed_since", SchemaOf(ParamKind::kDate), "an action logged at or after"),
          Query("overdue", {{"type", "integer"}, {"enum", {0, 1}}},
                "1: only requests whose DEADLINE has passed"),
          Query("sort",
                {{"type", "string"},
                 {"enum", {"id", "-id", "deadline", "-deadline", "changed", "-changed"}}},
                "order; ties by Q_ID"),
          Query("limit", {{"type", "integer"}, {"minimum", 1}, {"maximum", kMaxRequestPage}},
                "page size, default 50"),
          Query("cursor", SchemaOf(ParamKind::kText), "next_cursor of the previous page")}},
        {"responses", Success("a page of requests and the cursor of the next (null on the last)",
                              {{"type", "object"},
                               {"properties",
                                {{"requests", {{"type", "array"}}},
                                 {"next_cursor", {{"type", "string"}, {"nullable", true}}}}}})}}}};
  paths["/api/v1/engineers"] = {
      {"get",
       {{"operationId", "engineers.list"},
        {"tags", {"dispatching"}},
        {"summary",
         "The ranked engineer list manual dispatching writes to its file for the request, as "
         "JSON (same order and content); writes no file."},
        {"parameters",
         {Query("request", SchemaOf(ParamKind::kLong), "Q_ID of an active request", true),
          Query("centre", SchemaOf(ParamKind::kLong), "1 or 2; default the request's CENTER"),
          Query("locale", SchemaOf(ParamKind::kLong), "for the display names")}},
        {"responses", Success("Q_ID, CENTER, Rulesapplied, engineers", object)}}}};
  paths["/api/v1/texts"] = {
      {"get",
       {{"operationId", "texts"},
        {"tags", {"texts"}},
        {"summary",
         "Every I18NTEXT label of the locale; the default language's text where it has none."},
        {"parameters", {Query("locale", SchemaOf(ParamKind::kLong), "default: default_language")}},
        {"responses", Success("locale and texts {LABEL: TEXT}", object)}}}};
  paths["/api/v1/faq"] = {
      {"get",
       {{"operationId", "faq"},
        {"tags", {"texts"}},
        {"summary", "The published FAQ entries, newest first."},
        {"parameters",
         {Query("q", SchemaOf(ParamKind::kText), "text in title, question, answer or keywords"),
          Query("productcat", SchemaOf(ParamKind::kLong), "FAQ_PRODUCTCAT"),
          Query("category", SchemaOf(ParamKind::kLong), "FAQ_CATEGORY"),
          Query("limit", {{"type", "integer"}, {"minimum", 1}, {"maximum", kMaxRequestPage}},
                "default 50")}},
        {"responses", Success("faq: the entries", object)}}}};
  paths["/api/v1/requests/{id}"] = {
      {"get",
       {{"operationId", "requests.read"},
        {"tags", {"requests"}},
        {"summary",
         "A request (active or archived) with its back-office call (support centre), reminder, "
         "transaction log and the files of its folder in the file store."},
        {"parameters", {IdParameter()}},
        {"responses",
         Success("archived, request, call, reminder, transactions, attachments", object)}}}};
  const Json centre = {{"type", "integer"}, {"enum", {1, 2}}};
  paths["/api/v1/lookups"] = {
      {"get",
       {{"operationId", "lookups"},
        {"tags", {"texts"}},
        {"summary",
         "What the form that files a request offers: product categories with their "
         "categories, products, priorities and statuses; labels are I18NTEXT labels."},
        {"responses", Success("productcats, products, priorities, statuses", object)}}}};
  paths["/api/v1/centres/{c}/engineers"] = {
      {"get",
       {{"operationId", "centres.engineers"},
        {"tags", {"dispatching"}},
        {"summary",
         "The engineers of a centre with their names, language, queue size and experience; for "
         "the centre's dispatchers and supervisors."},
        {"parameters", {{{"name", "c"}, {"in", "path"}, {"required", true}, {"schema", centre}}}},
        {"responses", Success("centre and engineers", object)}}}};
  paths["/api/v1/requests/counts"] = {
      {"get",
       {{"operationId", "requests.counts"},
        {"tags", {"requests"}},
        {"summary",
         "The registered active requests of a centre counted by Q_STATUS; for the centre's "
         "dispatchers and supervisors."},
        {"parameters", {Query("centre", centre, "1 or 2", true)}},
        {"responses", Success("centre and counts {Q_STATUS: n}", object)}}}};
  Json uploaded = ErrorResponses();
  uploaded["201"] = {{"description", "stored in the request's incoming/ folder"},
                     {"content", JsonContent({{"type", "object"},
                                              {"properties",
                                               {{"path", SchemaOf(ParamKind::kText)},
                                                {"name", SchemaOf(ParamKind::kText)},
                                                {"bytes", SchemaOf(ParamKind::kLong)}}}})}};
  const Json binary = {
      {"application/octet-stream", {{"schema", {{"type", "string"}, {"format", "binary"}}}}}};
  paths["/api/v1/requests/{id}/attachments/{name}"] = {
      {"put",
       {{"operationId", "requests.attachments.upload"},
        {"tags", {"requests"}},
        {"summary",
         "Stores the body as incoming/<name> of the request (at most [host] max_upload_bytes, "
         "else 413); the next action of the request takes it in."},
        {"parameters",
         {IdParameter(),
          {{"name", "name"},
           {"in", "path"},
           {"required", true},
           {"schema", SchemaOf(ParamKind::kText)}}}},
        {"requestBody", {{"required", true}, {"content", binary}}},
        {"responses", uploaded}}},
      {"get",
       {{"operationId", "requests.attachments.read"},
        {"tags", {"requests"}},
        {"summary",
         "A file of the request, by the path its attachments list names (\"incoming/x.pdf\", "
         "\"T12/x.pdf\"; escape the \"/\" or give it as two segments)."},
        {"parameters",
         {IdParameter(),
          {{"name", "name"},
           {"in", "path"},
           {"required", true},
           {"schema", SchemaOf(ParamKind::kText)}}}},
        {"responses", [&] {
           Json responses = ErrorResponses();
           responses["200"] = {{"description", "the file, as an attachment"}, {"content", binary}};
           return responses;
         }()}}}};
  paths["/api/v1/requests/{id}/transactions"] = {
      {"get",
       {{"operationId", "requests.transactions"},
        {"tags", {"requests"}},
        {"summary", "A request's transaction log in T_ID order."},
        {"parameters", {IdParameter()}},
        {"responses", Success("Q_ID and transactions", object)}}}};
  paths["/api/v1/requests/{id}/reminder"] = {
      {"get",
       {{"operationId", "requests.reminder"},
        {"tags", {"requests"}},
        {"summary", "A request's reminder row (null when none runs)."},
        {"parameters", {IdParameter()}},
        {"responses", Success("Q_ID and reminder", object)}}}};
  const Json text = SchemaOf(ParamKind::kText);
  const Json names = {{"type", "array"}, {"items", text}};
  Json signed_in = Success(
      "the session: token (also as Bearer), csrf (the X-CSRF-Token of cookie calls), login, "
      "roles, expires; Set-Cookie heliq_session (HttpOnly, SameSite=Strict)",
      {{"type", "object"},
       {"properties",
        {{"token", text}, {"csrf", text}, {"login", text}, {"roles", names}, {"expires", text}}}});
  signed_in["429"] = {{"description", "too many failed sign-ins (error 1108); see Retry-After"},
                      {"headers", {{"Retry-After", {{"schema", {{"type", "integer"}}}}}}},
                      {"content", JsonContent(Ref("schemas/Error"))}};
  paths["/api/v1/session"] = {
      {"post",
       {{"operationId", "session.start"},
        {"tags", {"people"}},
        {"summary",
         "Sign in with login and password, or a prospect with email and pin. Needs no "
         "credentials; a wrong login and a wrong password answer the same 401."},
        {"security", Json::array()},
        {"requestBody",
         {{"required", true},
          {"content",
           JsonContent(
               {{"type", "object"},
                {"properties",
                 {{"login", text}, {"password", text}, {"email", text}, {"pin", text}}}})}}},
        {"responses", std::move(signed_in)}}},
      {"delete",
       {{"operationId", "session.end"},
        {"tags", {"people"}},
        {"summary",
         "Sign out: ends the session of the Bearer token or the cookie (the cookie with "
         "X-CSRF-Token) and clears the cookie."},
        {"responses", Success("signed_out: whether a session ended", object)}}}};
  paths["/api/v1/me"] = {
      {"get",
       {{"operationId", "me"},
        {"tags", {"people"}},
        {"summary", "Who calls: login, display_name, roles, centres, locale, email, prospect."},
        {"responses", Success("the caller", object)}}}};
  paths["/healthz"] = {
      {"get",
       {{"operationId", "healthz"},
        {"tags", {"operation"}},
        {"summary", "200 when the system database answers, 503 otherwise. Needs no token."},
        {"security", Json::array()},
        {"responses",
         {{"200", {{"description", "healthy"}}}, {"503", {{"description", "unhealthy"}}}}}}}};
  paths["/metrics"] = {
      {"get",
       {{"operationId", "metrics"},
        {"tags", {"operation"}},
        {"summary",
         "Prometheus text: calls, errors and latency per operation, units of work, "
         "database pool use. The API token's (or an administrator's) only."},
        {"responses", {{"200", {{"description", "text/plain; version=0.0.4"}}}}}}}};
}

}  // namespace

nlohmann::ordered_json OpenApiDocument() {
  Json paths = Json::object();
  AddHostPaths(paths);
  for (const OperationSpec* spec : ListOperations()) {
    paths["/api/v1/" + spec->class_id + "/" + spec->name] = OperationPath(*spec);
  }
  const Json error = {{"type", "object"},
                      {"required", {"error"}},
                      {"properties",
                       {{"error",
                         {{"type", "object"},
                          {"required", {"number", "source", "description"}},
                          {"properties",
                           {{"number", SchemaOf(ParamKind::kLong)},
                            {"source", SchemaOf(ParamKind::kText)},
                            {"description", SchemaOf(ParamKind::kText)}}}}}}}};
  return {{"openapi", "3.0.3"},
          {"info",
           {{"title", "Heliq service desk"},
            {"version", "1"},
            {"description",
             "Every public operation of the component libraries, one unit of work "
             "per call. Errors: docs/errors.md."}}},
          {"security", {{{"bearer", Json::array()}}, {{"cookie", Json::array()}}}},
          {"paths", paths},
          {"components",
           {{"securitySchemes",
             {{"bearer",
               {{"type", "http"},
                {"scheme", "bearer"},
                {"description", "the API token or a session token from POST /api/v1/session"}}},
              {"cookie",
               {{"type", "apiKey"},
                {"in", "cookie"},
                {"name", "heliq_session"},
                {"description",
                 "the session cookie; calls other than GET, HEAD and OPTIONS also send the "
                 "session's csrf in X-CSRF-Token"}}}}},
            {"schemas", {{"Error", error}}},
            {"responses",
             {{"Error",
               {{"description", "failure: number, source, description (docs/errors.md)"},
                {"content", JsonContent(Ref("schemas/Error"))}}}}}}}};
}

}  // namespace heliq
