// The read side a front end needs beside the operations: lists of requests with filters, sort
// and keyset paging; the ranked engineer list of manual dispatching; the localised labels; the
// published FAQ entries. Each function is one read-only unit of work.
//
// The query functions take explicit filters and a RequestScope (people/caller.h): the scope is
// what the caller may see at all and is ANDed with the filters, so a caller can narrow his view
// but never widen it. The Json functions parse HTTP query parameters into those filters; a bad
// parameter raises err::kBadRequest whose description starts with "argument <name>:".
//
// Thread safety: every function may run concurrently.
#ifndef HELIQ_HOST_READ_API_H_
#define HELIQ_HOST_READ_API_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "people/caller.h"
#include "platform/database.h"
#include "platform/variant.h"

namespace heliq {

enum class RequestSort { kId, kDeadline, kChanged };

// The list a front end shows. Empty or unset members do not filter. Requests are the active ones
// (QUESTIONS); archived requests are read one by one.
struct RequestFilter {
  std::vector<int32_t> statuses;             // Q_STATUS is one of these
  std::optional<int32_t> centre;             // CENTER
  std::optional<std::string> engineer;       // D_DIRECT_TO, compared without case
  std::optional<std::string> originator;     // Q_ORIGINATOR, exact
  std::optional<std::string> email;          // EMAILID (a prospect), compared without case
  std::string text;                          // occurs in Q_DESC or Q_TEXT, without case; >= 3 chars
  std::optional<DateTime> registered_since;  // REGISTEREDDATE >= it
  std::optional<DateTime> changed_since;     // an action was logged at or after it
  bool overdue = false;                      // DEADLINE is before now
  RequestSort sort = RequestSort::kId;
  bool descending = false;
  int32_t limit = 50;  // 1 .. kMaxRequestPage
  std::string cursor;  // "" for the first page, else the next_cursor of the previous page
};

inline constexpr int32_t kMaxRequestPage = 200;

struct RequestPage {
  // One dictionary per request: Q_ID, Q_STATUS, CENTER, Q_DESC, Q_ORIGINATOR, EMAILID,
  // D_DIRECT_TO, Q_PRIORITY, Q_PRODUCTCAT, Q_CATEGORY, REGISTEREDDATE, Q_DATE, R_STATUS, T1_DATE,
  // DEADLINE (when the escalation would first mail about it; null when no watched timer runs),
  // LASTCHANGE (time of the last logged action; null when none), ESCALATED (when the escalation
  // run last mailed about it; null when it never did).
  std::vector<DictionaryPtr> rows;
  // Opaque; "" on the last page.
  std::string next_cursor;
};

// One page of requests in the filter's order (ties broken by Q_ID). Paging is by key, not by
// offset: a request that keeps its sort key while others change, arrive or leave is listed
// exactly once across the pages. A cursor that does not belong to this sort raises
// err::kBadRequest ("argument cursor: ...").
RequestPage ListRequests(const RequestFilter& filter, const RequestScope& scope);

// The statement ListRequests runs and its parameters, for plan checks and benchmarks.
struct SqlQuery {
  std::string sql;
  Params params;
};
SqlQuery RequestListQuery(const RequestFilter& filter, const RequestScope& scope, Dialect dialect);

// HTTP query parameters in arrival order (a name may repeat).
using QueryParams = std::vector<std::pair<std::string, std::string>>;

// The parameters of an URL query ("status=5&status=15&q=paper%20jam"), percent-decoded ("+" is
// a space), in order; a name without "=" has the value "". Malformed escapes stay as they are.
QueryParams ParseQueryString(std::string_view query);

// Parameters: status (repeatable, or comma-separated), centre, engineer, originator, email, q
// (text search), registered_since, changed_since (YYYY-MM-DD[ hh:mm:ss]), overdue (1, or 0 for
// no filter), sort (id, deadline, changed; a leading "-" for descending), limit, cursor. Unknown
// parameters are refused.
RequestFilter ParseRequestFilter(const QueryParams& query);

// GET /api/v1/requests: {"requests": [...], "next_cursor": text or null}.
nlohmann::ordered_json ListRequestsJson(const QueryParams& query, const RequestScope& scope);

// GET /api/v1/engineers?request=&centre=&locale=: the engineer list that manual dispatching of
// the request would write to its file, in the same order and with the same content, as
// {"Q_ID", "CENTER", "Rulesapplied", "engineers": [{"Login", "Sequence" (null when the rules
// are off), "FirstNameDisplay", "LastNameDisplay", "FirstName", "LastName", "EmailID",
// "Language", "Country"}]}. centre defaults to the request's CENTER, locale to the default
// language. Writes no file. An unknown request raises err::kResourceNotFound.
nlohmann::ordered_json EngineerListJson(const QueryParams& query);

// GET /api/v1/texts?locale=: {"locale", "texts": {LABEL: TEXT}} with every label of I18NTEXT in
// the locale, and the default language's text for a label the locale lacks. locale defaults to
// the default language.
nlohmann::ordered_json TextsJson(const QueryParams& query);

// GET /api/v1/faq?q=&productcat=&category=&limit=: the published FAQ entries, newest first,
// {"faq": [{"FAQ_ID", "FAQ_PRODUCTCAT", "FAQ_CATEGORY", "FAQ_PUBLISH_FOR", "FAQ_TITLE",
// "FAQ_QUESTION", "FAQ_ANSWER", "FAQ_DATE", "FAQ_KEYWORDS", "FAQ_LINK"}]}; q searches title,
// question, answer and keywords without case.
nlohmann::ordered_json FaqJson(const QueryParams& query);

// The centre number `text` of argument `name`: 1 (call centre) or 2 (support centre), else
// err::kBadRequest.
int32_t CentreArgument(std::string_view name, const std::string& text);

// GET /api/v1/lookups: what the "file a request" form offers, {"productcats": [{"id", "label",
// "categories": [{"id", "label"}]}], "products": [{"id", "label", "site"}], "priorities":
// [{"id", "label"}], "statuses": [{"id", "label"}]} in their SORTORDER (priorities and statuses
// by number). Labels of product categories, categories and statuses are I18NTEXT labels.
// products: the installed products of the caller's business partner (a customer: from his
// directory entry; none when he has none), all of them for staff and the API token, none for a
// prospect.
nlohmann::ordered_json LookupsJson(const Caller& caller);

// GET /api/v1/centres/<c>/engineers: the members of the centre's engineer role (32, 36) in login
// order with their directory names and language and their dispatch rule's counters,
// {"centre", "engineers": [{"Login", "FirstName", "LastName", "QUEUESIZE", "EXPERIENCE",
// "Language"}]}; the counters are null for an engineer without a rule (the largest when he has
// several).
nlohmann::ordered_json CentreEngineersJson(int32_t centre);

// GET /api/v1/requests/counts?centre=: {"centre", "counts": {"<Q_STATUS>": n}}: the registered
// active requests of the centre (status 0 left out) by status; statuses without requests are
// left out.
nlohmann::ordered_json RequestCountsJson(const QueryParams& query);

}  // namespace heliq

#endif  // HELIQ_HOST_READ_API_H_
