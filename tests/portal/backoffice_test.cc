// The simulated back office: its call components and the API that acts as the back office.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/backoffice_calls.h"
#include "common/heliq_utilities.h"
#include "platform/com_error.h"
#include "platform/component.h"
#include "platform/object_context.h"
#include "portal/backoffice/backoffice_simulator.h"
#include "tests/support/database_fixture.h"

namespace heliq {
namespace {

using testing::DatabaseTest;

constexpr std::string_view kInsertParam =
    "insert into PARAMETERS (PARAM_NAME, PARAM_VALUE) values (?, ?)";

class BackOfficeTest : public DatabaseTest {
 protected:
  static std::unique_ptr<BackOfficeCalls> Calls(int32_t generation) {
    return GetComponentAs<BackOfficeCalls>(CallComponentFor(generation));
  }

  // The request's details as the dispatcher passes them to CreateCall.
  static DictionaryPtr RequestDetails(int32_t question_id, std::string engineer = "SCE1") {
    auto details = Dictionary::Create();
    details->Set("Q_ID", Variant(question_id));
    details->Set("Q_DESC", Variant("Printer jams"));
    details->Set("Q_TEXT", Variant("Paper jams in tray 2."));
    details->Set("BP_NUMBER", Variant(" BP100 "));
    details->Set("Q_PRODUCT", Variant("PRN-9"));
    details->Set("Q_OBJECTNR", Variant("OBJ-7"));
    details->Set("OSVREQUESTED", Variant(int32_t{0}));
    details->Set("BACKOFFICEAPPLICATION", Variant(kBackOfficeMk5));
    details->Set("ENGINEER", Variant(std::move(engineer)));
    return details;
  }

  // The call details of an update, in the order the callers fill them.
  static DictionaryPtr Update(const std::string& call_number, const std::string& stamp,
                              int32_t option, const std::string& text = "") {
    auto details = Dictionary::Create();
    details->Set("ACTIONDONEBY", Variant("customer1"));
    details->Set("ENGINEER", Variant("SCE1"));
    details->Set("COMPONENT", Variant("PRINTER"));
    details->Set("CALLNUMBER", Variant(call_number));
    if (!text.empty()) details->Set("Q_TEXT", Variant(text));
    details->Set("OPTION", Variant(option));
    details->Set("LASTTRANSTIME", Variant(stamp));
    return details;
  }

  // Opens a Mk5 call and returns its call number.
  std::string OpenCall(int32_t question_id = 1) {
    std::string error;
    DictionaryPtr result = Calls(kBackOfficeMk5)->CreateCall(RequestDetails(question_id), error);
    EXPECT_EQ(error, "");
    return result->Get("CALLNUMBER").ToText();
  }

  BackOfficeCall CallNamed(const std::string& call_number) {
    auto call = simulator_.FindCall(call_number);
    EXPECT_TRUE(call.has_value()) << call_number;
    return call.value_or(BackOfficeCall());
  }

