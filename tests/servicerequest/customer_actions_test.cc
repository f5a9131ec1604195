// Customer actions: what each sends to the back-office call of a support-centre request, the back
// office's change replacing the action, and refusals and failures leaving nothing of it behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/backoffice_calls.h"
#include "common/heliq_utilities.h"
#include "platform/com_error.h"
#include "platform/object_context.h"
#include "portal/backoffice/backoffice_simulator.h"
#include "servicerequest/question/question.h"
#include "tests/support/fake_backoffice.h"
#include "tests/support/support_request_fixture.h"

namespace heliq {
namespace {

using Strings = std::vector<std::string>;
using Action = bool (Question::*)(const DictionaryPtr&, int32_t);

class CustomerActionsTest : public testing::SupportRequestTest {
 protected:
  bool Run(Action action, const DictionaryPtr& details, int32_t backend = kBackOfficeMk5) {
    return RunUnitOfWork([&] { return (Question().*action)(details, backend); });
  }
  void RunFailing(Action action, const DictionaryPtr& details, int32_t number,
                  int32_t backend = kBackOfficeMk5) {
    try {
      Run(action, details, backend);
      ADD_FAILURE() << "the action succeeded";
    } catch (const ComError& e) {
      EXPECT_EQ(e.number(), number) << e.description();
    }
  }
  // The customer adds or reopens with "B" on request `id` of call `call`.
  DictionaryPtr Customer(int32_t id, int32_t status, int32_t center, std::string_view call = "C1") {
    auto d = Details(id, status, center, " sce1 ");
    d->Set("Q_TEXT1", Variant("B"));
    d->Set("Q_TEXT", Variant("B for the back office"));
    d->Set("ACTIONDONEBY", Variant("cust1"));
    d->Set("CALLNUMBER", Variant(call));
    d->Set("Q_CALL", Variant(call));
    d->Set("LASTTRANSTIME", Variant("BO-1"));
    return d;
  }
  // A request (engineer sce1) with a call opened in the simulated back office; the call number.
  std::string AddRequestWithCall(int32_t id, int32_t status) {
    auto opened = Dictionary::Create();
    opened->Set("ENGINEER", Variant("SE01"));
    std::string error;
    const auto call = CreateObjectAs<BackOfficeCalls>(kMk5CallsClassId)->CreateCall(opened, error);
    const std::string number = call->Get("CALLNUMBER").ToText();
    AddRequest(id, status, 2, "sce1", number, call->Get("LASTTRANSTIME").ToText());
    return number;
  }
};

TEST_P(CustomerActionsTest, CallCentreActionsNeverMeetTheBackOffice) {
  testing::ScopedFakeBackOffice backoffice;
  AddRequest(1, 25, 1, "cce1");
  EXPECT_FALSE(Run(&Question::AddtoQuestion, Customer(1, 25, 1)));
  EXPECT_EQ(Field(1, "Q_TEXT").ToText(), "B\r\n\r\nA");
  EXPECT_EQ(Field(1, "Q_STATUS"), Variant(25));
  EXPECT_EQ(Reminder(1), "25|2008-12-31 18:00:00|2008-12-31 18:00:00");

  EXPECT_FALSE(Run(&Question::ReopenQuestion, Customer(1, 150, 1)));
  EXPECT_EQ(Field(1, "Q_TEXT").ToText(), "B\r\n\r\nB\r\n\r\nA");
  EXPECT_EQ(Field(1, "Q_STATUS"), Variant(155));
  EXPECT_EQ(Reminder(1), "155|2009-01-01 07:05:09|");
  EXPECT_EQ(Counters("cce1"), "3|0");
  EXPECT_EQ(LogTexts(1), (Strings{"10|comment|note", "155|comment|note"}));
  EXPECT_TRUE(backoffice.calls().empty());
  ASSERT_EQ(files_->calls().size(), 2u);
  EXPECT_EQ(files_->calls()[1].kind, 2);
}

TEST_P(CustomerActionsTest, EachActionSendsItsCallDetailsInOrder) {
  testing::ScopedFakeBackOffice backoffice;
  backoffice.SetResult("CHANGEDFLAG", Variant(0));
  backoffice.SetResult("LASTTRANSTIME", Variant("BO-2"));
  AddRequest(1, 35, 2, "sce1", "C1", "BO-ROW");
  EXPECT_FALSE(Run(&Question::AddtoQuestion, Customer(1, 35, 2)));
  EXPECT_FALSE(Run(&Question::customerClarifySR, Customer(1, 35, 2)));
  EXPECT_FALSE(Run(&Question::ReopenQuestion, Customer(1, 40, 2), kBackOfficeMk6));
  EXPECT_FALSE(Run(&Question::AcceptQuestionByCustomer, Customer(1, 155, 2)));
  EXPECT_EQ(Field(1, "Q_STATUS"), Variant(165));
  EXPECT_EQ(Field(1, "LASTTRANSTIME").ToText(), "BO-2");
  EXPECT_EQ(LogTexts(1)[1], "50|comment|note");

  const auto calls = backoffice.calls();
  ASSERT_EQ(calls.size(), 4u);
  const Strings expected[] = {
      {"ACTIONDONEBY:cust1", "ENGINEER:SE01", "COMPONENT:", "CALLNUMBER:C1",
       "Q_TEXT:B for the back office", "OPTION:7", "LASTTRANSTIME:BO-ROW"},
      {"ACTIONDONEBY:cust1", "ENGINEER:SE01", "COMPONENT:", "CALLNUMBER:C1", "OPTION:3",
       "LASTTRANSTIME:BO-2"},
      {"ACTIONDONEBY:cust1", "ENGINEER:SE01", "COMPONENT:", "CALLNUMBER:C1", "OPTION:7",
       "Q_TEXT:B for the back office", "LASTTRANSTIME:BO-1"},
      {"ACTIONDONEBY: sce1 ", "Q_ID:1", "ENGINEER:SE01", "COMPONENT:", "CALLNUMBER:C1", "OPTION:6",
       "PROBLEM:", "SOLUTION:", "ACTIVITY:", "SOLUTIONTEXT:", "LASTTRANSTIME:BO-1"}};
  for (int i = 0; i < 4; ++i) {
    Strings sent;
    for (const auto& [key, value] : calls[i].details.entries()) {
      sent.push_back(key + ":" + value.ToTextOrEmpty());
    }
    EXPECT_EQ(sent, expected[i]) << "call " << i;
  }
  EXPECT_EQ(calls[2].class_id, kMk6CallsClassId);
}

// The back office changed the call since the request last saw it: the addition gives way and the
// request follows the back office. Once it caught up, the text is added.
TEST_P(CustomerActionsTest, ChangedCallReplacesTheActionUntilTheRequestCaughtUp) {
  const std::string number = AddRequestWithCall(1, 15);
  BackOfficeCallChange change;
  change.status = 15;
  change.waiting_flag = 1;
  change.waiting_desc = "Serial number, please";
  change.support_eng_code = "SE02";
  BackOfficeSimulator().ChangeCall(number, change);

  EXPECT_TRUE(Run(&Question::AddtoQuestion, Customer(1, 15, 2, number)));
  EXPECT_EQ(Field(1, "Q_TEXT").ToText(), "A");
  EXPECT_EQ(Field(1, "Q_STATUS"), Variant(35));
  EXPECT_EQ(Field(1, "D_DIRECT_TO").ToText(), "sce2");
  EXPECT_EQ(Counters("sce1") + " " + Counters("sce2"), "2|0 2|0");
  EXPECT_EQ(Reminder(1), "35||2008-12-31 18:00:00");
  EXPECT_EQ(LogTexts(1), (Strings{"15|HQLBL4318;;;;sce2|Serial number, please",
                                  "35|HQLBL4300|Serial number, please"}));
  const std::string seen = Field(1, "LASTTRANSTIME").ToText();
  EXPECT_EQ(seen, BackOfficeSimulator().FindCall(number)->last_trans_time);

  auto again = Customer(1, 35, 2, number);
  again->Set("D_DIRECT_TO", Variant("sce2"));
  EXPECT_FALSE(Run(&Question::AddtoQuestion, again));
  EXPECT_EQ(Field(1, "Q_TEXT").ToText(), "B\r\n\r\nA");
  const auto call = BackOfficeSimulator().FindCall(number);
  EXPECT_NE(call->last_trans_time, seen);
  EXPECT_EQ(Field(1, "LASTTRANSTIME").ToText(), call->last_trans_time);
  EXPECT_EQ(call->last_option, 7);
}

TEST_P(CustomerActionsTest, RefusalOrFailureStoresNothingOfTheAction) {
  AddRequest(1, 35, 2, "sce1");
  Exec("insert into PROSPECT (EMAILID, PENDINGQUESTIONS) values ('p@x.example', 1)");
  auto details = Customer(1, 35, 2);
  details->Set("D_DIRECT_TO", Variant("sce1"));  // the back office's engineer: no reassignment
  details->Set("PROSPECT", Variant(true));
  details->Set("EMAILID", Variant("p@x.example"));
  {
    // Refused together with a change: only the reopening lets the change win.
    testing::ScopedFakeBackOffice backoffice;
    backoffice.SetResult("CHANGEDFLAG", Variant(1));
    backoffice.SetResult("STATUS", Variant(7));
    backoffice.SetResult("SUPPORTENGCODE", Variant("SE01"));
    backoffice.RefuseWith("call is locked", true);
    for (Action action : {&Question::AddtoQuestion, &Question::customerClarifySR,
                          &Question::AcceptQuestionByCustomer}) {
      RunFailing(action, details, err::kBackOfficeRefused);
    }
    EXPECT_TRUE(Run(&Question::ReopenQuestion, details));
  }
  RunFailing(&Question::AddtoQuestion, details, err::kCannotCreateComponent, kBackOfficeMk4);
  EXPECT_EQ(Field(1, "Q_TEXT").ToText(), "A");
  EXPECT_EQ(Field(1, "Q_STATUS"), Variant(35));
  EXPECT_EQ(Reminder(1), "35|2008-12-31 18:00:00|2008-12-31 18:00:00");
  EXPECT_TRUE(Value("select LASTVISITEDTIME from PROSPECT").IsNull());
  EXPECT_EQ(Counters("sce1"), "3|0");
  EXPECT_EQ(Count("TRANSACTIONS"), 0);

  // The back office took the text, then the file store failed: our side is rolled back; the
  // back office, outside the unit of work, keeps it.
  const std::string number = AddRequestWithCall(2, 25);
  const Variant stamp = Field(2, "LASTTRANSTIME");
  files_->FailWith(ComError(err::kFileServer, "FileHandling", "file server down"));
  RunFailing(&Question::AddtoQuestion, Customer(2, 25, 2, number), err::kFileServer);
  EXPECT_EQ(Field(2, "Q_TEXT").ToText(), "A");
  EXPECT_EQ(Field(2, "LASTTRANSTIME"), stamp);
  EXPECT_EQ(Count("TRANSACTIONS"), 0);
  EXPECT_EQ(BackOfficeSimulator().FindCall(number)->last_option, 7);
}

TEST_P(CustomerActionsTest, AcceptingMovesPendingAttachments) {
  Exec("insert into PARAMETERS (PARAM_NAME, PARAM_VALUE) values ('DataFileRelativePath', 'f')");
  Exec("insert into PROSPECT (EMAILID, PENDINGQUESTIONS) values ('p@x.example', 2)");
  AddRequest(1, 150, 1, "cce1");
  Exec("update QUESTIONS set PROSPECT = 1, EMAILID = 'p@x.example' where Q_ID = 1");
  const std::filesystem::path store = install_dir() / "f" / "SRAttachments";
  std::filesystem::create_directories(store / "1P");
  std::ofstream(store / "1P" / "log.txt") << "x";

  EXPECT_FALSE(Run(&Question::AcceptQuestionByCustomer, Customer(1, 150, 1)));
  EXPECT_TRUE(std::filesystem::exists(store / "1Q" / "log.txt"));
  EXPECT_FALSE(std::filesystem::exists(store / "1P"));
  EXPECT_EQ(Field(1, "Q_STATUS"), Variant(165));
  EXPECT_EQ(Reminder(1), "");
  EXPECT_EQ(LogTexts(1), (Strings{"165|comment|note"}));
  EXPECT_EQ(Value("select PENDINGQUESTIONS from PROSPECT"), Variant(1));
  EXPECT_EQ(Counters("cce1"), "2|1");
}

INSTANTIATE_DATABASE_TEST_SUITE(CustomerActionsTest);

}  // namespace
}  // namespace heliq
