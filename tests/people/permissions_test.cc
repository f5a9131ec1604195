// The permission table: the same as docs/permissions.md, a row for every operation of the host,
// and each role allowed and refused on representative operations, on every available database.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <string>

#include "host/host.h"
#include "people/permissions.h"
#include "platform/com_error.h"
#include "platform/operation_table.h"
#include "tests/support/request_fixture.h"

namespace heliq {
namespace {

Caller Person(const std::string& login, std::vector<int32_t> directory_roles) {
  Caller caller;
  caller.login = login;
  caller.directory_roles = std::move(directory_roles);
  caller.roles = RolesFromDirectory(caller.directory_roles, 90, &caller.centres);
  return caller;
}

Caller Prospect(const std::string& email) {
  Caller caller;
  caller.is_prospect = true;
  caller.email = email;
  caller.roles = {Role::kProspect};
  return caller;
}

Caller ApiToken() {
  Caller caller;
  caller.is_api_token = true;
  return caller;
}

std::string Cell(const std::string& text) {
  if (text == "—") return "";
  if (text.size() >= 2 && text.front() == '`' && text.back() == '`') {
    return text.substr(1, text.size() - 2);
  }
  return text;
}

TEST(PermissionTableTest, DocumentAndCodeListTheSameRowsAndEveryOperationHasOne) {
  std::ifstream in(std::string(HELIQ_SOURCE_DIR) + "/docs/permissions.md");
  ASSERT_TRUE(in) << "docs/permissions.md is missing";
  const std::regex row(
      R"(^\| `([\w.]+)\.(\w+)` \| (yes|no) \| ([^|]*) \| ([^|]*) \| ([^|]*) \| ([^|]*) \|$)");
  std::set<std::string> documented;
  std::string line;
  while (std::getline(in, line)) {
    std::smatch m;
    if (!std::regex_match(line, m, row)) continue;
    const std::string name = m[1].str() + "." + m[2].str();
    documented.insert(name);
    const Permission* permission = FindPermission(m[1].str(), m[2].str());
    ASSERT_NE(permission, nullptr) << name << " is documented but not in the code";
    EXPECT_EQ(permission->served, m[3] == "yes") << name;
    EXPECT_EQ(std::string(permission->roles), Cell(std::string(m[4]))) << name;
    EXPECT_EQ(std::string(permission->request), Cell(std::string(m[5]))) << name;
    EXPECT_EQ(std::string(permission->acting_user), Cell(std::string(m[6]))) << name;
    EXPECT_EQ(std::string(permission->originator), Cell(std::string(m[7]))) << name;
  }
  EXPECT_EQ(documented.size(), PermissionTable().size()) << "rows of the code missing in the doc";

  in.clear();
  in.seekg(0);
  const std::regex route_row(R"(^\| `(GET|PUT|POST|DELETE) (/[^`]+)` \| ([^|]*) \| ([^|]*) \|$)");
  size_t routes = 0;
  while (std::getline(in, line)) {
    std::smatch m;
    if (!std::regex_match(line, m, route_row)) continue;
    ++routes;
    const std::string name = m[1].str() + " " + m[2].str();
    const RoutePermission* found = nullptr;
    for (const RoutePermission& route : RoutePermissionTable()) {
      if (route.method == m[1].str() && route.route == m[2].str()) found = &route;
    }
    ASSERT_NE(found, nullptr) << name << " is documented but not in the code";
    EXPECT_EQ(std::string(found->roles), Cell(std::string(m[3]))) << name;
    EXPECT_EQ(std::string(found->scope), Cell(std::string(m[4]))) << name;
  }
  EXPECT_EQ(routes, RoutePermissionTable().size()) << "routes of the code missing in the doc";

  InitializeSystem();
  for (const OperationSpec* spec : ListOperations()) {
    EXPECT_NE(FindPermission(spec->class_id, spec->name), nullptr)
        << spec->class_id << "." << spec->name << " has no row in the permission table";
  }
  for (const Permission& permission : PermissionTable()) {
    EXPECT_NE(FindOperation(permission.class_id, permission.operation), nullptr)
        << permission.class_id << "." << permission.operation << " is no operation of the host";
  }
}

TEST(PermissionTableTest, ACentreRouteCountsOnlyTheRolesOfThatCentre) {
  const RoutePermission& engineers = FindRoutePermission("GET", "/api/v1/centres/<c>/engineers");
  // A dispatcher of the call centre who is also a support-centre engineer: his engineer role
  // gives him no centre view of the support centre.
  const Caller mixed = Person("mixed", {31, 36});
  EXPECT_NO_THROW(CheckRouteAllowed(mixed, engineers, kCallCentre));
  EXPECT_THROW(CheckRouteAllowed(mixed, engineers, kSupportCentre), ComError);
  EXPECT_NO_THROW(CheckRouteAllowed(Person("sup", {39}), engineers, kSupportCentre));
  EXPECT_THROW(CheckRouteAllowed(Person("cust", {}), engineers, kCallCentre), ComError);
  EXPECT_THROW(CheckRouteAllowed(Prospect("p@example.com"), engineers, kCallCentre), ComError);
  EXPECT_NO_THROW(CheckRouteAllowed(ApiToken(), engineers, kSupportCentre));
  EXPECT_NO_THROW(CheckRouteAllowed(Person("admin", {90}), engineers, kSupportCentre));

  // Every signed-in person may read the lookups; a route missing from the table is closed.
  const RoutePermission& lookups = FindRoutePermission("GET", "/api/v1/lookups");
  EXPECT_NO_THROW(CheckRouteAllowed(Prospect("p@example.com"), lookups));
  EXPECT_NO_THROW(CheckRouteAllowed(Person("cust", {}), lookups));
  try {
    FindRoutePermission("DELETE", "/api/v1/lookups");
    ADD_FAILURE() << "a route without a row was found";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kForbidden);
  }
}

TEST(PermissionTableTest, RolesAndScopesFromDirectoryRoles) {
  const Caller cce = Person("cce1", {32});
  EXPECT_EQ(cce.roles, std::vector<Role>{Role::kCallCentreEngineer});
  EXPECT_EQ(cce.centres, std::vector<int32_t>{kCallCentre});
  const RequestScope engineer = ScopeFor(cce);
  EXPECT_EQ(engineer.engineer, "cce1");
  EXPECT_EQ(engineer.queue_centres, std::vector<int32_t>{kCallCentre});
  EXPECT_TRUE(engineer.centres.empty());

  // A support-centre engineer who also dispatches for the call centre sees the call centre
  // whole, but only his own and the queue of the support centre.
  const RequestScope both = ScopeFor(Person("x", {31, 36}));
  EXPECT_EQ(both.centres, std::vector<int32_t>{kCallCentre});
  EXPECT_EQ(both.queue_centres, std::vector<int32_t>{kSupportCentre});

  const Caller customer = Person("cust1", {7});
  EXPECT_EQ(customer.roles, std::vector<Role>{Role::kCustomer});
  EXPECT_EQ(ScopeFor(customer).originator, "cust1");
  EXPECT_FALSE(ScopeFor(customer).all);
  EXPECT_TRUE(ScopeFor(Person("boss", {90})).all);
  EXPECT_TRUE(ScopeFor(ApiToken()).all);
  EXPECT_EQ(ScopeFor(Prospect("p@example.com")).email, "p@example.com");
}

class PermissionTest : public testing::RequestTest {
 protected:
  void SetUp() override {
    RequestTest::SetUp();
    if (IsSkipped()) return;
    InitializeSystem();
    // 1: cust1's, with cce1. 2: cust2's, in the call centre's queue. 3: cust1's, support centre,
    // with sce1. 4: a prospect's.
    AddRequest(1, 15, kCallCentre, "cust1", "cce1", Variant::Null());
    AddRequest(2, 5, kCallCentre, "cust2", "", Variant::Null());
    AddRequest(3, 25, kSupportCentre, "cust1", "sce1", Variant::Null());
    AddRequest(4, 150, kCallCentre, "", "cce2", Variant("P@Example.com"));
  }

