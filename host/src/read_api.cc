#include "host/read_api.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <limits>
#include <map>
#include <set>

#include "common/directory.h"
#include "common/files_and_texts.h"
#include "common/heliq_utilities.h"
#include "common/lookups.h"
#include "host/json_convert.h"
#include "platform/clock.h"
#include "platform/com_error.h"
#include "platform/log.h"
#include "platform/object_context.h"
#include "platform/text.h"
#include "servicerequest/dispatch/dispatch.h"

namespace heliq {
namespace {

using Json = nlohmann::ordered_json;

constexpr int32_t kDefaultPage = 50;
constexpr size_t kMinSearchLength = 3;
constexpr size_t kMaxParameterLength = 256;

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

ComError BadArgument(std::string_view name, const std::string& why) {
  return ComError(err::kBadRequest, "Requests", "argument " + std::string(name) + ": " + why);
}

// --- The request list -----------------------------------------------------------------------

// The statuses whose timer the escalation watches; only they have a deadline.
constexpr std::string_view kWatchedStatuses =
    "('5','10','15','20','25','30','35','40','45','50','55','85','90','95','155')";

// The hour limits of the escalation, in the order the deadline expression binds them.
constexpr std::string_view kThresholdParams[] = {"MaxHours_Assigned", "MaxHours_Registered",
                                                 "MaxHours_SCEAssigned", "MaxHours_SCQueue"};

// The dialect's spelling of what the two databases write differently. Values stay placeholders;
// only the fixed text around them differs.
struct DialectSql {
  std::string_view add_hours_prefix;  // prefix + hours + suffix: R.T1_DATE plus that many hours
  std::string_view add_hours_suffix;
  std::string_view date_param;  // a bound date-time
  std::string_view hours_param;
  std::string_view latest;         // sorts after every date-time
  std::string_view earliest;       // sorts before every date-time
  std::string_view earliest_text;  // the same as a bound value
};

constexpr DialectSql kSqliteSql{
    "datetime(R.T1_DATE, (", ") || ' hours')",     "?", "?", "'9999-12-31 23:59:59'",
    "'0000-01-01 00:00:00'", "0000-01-01 00:00:00"};
constexpr DialectSql kPostgresSql{"(R.T1_DATE + make_interval(hours => ",
                                  "))",
                                  "CAST(? AS TIMESTAMP)",
                                  "CAST(? AS INTEGER)",
                                  "TIMESTAMP '9999-12-31 23:59:59'",
                                  "TIMESTAMP '0001-01-01 00:00:00'",
                                  "0001-01-01 00:00:00"};
constexpr std::string_view kLatestText = "9999-12-31 23:59:59";

// The deadline is the escalation's: the timer's start plus the hour limit of the request's class
// (call centre assigned or not; support centre with its engineer, or still queued, which a
// status of 5 means even with an engineer's login). Other centres are never escalated. The four
// limits bind in the order of kThresholdParams.
std::string DeadlineExpression(const DialectSql& d) {
  const std::string h(d.hours_param);
  const std::string hours =
      "CASE WHEN Q.CENTER IN (1, 3) THEN CASE WHEN TRIM(COALESCE(Q.D_DIRECT_TO, '')) <> '' THEN " +
      h + " ELSE " + h +
      " END ELSE CASE WHEN TRIM(COALESCE(Q.D_DIRECT_TO, '')) <> '' AND TRIM(R.R_STATUS) <> '5' "
      "THEN " +
      h + " ELSE " + h + " END END";
  return "CASE WHEN R.T1_DATE IS NULL OR TRIM(R.R_STATUS) NOT IN " + std::string(kWatchedStatuses) +
         " OR Q.CENTER NOT IN (1, 2, 3) THEN NULL ELSE " + std::string(d.add_hours_prefix) + hours +
         std::string(d.add_hours_suffix) + " END";
}

// The last logged action: T_IDs increase, so the row with the highest is the latest.
constexpr std::string_view kLastChange =
    "(SELECT T.T_DATE FROM TRANSACTIONS T WHERE T.Q_ID = Q.Q_ID ORDER BY T.T_ID DESC LIMIT 1)";

// When the escalation run last mailed about the request; null when it never did.
constexpr std::string_view kEscalated =
    "(SELECT E.ESCALATED FROM ESCALATIONS E WHERE E.Q_ID = Q.Q_ID)";

constexpr std::string_view kListColumns =
    "Q_ID, Q_STATUS, CENTER, Q_DESC, Q_ORIGINATOR, EMAILID, D_DIRECT_TO, Q_PRIORITY, "
    "Q_PRODUCTCAT, Q_CATEGORY, REGISTEREDDATE, Q_DATE, R_STATUS, T1_DATE, DEADLINE, LASTCHANGE, "
    "ESCALATED";

constexpr std::string_view kInnerColumns =
    "Q.Q_ID, Q.Q_STATUS, Q.CENTER, Q.Q_DESC, Q.Q_ORIGINATOR, Q.EMAILID, Q.D_DIRECT_TO, "
    "Q.Q_PRIORITY, Q.Q_PRODUCTCAT, Q.Q_CATEGORY, Q.REGISTEREDDATE, Q.Q_DATE, R.R_STATUS, "
    "R.T1_DATE";

std::string_view SortName(RequestSort sort) {
  switch (sort) {
    case RequestSort::kDeadline:
      return "deadline";
    case RequestSort::kChanged:
      return "changed";
    case RequestSort::kId:
      break;
  }
  return "id";
}

// The sort key as the outer query sees it; null keys sort last when ascending.
std::string SortKey(RequestSort sort, const DialectSql& d) {
  switch (sort) {
    case RequestSort::kDeadline:
      return "COALESCE(DEADLINE, " + std::string(d.latest) + ")";
    case RequestSort::kChanged:
      return "COALESCE(LASTCHANGE, " + std::string(d.earliest) + ")";
    case RequestSort::kId:
      break;
  }
  return "";
}

// The cursor: the sort, direction and the last row's key, hex-encoded so that callers treat it as
// opaque and it survives any URL without escaping.
struct Cursor {
  std::string sort;
  std::string key;  // date-time text, "" for a null key or the id sort
  int32_t id = 0;
};

std::string Hex(std::string_view text) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : text) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

std::optional<std::string> Unhex(std::string_view text) {
  if (text.size() % 2 != 0) return std::nullopt;
  std::string out;
  for (size_t i = 0; i < text.size(); i += 2) {
    unsigned value = 0;
    auto [end, error] = std::from_chars(text.data() + i, text.data() + i + 2, value, 16);
    if (error != std::errc() || end != text.data() + i + 2) return std::nullopt;
    out += static_cast<char>(value);
  }
  return out;
}

std::string SortTag(const RequestFilter& filter) {
  return (filter.descending ? "-" : "") + std::string(SortName(filter.sort));
}

std::string EncodeCursor(const RequestFilter& filter, const std::string& key, int32_t id) {
  return Hex(SortTag(filter) + "|" + key + "|" + std::to_string(id));
}

Cursor DecodeCursor(const RequestFilter& filter) {
  const auto text = Unhex(filter.cursor);
  const ComError bad = BadArgument("cursor", "not a cursor of this list; start again without one");
  if (!text) throw bad;
  const size_t first = text->find('|');
  const size_t last = text->rfind('|');
  if (first == std::string::npos || first == last) throw bad;
  Cursor cursor{text->substr(0, first), text->substr(first + 1, last - first - 1), 0};
  const std::string id = text->substr(last + 1);
  auto [end, error] = std::from_chars(id.data(), id.data() + id.size(), cursor.id);
  if (error != std::errc() || end != id.data() + id.size()) throw bad;
  if (cursor.sort != SortTag(filter)) {
    throw BadArgument("cursor",
                      "it belongs to the sort " + cursor.sort + ", not " + SortTag(filter));
  }
  if (!cursor.key.empty() && !DateTime::Parse(cursor.key)) throw bad;
  return cursor;
}

std::string Marks(size_t n) {
  std::string marks;
  for (size_t i = 0; i < n; ++i) marks += i == 0 ? "?" : ", ?";
  return marks;
}

// "%text%" for LIKE with its wildcards taken literally.
std::string LikePattern(std::string_view text) {
  std::string pattern = "%";
  for (char c : text) {
    if (c == '%' || c == '_' || c == '\\') pattern += '\\';
    pattern += c;
  }
  return pattern + "%";
}

// An FTS5 phrase: the text taken literally.
std::string FtsPhrase(std::string_view text) {
  std::string phrase = "\"";
  for (char c : text) {
    if (c == '"') phrase += '"';
    phrase += c;
  }
  return phrase + "\"";
}

void AddScope(const RequestScope& scope, std::string& where, Params& params) {
  if (scope.all) return;
  std::vector<std::string> any;
  if (!scope.originator.empty()) {
    any.push_back("Q.Q_ORIGINATOR = ?");
    params.push_back(Variant(scope.originator));
  }
  if (!scope.email.empty()) {
    any.push_back("Q.EMAILID = ?");
    params.push_back(Variant(scope.email));
  }
  if (!scope.engineer.empty()) {
    any.push_back("Q.D_DIRECT_TO = ?");
    params.push_back(Variant(scope.engineer));
  }
  if (!scope.queue_centres.empty()) {
    any.push_back("(Q.CENTER IN (" + Marks(scope.queue_centres.size()) +
                  ") AND (Q.D_DIRECT_TO IS NULL OR TRIM(Q.D_DIRECT_TO) = ''))");
    for (int32_t centre : scope.queue_centres) params.push_back(Variant(centre));
  }
  if (!scope.centres.empty()) {
    any.push_back("Q.CENTER IN (" + Marks(scope.centres.size()) + ")");
    for (int32_t centre : scope.centres) params.push_back(Variant(centre));
  }
  if (any.empty()) {
    where += " AND 1 = 0";
    return;
  }
  where += " AND (";
  for (size_t i = 0; i < any.size(); ++i) where += (i == 0 ? "" : " OR ") + any[i];
  where += ")";
}

int32_t ThresholdHours(std::string_view name) {
  const std::string text = GetParamValue(name);
  if (Variant(text).IsBlank()) return 0;
  try {
    return Variant(text).ToLong();
  } catch (const ComError&) {
    throw ComError(err::kTypeMismatch, "Requests",
                   "the parameter " + std::string(name) + " is not a whole number: " + text);
  }
}

}  // namespace

