// A support-centre request following the changes of its back-office call: the status mapping, the
// engineer the back office names, the replayed action and the service order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/object_context.h"
#include "servicerequest/question/question.h"
#include "tests/support/support_request_fixture.h"

namespace heliq {
namespace {

using Strings = std::vector<std::string>;

TEST(MaptoFrontEndStatusTest, MapsEveryBackOfficeStatus) {
  struct Case {
    int32_t backoffice, current, flag, expected;
  };
  const Case cases[] = {
      {1, 150, 0, 155}, {3, 25, 0, 180},   {5, 15, 0, 5},     {10, 5, 0, 15},    {15, 25, 1, 35},
      {15, 35, 1, 35},  {15, 35, 2, 50},   {15, 30, 2, 45},   {15, 25, 2, 25},   {15, 30, 0, 25},
      {15, 25, 0, 25},  {20, 150, 0, 160}, {25, 150, 1, 160}, {30, 150, 0, 165}, {2, 35, 2, 0},
      {7, 25, 0, 0},    {0, 0, 0, 0},      {-15, 35, 2, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Question().MaptoFrontEndStatus(c.backoffice, c.current, c.flag), c.expected)
        << "back office " << c.backoffice << ", current " << c.current << ", flag " << c.flag;
  }
}

class BackOfficeSyncTest : public testing::SupportRequestTest {
 protected:
  DictionaryPtr Changes(int32_t status, int32_t waiting_flag, std::string_view engineer_code,
                        std::string_view service_order = "") {
    auto c = Dictionary::Create();
    c->Set("CHANGEDFLAG", Variant(1));
    c->Set("LASTTRANSTIME", Variant("BO-2"));
    c->Set("STATUS", Variant(status));
    c->Set("WAITINGFLAG", Variant(waiting_flag));
    c->Set("WAITINGDESC", Variant("wait"));
    c->Set("SUPPORTENGCODE", Variant(engineer_code));
    c->Set("SERVICEORDER", Variant(service_order));
    return c;
  }
  std::string Sync(const DictionaryPtr& changes, const DictionaryPtr& details) {
    std::string error = "stale";
    RunUnitOfWork([&] { Question().UpdateBackendChangesToQuestion(changes, details, error); });
    return error;
  }
};

TEST_P(BackOfficeSyncTest, UnknownEngineerIsLoggedAndServiceOrderConcludes) {
  AddRequest(1, 15, 2, "sce1");
  auto unknown = Details(1, 15, 2, "sce1");
  EXPECT_EQ(Sync(Changes(15, 0, "XX99"), unknown), "");
  EXPECT_EQ(Field(1, "Q_STATUS"), Variant(25));
  EXPECT_EQ(Field(1, "D_DIRECT_TO").ToText(), "sce1") << "no reassignment";
  EXPECT_EQ(Field(1, "LASTTRANSTIME").ToText(), "BO-2");
  EXPECT_EQ(LogTexts(1), (Strings{"25|HQLBL4329|", "25|HQLBL4300|wait"}));
  EXPECT_EQ(unknown->Get("ENGRCHANGED"), Variant(false));
  EXPECT_EQ(Counters("sce1"), "3|0");

  AddRequest(2, 150, 2, "sce1");
  EXPECT_EQ(Sync(Changes(20, 0, "SE01", "SO-77"), Details(2, 150, 2, "sce1")), "");
  EXPECT_EQ(Field(2, "Q_STATUS"), Variant(160));
  EXPECT_EQ(Field(2, "SERVICEORDER").ToText(), "SO-77");
  EXPECT_EQ(Reminder(2), "");
  EXPECT_EQ(Counters("sce1"), "3|1") << "concluding raises the experience";
  EXPECT_EQ(LogTexts(2), (Strings{"160|HQLBL4300|wait", "160|HQLBL4330|"}));
}

TEST_P(BackOfficeSyncTest, QueuedRequestGetsTheEngineerAndResetOneLosesHim) {
  AddRequest(1, 5, 2, "");
  auto queued = Details(1, 5, 2, "");
  EXPECT_EQ(Sync(Changes(10, 0, "SE02"), queued), "");
  EXPECT_EQ(Field(1, "Q_STATUS"), Variant(15));
  EXPECT_EQ(Field(1, "D_DIRECT_TO").ToText(), "sce2");
  EXPECT_EQ(Counters("sce2"), "2|0");
  EXPECT_EQ(queued->Get("ENGRCHANGED"), Variant(true));

  AddRequest(2, 25, 2, "sce1");
  EXPECT_EQ(Sync(Changes(5, 0, "SE01"), Details(2, 25, 2, "sce1")), "");
  EXPECT_EQ(Field(2, "Q_STATUS"), Variant(5));
  EXPECT_EQ(Field(2, "D_DIRECT_TO").ToText(), "");
  EXPECT_EQ(Counters("sce1"), "2|0");
  EXPECT_EQ(Reminder(2), "5|2009-01-01 07:05:09|2008-12-31 18:00:00");
  EXPECT_EQ(LogTexts(2), (Strings{"5|HQLBL4300|wait"}));
}

// Whatever the back office changed, the request takes its stamp, also when no action is
// replayed: otherwise every later customer update would be answered as stale.
TEST_P(BackOfficeSyncTest, ReportedStampIsStoredAlsoWhenNoActionIsReplayed) {
  struct Case {
    int32_t backoffice_status;
    std::string_view engineer_code;
  };
  const Case cases[] = {{1, "SE01"}, {3, "SE01"}, {10, "SE01"}, {7, "SE01"}};
  int32_t id = 0;
  for (const Case& c : cases) {
    AddRequest(++id, 150, 2, "sce1");
    EXPECT_EQ(Sync(Changes(c.backoffice_status, 0, c.engineer_code), Details(id, 150, 2, "sce1")),
              "");
    EXPECT_EQ(Field(id, "LASTTRANSTIME").ToText(), "BO-2") << "status " << c.backoffice_status;
    EXPECT_EQ(Field(id, "D_DIRECT_TO").ToText(), "sce1");
  }
  // A change that carries no stamp leaves the stored one alone.
  AddRequest(++id, 150, 2, "sce1");
  auto unstamped = Changes(7, 0, "SE01");
  unstamped->Set("LASTTRANSTIME", Variant(""));
  EXPECT_EQ(Sync(unstamped, Details(id, 150, 2, "sce1")), "");
  EXPECT_EQ(Field(id, "LASTTRANSTIME").ToText(), "BO-1");
}

INSTANTIATE_DATABASE_TEST_SUITE(BackOfficeSyncTest);

}  // namespace
}  // namespace heliq