  BackOfficeSimulator simulator_;
};

TEST_P(BackOfficeTest, CreateCallOpensACallWithDetailsDerivedFromTheRequest) {
  std::string error = "left over";
  DictionaryPtr result = Calls(kBackOfficeMk5)->CreateCall(RequestDetails(42), error);
  EXPECT_EQ(error, "");
  const std::string number = result->Get("CALLNUMBER").ToText();
  EXPECT_EQ(number, "C0000001");
  EXPECT_EQ(result->Get("CALLTYPE").ToText(), "ZS01");
  EXPECT_EQ(result->Get("CONTRACT").ToText(), "SC-BP100");
  EXPECT_EQ(result->Get("CONTRACTDESC").ToText(), "Service contract of business partner BP100");
  EXPECT_EQ(result->Get("WARRANTY").ToText(), "WA-OBJ-7");  // the object number wins
  EXPECT_EQ(result->Get("WARRANTYDESC").ToText(), "Standard warranty of OBJ-7");
  EXPECT_EQ(result->Get("WARRANTYEXPDATE").ToText(), "2010-01-01");
  const std::string stamp = result->Get("LASTTRANSTIME").ToText();
  EXPECT_TRUE(stamp.starts_with("20090101070509")) << stamp;

  const BackOfficeCall call = CallNamed(number);
  EXPECT_EQ(call.generation, kBackOfficeMk5);
  EXPECT_EQ(call.question_id, 42);
  EXPECT_EQ(call.status, kBackOfficeStatusAssigned);
  EXPECT_EQ(call.waiting_flag, 0);
  EXPECT_EQ(call.support_eng_code, "SCE1");
  EXPECT_EQ(call.text, "Paper jams in tray 2.");
  EXPECT_EQ(call.last_trans_time, stamp);
  EXPECT_EQ(call.opened, testing::kTestNow);

  const auto requests = simulator_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].operation, "CreateCall");
  EXPECT_EQ(requests[0].call_number, number);
  EXPECT_EQ(requests[0].generation, kBackOfficeMk5);
  EXPECT_EQ(requests[0].outcome, "opened");
  EXPECT_EQ(requests[0].received, testing::kTestNow);
}

TEST_P(BackOfficeTest, Mk6OpensWithoutCallTypeAndAQueueCallWithoutEngineerIsOpenOnly) {
  auto details = RequestDetails(7, "");
  details->Remove("BP_NUMBER");
  details->Remove("Q_OBJECTNR");
  details->Set("Q_OBJECT", Variant("   "));
  std::string error;
  DictionaryPtr result = Calls(kBackOfficeMk6)->CreateCall(details, error);
  EXPECT_EQ(error, "");
  EXPECT_EQ(result->Get("CALLTYPE").ToText(), "");
  EXPECT_EQ(result->Get("CONTRACT").ToText(), "");
  EXPECT_EQ(result->Get("WARRANTY").ToText(), "WA-PRN-9");  // blank object: the product
  const BackOfficeCall call = CallNamed(result->Get("CALLNUMBER").ToText());
  EXPECT_EQ(call.generation, kBackOfficeMk6);
  EXPECT_EQ(call.status, kBackOfficeStatusOpen);
  EXPECT_EQ(call.support_eng_code, "");

  details->Set("OSVREQUESTED", Variant(true));
  EXPECT_EQ(Calls(kBackOfficeMk5)->CreateCall(details, error)->Get("CALLTYPE").ToText(), "ZS02");
}

TEST_P(BackOfficeTest, StaleStampIsAnsweredWithTheCallsStateAndChangesNothing) {
  const std::string number = OpenCall();
  const std::string seen = CallNamed(number).last_trans_time;
  BackOfficeCallChange change;
  change.status = 15;
  change.waiting_flag = 1;
  change.waiting_desc = "Waiting for spare parts";
  change.support_eng_code = "SCE2";
  change.service_order = "SO-4711";
  const BackOfficeCall changed = simulator_.ChangeCall(number, change);
  ASSERT_NE(changed.last_trans_time, seen);

  std::string error;
  DictionaryPtr answer =
      Calls(kBackOfficeMk5)->UpdateCall(Update(number, seen, 7, "Any news?"), error);
  EXPECT_EQ(error, "");
  EXPECT_EQ(answer->Get("CHANGEDFLAG").ToLong(), 1);
  EXPECT_EQ(answer->Get("LASTTRANSTIME").ToText(), changed.last_trans_time);
  EXPECT_EQ(answer->Get("STATUS").ToLong(), 15);
  EXPECT_EQ(answer->Get("WAITINGFLAG").ToLong(), 1);
  EXPECT_EQ(answer->Get("WAITINGDESC").ToText(), "Waiting for spare parts");
  EXPECT_EQ(answer->Get("SUPPORTENGCODE").ToText(), "SCE2");
  EXPECT_EQ(answer->Get("SERVICEORDER").ToText(), "SO-4711");

  const BackOfficeCall after = CallNamed(number);
  EXPECT_EQ(after.last_trans_time, changed.last_trans_time);
  EXPECT_EQ(after.text, "Paper jams in tray 2.");
  EXPECT_EQ(after.last_option, 0);
  EXPECT_EQ(after.last_action_by, "backoffice");
  EXPECT_EQ(simulator_.Requests(number).back().outcome, "changed");

  // No stamp at all is as stale as an old one.
  answer = Calls(kBackOfficeMk5)->UpdateCall(Update(number, "", 7, "Any news?"), error);
  EXPECT_EQ(answer->Get("CHANGEDFLAG").ToLong(), 1);
  EXPECT_EQ(CallNamed(number).text, "Paper jams in tray 2.");
}