  void AddRequest(int32_t id, int32_t status, int32_t centre, const std::string& originator,
                  const std::string& engineer, const Variant& email) {
    Exec(
        "insert into QUESTIONS (Q_ID, Q_STATUS, CENTER, Q_ORIGINATOR, D_DIRECT_TO, EMAILID, "
        "PROSPECT, TOTALTIMESPENT) values (?, ?, ?, ?, ?, ?, 0, 0)",
        {Variant(id), Variant(status), Variant(centre), Variant(originator), Variant(engineer),
         email});
    AddReminder(id, status, testing::kTestNow);
  }

  // Runs class.operation on request `id` as `caller` with T_NAME "someone-else"; the error
  // number, 0 on success.
  int32_t Call(const Caller& caller, std::string_view class_id, std::string_view operation,
               int32_t id, bool serve_all = false) {
    Dictionary args;
    auto details = Dictionary::Create();
    details->Set("Q_ID", Variant(id));
    details->Set("T_NAME", Variant("someone-else"));
    details->Set("T_COMMENT", Variant("note"));
    details->Set("USERCOMMENT", Variant("more text"));
    args.Set("i_dictDetails", Variant(details));
    try {
      CallOperation(AuthorizedOperation(caller, *FindOperation(class_id, operation), serve_all),
                    args);
    } catch (const ComError& e) {
      return e.number();
    }
    return 0;
  }
  int32_t Question(const Caller& caller, std::string_view operation, int32_t id) {
    return Call(caller, "HlqServiceRequestMTS.Question", operation, id);
  }
  int64_t LogRows() { return Count("TRANSACTIONS"); }
  std::string LastName() {
    return Value("select T_NAME from TRANSACTIONS order by T_ID desc").ToTextOrEmpty();
  }
  int32_t Status(int32_t id) {
    return Value("select Q_STATUS from QUESTIONS where Q_ID = ?", {Variant(id)}).ToLong();
  }
};

TEST_P(PermissionTest, EngineersWorkOnTheirOwnAndTheirCentresQueueOnly) {
  const Caller cce1 = Person("cce1", {32});
  EXPECT_EQ(Question(cce1, "TakeInHand", 1), 0);
  EXPECT_EQ(Status(1), 25);
  EXPECT_EQ(LastName(), "cce1") << "T_NAME is the signed-in engineer's, not the one sent";
  EXPECT_EQ(Question(cce1, "TakeInHand", 2), 0) << "the call centre's queue is his too";

  // Another centre's request, another engineer's request, a request that does not exist: 403,
  // and nothing written.
  const int64_t rows = LogRows();
  EXPECT_EQ(Question(cce1, "CloseQuestion", 3), err::kForbidden);
  EXPECT_EQ(Question(cce1, "TakeInHand", 4), err::kForbidden);
  EXPECT_EQ(Question(cce1, "TakeInHand", 99), err::kForbidden);
  EXPECT_EQ(LogRows(), rows);
  EXPECT_EQ(Status(3), 25);
  EXPECT_EQ(Count("QUESTIONS"), 4) << "the refused close archived nothing";

  // An engineer is a customer only of what he filed himself.
  EXPECT_EQ(Question(cce1, "ConcludeQuestion", 1), err::kForbidden);
  Exec("update QUESTIONS set Q_ORIGINATOR = 'cce1', Q_STATUS = 150 where Q_ID = 2");
  EXPECT_EQ(Question(cce1, "ConcludeQuestion", 2), 0);
  EXPECT_EQ(Question(Person("sce1", {36}), "TakeInHand", 3), 0);
}

TEST_P(PermissionTest, CustomersAndProspectsActOnlyOnWhatTheyFiled) {
  const Caller cust2 = Person("cust2", {});
  const int64_t rows = LogRows();
  EXPECT_EQ(Question(cust2, "AddtoQuestion", 1), err::kForbidden);
  EXPECT_EQ(Question(cust2, "TakeInHand", 2), err::kForbidden) << "no engineer work";
  EXPECT_EQ(LogRows(), rows);
  EXPECT_EQ(Status(1), 15);

  EXPECT_EQ(Question(Person("CUST1", {}), "ConcludeQuestion", 1), 0);
  EXPECT_EQ(LastName(), "CUST1");

  const Caller prospect = Prospect("p@example.COM");
  EXPECT_EQ(Question(prospect, "ConcludeQuestion", 1), err::kForbidden);
  EXPECT_EQ(Question(prospect, "ConcludeQuestion", 4), 0);
  EXPECT_EQ(LastName(), "p@example.COM");
}

TEST_P(PermissionTest, DispatchersSupervisorsAndUnservedOperations) {
  // 31 dispatches the call centre, 38 the support centre; supervisors only read.
  EXPECT_EQ(Question(Person("d1", {31}), "CancelQuestion", 3), err::kForbidden);
  EXPECT_EQ(Question(Person("d2", {38}), "CancelQuestion", 3), 0);
  EXPECT_EQ(Question(Person("s1", {35}), "CloseQuestion", 1), err::kForbidden);
  EXPECT_EQ(Status(1), 15);

  // Bulk assignment checks every request of the list.
  Dictionary args;
  auto list = std::make_shared<Array>(Array{Variant(1), Variant(3)});
  args.Set("i_aQList", Variant(list));
  args.Set("i_sUserId", Variant("cce3"));
  const OperationSpec& assign = *FindOperation("HlqServiceRequestMTS.Question", "AssignToEngineer");
  try {
    CallOperation(AuthorizedOperation(Person("d1", {31}), assign, false), args);
    ADD_FAILURE() << "a call-centre dispatcher assigned a support-centre request";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kForbidden);
  }
  EXPECT_EQ(Value("select D_DIRECT_TO from QUESTIONS where Q_ID = 1").ToTextOrEmpty(), "cce1");

