// Prospects: creation, counter updates, and their place in the caller's unit of work.
#include "servicerequest/question/prospect.h"

#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/heliq_utilities.h"
#include "platform/clock.h"
#include "platform/com_error.h"
#include "platform/object_context.h"
#include "tests/support/database_fixture.h"

namespace heliq {
namespace {

using testing::DatabaseTest;
using testing::kTestNow;
using testing::RecordingLog;

constexpr std::string_view kInsertProspect =
    "insert into PROSPECT (EMAILID, PIN, INFORMATION, REGISTEREDTIME, LASTVISITEDTIME, "
    "PENDINGQUESTIONS) values (?, ?, ?, ?, ?, ?)";
constexpr std::string_view kSelectProspects =
    "select EMAILID, PIN, INFORMATION, REGISTEREDTIME, LASTVISITEDTIME, PENDINGQUESTIONS "
    "from PROSPECT order by PROSPECT_ID";
constexpr std::string_view kSelectPending =
    "select PENDINGQUESTIONS from PROSPECT where EMAILID = ?";
constexpr DateTime kLater{2009, 1, 2, 8, 0, 0};

enum Column { kEmail, kPin, kInformation, kRegistered, kLastVisited, kPending };

class ProspectTest : public DatabaseTest {
 protected:
  std::unique_ptr<Prospect> NewProspect() { return GetComponentAs<Prospect>(kProspectClassId); }
  void Seed(std::string_view email, int32_t pin, std::string_view information, int32_t pending) {
    Exec(kInsertProspect, {Variant(email), Variant(pin), Variant(information), Variant(kTestNow),
                           Variant(kTestNow), Variant(pending)});
  }
  std::vector<std::vector<Variant>> All() { return Rows(kSelectProspects).rows; }
};

TEST_P(ProspectTest, CreateStoresNowAndPendingCountWithOneForBlank) {
  auto prospect = NewProspect();
  prospect->CreateNewProspect("first@example.com", "Call after 5", "");
  prospect->CreateNewProspect("second@example.com", "", "   ");
  prospect->CreateNewProspect("third@example.com", "it's me", "3");
  const auto rows = All();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][kEmail], Variant("first@example.com"));
  EXPECT_EQ(rows[0][kInformation], Variant("Call after 5"));
  EXPECT_EQ(rows[0][kRegistered], Variant(kTestNow));
  EXPECT_EQ(rows[0][kLastVisited], Variant(kTestNow));
  EXPECT_EQ(rows[0][kPending], Variant(1));
  EXPECT_EQ(rows[1][kPending], Variant(1));
  EXPECT_EQ(rows[2][kInformation], Variant("it's me"));
  EXPECT_EQ(rows[2][kPending], Variant(3));
  EXPECT_TRUE(RecordingLog::Entries().empty());
}

TEST_P(ProspectTest, BlankAddressWritesNothingAndIsNoError) {
  auto prospect = NewProspect();
  prospect->CreateNewProspect("   ", "info", "");
  prospect->CreateNewProspect("", "info", "2");
  prospect->UpdateProspect(" \t ", "info", 1);
  EXPECT_EQ(Count("PROSPECT"), 0);
  EXPECT_TRUE(RecordingLog::Entries().empty());
}

TEST_P(ProspectTest, PinsLieInRangeAndDifferWithinOneSecond) {
  // The clock stands still: a PIN drawn from a generator seeded by the time would repeat.
  auto prospect = NewProspect();
  constexpr int kProspects = 25;
  for (int i = 0; i < kProspects; ++i) {
    prospect->CreateNewProspect("p" + std::to_string(i) + "@example.com", "", "");
  }
  std::set<int32_t> pins;
  for (const auto& row : All()) {
    const int32_t pin = row[kPin].ToLong();
    EXPECT_GE(pin, 1000);
    EXPECT_LE(pin, 10000);
    pins.insert(pin);
  }
  EXPECT_EQ(Count("PROSPECT"), kProspects);
  EXPECT_GT(pins.size(), 1u);
}

TEST_P(ProspectTest, UpdateAddsChangeRefreshesVisitAndKeepsInformationWhenBlank) {
  Seed("p@example.com", 4321, "original", 0);
  Seed("other@example.com", 1234, "other", 5);
  SetFixedTime(kLater);
  auto prospect = NewProspect();
  prospect->UpdateProspect("p@example.com", "", -1);  // may go below 0
  auto rows = All();
  EXPECT_EQ(rows[0][kPending], Variant(-1));
  EXPECT_EQ(rows[0][kInformation], Variant("original"));
  EXPECT_EQ(rows[0][kLastVisited], Variant(kLater));
  EXPECT_EQ(rows[0][kRegistered], Variant(kTestNow));

  SetFixedTime(DateTime{2009, 1, 3, 9, 0, 0});
  prospect->UpdateProspect("p@example.com", "  ", 0);  // a change of 0 still refreshes the visit
  rows = All();
  EXPECT_EQ(rows[0][kPending], Variant(-1));
  EXPECT_EQ(rows[0][kInformation], Variant("original"));
  EXPECT_EQ(rows[0][kLastVisited], Variant(DateTime{2009, 1, 3, 9, 0, 0}));

  prospect->UpdateProspect("p@example.com", "new 'contact'", 2);
  rows = All();
  EXPECT_EQ(rows[0][kPending], Variant(1));
  EXPECT_EQ(rows[0][kInformation], Variant("new 'contact'"));
  EXPECT_EQ(rows[0][kPin], Variant(4321));
  // The other prospect is untouched throughout.
  EXPECT_EQ(rows[1][kPending], Variant(5));
  EXPECT_EQ(rows[1][kInformation], Variant("other"));
  EXPECT_EQ(rows[1][kLastVisited], Variant(kTestNow));
  EXPECT_TRUE(RecordingLog::Entries().empty());
}