SqlQuery RequestListQuery(const RequestFilter& filter, const RequestScope& scope, Dialect dialect) {
  const DialectSql& d = dialect == Dialect::kPostgres ? kPostgresSql : kSqliteSql;
  if (filter.limit < 1 || filter.limit > kMaxRequestPage) {
    throw BadArgument("limit", "a whole number from 1 to " + std::to_string(kMaxRequestPage));
  }
  SqlQuery query;
  Params& params = query.params;
  for (std::string_view name : kThresholdParams) params.push_back(Variant(ThresholdHours(name)));
  std::string where = "1 = 1";
  if (!filter.statuses.empty()) {
    where += " AND Q.Q_STATUS IN (" + Marks(filter.statuses.size()) + ")";
    for (int32_t status : filter.statuses) params.push_back(Variant(status));
  }
  if (filter.centre) {
    where += " AND Q.CENTER = ?";
    params.push_back(Variant(*filter.centre));
  }
  if (filter.engineer) {
    where += " AND Q.D_DIRECT_TO = ?";
    params.push_back(Variant(*filter.engineer));
  }
  if (filter.originator) {
    where += " AND Q.Q_ORIGINATOR = ?";
    params.push_back(Variant(*filter.originator));
  }
  if (filter.email) {
    where += " AND Q.EMAILID = ?";
    params.push_back(Variant(*filter.email));
  }
  if (!filter.text.empty()) {
    if (filter.text.size() < kMinSearchLength) {
      throw BadArgument(
          "q", "a search needs at least " + std::to_string(kMinSearchLength) + " characters");
    }
    if (dialect == Dialect::kPostgres) {
      where += " AND (Q.Q_DESC ILIKE ? ESCAPE '\\' OR Q.Q_TEXT ILIKE ? ESCAPE '\\')";
      params.push_back(Variant(LikePattern(filter.text)));
      params.push_back(Variant(LikePattern(filter.text)));
    } else {
      where += " AND Q.Q_ID IN (SELECT rowid FROM QUESTIONS_SEARCH WHERE QUESTIONS_SEARCH MATCH ?)";
      params.push_back(Variant(FtsPhrase(filter.text)));
    }
  }
  if (filter.registered_since) {
    where += " AND Q.REGISTEREDDATE >= " + std::string(d.date_param);
    params.push_back(Variant(*filter.registered_since));
  }
  if (filter.changed_since) {
    where += " AND Q.Q_ID IN (SELECT T.Q_ID FROM TRANSACTIONS T WHERE T.T_DATE >= " +
             std::string(d.date_param) + ")";
    params.push_back(Variant(*filter.changed_since));
  }
  AddScope(scope, where, params);

  const std::string key = SortKey(filter.sort, d);
  const std::string direction = filter.descending ? " DESC" : "";
  const std::string after = filter.descending ? " < " : " > ";
  std::string outer_where;
  if (filter.overdue) {
    outer_where = " WHERE DEADLINE < " + std::string(d.date_param);
    params.push_back(Variant(Now()));
  }
  if (!filter.cursor.empty()) {
    const Cursor cursor = DecodeCursor(filter);
    outer_where += outer_where.empty() ? " WHERE " : " AND ";
    if (key.empty()) {
      outer_where += "Q_ID" + after + "?";
    } else {
      const std::string bound = std::string(d.date_param);
      outer_where +=
          "(" + key + after + bound + " OR (" + key + " = " + bound + " AND Q_ID" + after + "?))";
      // A null key was listed under the sentinel that stands in for it.
      const std::string_view sentinel =
          filter.sort == RequestSort::kDeadline ? kLatestText : d.earliest_text;
      const Variant value(cursor.key.empty() ? std::string(sentinel) : cursor.key);
      params.push_back(value);
      params.push_back(value);
    }
    params.push_back(Variant(cursor.id));
  }
  // Unfiltered, the key order answers the first page at once. Filtered, SQLite would still walk
  // the key in order until a page of matches came together (the whole table when few match);
  // "+" keeps it from ordering by the key, so it starts from the filter's index instead.
  const std::string id_order =
      dialect == Dialect::kSqlite && where != "1 = 1" ? "+Q_ID" : std::string("Q_ID");
  std::string order = key.empty() ? id_order + direction : key + direction + ", Q_ID" + direction;
  query.sql = "SELECT " + std::string(kListColumns) + " FROM (SELECT " +
              std::string(kInnerColumns) + ", " + DeadlineExpression(d) + " AS DEADLINE, " +
              std::string(kLastChange) + " AS LASTCHANGE, " + std::string(kEscalated) +
              " AS ESCALATED FROM QUESTIONS Q LEFT JOIN REMINDER R ON R.Q_ID = Q.Q_ID WHERE " +
              where + ") L" + outer_where + " ORDER BY " + order + " LIMIT ?";
  params.push_back(Variant(filter.limit + 1));
  return query;
}

