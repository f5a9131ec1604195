// Assignment of requests to call-centre and support-centre engineers and to the support-centre
// queue: the request row, the queue sizes, the reminder, the log, the back-office call and its
// details, refusals and failures.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/com_error.h"
#include "platform/object_context.h"
#include "portal/backoffice/backoffice_simulator.h"
#include "portal/directory/directory_store.h"
#include "servicerequest/dispatch/dispatch.h"
#include "tests/support/fake_backoffice.h"
#include "tests/support/request_fixture.h"

namespace heliq {
namespace {

using testing::kTestNow;

// Opens the private steps that automatic dispatching calls.
class TestDispatch : public Dispatch {
 public:
  using Dispatch::InsertCallDetail;
  using Dispatch::UpdateTransactionLog;
};

class AssignmentTest : public testing::RequestTest {
 protected:
  void TearDown() override {
    backoffice_.reset();
    RequestTest::TearDown();
  }

  // The recording back office; the simulated one answers until this is first asked for.
  testing::ScopedFakeBackOffice& FakeBackOffice() {
    if (!backoffice_) backoffice_ = std::make_unique<testing::ScopedFakeBackOffice>();
    return *backoffice_;
  }

  // A registered request with its reminder (timer stopped, so a restart shows).
  void AddRequest(int32_t id, int32_t status, int32_t center, Variant direct_to,
                  Variant total = Variant::Null()) {
    Exec(
        "insert into QUESTIONS (Q_ID, Q_STATUS, CENTER, D_DIRECT_TO, Q_PRODUCTCAT, PRODUCTID, "
        "Q_CATEGORY, TOTALTIMESPENT, BP_NUMBER, Q_CALL, Q_CALLTYPE, LASTTRANSTIME) "
        "values (?, ?, ?, ?, 1, 2, 3, ?, 'BP7', 'OLDCALL', 'OLDTYPE', 'OLDSTAMP')",
        {Variant(id), Variant(status), Variant(center), direct_to, total});
    Exec("insert into REMINDER (Q_ID, R_STATUS, T1_DATE) values (?, ?, NULL)",
         {Variant(id), Variant(std::to_string(status))});
  }
  void AddRule(std::string_view table, std::string_view login, int32_t queue_size) {
    Exec("insert into " + std::string(table) + " (LOGIN, QUEUESIZE) values (?, ?)",
         {Variant(login), Variant(queue_size)});
  }
  Variant QueueSize(std::string_view table, std::string_view login) {
    return Value("select QUEUESIZE from " + std::string(table) + " where LOGIN = ?",
                 {Variant(login)});
  }
  void AddEngineer(const std::string& login, const std::string& engineer_code) {
    DirectoryUser user;
    user.login = login;
    user.engineer_code = engineer_code;
    user.roles = {kSupportCentreRole};
    DirectoryStore::FromSettings().AddUser(user);
  }

  DictionaryPtr Details(int32_t id, std::string_view login) {
    auto d = Dictionary::Create();
    d->Set("Q_ID", Variant(id));
    d->Set("D_DIRECT_TO", Variant(login));
    d->Set("T_NAME", Variant("disp1"));
    d->Set("T_COMMENT", Variant("HQLBL3554;;;;" + std::string(login)));
    d->Set("USERCOMMENT", Variant("for you"));
    return d;
  }

  // One column of the request.
  Variant Field(int32_t id, std::string_view column) {
    return Value("select " + std::string(column) + " from QUESTIONS where Q_ID = ?", {Variant(id)});
  }
  ResultSet Reminder(int32_t id) {
    return Rows("select R_STATUS, T1_DATE from REMINDER where Q_ID = ?", {Variant(id)});
  }
  // Log rows of the request: T_ID, T_NAME, T_STATUS, CENTER, T_DATE, T_COMMENT, USERCOMMENT,
  // TIMESPENT.
  ResultSet Log(int32_t id) {
    return Rows(
        "select T_ID, T_NAME, T_STATUS, CENTER, T_DATE, T_COMMENT, USERCOMMENT, TIMESPENT "
        "from TRANSACTIONS where Q_ID = ? order by T_ID",
        {Variant(id)});
  }

  void AssignToCce(const DictionaryPtr& details) {
    RunUnitOfWork([&] { Dispatch().assignQuestiontoCCE(details); });
  }
  std::string AssignToSce(const DictionaryPtr& details, const DictionaryPtr& call_details,
                          int32_t backend, Variant& error, bool automatic) {
    return RunUnitOfWork([&] {
      return Dispatch().assignQuestiontoSCE(details, call_details, backend, error, automatic);
    });
  }
  std::string AssignToQueue(const DictionaryPtr& details, int32_t backend, Variant& error) {
    return RunUnitOfWork(
        [&] { return Dispatch().AssignQuestionToSCQueue(details, backend, error); });
  }