  // Helpers are not served; with serve_all_operations only to the API token.
  const Caller admin = Person("boss", {90});
  EXPECT_EQ(Call(admin, "HlqServiceRequestMTS.Question", "SQLEncodeStrForheliq", 0),
            err::kForbidden);
  EXPECT_EQ(Call(ApiToken(), "HlqServiceRequestMTS.Question", "SQLEncodeStrForheliq", 0),
            err::kForbidden);
  EXPECT_EQ(Call(admin, "HlqServiceRequestMTS.Question", "SQLEncodeStrForheliq", 0, true),
            err::kForbidden);
  Dictionary encode;
  encode.Set("i_sStrValue", Variant("it's"));
  const CallResult encoded = CallOperation(
      AuthorizedOperation(ApiToken(),
                          *FindOperation("HlqServiceRequestMTS.Question", "SQLEncodeStrForheliq"),
                          true),
      encode);
  EXPECT_EQ(encoded.result.ToText(), "it''s");

  // The administrator acts on any request, under the name he sends.
  EXPECT_EQ(Question(admin, "TakeInHand", 2), 0);
  EXPECT_EQ(LastName(), "someone-else");
}

TEST_P(PermissionTest, ReadsOfOneRequestAndNewRowsFollowTheScope) {
  EXPECT_NO_THROW(CheckMaySeeRequest(Person("cust1", {}), 3));
  EXPECT_NO_THROW(CheckMaySeeRequest(Person("s2", {39}), 3));
  EXPECT_NO_THROW(CheckMaySeeRequest(Prospect("p@example.com"), 4));
  for (const auto& [caller, id] : {std::pair{Person("cust2", {}), 1},
                                   {Person("s1", {35}), 3},
                                   {Person("cce1", {32}), 3},
                                   {Person("cust1", {}), 99}}) {
    try {
      CheckMaySeeRequest(caller, id);
      ADD_FAILURE() << caller.login << " may see request " << id;
    } catch (const ComError& e) {
      EXPECT_EQ(e.number(), err::kForbidden);
    }
  }
  // Archived requests stay visible to their customer.
  Exec(
      "insert into QUESTIONHISTORY (Q_ID, Q_STATUS, CENTER, Q_ORIGINATOR) values (7, 180, 1, "
      "'cust2')");
  EXPECT_NO_THROW(CheckMaySeeRequest(Person("cust2", {}), 7));

  Dictionary columns;
  columns.Set("Q_ORIGINATOR", Variant("cust1"));
  columns.Set("EMAILID", Variant("victim@example.com"));
  ForceRequestOwner(Person("cust2", {}), columns);
  EXPECT_EQ(columns.Get("Q_ORIGINATOR").ToText(), "cust2");
  EXPECT_TRUE(columns.Get("EMAILID").IsNull());
  ForceRequestOwner(Prospect("p@example.com"), columns);
  EXPECT_EQ(columns.Get("EMAILID").ToText(), "p@example.com");
  EXPECT_TRUE(columns.Get("Q_ORIGINATOR").IsNull());
  EXPECT_EQ(columns.Get("PROSPECT").ToLong(), 1);
}