TEST_P(BackOfficeTest, CurrentStampAppliesTheUpdateAndStampsTheCallAnew) {
  const std::string number = OpenCall();
  const std::string first = CallNamed(number).last_trans_time;
  std::string error;
  DictionaryPtr answer =
      Calls(kBackOfficeMk5)->UpdateCall(Update(number, first, 7, "It also smells."), error);
  EXPECT_EQ(error, "");
  EXPECT_EQ(answer->Get("CHANGEDFLAG").ToLong(), 0);
  EXPECT_FALSE(answer->Exists("STATUS"));
  const std::string second = answer->Get("LASTTRANSTIME").ToText();
  // The clock stands still in tests: the stamp must still move on, and sort after the first.
  EXPECT_NE(second, first);
  EXPECT_GT(second, first);

  BackOfficeCall call = CallNamed(number);
  EXPECT_EQ(call.last_trans_time, second);
  EXPECT_EQ(call.text, "Paper jams in tray 2.\r\n\r\nIt also smells.");
  EXPECT_EQ(call.last_option, 7);
  EXPECT_EQ(call.last_action_by, "customer1");

  // The new stamp serves the next update; the old one is stale now.
  answer = Calls(kBackOfficeMk5)->UpdateCall(Update(number, second, 7), error);
  EXPECT_EQ(answer->Get("CHANGEDFLAG").ToLong(), 0);
  EXPECT_EQ(CallNamed(number).text, "Paper jams in tray 2.\r\n\r\nIt also smells.");
  answer = Calls(kBackOfficeMk5)->UpdateCall(Update(number, second, 7, "Again"), error);
  EXPECT_EQ(answer->Get("CHANGEDFLAG").ToLong(), 1);
}

TEST_P(BackOfficeTest, ClarificationEndsWaitingAndAcceptanceClosesTheCallsWork) {
  const std::string number = OpenCall();
  BackOfficeCallChange waiting;
  waiting.status = 15;
  waiting.waiting_flag = 1;
  std::string stamp = simulator_.ChangeCall(number, waiting).last_trans_time;
  std::string error;
  DictionaryPtr answer = Calls(kBackOfficeMk5)->UpdateCall(Update(number, stamp, 3), error);
  ASSERT_EQ(answer->Get("CHANGEDFLAG").ToLong(), 0);
  EXPECT_EQ(CallNamed(number).waiting_flag, 2);
  EXPECT_EQ(CallNamed(number).status, 15);

  stamp = answer->Get("LASTTRANSTIME").ToText();
  answer = Calls(kBackOfficeMk6)->UpdateCall(Update(number, stamp, 6), error);
  ASSERT_EQ(answer->Get("CHANGEDFLAG").ToLong(), 0);
  EXPECT_EQ(CallNamed(number).status, kBackOfficeStatusAccepted);
  EXPECT_EQ(CallNamed(number).last_option, 6);
}