  // The back office's answer for a new call of generation 3.
  void AnswerWithCall(const std::string& number) {
    auto& bo = FakeBackOffice();
    bo.SetResult("CALLNUMBER", Variant(number));
    bo.SetResult("CALLTYPE", Variant("ZS01"));
    bo.SetResult("LASTTRANSTIME", Variant("20090101070509000001"));
    bo.SetResult("CONTRACT", Variant("  SC-BP7 "));
    bo.SetResult("CONTRACTDESC", Variant(" Service contract\t"));
    bo.SetResult("WARRANTY", Variant("   "));
    bo.SetResult("WARRANTYDESC", Variant("ignored without warranty"));
    bo.SetResult("WARRANTYEXPDATE", Variant("2010-01-01"));
  }

  std::unique_ptr<testing::ScopedFakeBackOffice> backoffice_;
};

// --- Call-centre engineers ---

TEST_P(AssignmentTest, CallCentreStatusDependsOnCentreAndPreviousStatus) {
  struct Case {
    int32_t id, status, center, expected;
  };
  const Case cases[] = {
      {1, 5, 1, 15}, {2, 15, 1, 15}, {3, 25, 1, 20}, {4, 150, 1, 20}, {5, 25, 2, 25}};
  for (const Case& c : cases) {
    AddRequest(c.id, c.status, c.center, Variant::Null());
    AssignToCce(Details(c.id, "alice"));
    SCOPED_TRACE("request " + std::to_string(c.id));
    EXPECT_EQ(Field(c.id, "Q_STATUS"), Variant(c.expected));
    EXPECT_EQ(Field(c.id, "D_DIRECT_TO").ToText(), "alice");
    const ResultSet reminder = Reminder(c.id);
    if (c.center == 1) {
      EXPECT_EQ(reminder.rows[0][0].ToText(), std::to_string(c.expected));
      EXPECT_EQ(reminder.rows[0][1], Variant(kTestNow));
    } else {
      // The support centre's request keeps its status and its stopped timer.
      EXPECT_EQ(reminder.rows[0][0].ToText(), "25");
      EXPECT_TRUE(reminder.rows[0][1].IsNull());
    }
    const ResultSet log = Log(c.id);
    ASSERT_EQ(log.rows.size(), 1u);
    EXPECT_EQ(log.rows[0][1].ToText(), "disp1");
    EXPECT_EQ(log.rows[0][2].ToText(), "15") << "always logged as an assignment";
    EXPECT_EQ(log.rows[0][3], Variant(c.center));
    EXPECT_EQ(log.rows[0][4], Variant(kTestNow));
    EXPECT_EQ(log.rows[0][5].ToText(), "HQLBL3554;;;;alice");
    EXPECT_EQ(log.rows[0][6].ToText(), "for you");
  }
}

TEST_P(AssignmentTest, CallCentreQueueSizesFollowTheRequest) {
  AddRule("CCEDISRULE", "alice", 3);
  AddRule("CCEDISRULE", "bob", 0);
  AddRequest(1, 5, 1, Variant("alice"));

  AssignToCce(Details(1, "bob"));
  EXPECT_EQ(QueueSize("CCEDISRULE", "alice"), Variant(2)) << "the previous engineer loses it";
  EXPECT_EQ(QueueSize("CCEDISRULE", "bob"), Variant(1));

  // Directed again to the engineer who has it: only the increase runs.
  AssignToCce(Details(1, "bob"));
  EXPECT_EQ(QueueSize("CCEDISRULE", "alice"), Variant(2));
  EXPECT_EQ(QueueSize("CCEDISRULE", "bob"), Variant(2));

  // A request directed to nobody takes nothing from anybody.
  AddRequest(2, 5, 1, Variant(""));
  AssignToCce(Details(2, "alice"));
  EXPECT_EQ(QueueSize("CCEDISRULE", "alice"), Variant(3));
  EXPECT_EQ(QueueSize("CCEDISRULE", "bob"), Variant(2));
}

TEST_P(AssignmentTest, CallCentreWritesChosenCategoriesTimeAndNotifiesFiles) {
  AddRequest(1, 5, 1, Variant::Null());
  auto details = Details(1, "alice");
  details->Set("Q_PRODUCTCAT", Variant("9"));
  details->Set("PRODUCTID", Variant(0));
  details->Set("TIMESPENT", Variant(7));
  AssignToCce(details);
  EXPECT_EQ(Field(1, "Q_PRODUCTCAT"), Variant(9));
  EXPECT_EQ(Field(1, "PRODUCTID"), Variant(2)) << "0 keeps the stored category";
  EXPECT_EQ(Field(1, "Q_CATEGORY"), Variant(3)) << "an absent key keeps the stored category";
  EXPECT_EQ(Field(1, "TOTALTIMESPENT"), Variant(7)) << "a null total counts as 0";

  details->Set("TIMESPENT", Variant(5));
  AssignToCce(details);
  EXPECT_EQ(Field(1, "TOTALTIMESPENT"), Variant(12));

  const ResultSet log = Log(1);
  ASSERT_EQ(log.rows.size(), 2u);
  EXPECT_EQ(log.rows[0][7], Variant(7));
  EXPECT_EQ(log.rows[1][7], Variant(5));
  const auto calls = files_->calls();
  ASSERT_EQ(calls.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(calls[i].operation, "HandleTransactionFiles");
    EXPECT_EQ(calls[i].question_id, 1);
    EXPECT_EQ(calls[i].kind, 5);
    EXPECT_EQ(calls[i].transaction_id, log.rows[i][0].ToLong());
  }
}

TEST_P(AssignmentTest, NoRequestMeansNothingHappens) {
  AddRule("CCEDISRULE", "alice", 3);
  AddRule("SCEDISRULE", "sam", 3);
  AddRequest(1, 5, 1, Variant("alice"));
  AssignToCce(Details(0, "bob"));
  AssignToCce(Details(404, "bob"));
  auto no_id = Details(1, "bob");
  no_id->Remove("Q_ID");
  AssignToCce(no_id);
  Variant error;
  FakeBackOffice();
  AddEngineer("sam", "se01");
  EXPECT_EQ(AssignToSce(Details(0, "sam"), Dictionary::Create(), 3, error, true), "");
  EXPECT_EQ(AssignToQueue(Details(0, ""), 3, error), "");
  RunUnitOfWork([&] { Dispatch().ReassignQuestiontoSCE(Details(0, "sam"), error); });
  RunUnitOfWork([&] { Dispatch().ReassignQuestiontoSCE(Details(404, "sam"), error); });

  EXPECT_EQ(Field(1, "D_DIRECT_TO").ToText(), "alice");
  EXPECT_EQ(QueueSize("CCEDISRULE", "alice"), Variant(3));
  EXPECT_EQ(QueueSize("SCEDISRULE", "sam"), Variant(3));
  EXPECT_EQ(Count("TRANSACTIONS"), 0);
  EXPECT_TRUE(files_->calls().empty());
  EXPECT_TRUE(backoffice_->calls().empty());
}

TEST_P(AssignmentTest, CallCentreFailureCommitsNothing) {
  AddRule("CCEDISRULE", "alice", 3);
  AddRule("CCEDISRULE", "bob", 0);
  AddRequest(1, 25, 1, Variant("alice"), Variant(4));
  files_->FailWith(ComError(err::kFileServer, "files", "disk full"));
  auto details = Details(1, "bob");
  details->Set("TIMESPENT", Variant(6));
  details->Set("Q_CATEGORY", Variant(8));
  try {
    AssignToCce(details);
    FAIL() << "the assignment succeeded";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kFileServer);
    EXPECT_NE(e.description().find("METHOD: HlqServiceRequestMTS.Dispatch.assignQuestiontoCCE"),
              std::string::npos)
        << e.description();
  }
  EXPECT_EQ(Field(1, "D_DIRECT_TO").ToText(), "alice");
  EXPECT_EQ(Field(1, "Q_STATUS"), Variant(25));
  EXPECT_EQ(Field(1, "Q_CATEGORY"), Variant(3));
  EXPECT_EQ(Field(1, "TOTALTIMESPENT"), Variant(4));
  EXPECT_EQ(Reminder(1).rows[0][0].ToText(), "25");
  EXPECT_EQ(QueueSize("CCEDISRULE", "alice"), Variant(3));
  EXPECT_EQ(QueueSize("CCEDISRULE", "bob"), Variant(0));
  EXPECT_EQ(Count("TRANSACTIONS"), 0);
}

TEST_P(AssignmentTest, BadDetailValuesFailWithoutChange) {
  AddRule("CCEDISRULE", "alice", 3);
  AddRequest(1, 5, 1, Variant("alice"), Variant(4));
  auto text_time = Details(1, "bob");
  text_time->Set("TIMESPENT", Variant("a while"));
  auto huge_time = Details(1, "bob");
  huge_time->Set("TIMESPENT", Variant(int32_t{2147483647}));
  for (const auto& [details, number] :
       {std::pair{text_time, err::kTypeMismatch}, std::pair{huge_time, err::kOverflow}}) {
    try {
      AssignToCce(details);
      ADD_FAILURE() << "the assignment succeeded";
    } catch (const ComError& e) {
      EXPECT_EQ(e.number(), number);
    }
  }
  EXPECT_EQ(Field(1, "D_DIRECT_TO").ToText(), "alice");
  EXPECT_EQ(Field(1, "TOTALTIMESPENT"), Variant(4));
  EXPECT_EQ(QueueSize("CCEDISRULE", "alice"), Variant(3));
  EXPECT_EQ(Count("TRANSACTIONS"), 0);
}

// --- Support-centre engineers ---

TEST_P(AssignmentTest, AutomaticSupportCentreAssignmentOpensAndStoresTheCall) {
  AddEngineer("sam", "se01");
  AddRule("CCEDISRULE", "carol", 4);
  AddRule("SCEDISRULE", "sam", 0);
  AddRequest(1, 5, 1, Variant("carol"));
  AnswerWithCall("C-100");
  auto call_details = Dictionary::Create();
  call_details->Set("Q_ID", Variant(1));
  call_details->Set("ENGINEER", Variant("stale"));
  auto details = Details(1, "sam");
  details->Set("Q_CATEGORY", Variant(8));
  details->Set("LASTTRANSTIME", Variant("from the details"));
  details->Set("TIMESPENT", Variant(9));
  Variant error("left over");

  EXPECT_EQ(AssignToSce(details, call_details, 3, error, true), "C-100");
  EXPECT_EQ(error, Variant(""));
  const auto calls = backoffice_->calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].class_id, "HeliqMk5.Calls");
  EXPECT_EQ(calls[0].operation, "CreateCall");
  EXPECT_EQ(calls[0].details.Get("ENGINEER"), Variant("SE01")) << "the code in upper case";
  EXPECT_EQ(call_details->Get("ENGINEER"), Variant("SE01")) << "the caller sees the engineer";

  EXPECT_EQ(Field(1, "Q_STATUS"), Variant(15));
  EXPECT_EQ(Field(1, "CENTER"), Variant(2));
  EXPECT_EQ(Field(1, "D_DIRECT_TO").ToText(), "sam");
  EXPECT_EQ(Field(1, "Q_CATEGORY"), Variant(8));
  EXPECT_EQ(Field(1, "Q_CALL").ToText(), "C-100");
  EXPECT_EQ(Field(1, "Q_CALLTYPE").ToText(), "ZS01");
  EXPECT_EQ(Field(1, "LASTTRANSTIME").ToText(), "20090101070509000001")
      << "the call's stamp wins over the details' one";
  EXPECT_TRUE(Field(1, "TOTALTIMESPENT").IsNull()) << "no time is booked";

  const ResultSet detail = Rows(
      "select CALLNUMBER, CONTRACT, CONTRACTDESC, WARRANTY, WARRANTYDESC, WEXPIRYDATE "
      "from CALLDETAIL");
  ASSERT_EQ(detail.rows.size(), 1u);
  EXPECT_EQ(detail.rows[0][0].ToText(), "C-100");
  EXPECT_EQ(detail.rows[0][1].ToText(), "SC-BP7");
  EXPECT_EQ(detail.rows[0][2].ToText(), "Service contract");
  EXPECT_EQ(detail.rows[0][3].ToText(), "") << "a blank warranty is no warranty";
  EXPECT_EQ(detail.rows[0][4].ToText(), "");
  EXPECT_TRUE(detail.rows[0][5].IsNull());

  EXPECT_EQ(QueueSize("CCEDISRULE", "carol"), Variant(3));
  EXPECT_EQ(QueueSize("SCEDISRULE", "sam"), Variant(1));
  EXPECT_EQ(Reminder(1).rows[0][0].ToText(), "15");
  EXPECT_EQ(Reminder(1).rows[0][1], Variant(kTestNow));
  const ResultSet log = Log(1);
  ASSERT_EQ(log.rows.size(), 1u);
  EXPECT_EQ(log.rows[0][2].ToText(), "15");
  EXPECT_EQ(log.rows[0][3], Variant(2));
  EXPECT_EQ(log.rows[0][5].ToText(), "HQLBL3554;;;;sam");
  EXPECT_EQ(log.rows[0][7], Variant(0));
  EXPECT_TRUE(files_->calls().empty());
}

