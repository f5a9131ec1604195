// The read API: request lists (filters, scope, deadline, keyset paging while rows change, query
// plans), the engineer list as JSON against the file manual dispatching writes, texts with their
// fallback, FAQ entries, a request's attachments, and bad parameters.
#include "host/read_api.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "common/heliq_utilities.h"
#include "host/host.h"
#include "host/request_store.h"
#include "platform/com_error.h"
#include "platform/object_context.h"
#include "portal/filehandling/file_store.h"
#include "servicerequest/dispatch/dispatch.h"
#include "tests/support/database_fixture.h"
#include "tests/support/directory_users.h"
#include "tests/support/fake_file_handling.h"
#include "tests/support/http_host.h"

namespace heliq {
namespace {

using Json = nlohmann::ordered_json;
using testing::kTestNow;

DateTime At(int hour, int minute = 0) { return DateTime{2009, 1, 1, hour, minute, 0}; }

struct Seed {
  int32_t id;
  int32_t status = 5;
  int32_t centre = 1;
  Variant engineer = Variant::Null();
  std::string originator = "cust1";
  Variant email = Variant::Null();
  std::string desc = "Printer";
  std::string text = "It jams";
  DateTime registered = At(6);
};

class ReadApiTest : public testing::DatabaseTest {
 protected:
  void Add(const Seed& s) {
    Exec(
        "insert into QUESTIONS (Q_ID, Q_STATUS, CENTER, D_DIRECT_TO, Q_ORIGINATOR, EMAILID, "
        "Q_DESC, Q_TEXT, REGISTEREDDATE) values (?, ?, ?, ?, ?, ?, ?, ?, ?)",
        {Variant(s.id), Variant(s.status), Variant(s.centre), s.engineer, Variant(s.originator),
         s.email, Variant(s.desc), Variant(s.text), Variant(s.registered)});
  }
  void Remind(int32_t id, const std::string& status, const Variant& started) {
    Exec("insert into REMINDER (Q_ID, R_STATUS, T1_DATE) values (?, ?, ?)",
         {Variant(id), Variant(status), started});
  }
  void Log(int32_t id, const DateTime& when) {
    Exec(
        "insert into TRANSACTIONS (Q_ID, T_NAME, T_STATUS, CENTER, T_DATE) values (?, 'x', '5', "
        "1, ?)",
        {Variant(id), Variant(when)});
  }
  void Param(const std::string& name, const std::string& value) {
    Exec("insert into PARAMETERS (PARAM_NAME, PARAM_VALUE) values (?, ?)",
         {Variant(name), Variant(value)});
  }