RequestPage ListRequests(const RequestFilter& filter, const RequestScope& scope) {
  return RunUnitOfWork(
      [&] {
        auto connection = GetHeliqConnection();
        const SqlQuery query = RequestListQuery(filter, scope, connection->dialect());
        const ResultSet result = connection->Query(query.sql, query.params);
        RequestPage page;
        const size_t shown = std::min(result.rows.size(), static_cast<size_t>(filter.limit));
        for (size_t i = 0; i < shown; ++i) {
          auto row = Dictionary::Create();
          for (size_t c = 0; c < result.columns.size(); ++c) {
            const std::string name = Upper(result.columns[c]);
            Variant value = result.rows[i][c];
            // SQLite hands computed date-times back as text; both databases answer dates.
            if ((name == "DEADLINE" || name == "LASTCHANGE" || name == "ESCALATED") &&
                value.type() == Variant::Type::kText) {
              value = Variant(value.ToDate());
            }
            row->Set(name, value);
          }
          page.rows.push_back(row);
        }
        if (result.rows.size() > shown) {
          const DictionaryPtr& last = page.rows.back();
          std::string key;
          if (filter.sort != RequestSort::kId) {
            const Variant value =
                last->Get(filter.sort == RequestSort::kDeadline ? "DEADLINE" : "LASTCHANGE");
            if (!value.IsNull()) key = value.ToDate().ToText();
          }
          page.next_cursor = EncodeCursor(filter, key, last->Get("Q_ID").ToLong());
        }
        return page;
      },
      true);
}