TEST_P(AssignmentTest, NewestBackOfficeHasNoCallTypeAndKeepsAWarranty) {
  AddEngineer("sam", "se01");
  AddRequest(1, 5, 1, Variant::Null());
  auto& bo = FakeBackOffice();
  bo.SetResult("CALLNUMBER", Variant("C-200"));
  bo.SetResult("CALLTYPE", Variant("not for this generation"));
  bo.SetResult("LASTTRANSTIME", Variant("S2"));
  bo.SetResult("WARRANTY", Variant(" WA-1 "));
  bo.SetResult("WARRANTYDESC", Variant(" Standard "));
  bo.SetResult("WARRANTYEXPDATE", Variant(" 2010-01-01 "));
  Variant error;
  EXPECT_EQ(AssignToSce(Details(1, "sam"), Dictionary::Create(), 8, error, true), "C-200");
  EXPECT_EQ(backoffice_->calls().at(0).class_id, "HeliqMk6.Calls");
  EXPECT_EQ(Field(1, "Q_CALLTYPE").ToText(), "OLDTYPE");
  EXPECT_EQ(Field(1, "Q_CALL").ToText(), "C-200");
  const ResultSet detail =
      Rows("select CONTRACT, CONTRACTDESC, WARRANTY, WARRANTYDESC, WEXPIRYDATE from CALLDETAIL");
  EXPECT_EQ(detail.rows[0][0].ToText(), "") << "no contract in the answer";
  EXPECT_EQ(detail.rows[0][1].ToText(), "");
  EXPECT_EQ(detail.rows[0][2].ToText(), "WA-1");
  EXPECT_EQ(detail.rows[0][3].ToText(), "Standard");
  EXPECT_EQ(detail.rows[0][4], Variant(DateTime{2010, 1, 1, 0, 0, 0}));
}