TEST_P(ProspectTest, UnknownAddressChangesNothingAndIsNoError) {
  Seed("p@example.com", 4321, "original", 2);
  const auto before = All();
  SetFixedTime(kLater);
  NewProspect()->UpdateProspect("nobody@example.com", "info", 1);
  NewProspect()->UpdateProspect("p@example.com' or '1'='1", "info", 1);
  EXPECT_EQ(All(), before);
  EXPECT_TRUE(RecordingLog::Entries().empty());
}

TEST_P(ProspectTest, CountOverflowRaises6AndChangesNothing) {
  Seed("max@example.com", 4321, "original", std::numeric_limits<int32_t>::max());
  Seed("min@example.com", 4322, "original", std::numeric_limits<int32_t>::min());
  const auto before = All();
  SetFixedTime(kLater);
  for (const auto& [email, delta] :
       {std::pair{"max@example.com", 1}, std::pair{"min@example.com", -1}}) {
    try {
      NewProspect()->UpdateProspect(email, "changed", delta);
      FAIL() << "no overflow for " << email;
    } catch (const ComError& e) {
      EXPECT_EQ(e.number(), err::kOverflow);
      EXPECT_EQ(e.description(),
                "\r\nMETHOD: HlqServiceRequestMTS.Prospect.UpdateProspect caught: Overflow(6).");
    }
  }
  EXPECT_EQ(All(), before);
  EXPECT_EQ(RecordingLog::Entries().size(), 2u);
}

TEST_P(ProspectTest, CallThatFailsAfterProspectChangesLeavesThemAsBefore) {
  Seed("p@example.com", 4321, "original", 1);
  const auto before = All();
  SetFixedTime(kLater);
  EXPECT_THROW(RunUnitOfWork([] {
                 auto prospect = GetComponentAs<Prospect>(kProspectClassId);
                 prospect->UpdateProspect("p@example.com", "changed", 1);
                 prospect->CreateNewProspect("new@example.com", "", "");
                 // A later step of the same call fails.
                 throw ComError::Of(err::kBackOfficeRefused, "BackOffice");
               }),
               ComError);
  EXPECT_EQ(All(), before);

  // A prospect operation that fails dooms the call even when the caller goes on.
  RunUnitOfWork([] {
    auto prospect = GetComponentAs<Prospect>(kProspectClassId);
    prospect->UpdateProspect("p@example.com", "changed", 1);
    try {
      prospect->UpdateProspect("p@example.com", "", std::numeric_limits<int32_t>::max());
    } catch (const ComError&) {
    }
  });
  EXPECT_EQ(All(), before);

  // The same steps in a call that succeeds are committed together.
  RunUnitOfWork([] {
    auto prospect = GetComponentAs<Prospect>(kProspectClassId);
    prospect->UpdateProspect("p@example.com", "changed", 1);
    prospect->CreateNewProspect("new@example.com", "", "");
  });
  const auto rows = All();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][kPending], Variant(2));
  EXPECT_EQ(rows[0][kLastVisited], Variant(kLater));
  EXPECT_EQ(rows[1][kEmail], Variant("new@example.com"));
}

// Addresses are not unique and a PIN has only 9001 values: two rows may share both, and the update
// must still change exactly one of them.
TEST_P(ProspectTest, UpdateChangesOnlyOneOfTwoRowsWithTheSameAddressAndPin) {
  Seed("twice@example.com", 5000, "first", 1);
  Seed("twice@example.com", 5000, "second", 1);
  SetFixedTime(kLater);
  EXPECT_NO_THROW(NewProspect()->UpdateProspect("twice@example.com", "", 1));
  const auto rows = All();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][kPending].ToLong() + rows[1][kPending].ToLong(), 3);
}

// Two requests of one prospect may end at the same moment: every change counts, and none of the
// calls fails because the other one changed the row.
TEST_P(ProspectTest, ConcurrentUpdatesOfOneProspectAllCount) {
  Seed("busy@example.com", 4321, "", 0);
  constexpr int kThreads = 4;
  constexpr int kCallsEach = 10;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kCallsEach; ++i) {
        try {
          RunUnitOfWork([] {
            GetComponentAs<Prospect>(kProspectClassId)->UpdateProspect("busy@example.com", "", 1);
          });
        } catch (const ComError& e) {
          EXPECT_EQ(e.number(), err::kDbRowChanged) << e.description();
          ++failures;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  const int32_t pending = Value(kSelectPending, {Variant("busy@example.com")}).ToLong();
  EXPECT_EQ(pending + failures.load(), kThreads * kCallsEach);  // never a lost update
  EXPECT_EQ(failures.load(), 0);
}

INSTANTIATE_DATABASE_TEST_SUITE(ProspectTest);

}  // namespace
}  // namespace heliq