// --- Query parameters ------------------------------------------------------------------------

namespace {

int32_t WholeNumber(std::string_view name, const std::string& text, int32_t min, int32_t max) {
  int64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < min ||
      value > max) {
    throw BadArgument(name, "a whole number from " + std::to_string(min) + " to " +
                                std::to_string(max) + " expected, got \"" + text.substr(0, 32) +
                                "\"");
  }
  return static_cast<int32_t>(value);
}

DateTime DateArgument(std::string_view name, const std::string& text) {
  auto date = DateTime::Parse(text);
  if (!date) {
    throw BadArgument(name, "a date YYYY-MM-DD or YYYY-MM-DD hh:mm:ss expected, got \"" +
                                text.substr(0, 32) + "\"");
  }
  return *date;
}

// Refuses names outside `known` and values longer than any sane one.
void CheckNames(const QueryParams& query, std::initializer_list<std::string_view> known) {
  for (const auto& [name, value] : query) {
    if (std::find(known.begin(), known.end(), name) == known.end()) {
      throw BadArgument(name.substr(0, 32), "unknown parameter");
    }
    if (value.size() > kMaxParameterLength) throw BadArgument(name, "too long");
  }
}

// The value of a parameter that may be given once.
std::optional<std::string> Single(const QueryParams& query, std::string_view name) {
  std::optional<std::string> found;
  for (const auto& [key, value] : query) {
    if (key != name) continue;
    if (found) throw BadArgument(name, "given more than once");
    found = value;
  }
  return found;
}