TEST_P(AssignmentTest, RefusedAutomaticAssignmentSendsTheRequestBackToTheCallCentre) {
  AddEngineer("sam", "se01");
  AddRule("CCEDISRULE", "carol", 4);
  AddRule("SCEDISRULE", "sam", 0);
  AddRequest(1, 25, 2, Variant("carol"));
  std::string message = "Engineer's calendar is full; ";
  while (message.size() < 150) message += "it's still full. ";
  FakeBackOffice().RefuseWith(message);
  std::string returned = message;
  for (char& c : returned) {
    if (c == '\'') c = '"';
  }
  auto details = Details(1, "sam");
  details->Set("Q_PRODUCTCAT", Variant(6));
  Variant error;

  EXPECT_EQ(AssignToSce(details, Dictionary::Create(), 3, error, true), "");
  EXPECT_EQ(error.ToText(), returned) << "returned whole, quotes turned";
  EXPECT_EQ(Field(1, "Q_STATUS"), Variant(5));
  EXPECT_EQ(Field(1, "CENTER"), Variant(1));
  EXPECT_EQ(Field(1, "D_DIRECT_TO").ToText(), "carol");
  EXPECT_EQ(Field(1, "Q_PRODUCTCAT"), Variant(6)) << "categories are written either way";
  EXPECT_EQ(Field(1, "Q_CALL").ToText(), "OLDCALL");
  EXPECT_EQ(Reminder(1).rows[0][0].ToText(), "15") << "the timer restarts as assigned";
  EXPECT_EQ(QueueSize("CCEDISRULE", "carol"), Variant(4));
  EXPECT_EQ(QueueSize("SCEDISRULE", "sam"), Variant(0));
  EXPECT_EQ(Count("CALLDETAIL"), 0);
  const ResultSet log = Log(1);
  ASSERT_EQ(log.rows.size(), 1u);
  EXPECT_EQ(log.rows[0][2].ToText(), "5");
  EXPECT_EQ(log.rows[0][3], Variant(1));
  EXPECT_EQ(log.rows[0][5].ToText(), "HQLBL4221;;;;" + returned.substr(0, 100));
  EXPECT_EQ(log.rows[0][6].ToText(), "for you");
  EXPECT_EQ(log.rows[0][7], Variant(0));

  // A call-centre request that the back office refuses stays where it is.
  AddRequest(2, 5, 1, Variant("carol"));
  EXPECT_EQ(AssignToSce(Details(2, "sam"), Dictionary::Create(), 3, error, true), "");
  EXPECT_EQ(Field(2, "Q_STATUS"), Variant(5));
  EXPECT_EQ(Field(2, "CENTER"), Variant(1));
  EXPECT_EQ(Log(2).rows.at(0)[2].ToText(), "5");
}