  static RequestScope All() {
    RequestScope scope;
    scope.all = true;
    return scope;
  }
  // The Q_IDs of one page.
  static std::vector<int32_t> Ids(const RequestPage& page) {
    std::vector<int32_t> ids;
    for (const auto& row : page.rows) ids.push_back(row->Get("Q_ID").ToLong());
    return ids;
  }
  std::vector<int32_t> List(const QueryParams& query, const RequestScope& scope = All()) {
    return Ids(ListRequests(ParseRequestFilter(query), scope));
  }
  // The description of the failure `body` raises; fails the test when it raises none.
  template <typename F>
  std::string Refusal(F&& body) {
    try {
      body();
    } catch (const ComError& e) {
      EXPECT_EQ(HttpStatusFor(e.number()), 400) << e.description();
      return e.description();
    }
    ADD_FAILURE() << "no failure";
    return "";
  }
};

TEST_P(ReadApiTest, FiltersNarrowAndTheScopeNeverWidens) {
  Add({.id = 1, .status = 5, .centre = 1});
  Add({.id = 2, .status = 15, .centre = 1, .engineer = Variant("Eng1")});
  Add({.id = 3, .status = 25, .centre = 2, .engineer = Variant("eng2"), .originator = "cust2"});
  Add({.id = 4,
       .status = 5,
       .centre = 2,
       .originator = "",
       .email = Variant("P@Example.com"),
       .desc = "Scanner",
       .text = "Paper feed PROBLEM",
       .registered = At(7)});
  Add({.id = 5, .status = 150, .centre = 1, .engineer = Variant("eng1"), .desc = "100% 'odd'_"});
  Log(2, At(6, 30));
  Log(3, At(7, 10));
  Log(3, At(6, 0));

  EXPECT_EQ(List({}), (std::vector<int32_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(List({{"status", "5"}, {"status", "150"}}), (std::vector<int32_t>{1, 4, 5}));
  EXPECT_EQ(List({{"status", "5,25"}}), (std::vector<int32_t>{1, 3, 4}));
  // The waiting-for-dispatch list and an engineer's queue are filters of the same list.
  EXPECT_EQ(List({{"status", "5"}, {"centre", "1"}}), (std::vector<int32_t>{1}));
  EXPECT_EQ(List({{"engineer", "ENG1"}}), (std::vector<int32_t>{2, 5}));
  EXPECT_EQ(List({{"originator", "cust2"}}), (std::vector<int32_t>{3}));
  EXPECT_EQ(List({{"email", "p@example.COM"}}), (std::vector<int32_t>{4}));
  // Text search: either column, without case, wildcards taken literally.
  EXPECT_EQ(List({{"q", "paper feed problem"}}), (std::vector<int32_t>{4}));
  EXPECT_EQ(List({{"q", "SCAN"}}), (std::vector<int32_t>{4}));
  EXPECT_EQ(List({{"q", "0% '"}}), (std::vector<int32_t>{5}));
  EXPECT_EQ(List({{"q", "d'_"}}), (std::vector<int32_t>{5}));
  EXPECT_EQ(List({{"q", "%%%"}}), (std::vector<int32_t>{}));
  EXPECT_EQ(List({{"registered_since", "2009-01-01 06:30:00"}}), (std::vector<int32_t>{4}));
  EXPECT_EQ(List({{"changed_since", "2009-01-01 06:15:00"}}), (std::vector<int32_t>{2, 3}));
  EXPECT_EQ(List({{"changed_since", "2009-01-01 07:00:00"}, {"centre", "2"}}),
            (std::vector<int32_t>{3}));

  // The text search follows changes of the row, and archived requests leave it.
  Exec("update QUESTIONS set Q_TEXT = 'nothing left' where Q_ID = 4");
  EXPECT_EQ(List({{"q", "feed"}}), (std::vector<int32_t>{}));
  Exec("update QUESTIONS set Q_DESC = 'A new feeder' where Q_ID = 1");
  EXPECT_EQ(List({{"q", "feed"}}), (std::vector<int32_t>{1}));
  Exec("delete from QUESTIONS where Q_ID = 1");
  EXPECT_EQ(List({{"q", "feed"}}), (std::vector<int32_t>{}));

  // A customer sees his own; an engineer his own and his centre's queue; a filter only narrows.
  RequestScope customer;
  customer.originator = "cust1";
  EXPECT_EQ(List({}, customer), (std::vector<int32_t>{2, 5}));
  EXPECT_EQ(List({{"originator", "cust2"}}, customer), (std::vector<int32_t>{}));
  RequestScope engineer;
  engineer.engineer = "eng2";
  engineer.queue_centres = {2};
  EXPECT_EQ(List({}, engineer), (std::vector<int32_t>{3, 4}));
  RequestScope prospect;
  prospect.email = "p@example.com";
  EXPECT_EQ(List({}, prospect), (std::vector<int32_t>{4}));
  EXPECT_EQ(List({}, RequestScope{}), (std::vector<int32_t>{}));
}

TEST_P(ReadApiTest, DeadlineIsWhenTheEscalationWouldMail) {
  Param("MaxHours_Registered", "1");
  Param("MaxHours_Assigned", "2");
  Param("MaxHours_SCQueue", "3");
  Param("MaxHours_SCEAssigned", "4");
  Add({.id = 1, .status = 5, .centre = 1});
  Add({.id = 2, .status = 25, .centre = 1, .engineer = Variant("eng1")});
  // Queued in the support centre: status 5 counts as queued even with an engineer's login.
  Add({.id = 3, .status = 5, .centre = 2, .engineer = Variant("eng2")});
  Add({.id = 4, .status = 25, .centre = 2, .engineer = Variant("eng2")});
  Add({.id = 5, .status = 35, .centre = 1, .engineer = Variant("eng1")});   // timer stopped
  Add({.id = 6, .status = 5, .centre = 0});                                 // never escalated
  Add({.id = 7, .status = 150, .centre = 1, .engineer = Variant("eng1")});  // not watched
  Add({.id = 8, .status = 0});                                              // no reminder
  for (int32_t id : {1, 3}) Remind(id, "5", Variant(At(5)));
  Remind(2, "25", Variant(At(5)));
  Remind(4, " 25 ", Variant(At(1)));
  Remind(5, "35", Variant::Null());
  Remind(6, "5", Variant(At(5)));
  Remind(7, "150", Variant(At(5)));
  Log(1, At(8));
  Log(4, At(9));

  const RequestPage page = ListRequests(ParseRequestFilter({{"sort", "deadline"}}), All());
  std::vector<std::string> deadlines;
  for (const auto& row : page.rows) {
    const Variant deadline = row->Get("DEADLINE");
    deadlines.push_back(std::to_string(row->Get("Q_ID").ToLong()) + " " +
                        (deadline.IsNull() ? "-" : deadline.ToDate().ToText()));
  }
  EXPECT_EQ(deadlines, (std::vector<std::string>{"4 2009-01-01 05:00:00", "1 2009-01-01 06:00:00",
                                                 "2 2009-01-01 07:00:00", "3 2009-01-01 08:00:00",
                                                 "5 -", "6 -", "7 -", "8 -"}));
  EXPECT_EQ(page.rows[0]->Get("LASTCHANGE").ToDate(), At(9));
  EXPECT_TRUE(page.rows[4]->Get("LASTCHANGE").IsNull());
  EXPECT_EQ(List({{"sort", "-changed"}, {"limit", "3"}}), (std::vector<int32_t>{4, 1, 8}));
  EXPECT_EQ(List({{"sort", "-deadline"}, {"limit", "5"}}), (std::vector<int32_t>{8, 7, 6, 5, 3}));

  // A limit that is not a number is a configuration fault, named as such.
  Exec("update PARAMETERS set PARAM_VALUE = 'many' where PARAM_NAME = 'MaxHours_SCQueue'");
  try {
    ListRequests(ParseRequestFilter({}), All());
    ADD_FAILURE() << "no failure";
  } catch (const ComError& e) {
    EXPECT_NE(e.description().find("MaxHours_SCQueue"), std::string::npos) << e.description();
  }
}

TEST_P(ReadApiTest, RowsAndTheRequestSayWhenTheEscalationMailedAboutThem) {
  Add({.id = 1, .status = 5});
  Add({.id = 2, .status = 5});
  Exec("INSERT INTO ESCALATIONS (Q_ID, ESCALATED) VALUES (1, ?)", {Variant(At(3))});
  const RequestPage page = ListRequests(ParseRequestFilter({}), All());
  ASSERT_EQ(page.rows.size(), 2u);
  EXPECT_EQ(page.rows[0]->Get("ESCALATED").ToDate(), At(3));
  EXPECT_TRUE(page.rows[1]->Get("ESCALATED").IsNull());
  const Variant one = ReadRequest(1);
  EXPECT_EQ(one.ToDictionary()->Get("request").ToDictionary()->Get("ESCALATED").ToDate(), At(3));
  const Variant two = ReadRequest(2);
  EXPECT_TRUE(two.ToDictionary()->Get("request").ToDictionary()->Get("ESCALATED").IsNull());
}

// Walks every page of `query`, changing rows after each page with `change`. Returns the ids in
// the order listed.
template <typename F>
std::vector<int32_t> Walk(QueryParams query, F&& change) {
  std::vector<int32_t> seen;
  std::string cursor;
  for (int page = 0; page < 100; ++page) {
    QueryParams with = query;
    if (!cursor.empty()) with.emplace_back("cursor", cursor);
    const RequestPage result = ListRequests(ParseRequestFilter(with), RequestScope{.all = true});
    for (const auto& row : result.rows) seen.push_back(row->Get("Q_ID").ToLong());
    if (result.next_cursor.empty()) return seen;
    cursor = result.next_cursor;
    change(page);
  }
  ADD_FAILURE() << "paging does not end";
  return seen;
}

TEST_P(ReadApiTest, PagingListsEachStableRowOnceWhileOthersChange) {
  Param("MaxHours_Registered", "1");
  for (int32_t id = 1; id <= 40; ++id) {
    Add({.id = id, .status = 5, .centre = 1});
    // Deadlines repeat (ties across page boundaries) and some are null.
    if (id % 5 != 0) Remind(id, "5", Variant(At(1 + id % 3)));
    if (id % 4 != 0) Log(id, At(2 + id % 2));
  }
  // Requests that stay as they are throughout: every one must appear exactly once.
  std::set<int32_t> stable;
  for (int32_t id = 1; id <= 40; ++id) {
    if (id % 7 != 0 && id % 11 != 0) stable.insert(id);
  }
  for (const char* sort : {"id", "-id", "deadline", "-deadline", "changed", "-changed"}) {
    SCOPED_TRACE(sort);
    int32_t next_id = 100;
    const auto seen = Walk({{"sort", sort}, {"limit", "6"}, {"status", "5"}}, [&](int page) {
      // New requests arrive, others leave (archived) or move out of the filter.
      Add({.id = next_id, .status = 5, .centre = 1});
      Remind(next_id++, "5", Variant(At(2)));
      Exec("delete from QUESTIONS where Q_ID = ?", {Variant(7 * (page + 1))});
      Exec("update QUESTIONS set Q_STATUS = 15 where Q_ID = ?", {Variant(11 * (page + 1))});
    });
    std::multiset<int32_t> counted(seen.begin(), seen.end());
    for (int32_t id : stable) EXPECT_EQ(counted.count(id), 1u) << "request " << id;
    EXPECT_EQ(std::set<int32_t>(seen.begin(), seen.end()).size(), seen.size()) << "a repeat";
    // Put the rows back for the next sort.
    Exec("delete from QUESTIONS where Q_ID >= 100");
    Exec("delete from REMINDER where Q_ID >= 100");
    for (int32_t id = 7; id <= 40; id += 7) {
      if (Value("select COUNT(*) from QUESTIONS where Q_ID = ?", {Variant(id)}).ToLong() == 0) {
        Add({.id = id, .status = 5, .centre = 1});
      }
    }
    Exec("update QUESTIONS set Q_STATUS = 5");
  }
}

TEST(QueryStringTest, DecodesEveryParameterInOrder) {
  EXPECT_EQ(ParseQueryString("status=5&status=15&q=paper+jam%21&engineer=a%2Bb&flag&&x=%zz%4"),
            (QueryParams{{"status", "5"},
                         {"status", "15"},
                         {"q", "paper jam!"},
                         {"engineer", "a+b"},
                         {"flag", ""},
                         {"x", "%zz%4"}}));
  EXPECT_EQ(ParseQueryString(""), QueryParams{});
}

TEST_P(ReadApiTest, BadParametersAreRefusedNamingTheParameter) {
  Add({.id = 1});
  Add({.id = 2});
  const auto starts = [](const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
  };
  auto list = [&](const QueryParams& query) {
    return Refusal([&] { ListRequests(ParseRequestFilter(query), All()); });
  };
  EXPECT_PRED2(starts, list({{"limit", "0"}}), "argument limit:");
  EXPECT_PRED2(starts, list({{"limit", "201"}}), "argument limit:");
  EXPECT_PRED2(starts, list({{"limit", "ten"}}), "argument limit:");
  EXPECT_PRED2(starts, list({{"status", "5,x"}}), "argument status:");
  EXPECT_PRED2(starts, list({{"status", ""}}), "argument status:");
  EXPECT_PRED2(starts, list({{"centre", "1"}, {"centre", "2"}}), "argument centre:");
  EXPECT_PRED2(starts, list({{"sort", "urgency"}}), "argument sort:");
  EXPECT_PRED2(starts, list({{"registered_since", "yesterday"}}), "argument registered_since:");
  EXPECT_PRED2(starts, list({{"changed_since", "2009-02-30"}}), "argument changed_since:");
  EXPECT_PRED2(starts, list({{"q", "ab"}}), "argument q:");
  EXPECT_PRED2(starts, list({{"cursor", "zz"}}), "argument cursor:");
  EXPECT_PRED2(starts, list({{"cursor", "616263"}}), "argument cursor:");
  EXPECT_PRED2(starts, list({{"colour", "red"}}), "argument colour:");
  EXPECT_PRED2(starts, list({{"engineer", std::string(300, 'e')}}), "argument engineer:");
  // A cursor of one sort is no cursor of another.
  const RequestPage first = ListRequests(ParseRequestFilter({{"limit", "1"}}), All());
  ASSERT_FALSE(first.next_cursor.empty());
  EXPECT_PRED2(starts, list({{"sort", "deadline"}, {"cursor", first.next_cursor}}),
               "argument cursor:");
  EXPECT_PRED2(starts, list({{"sort", "-id"}, {"cursor", first.next_cursor}}), "argument cursor:");
  EXPECT_EQ(List({{"limit", "1"}, {"cursor", first.next_cursor}}), (std::vector<int32_t>{2}));

  EXPECT_PRED2(starts, Refusal([] { EngineerListJson({}); }), "argument request:");
  EXPECT_PRED2(starts, Refusal([] { EngineerListJson({{"request", "-1"}}); }), "argument request:");
  EXPECT_PRED2(starts, Refusal([] {
                 EngineerListJson({{"request", "1"}, {"centre", "3"}});
               }),
               "argument centre:");
  EXPECT_PRED2(starts, Refusal([] { TextsJson({{"locale", "en"}}); }), "argument locale:");
  EXPECT_PRED2(starts, Refusal([] { FaqJson({{"limit", "-3"}}); }), "argument limit:");
  EXPECT_PRED2(starts, Refusal([] { FaqJson({{"search", "x"}}); }), "argument search:");
}

// The tables a plan reads from start to end ("SCAN <table>" in SQLite, "Seq Scan on <table>" in
// PostgreSQL), for a plan with sequential scans switched off so that a missing index shows.
std::vector<std::string> FullScans(Session& db, const SqlQuery& query, bool postgres) {
  std::vector<std::string> scans;
  const ResultSet plan =
      db.Query((postgres ? "EXPLAIN " : "EXPLAIN QUERY PLAN ") + query.sql, query.params);
  const size_t detail = postgres ? 0 : plan.columns.size() - 1;
  for (const auto& row : plan.rows) {
    const std::string line = row[detail].ToText();
    for (const char* table : {"QUESTIONS", "REMINDER", "TRANSACTIONS"}) {
      std::string lower = table;
      for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      const bool sqlite_scan = (line.find(std::string("SCAN ") + table) != std::string::npos &&
                                line.find("VIRTUAL TABLE") == std::string::npos) ||
                               line == "SCAN Q" || line == "SCAN T" || line == "SCAN R";
      const bool pg_scan = line.find("Seq Scan on " + lower) != std::string::npos;
      if (postgres ? pg_scan : sqlite_scan) scans.push_back(line);
    }
  }
  return scans;
}

TEST_P(ReadApiTest, EveryFilterIsAnsweredFromAnIndex) {
  for (int32_t id = 1; id <= 30; ++id) {
    Add({.id = id,
         .status = 5 + id % 3 * 10,
         .centre = 1 + id % 2,
         .engineer = Variant("eng" + std::to_string(id % 4)),
         .registered = At(0, id)});
    Remind(id, "5", Variant(At(5)));
    Log(id, At(6));
  }
  const bool postgres = backend() == testing::Backend::kPostgres;
  if (postgres) Exec("SET enable_seqscan = off");
  const Dialect dialect = postgres ? Dialect::kPostgres : Dialect::kSqlite;
  RequestScope customer;
  customer.originator = "cust1";
  const std::vector<QueryParams> queries = {
      {{"engineer", "eng1"}, {"sort", "deadline"}},
      {{"engineer", "eng1"}, {"sort", "-changed"}},
      {{"status", "5"}, {"centre", "1"}},
      {{"status", "5,15"}},
      {{"centre", "2"}},
      {{"originator", "cust1"}, {"sort", "changed"}},
      {{"email", "p@example.com"}},
      {{"q", "printer"}},
      {{"registered_since", "2009-01-01 00:28:00"}},
      {{"registered_since", "2009-01-01 00:28:00"}, {"sort", "-id"}},
      {{"changed_since", "2009-01-01 06:00:00"}},
  };
  for (const auto& query : queries) {
    const RequestFilter filter = ParseRequestFilter(query);
    for (const RequestScope& scope : {All(), customer}) {
      const SqlQuery sql = RequestListQuery(filter, scope, dialect);
      EXPECT_EQ(FullScans(db(), sql, postgres), std::vector<std::string>{})
          << Json(query).dump() << "\n"
          << sql.sql;
    }
  }
  // The first page by id reads the key in order and stops at the limit.
  const SqlQuery by_id = RequestListQuery(ParseRequestFilter({{"limit", "5"}}), All(), dialect);
  EXPECT_NE(by_id.sql.find("LIMIT ?"), std::string::npos);
  if (postgres) Exec("RESET enable_seqscan");
}

TEST_P(ReadApiTest, EngineerListIsTheFileManualDispatchingWrites) {
  testing::ScopedFakeFileHandling files;
  Exec("insert into PARAMETERS (PARAM_NAME, PARAM_VALUE) values ('DataFileRelativePath', 'data')");
  Param("Manual_Dispatching", "True");
  for (int id = 1; id <= 7; ++id) {
    Exec("insert into CCEDISWEIGHT (ID, WEIGHT) values (?, ?)", {Variant(id), Variant(1 << id)});
  }
  testing::AddDirectoryUser("cust1", {}, "12");
  testing::AddDirectoryUser("o'neil", {32});
  testing::AddDirectoryUser("beta", {32});
  testing::AddDirectoryUser("gamma", {32});  // no rule: appended after the ranked ones
  testing::AddDirectoryUser("scx", {36});
  Exec(
      "insert into CCEDISRULE (LOGIN, KEYWORD, PRODCAT, QUEUESIZE, EXPERIENCE, "
      "APPLYFORAUTOMATIC) values ('beta', 'jam', ';5;', 1, 0, 0), ('o''neil', '', NULL, 0, 3, 1)");
  Add({.id = 9, .status = 5, .centre = 1, .text = "Paper jam"});
  Exec("update QUESTIONS set Q_PRODUCTCAT = 5, Q_CATEGORY = 6 where Q_ID = 9");

  const Json listed = EngineerListJson({{"request", "9"}, {"locale", "1033"}});
  RunUnitOfWork([] {
    GetComponentAs<Dispatch>(kDispatchClassId)
        ->DispatchHDS("5", "6", "cust1", 9, "Paper jam", false, 1033);
  });
  // The file, parsed: every element's text by name, per engineer.
  std::ifstream in(install_dir() / "data/DispatchFiles/CC_9.xml", std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  xmlDocPtr doc = xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), "list.xml", nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR);
  ASSERT_NE(doc, nullptr);
  Json from_file = Json::array();
  xmlNodePtr root = xmlDocGetRootElement(doc);
  for (xmlNodePtr e = root->children; e; e = e->next) {
    if (e->type != XML_ELEMENT_NODE) continue;
    Json engineer = Json::object();
    xmlChar* login = xmlGetProp(e, BAD_CAST "Login");
    engineer["Login"] = reinterpret_cast<char*>(login);
    xmlFree(login);
    for (xmlNodePtr child = e->children; child; child = child->next) {
      xmlChar* content = xmlNodeGetContent(child);
      const std::string text = content ? reinterpret_cast<char*>(content) : "";
      xmlFree(content);
      const std::string name = reinterpret_cast<const char*>(child->name);
      engineer[name] =
          name == "Sequence" ? (text.empty() ? Json(nullptr) : Json(std::stoi(text))) : Json(text);
    }
    from_file.push_back(engineer);
  }
  xmlFreeDoc(doc);
  ASSERT_EQ(from_file.size(), 3u);
  EXPECT_EQ(from_file[0]["Login"], "beta");  // the keyword and the product category
  EXPECT_EQ(listed["engineers"], from_file);
  EXPECT_EQ(listed["Rulesapplied"], true);
  EXPECT_EQ(listed["CENTER"], 1);

  // Without rules the plain member list; the support centre lists its own engineers.
  Exec("update PARAMETERS set PARAM_VALUE = 'False' where PARAM_NAME = 'Manual_Dispatching'");
  const Json plain = EngineerListJson({{"request", "9"}});
  EXPECT_EQ(plain["Rulesapplied"], false);
  EXPECT_EQ(plain["engineers"].size(), 3u);
  EXPECT_TRUE(plain["engineers"][0]["Sequence"].is_null());
  const Json support = EngineerListJson({{"request", "9"}, {"centre", "2"}});
  ASSERT_EQ(support["engineers"].size(), 1u);
  EXPECT_EQ(support["engineers"][0]["Login"], "scx");
  // Listing writes no file.
  EXPECT_FALSE(std::filesystem::exists(install_dir() / "data/DispatchFiles/SC_9.xml"));
  try {
    EngineerListJson({{"request", "10"}});
    ADD_FAILURE() << "no failure";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kResourceNotFound);
  }
}

TEST_P(ReadApiTest, TextsFallBackToTheDefaultLanguageAndFaqSearches) {
  Exec(
      "insert into I18NTEXT (LOCALEID, LABEL, TEXT) values (1033, 'HQLBL0001', 'Open'), "
      "(1033, 'HQLBL0002', 'Closed'), (1031, 'hqlbl0001', 'Offen'), (1036, 'HQLBL0003', 'x')");
  const Json german = TextsJson({{"locale", "1031"}});
  EXPECT_EQ(german["locale"], 1031);
  EXPECT_EQ(german["texts"].dump(), R"({"HQLBL0001":"Offen","HQLBL0002":"Closed"})");
  EXPECT_EQ(TextsJson({})["texts"].dump(), R"({"HQLBL0001":"Open","HQLBL0002":"Closed"})");

  Exec(
      "insert into FAQLIST (FAQ_PRODUCTCAT, FAQ_CATEGORY, FAQ_TITLE, FAQ_QUESTION, FAQ_ANSWER, "
      "FAQ_KEYWORDS) values (1, 1, 'Printer jams', 'q', 'a', ''), (2, 1, 'Scanner', 'q', "
      "'Clean the PRINTER head', ''), (2, 2, '50% off', 'q', 'a', 'sale')");
  auto titles = [](const Json& answer) {
    std::vector<std::string> out;
    for (const auto& entry : answer["faq"]) out.push_back(entry["FAQ_TITLE"]);
    return out;
  };
  EXPECT_EQ(titles(FaqJson({})), (std::vector<std::string>{"50% off", "Scanner", "Printer jams"}));
  EXPECT_EQ(titles(FaqJson({{"q", "printer"}})),
            (std::vector<std::string>{"Scanner", "Printer jams"}));
  EXPECT_EQ(titles(FaqJson({{"q", "0%"}})), (std::vector<std::string>{"50% off"}));
  EXPECT_EQ(titles(FaqJson({{"productcat", "2"}, {"category", "1"}})),
            (std::vector<std::string>{"Scanner"}));
  EXPECT_EQ(titles(FaqJson({{"limit", "1"}})), (std::vector<std::string>{"50% off"}));
}

TEST_P(ReadApiTest, RequestReadListsItsAttachments) {
  Add({.id = 3});
  const auto folder = RequestFolder(3);
  std::filesystem::create_directories(folder / "incoming");
  std::filesystem::create_directories(folder / "T12");
  std::filesystem::create_directories(folder / "kind-11");
  std::ofstream(folder / "incoming" / "photo.jpg") << "jpeg";
  std::ofstream(folder / "incoming" / ".photo.jpg.1.2.tmp") << "half";
  std::ofstream(folder / "T12" / "log.txt") << "12345";
  std::ofstream(folder / "kind-11" / "CC_3.xml") << "x";
  std::ofstream(folder / "transactions.log") << "bookkeeping";
  const Json request = VariantToJson(ReadRequest(3));
  EXPECT_EQ(request["attachments"].dump(),
            R"([{"path":"T12/log.txt","name":"log.txt","bytes":5,"T_ID":12},)"
            R"({"path":"incoming/photo.jpg","name":"photo.jpg","bytes":4,"T_ID":null},)"
            R"({"path":"kind-11/CC_3.xml","name":"CC_3.xml","bytes":1,"T_ID":null}])");
  Add({.id = 4});
  EXPECT_EQ(VariantToJson(ReadRequest(4))["attachments"].dump(), "[]");
}

TEST_P(ReadApiTest, OverdueListsOnlyRequestsWhoseDeadlineHasPassedAndPagesThroughThem) {
  Param("MaxHours_Registered", "1");
  Param("MaxHours_Assigned", "1");
  Param("MaxHours_SCQueue", "1");
  Param("MaxHours_SCEAssigned", "1");
  // The clock stands at 07:05:09: timers started before 06:05:09 are past their hour.
  for (int32_t id = 1; id <= 6; ++id) Add({.id = id});
  Remind(1, "5", Variant(At(5)));
  Remind(2, "5", Variant(At(6, 5)));
  Remind(3, "5", Variant(At(6, 10)));  // due at 07:10, not yet
  Remind(4, "5", Variant::Null());     // no timer runs
  Remind(5, "150", Variant(At(1)));    // a status the escalation does not watch
  Remind(6, "5", Variant(At(4)));
  EXPECT_EQ(List({{"overdue", "1"}}), (std::vector<int32_t>{1, 2, 6}));
  EXPECT_EQ(List({{"overdue", "0"}}), (std::vector<int32_t>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(List({{"overdue", "1"}, {"sort", "deadline"}}), (std::vector<int32_t>{6, 1, 2}));

  // The cursor goes on with the same filter.
  RequestFilter filter = ParseRequestFilter({{"overdue", "1"}, {"sort", "deadline"}});
  filter.limit = 2;
  const RequestPage first = ListRequests(filter, All());
  EXPECT_EQ(Ids(first), (std::vector<int32_t>{6, 1}));
  filter.cursor = first.next_cursor;
  EXPECT_EQ(Ids(ListRequests(filter, All())), (std::vector<int32_t>{2}));

  EXPECT_NE(Refusal([&] {
              List({{"overdue", "yes"}});
            }).find("argument overdue"),
            std::string::npos);
}

INSTANTIATE_DATABASE_TEST_SUITE(ReadApiTest);

class ReadRoutesTest : public testing::HttpHostTest {};

TEST_P(ReadRoutesTest, RoutesAnswerOverHttpAndRefuseBadParametersWith400) {
  for (int32_t id = 1; id <= 3; ++id) {
    Exec(
        "insert into QUESTIONS (Q_ID, Q_STATUS, CENTER, D_DIRECT_TO, EMAILID, Q_DESC) values "
        "(?, 5, 1, 'cce1', 'p@x.com', 'Paper jam')",
        {Variant(id)});
  }
  Exec("insert into I18NTEXT (LOCALEID, LABEL, TEXT) values (1033, 'HQLBL0001', 'Open')");
  StartServer();
  auto body = [](const httplib::Result& result) { return Json::parse(result->body); };
  auto first = Get("/api/v1/requests?engineer=cce1&limit=2&status=5,15");
  ASSERT_TRUE(first);
  ASSERT_EQ(first->status, 200) << first->body;
  EXPECT_EQ(body(first)["requests"].size(), 2u);
  const std::string cursor = body(first)["next_cursor"];
  auto second = Get("/api/v1/requests?engineer=cce1&limit=2&status=5,15&cursor=" + cursor);
  ASSERT_TRUE(second);
  EXPECT_EQ(body(second)["requests"][0]["Q_ID"], 3);
  EXPECT_TRUE(body(second)["next_cursor"].is_null());
  // email alone keeps the prospect's list.
  auto prospect = Get("/api/v1/requests?email=p%40x.com");
  ASSERT_TRUE(prospect);
  EXPECT_TRUE(body(prospect)["requests"][0].contains("ARCHIVED")) << prospect->body;
  auto texts = Get("/api/v1/texts?locale=1033");
  ASSERT_TRUE(texts);
  EXPECT_EQ(body(texts)["texts"]["HQLBL0001"], "Open");
  auto faq = Get("/api/v1/faq");
  ASSERT_TRUE(faq);
  EXPECT_EQ(faq->status, 200);
  for (const char* bad : {"/api/v1/requests?limit=0", "/api/v1/requests?sort=urgency",
                          "/api/v1/engineers", "/api/v1/texts?locale=en", "/api/v1/faq?x=1"}) {
    auto refused = Get(bad);
    ASSERT_TRUE(refused) << bad;
    EXPECT_EQ(refused->status, 400) << bad << " " << refused->body;
    EXPECT_EQ(body(refused)["error"]["number"], err::kBadRequest) << bad;
  }
  auto missing = Get("/api/v1/engineers?request=99");
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->status, 404);
}

INSTANTIATE_DATABASE_TEST_SUITE(ReadRoutesTest);

}  // namespace
}  // namespace heliq