int32_t DefaultLocale() {
  const Variant language = GetDefaultLanguage();
  return language.IsBlank() ? 0 : language.ToLong();
}

Json RowsJson(const std::vector<DictionaryPtr>& rows) {
  Json out = Json::array();
  for (const auto& row : rows) out.push_back(VariantToJson(Variant(row)));
  return out;
}

}  // namespace

QueryParams ParseQueryString(std::string_view query) {
  auto decode = [](std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
      unsigned value = 0;
      if (text[i] == '+') {
        out += ' ';
      } else if (text[i] == '%' && i + 2 < text.size() &&
                 std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16).ptr ==
                     text.data() + i + 3) {
        out += static_cast<char>(value);
        i += 2;
      } else {
        out += text[i];
      }
    }
    return out;
  };
  QueryParams params;
  while (!query.empty()) {
    const size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    if (!pair.empty()) {
      const size_t eq = pair.find('=');
      params.emplace_back(decode(pair.substr(0, eq)),
                          eq == std::string_view::npos ? "" : decode(pair.substr(eq + 1)));
    }
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return params;
}

RequestFilter ParseRequestFilter(const QueryParams& query) {
  CheckNames(query, {"status", "centre", "engineer", "originator", "email", "q", "registered_since",
                     "changed_since", "overdue", "sort", "limit", "cursor"});
  RequestFilter filter;
  for (const auto& [name, value] : query) {
    if (name != "status") continue;
    size_t start = 0;
    while (start <= value.size()) {
      const size_t comma = std::min(value.find(',', start), value.size());
      filter.statuses.push_back(WholeNumber("status", value.substr(start, comma - start), 0, 999));
      start = comma + 1;
    }
  }
  if (auto centre = Single(query, "centre")) filter.centre = WholeNumber("centre", *centre, 0, 99);
  filter.engineer = Single(query, "engineer");
  filter.originator = Single(query, "originator");
  filter.email = Single(query, "email");
  filter.text = Single(query, "q").value_or("");
  if (auto since = Single(query, "registered_since")) {
    filter.registered_since = DateArgument("registered_since", *since);
  }
  if (auto since = Single(query, "changed_since")) {
    filter.changed_since = DateArgument("changed_since", *since);
  }
  if (auto overdue = Single(query, "overdue")) {
    filter.overdue = WholeNumber("overdue", *overdue, 0, 1) == 1;
  }
  if (auto sort = Single(query, "sort")) {
    std::string_view name = *sort;
    filter.descending = name.starts_with('-');
    if (filter.descending) name.remove_prefix(1);
    if (name == "id") {
      filter.sort = RequestSort::kId;
    } else if (name == "deadline") {
      filter.sort = RequestSort::kDeadline;
    } else if (name == "changed") {
      filter.sort = RequestSort::kChanged;
    } else {
      throw BadArgument("sort", "one of id, deadline, changed (\"-\" in front for descending)");
    }
  }
  filter.limit = kDefaultPage;
  if (auto limit = Single(query, "limit")) {
    filter.limit = WholeNumber("limit", *limit, 1, kMaxRequestPage);
  }
  filter.cursor = Single(query, "cursor").value_or("");
  return filter;
}

Json ListRequestsJson(const QueryParams& query, const RequestScope& scope) {
  const RequestPage page = ListRequests(ParseRequestFilter(query), scope);
  Json next = page.next_cursor.empty() ? Json(nullptr) : Json(page.next_cursor);
  return {{"requests", RowsJson(page.rows)}, {"next_cursor", next}};
}