TEST_P(AssignmentTest, ManualSupportCentreAssignmentOpensNoCall) {
  AddEngineer("sam", "se01");
  AddRule("CCEDISRULE", "carol", 4);
  AddRule("SCEDISRULE", "sam", 0);
  AddRequest(1, 5, 1, Variant("carol"));
  auto& bo = FakeBackOffice();
  auto details = Details(1, "sam");
  details->Set("LASTTRANSTIME", Variant("S9"));
  Variant error;
  EXPECT_EQ(AssignToSce(details, nullptr, 1, error, false), "");
  EXPECT_EQ(error, Variant(""));
  EXPECT_TRUE(bo.calls().empty());
  EXPECT_EQ(Field(1, "Q_STATUS"), Variant(15));
  EXPECT_EQ(Field(1, "CENTER"), Variant(1)) << "only an automatic run moves the centre";
  EXPECT_EQ(Field(1, "LASTTRANSTIME").ToText(), "S9");
  EXPECT_EQ(Field(1, "Q_CALL").ToText(), "OLDCALL");
  EXPECT_EQ(Count("CALLDETAIL"), 0);
  EXPECT_EQ(QueueSize("CCEDISRULE", "carol"), Variant(3));
  EXPECT_EQ(QueueSize("SCEDISRULE", "sam"), Variant(1));

  // Without a stamp in the details the stored one is cleared.
  EXPECT_EQ(AssignToSce(Details(1, "sam"), nullptr, 1, error, false), "");
  EXPECT_TRUE(Field(1, "LASTTRANSTIME").IsNull());
}