TEST_P(BackOfficeTest, RefusalIsConsumedByExactlyOneRequest) {
  simulator_.RefuseNext("Back office is closing the month");
  simulator_.RefuseNext("Second refusal");
  EXPECT_EQ(simulator_.PendingRefusals(), 2);

  std::string error;
  DictionaryPtr result = Calls(kBackOfficeMk5)->CreateCall(RequestDetails(1), error);
  EXPECT_EQ(error, "Back office is closing the month");
  EXPECT_FALSE(result->Exists("CALLNUMBER"));
  EXPECT_TRUE(simulator_.ListCalls().empty());

  // The second refusal goes to the next request, whatever it is; the call stays as it was.
  const std::string number = [&] {
    DictionaryPtr refused = Calls(kBackOfficeMk6)->CreateCall(RequestDetails(1), error);
    EXPECT_EQ(error, "Second refusal");
    return OpenCall();
  }();
  EXPECT_EQ(simulator_.PendingRefusals(), 0);

  const BackOfficeCall before = CallNamed(number);
  simulator_.RefuseNext("Call is locked");
  DictionaryPtr answer =
      Calls(kBackOfficeMk5)->UpdateCall(Update(number, before.last_trans_time, 7, "x"), error);
  EXPECT_EQ(error, "Call is locked");
  EXPECT_FALSE(answer->Exists("CHANGEDFLAG"));
  EXPECT_EQ(CallNamed(number).last_trans_time, before.last_trans_time);
  EXPECT_EQ(CallNamed(number).text, before.text);

  answer = Calls(kBackOfficeMk5)->UpdateCall(Update(number, before.last_trans_time, 7, "x"), error);
  EXPECT_EQ(error, "");
  EXPECT_EQ(answer->Get("CHANGEDFLAG").ToLong(), 0);

  std::vector<std::string> outcomes;
  for (const auto& request : simulator_.Requests()) outcomes.push_back(request.outcome);
  EXPECT_EQ(outcomes, (std::vector<std::string>{"refused: Back office is closing the month",
                                                "refused: Second refusal", "opened",
                                                "refused: Call is locked", "applied"}));
}

TEST_P(BackOfficeTest, UnknownOrMissingCallNumberIsRefused) {
  const std::string number = OpenCall();
  std::string error;
  DictionaryPtr answer =
      Calls(kBackOfficeMk5)->UpdateCall(Update("C9999999", "x", 7, "text"), error);
  EXPECT_EQ(error, "call C9999999 does not exist");
  EXPECT_FALSE(answer->Exists("CHANGEDFLAG"));

  auto details = Update(number, CallNamed(number).last_trans_time, 7, "text");
  details->Remove("CALLNUMBER");
  Calls(kBackOfficeMk5)->UpdateCall(details, error);
  EXPECT_EQ(error, "no call number was given");
  EXPECT_EQ(CallNamed(number).text, "Paper jams in tray 2.");
  EXPECT_EQ(simulator_.Requests("C9999999").at(0).outcome, "refused: call C9999999 does not exist");

  try {
    Calls(kBackOfficeMk5)->UpdateCall(nullptr, error);
    FAIL() << "an update without call details was accepted";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kInvalidProcedureCall);
  }
}

TEST_P(BackOfficeTest, GenerationOneHasNoCallComponent) {
  EXPECT_EQ(CallComponentFor(kBackOfficeMk4), "");
  EXPECT_TRUE(ComponentRegistry::Global().IsRegistered(kMk5CallsClassId));
  EXPECT_TRUE(ComponentRegistry::Global().IsRegistered(kMk6CallsClassId));
  try {
    Calls(kBackOfficeMk4);
    FAIL() << "a call component for generation 1 was created";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kCannotCreateComponent);
  }
  EXPECT_TRUE(simulator_.Requests().empty());
}

TEST_P(BackOfficeTest, CallsOutliveTheUnitOfWorkThatOpenedOrUpdatedThem) {
  std::string number;
  EXPECT_THROW(
      RunUnitOfWork([&] {
        GetHeliqConnection()->Execute(kInsertParam, {Variant("A"), Variant("1")});
        std::string error;
        number =
            Calls(kBackOfficeMk5)->CreateCall(RequestDetails(3), error)->Get("CALLNUMBER").ToText();
        throw ComError::Of(err::kOverflow, "test");
      }),
      ComError);
  EXPECT_EQ(Count("PARAMETERS"), 0);
  ASSERT_FALSE(number.empty());
  const std::string stamp = CallNamed(number).last_trans_time;

  RunUnitOfWork([&] {
    GetHeliqConnection()->Execute(kInsertParam, {Variant("A"), Variant("1")});
    std::string error;
    Calls(kBackOfficeMk5)->UpdateCall(Update(number, stamp, 7, "added"), error);
    AbortContext();
  });
  EXPECT_EQ(Count("PARAMETERS"), 0);
  EXPECT_NE(CallNamed(number).last_trans_time, stamp);
  EXPECT_EQ(simulator_.Requests().size(), 2u);
}