// --- Engineers, texts, FAQ -------------------------------------------------------------------

namespace {

constexpr std::string_view kSelectDispatchInput =
    "SELECT CENTER, Q_PRODUCTCAT, Q_CATEGORY, Q_ORIGINATOR, Q_TEXT FROM QUESTIONS WHERE Q_ID = ?";
constexpr std::string_view kSelectTexts = "SELECT LABEL, TEXT FROM I18NTEXT WHERE LOCALEID = ?";

std::string TextOrEmpty(const Variant& value) { return value.IsNull() ? "" : value.ToText(); }

}  // namespace

Json EngineerListJson(const QueryParams& query) {
  CheckNames(query, {"request", "centre", "locale"});
  const auto request = Single(query, "request");
  if (!request) throw BadArgument("request", "missing (?request=<Q_ID>)");
  const int32_t id = WholeNumber("request", *request, 1, std::numeric_limits<int32_t>::max());
  std::optional<int32_t> centre;
  if (auto text = Single(query, "centre")) centre = WholeNumber("centre", *text, 1, 2);
  std::optional<int32_t> locale;
  if (auto text = Single(query, "locale")) {
    locale = WholeNumber("locale", *text, 0, std::numeric_limits<int32_t>::max());
  }
  return RunUnitOfWork(
      [&] {
        const ResultSet row = GetHeliqConnection()->Query(kSelectDispatchInput, {Variant(id)});
        if (row.rows.empty()) {
          throw ComError(err::kResourceNotFound, "Requests",
                         "no active request has Q_ID " + std::to_string(id));
        }
        const auto& r = row.rows[0];
        const int32_t family = centre.value_or(r[0].IsNull() ? 0 : r[0].ToLong());
        if (family != 1 && family != 2) {
          throw BadArgument("centre", "the request belongs to no centre; give centre=1 or 2");
        }
        auto dispatch = GetComponentAs<Dispatch>(kDispatchClassId);
        const RankedEngineers list =
            dispatch->RankEngineers(family == 1 ? kCallCentreRole : kSupportCentreRole,
                                    TextOrEmpty(r[1]), TextOrEmpty(r[2]), TextOrEmpty(r[3]),
                                    TextOrEmpty(r[4]), locale.value_or(DefaultLocale()));
        Json engineers = Json::array();
        for (const auto& e : list.engineers) {
          engineers.push_back({{"Login", e.login},
                               {"Sequence", e.sequence > 0 ? Json(e.sequence) : Json(nullptr)},
                               {"FirstNameDisplay", e.first_name_display},
                               {"LastNameDisplay", e.last_name_display},
                               {"FirstName", e.first_name},
                               {"LastName", e.last_name},
                               {"EmailID", e.mail},
                               {"Language", e.language},
                               {"Country", e.country}});
        }
        return Json{{"Q_ID", id},
                    {"CENTER", family},
                    {"Rulesapplied", list.rules_applied},
                    {"engineers", engineers}};
      },
      true);
}

Json TextsJson(const QueryParams& query) {
  CheckNames(query, {"locale"});
  return RunUnitOfWork(
      [&] {
        const int32_t fallback = DefaultLocale();
        int32_t locale = fallback;
        if (auto text = Single(query, "locale")) {
          locale = WholeNumber("locale", *text, 0, std::numeric_limits<int32_t>::max());
        }
        auto connection = GetHeliqConnection();
        // Labels compare without case: the key is the upper-case code, the locale's text wins.
        std::map<std::string, std::string> texts;
        auto read = [&](int32_t locale_id) {
          const ResultSet rows = connection->Query(kSelectTexts, {Variant(locale_id)});
          for (const auto& row : rows.rows) {
            texts[Upper(row[0].ToText())] = TextOrEmpty(row[1]);
          }
        };
        if (fallback != locale) read(fallback);
        read(locale);
        Json out = Json::object();
        for (const auto& [label, text] : texts) out[label] = text;
        return Json{{"locale", locale}, {"texts", out}};
      },
      true);
}

namespace {

constexpr std::string_view kFaqColumns =
    "SELECT FAQ_ID, FAQ_PRODUCTCAT, FAQ_CATEGORY, FAQ_PUBLISH_FOR, FAQ_TITLE, FAQ_QUESTION, "
    "FAQ_ANSWER, FAQ_DATE, FAQ_KEYWORDS, FAQ_LINK FROM FAQLIST WHERE 1 = 1";

}  // namespace