TEST_P(PermissionTest, TheHostAnswers403AndWritesNothing) {
  const Caller cust2 = Person("cust2", {});
  const int64_t rows = LogRows();
  const HostResponse refused = InvokeOperation(
      "HlqServiceRequestMTS.Question", "AddtoQuestion",
      R"({"i_dictDetails":{"Q_ID":1,"T_NAME":"cust1","USERCOMMENT":"x"}})", {}, &cust2);
  EXPECT_EQ(refused.status, 403);
  EXPECT_EQ(refused.body["error"]["number"], err::kForbidden);
  EXPECT_EQ(LogRows(), rows);

  // A helper that sends mail to anybody is not served, not even to the token.
  const Caller token = ApiToken();
  const HostResponse mail = InvokeOperation(
      "HeliqProcessMTS.SolveOnNoResponse", "SendEscalaltionMail",
      R"({"sMailTypeFrom":"a@b.c","sMailId":"x@y.z","sMailSubject":"s","sMailData":"d"})", {},
      &token);
  EXPECT_EQ(mail.status, 403);

  const HostResponse allowed =
      InvokeOperation("HlqServiceRequestMTS.Question", "TakeInHand",
                      R"({"i_dictDetails":{"Q_ID":2,"T_NAME":"cce9"}})", {}, nullptr);
  EXPECT_EQ(allowed.status, 200) << allowed.body.dump();
  EXPECT_EQ(LastName(), "cce9") << "in-process callers act under the names they send";
}

INSTANTIATE_DATABASE_TEST_SUITE(PermissionTest);

}  // namespace
}  // namespace heliq