TEST_P(AssignmentTest, SupportCentreFailuresCommitNothing) {
  AddEngineer("sam", "se01");
  AddRule("CCEDISRULE", "carol", 4);
  AddRequest(1, 5, 1, Variant("carol"));
  auto expect_unchanged = [&] {
    EXPECT_EQ(Field(1, "Q_STATUS"), Variant(5));
    EXPECT_EQ(Field(1, "D_DIRECT_TO").ToText(), "carol");
    EXPECT_EQ(Field(1, "Q_CALL").ToText(), "OLDCALL");
    EXPECT_EQ(QueueSize("CCEDISRULE", "carol"), Variant(4));
    EXPECT_EQ(Count("TRANSACTIONS"), 0);
    EXPECT_EQ(Count("CALLDETAIL"), 0);
    EXPECT_EQ(Reminder(1).rows[0][0].ToText(), "5");
  };
  auto expect_failure = [&](const DictionaryPtr& details, int32_t backend, int32_t number) {
    Variant error;
    try {
      AssignToSce(details, Dictionary::Create(), backend, error, true);
      ADD_FAILURE() << "the assignment succeeded";
    } catch (const ComError& e) {
      EXPECT_EQ(e.number(), number);
      EXPECT_NE(e.description().find("METHOD: HlqServiceRequestMTS.Dispatch.assignQuestiontoSCE"),
                std::string::npos)
          << e.description();
    }
    expect_unchanged();
  };

  // The oldest back office has no call component.
  expect_failure(Details(1, "sam"), 1, err::kCannotCreateComponent);
  // An engineer the directory does not know.
  FakeBackOffice().SetResult("CALLNUMBER", Variant("C-1"));
  expect_failure(Details(1, "nobody"), 3, err::kInvalidProcedureCall);
  EXPECT_TRUE(backoffice_->calls().empty()) << "the directory is asked first";
  // The call is opened, but its details cannot be stored: the request stays as it was (the
  // back office keeps its call: it lies outside the unit of work).
  backoffice_->SetResult("WARRANTY", Variant("WA-1"));
  backoffice_->SetResult("WARRANTYEXPDATE", Variant("next year"));
  expect_failure(Details(1, "sam"), 3, err::kTypeMismatch);
  EXPECT_EQ(backoffice_->calls().size(), 1u);
}

TEST_P(AssignmentTest, SimulatedBackOfficeOpensTheCallForTheEngineer) {
  AddEngineer("sam", "se01");
  AddRequest(1, 5, 1, Variant::Null());
  auto call_details = Dictionary::Create();
  call_details->Set("Q_ID", Variant(1));
  call_details->Set("BP_NUMBER", Variant("BP7"));
  call_details->Set("Q_OBJECTNR", Variant("OBJ-1"));
  call_details->Set("BACKOFFICEAPPLICATION", Variant(3));
  Variant error;
  const std::string number = AssignToSce(Details(1, "sam"), call_details, 3, error, true);
  ASSERT_FALSE(number.empty());
  const auto call = BackOfficeSimulator().FindCall(number);
  ASSERT_TRUE(call.has_value());
  EXPECT_EQ(call->support_eng_code, "SE01");
  EXPECT_EQ(call->question_id, 1);
  EXPECT_EQ(Field(1, "Q_CALL").ToText(), number);
  EXPECT_EQ(Field(1, "Q_CALLTYPE").ToText(), call->call_type);
  EXPECT_EQ(Field(1, "LASTTRANSTIME").ToText(), call->last_trans_time);
  EXPECT_EQ(
      Value("select CONTRACT from CALLDETAIL where CALLNUMBER = ?", {Variant(number)}).ToText(),
      call->contract);
  EXPECT_EQ(Value("select WARRANTY from CALLDETAIL").ToText(), call->warranty);

  // A refusal ordered in the back office comes back as the message.
  BackOfficeSimulator().RefuseNext("No engineer 'SE01' today");
  AddRequest(2, 5, 2, Variant::Null());
  EXPECT_EQ(AssignToSce(Details(2, "sam"), call_details, 3, error, true), "");
  EXPECT_EQ(error.ToText(), "No engineer \"SE01\" today");
  EXPECT_EQ(Field(2, "CENTER"), Variant(1));
}

// --- The support-centre queue ---