Json FaqJson(const QueryParams& query) {
  CheckNames(query, {"q", "productcat", "category", "limit"});
  std::string sql(kFaqColumns);
  Params params;
  if (auto text = Single(query, "productcat")) {
    sql += " AND FAQ_PRODUCTCAT = ?";
    params.push_back(
        Variant(WholeNumber("productcat", *text, 0, std::numeric_limits<int32_t>::max())));
  }
  if (auto text = Single(query, "category")) {
    sql += " AND FAQ_CATEGORY = ?";
    params.push_back(
        Variant(WholeNumber("category", *text, 0, std::numeric_limits<int32_t>::max())));
  }
  const std::string search = Single(query, "q").value_or("");
  int32_t limit = kDefaultPage;
  if (auto text = Single(query, "limit")) limit = WholeNumber("limit", *text, 1, kMaxRequestPage);
  return RunUnitOfWork(
      [&] {
        auto connection = GetRAvuruvoConnection();
        std::string statement = sql;
        Params values = params;
        if (!search.empty()) {
          const bool pg = connection->dialect() == Dialect::kPostgres;
          const std::string like = pg ? " ILIKE ? ESCAPE '\\'" : " LIKE ? ESCAPE '\\'";
          statement += " AND (FAQ_TITLE" + like + " OR FAQ_QUESTION" + like + " OR FAQ_ANSWER" +
                       like + " OR FAQ_KEYWORDS" + like + ")";
          for (int i = 0; i < 4; ++i) values.push_back(Variant(LikePattern(search)));
        }
        statement += " ORDER BY FAQ_ID DESC LIMIT ?";
        values.push_back(Variant(limit));
        const ResultSet rows = connection->Query(statement, values);
        Json faq = Json::array();
        for (const auto& row : rows.rows) {
          Json entry = Json::object();
          for (size_t c = 0; c < rows.columns.size(); ++c) {
            entry[Upper(rows.columns[c])] = VariantToJson(row[c]);
          }
          faq.push_back(std::move(entry));
        }
        return Json{{"faq", faq}};
      },
      true);
}

// --- Lookups, engineers and counts of a centre ---------------------------------------------

namespace {

constexpr std::string_view kSelectProductCats =
    "SELECT PRODUCTCAT, LABEL FROM PRODUCTCAT ORDER BY SORTORDER, PRODUCTCAT";
constexpr std::string_view kSelectCategories =
    "SELECT PRODUCTCAT, CATEGORY, LABEL FROM QUESTIONCAT ORDER BY PRODUCTCAT, SORTORDER, CATEGORY";
constexpr std::string_view kSelectAllProducts =
    "SELECT PRODUCT, DESCRIPTION, SITE FROM PRODUCT ORDER BY PRODUCT";
constexpr std::string_view kSelectPartnerProducts =
    "SELECT P.PRODUCT, P.DESCRIPTION, P.SITE FROM PRODUCT P JOIN SITE S ON S.SITE = P.SITE "
    "WHERE S.CUSTOMER = ? ORDER BY P.PRODUCT";
constexpr std::string_view kSelectPriorities =
    "SELECT PRIORITY, DESCRIPTION FROM PRIORITY ORDER BY PRIORITY";
constexpr std::string_view kSelectStatuses =
    "SELECT Q_STATUS, LABEL FROM STATUSLABEL ORDER BY Q_STATUS";
constexpr std::string_view kSelectCallCentreCounters =
    "SELECT LOGIN, MAX(QUEUESIZE), MAX(EXPERIENCE) FROM CCEDISRULE GROUP BY LOGIN";
constexpr std::string_view kSelectSupportCentreCounters =
    "SELECT LOGIN, MAX(QUEUESIZE), MAX(EXPERIENCE) FROM SCEDISRULE GROUP BY LOGIN";
constexpr std::string_view kSelectCounts =
    "SELECT Q_STATUS, COUNT(*) FROM QUESTIONS WHERE CENTER = ? AND Q_STATUS <> 0 "
    "GROUP BY Q_STATUS ORDER BY Q_STATUS";

Json IdLabels(const ResultSet& rows) {
  Json out = Json::array();
  for (const auto& row : rows.rows) {
    out.push_back({{"id", VariantToJson(row[0])}, {"label", TextOrEmpty(row[1])}});
  }
  return out;
}

// The business partner of a customer, "" when the directory holds none for him.
std::string PartnerOf(const Caller& caller) {
  if (caller.is_prospect || caller.login.empty()) return "";
  const std::unique_ptr<MembershipUser> user = GetUserFromID(caller.login);
  return user ? std::string(TrimSpace(user->BusinessPartnerId())) : "";
}

}  // namespace