TEST_P(BackOfficeTest, ConcurrentRequestsGetDistinctCallsAndOneUpdateWinsPerStamp) {
  constexpr int kThreads = 4;
  constexpr int kCallsEach = 8;
  std::vector<std::vector<std::string>> opened(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kCallsEach; ++i) {
        std::string error;
        auto result = Calls(t % 2 ? kBackOfficeMk6 : kBackOfficeMk5)
                          ->CreateCall(RequestDetails(t * 100 + i), error);
        EXPECT_EQ(error, "");
        opened[t].push_back(result->Get("CALLNUMBER").ToText() + "/" +
                            result->Get("LASTTRANSTIME").ToText());
      }
    });
  }
  for (auto& thread : threads) thread.join();
  std::set<std::string> numbers, stamps;
  for (const auto& list : opened) {
    for (const auto& entry : list) {
      numbers.insert(entry.substr(0, entry.find('/')));
      stamps.insert(entry.substr(entry.find('/') + 1));
    }
  }
  EXPECT_EQ(numbers.size(), size_t{kThreads * kCallsEach});
  EXPECT_EQ(stamps.size(), size_t{kThreads * kCallsEach});
  EXPECT_EQ(simulator_.ListCalls().size(), size_t{kThreads * kCallsEach});

  // Updates racing with the same stamp: the first applies, the others see a changed call.
  const std::string number = *numbers.begin();
  const std::string stamp = CallNamed(number).last_trans_time;
  std::vector<int32_t> flags(kThreads);
  threads.clear();
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::string error;
      flags[t] =
          Calls(kBackOfficeMk5)
              ->UpdateCall(Update(number, stamp, 7, "from thread " + std::to_string(t)), error)
              ->Get("CHANGEDFLAG")
              .ToLong();
      EXPECT_EQ(error, "");
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(std::count(flags.begin(), flags.end(), 0), 1);
  EXPECT_EQ(std::count(flags.begin(), flags.end(), 1), kThreads - 1);
  EXPECT_EQ(CallNamed(number).text.find("from thread"),
            CallNamed(number).text.rfind("from thread"));
}

TEST_P(BackOfficeTest, SimulatorRejectsUnknownCallsAndBadValuesWithoutChange) {
  const std::string number = OpenCall();
  const BackOfficeCall before = CallNamed(number);
  BackOfficeCallChange change;
  change.status = 20;
  try {
    simulator_.ChangeCall("C7777777", change);
    FAIL() << "unknown call changed";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kInvalidProcedureCall);
    EXPECT_EQ(e.description(), "call C7777777 does not exist");
  }
  change.waiting_flag = 3;
  try {
    simulator_.ChangeCall(number, change);
    FAIL() << "waiting flag 3 accepted";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kInvalidProcedureCall);
  }
  EXPECT_EQ(CallNamed(number).status, before.status);
  EXPECT_EQ(CallNamed(number).last_trans_time, before.last_trans_time);

  EXPECT_THROW(simulator_.RefuseNext("  "), ComError);
  EXPECT_EQ(simulator_.PendingRefusals(), 0);

  // A change that sets nothing still stamps the call: the back office touched it.
  const BackOfficeCall touched = simulator_.ChangeCall(number, {});
  EXPECT_NE(touched.last_trans_time, before.last_trans_time);
  EXPECT_EQ(touched.status, before.status);
}

INSTANTIATE_DATABASE_TEST_SUITE(BackOfficeTest);

}  // namespace
}  // namespace heliq