TEST_P(AssignmentTest, QueueAssignmentOpensACallWithoutAnEngineer) {
  AddRule("CCEDISRULE", "carol", 4);
  AddRequest(1, 25, 1, Variant("carol"), Variant(1));
  AnswerWithCall("C-300");
  auto details = Details(1, "");
  details->Set("TIMESPENT", Variant(4));
  details->Set("PRODUCTID", Variant(5));
  Variant error;
  EXPECT_EQ(AssignToQueue(details, 3, error), "C-300");
  EXPECT_EQ(error, Variant(""));
  const auto calls = backoffice_->calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].details.Get("Q_ID"), Variant(1)) << "the details are the call details";
  EXPECT_FALSE(calls[0].details.Exists("ENGINEER"));

  EXPECT_EQ(Field(1, "Q_STATUS"), Variant(5));
  EXPECT_EQ(Field(1, "CENTER"), Variant(2));
  EXPECT_EQ(Field(1, "D_DIRECT_TO").ToText(), "carol") << "the request keeps its engineer";
  EXPECT_EQ(Field(1, "PRODUCTID"), Variant(5));
  EXPECT_EQ(Field(1, "Q_CALL").ToText(), "C-300");
  EXPECT_EQ(Field(1, "Q_CALLTYPE").ToText(), "ZS01");
  EXPECT_EQ(Field(1, "LASTTRANSTIME").ToText(), "20090101070509000001");
  EXPECT_EQ(Field(1, "TOTALTIMESPENT"), Variant(5));
  EXPECT_EQ(QueueSize("CCEDISRULE", "carol"), Variant(4)) << "no queue size changes";
  EXPECT_EQ(Value("select CONTRACT from CALLDETAIL where CALLNUMBER = 'C-300'").ToText(), "SC-BP7");
  EXPECT_EQ(Reminder(1).rows[0][0].ToText(), "5");
  EXPECT_EQ(Reminder(1).rows[0][1], Variant(kTestNow));
  const ResultSet log = Log(1);
  ASSERT_EQ(log.rows.size(), 1u);
  EXPECT_EQ(log.rows[0][2].ToText(), "5");
  EXPECT_EQ(log.rows[0][3], Variant(2));
  EXPECT_EQ(log.rows[0][7], Variant(4));
  const auto file_calls = files_->calls();
  ASSERT_EQ(file_calls.size(), 1u);
  EXPECT_EQ(file_calls[0].kind, 5);
  EXPECT_EQ(file_calls[0].transaction_id, log.rows[0][0].ToLong());
}

TEST_P(AssignmentTest, RefusedQueueAssignmentIsLoggedAndBooksNoTime) {
  AddRequest(1, 25, 2, Variant("sam"), Variant(1));
  FakeBackOffice().RefuseWith("Call can't be opened");
  auto details = Details(1, "");
  details->Set("TIMESPENT", Variant(4));
  Variant error;
  EXPECT_EQ(AssignToQueue(details, 3, error), "");
  EXPECT_EQ(error.ToText(), "Call can\"t be opened");
  EXPECT_EQ(Field(1, "Q_STATUS"), Variant(5));
  EXPECT_EQ(Field(1, "CENTER"), Variant(1));
  EXPECT_EQ(Field(1, "TOTALTIMESPENT"), Variant(1));
  EXPECT_EQ(Field(1, "Q_CALL").ToText(), "OLDCALL");
  EXPECT_EQ(Reminder(1).rows[0][0].ToText(), "5");
  EXPECT_EQ(Count("CALLDETAIL"), 0);
  const ResultSet log = Log(1);
  ASSERT_EQ(log.rows.size(), 1u);
  EXPECT_EQ(log.rows[0][2].ToText(), "5");
  EXPECT_EQ(log.rows[0][3], Variant(1));
  EXPECT_EQ(log.rows[0][5].ToText(), "HQLBL4221;;;;Call can\"t be opened");
  EXPECT_EQ(log.rows[0][7], Variant(0));
  EXPECT_TRUE(files_->calls().empty());
}

TEST_P(AssignmentTest, QueueFailureIsOnlyLoggedWhileABackOfficeMessageIsHeld) {
  AddRequest(1, 5, 1, Variant::Null());
  // No message: the failure is reported and raised.
  Variant error;
  try {
    AssignToQueue(Details(1, ""), 1, error);
    FAIL() << "the assignment succeeded";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kCannotCreateComponent);
    EXPECT_NE(e.description().find("METHOD: HlqServiceRequestMTS.Dispatch.assignQuestiontoSCQueue"),
              std::string::npos)
        << e.description();
  }
  // A message in hand: the failure is logged under the operation and the call returns.
  testing::RecordingLog::Clear();
  error = Variant("The back office is down");
  EXPECT_EQ(AssignToQueue(Details(1, ""), 1, error), "");
  EXPECT_EQ(error.ToText(), "The back office is down");
  const auto entries = testing::RecordingLog::Entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_NE(entries[0].text.find("HlqServiceRequestMTS.Dispatch.assignQuestiontoSCQueue"),
            std::string::npos)
      << entries[0].text;
  EXPECT_EQ(Field(1, "CENTER"), Variant(1));
  EXPECT_EQ(Count("TRANSACTIONS"), 0);
}

// --- Reassignment within the support centre ---

TEST_P(AssignmentTest, ReassignmentMovesTheRequestBetweenSupportEngineers) {
  AddRule("SCEDISRULE", "sam", 2);
  AddRule("SCEDISRULE", "tom", 0);
  AddRequest(1, 25, 2, Variant("sam"), Variant(3));
  auto details = Details(1, "tom");
  details->Set("LASTTRANSTIME", Variant("S5"));
  details->Set("TIMESPENT", Variant(2));
  details->Set("Q_PRODUCTCAT", Variant(4));
  Variant error("untouched");
  RunUnitOfWork([&] { Dispatch().ReassignQuestiontoSCE(details, error); });
  EXPECT_EQ(error, Variant("untouched"));
  EXPECT_EQ(QueueSize("SCEDISRULE", "sam"), Variant(1));
  EXPECT_EQ(QueueSize("SCEDISRULE", "tom"), Variant(1));
  EXPECT_EQ(Field(1, "D_DIRECT_TO").ToText(), "tom");
  EXPECT_EQ(Field(1, "Q_STATUS"), Variant(15));
  EXPECT_EQ(Field(1, "Q_PRODUCTCAT"), Variant(4));
  EXPECT_EQ(Field(1, "LASTTRANSTIME").ToText(), "S5");
  EXPECT_EQ(Field(1, "TOTALTIMESPENT"), Variant(5));
  EXPECT_EQ(Reminder(1).rows[0][0].ToText(), "15");
  const ResultSet log = Log(1);
  ASSERT_EQ(log.rows.size(), 1u);
  EXPECT_EQ(log.rows[0][2].ToText(), "15");
  EXPECT_EQ(log.rows[0][3], Variant(2));
  EXPECT_EQ(log.rows[0][7], Variant(2));
}