int32_t CentreArgument(std::string_view name, const std::string& text) {
  if (text != "1" && text != "2") {
    throw BadArgument(name, "a centre is 1 (call centre) or 2 (support centre), got " +
                                QuoteCallerText(text, 16));
  }
  return text == "1" ? kCallCentre : kSupportCentre;
}

Json LookupsJson(const Caller& caller) {
  const bool all_products = caller.IsUnrestricted() || !caller.centres.empty();
  const std::string partner = all_products ? "" : PartnerOf(caller);
  return RunUnitOfWork(
      [&] {
        auto connection = GetHeliqConnection();
        Json productcats = Json::array();
        std::map<int32_t, size_t> position;
        for (const auto& row : connection->Query(kSelectProductCats, {}).rows) {
          position[row[0].ToLong()] = productcats.size();
          productcats.push_back({{"id", row[0].ToLong()},
                                 {"label", TextOrEmpty(row[1])},
                                 {"categories", Json::array()}});
        }
        for (const auto& row : connection->Query(kSelectCategories, {}).rows) {
          const auto found = position.find(row[0].ToLong());
          if (found == position.end()) continue;
          productcats[found->second]["categories"].push_back(
              {{"id", row[1].ToLong()}, {"label", TextOrEmpty(row[2])}});
        }
        Json products = Json::array();
        if (all_products || !partner.empty()) {
          const ResultSet rows =
              all_products ? connection->Query(kSelectAllProducts, {})
                           : connection->Query(kSelectPartnerProducts, {Variant(partner)});
          for (const auto& row : rows.rows) {
            products.push_back({{"id", TextOrEmpty(row[0])},
                                {"label", TextOrEmpty(row[1])},
                                {"site", TextOrEmpty(row[2])}});
          }
        }
        return Json{{"productcats", productcats},
                    {"products", products},
                    {"priorities", IdLabels(connection->Query(kSelectPriorities, {}))},
                    {"statuses", IdLabels(connection->Query(kSelectStatuses, {}))}};
      },
      true);
}

Json CentreEngineersJson(int32_t centre) {
  const int32_t role = centre == kCallCentre ? kCallCentreRole : kSupportCentreRole;
  const MemberTable members =
      BindDirectoryMembers()->ListRoleMembers(role, "givenname,sn,languageid");
  return RunUnitOfWork(
      [&] {
        std::map<std::string, std::pair<Variant, Variant>> counters;
        const ResultSet rows = GetHeliqConnection()->Query(
            centre == kCallCentre ? kSelectCallCentreCounters : kSelectSupportCentreCounters, {});
        for (const auto& row : rows.rows) counters[Upper(row[0].ToText())] = {row[1], row[2]};
        Json engineers = Json::array();
        for (int32_t i = 0; i < members.row_count(); ++i) {
          const auto at = static_cast<size_t>(i);
          const std::string& login = members.Value(at, "cn");
          const auto found = counters.find(Upper(login));
          const bool ruled = found != counters.end();
          engineers.push_back({{"Login", login},
                               {"FirstName", members.Value(at, "givenname")},
                               {"LastName", members.Value(at, "sn")},
                               {"QUEUESIZE", ruled ? VariantToJson(found->second.first) : Json()},
                               {"EXPERIENCE", ruled ? VariantToJson(found->second.second) : Json()},
                               {"Language", members.Value(at, "languageid")}});
        }
        return Json{{"centre", centre}, {"engineers", engineers}};
      },
      true);
}

Json RequestCountsJson(const QueryParams& query) {
  CheckNames(query, {"centre"});
  const auto text = Single(query, "centre");
  if (!text) throw BadArgument("centre", "missing (?centre=1 or 2)");
  const int32_t centre = CentreArgument("centre", *text);
  return RunUnitOfWork(
      [&] {
        Json counts = Json::object();
        for (const auto& row : GetHeliqConnection()->Query(kSelectCounts, {Variant(centre)}).rows) {
          counts[std::to_string(row[0].ToLong())] = row[1].ToLong();
        }
        return Json{{"centre", centre}, {"counts", counts}};
      },
      true);
}

}  // namespace heliq