TEST_P(AssignmentTest, ReassignmentWithTheKeepStatusLabelKeepsTheStatus) {
  AddRule("SCEDISRULE", "sam", 2);
  AddRule("SCEDISRULE", "tom", 0);
  AddRequest(1, 35, 2, Variant("sam"));
  auto details = Details(1, "tom");
  details->Set("T_COMMENT", Variant("HQLBL3990"));
  Variant error;
  RunUnitOfWork([&] { Dispatch().ReassignQuestiontoSCE(details, error); });
  EXPECT_EQ(Field(1, "D_DIRECT_TO").ToText(), "tom");
  EXPECT_EQ(Field(1, "Q_STATUS"), Variant(35));
  EXPECT_EQ(Field(1, "LASTTRANSTIME").ToText(), "OLDSTAMP") << "no stamp given, none written";
  EXPECT_EQ(Reminder(1).rows[0][0].ToText(), "35");
  EXPECT_EQ(Reminder(1).rows[0][1], Variant(kTestNow));
  EXPECT_EQ(Log(1).rows.at(0)[2].ToText(), "35");
  EXPECT_EQ(QueueSize("SCEDISRULE", "tom"), Variant(1));

  // Only the exact label keeps the status.
  details->Set("D_DIRECT_TO", Variant("sam"));
  details->Set("T_COMMENT", Variant("HQLBL3990 "));
  RunUnitOfWork([&] { Dispatch().ReassignQuestiontoSCE(details, error); });
  EXPECT_EQ(Field(1, "Q_STATUS"), Variant(15));
}

// --- Private steps of automatic dispatching ---

TEST_P(AssignmentTest, CallDetailsAreStoredOncePerCall) {
  auto result = Dictionary::Create();
  result->Set("CALLNUMBER", Variant("C-1"));
  result->Set("CONTRACT", Variant("K1"));
  RunUnitOfWork([&] { TestDispatch().InsertCallDetail(result); });
  result->Set("CONTRACT", Variant("K2"));
  result->Set("WARRANTY", Variant("W2"));
  result->Set("WARRANTYEXPDATE", Variant("2010-02-03"));
  RunUnitOfWork([&] { TestDispatch().InsertCallDetail(result); });
  const ResultSet detail = Rows("select CONTRACT, WARRANTY, WEXPIRYDATE from CALLDETAIL");
  ASSERT_EQ(detail.rows.size(), 1u);
  EXPECT_EQ(detail.rows[0][0].ToText(), "K1");
  EXPECT_EQ(detail.rows[0][1].ToText(), "");
  EXPECT_TRUE(detail.rows[0][2].IsNull());
}

TEST_P(AssignmentTest, VanishedEngineerIsLoggedWithTheRequestsStatus) {
  AddRequest(1, 25, 2, Variant("sam"));
  RunUnitOfWork([&] { TestDispatch().UpdateTransactionLog(1, "sam"); });
  RunUnitOfWork([&] { TestDispatch().UpdateTransactionLog(404, "ghost"); });
  const ResultSet known = Log(1);
  ASSERT_EQ(known.rows.size(), 1u);
  EXPECT_EQ(known.rows[0][1].ToText(), "HQLBL3968");
  EXPECT_EQ(known.rows[0][2].ToText(), "25");
  EXPECT_EQ(known.rows[0][3], Variant(2));
  EXPECT_EQ(known.rows[0][5].ToText(), "HQLBL3994;;;;sam");
  EXPECT_EQ(known.rows[0][6].ToText(), "");
  EXPECT_EQ(known.rows[0][7], Variant(0));
  const ResultSet missing = Log(404);
  ASSERT_EQ(missing.rows.size(), 1u);
  EXPECT_EQ(missing.rows[0][2].ToText(), "0");
  EXPECT_EQ(missing.rows[0][3], Variant(0));
  EXPECT_EQ(missing.rows[0][5].ToText(), "HQLBL3994;;;;ghost");
  EXPECT_EQ(Field(1, "Q_STATUS"), Variant(25)) << "the request itself is not touched";
}

INSTANTIATE_DATABASE_TEST_SUITE(AssignmentTest);

}  // namespace
}  // namespace heliq
