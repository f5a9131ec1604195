// The simulated back office's master data: its audit trail and the audit components that read it.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/heliq_utilities.h"
#include "common/master_data_audit.h"
#include "platform/com_error.h"
#include "portal/backoffice/master_data_simulator.h"
#include "tests/support/database_fixture.h"

namespace heliq {
namespace {

using testing::DatabaseTest;
using testing::kTestNow;

int32_t ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const ComError& error) {
    return error.number();
  }
  return 0;
}

class MasterDataAuditTest : public DatabaseTest {
 protected:
  // A reader over `manager_id`'s table since `from`, with the given key range and output fields.
  struct Reading {
    std::unique_ptr<MasterDataManager> manager;
    std::unique_ptr<MasterDataObject> object;
    std::unique_ptr<AuditReader> reader;
  };
  static Reading Read(std::string_view manager_id, std::string_view object_id, const DateTime& from,
                      const AuditCriteria::Range& range, const std::vector<std::string>& output) {
    Reading reading{CreateObjectAs<MasterDataManager>(manager_id),
                    CreateObjectAs<MasterDataObject>(object_id),
                    CreateObjectAs<AuditReader>(kAuditReaderClassId)};
    reading.manager->Initialize("HeliqMk5.VIS");
    auto period = CreateObjectAs<AuditPeriod>(kAuditPeriodClassId);
    period->setFrom(from);
    period->setTo(kTestNow);
    auto parameter = CreateObjectAs<AuditParameter>(kAuditParameterClassId);
    parameter->setFieldName(range.field);
    parameter->setFrom(range.from);
    parameter->setTo(range.to);
    auto criteria = CreateObjectAs<AuditCriteria>(kAuditCriteriaClassId);
    criteria->setPeriod(*period);
    criteria->addParameter(*parameter);
    for (const auto& field : output) criteria->addoutputfield(field);
    reading.reader->Initialize(*reading.object, *criteria, *reading.manager);
    return reading;
  }

  MasterDataSimulator back_office_;
};

TEST_P(MasterDataAuditTest, ChangesAreAuditedWithTheFieldsTheyTouch) {
  EXPECT_TRUE(back_office_.Put("mk5-problems", {{"cprl", "NET"}, {"desc", "Network down"}}));
  EXPECT_FALSE(back_office_.Put("mk5-problems", {{"CPRL", "NET"}, {"cltp", "REPAIR"}}));
  EXPECT_FALSE(back_office_.Put("mk5-problems", {{"cprl", "NET"}, {"cltp", "REPAIR"}}));
  back_office_.Remove("mk5-problems", {"NET"});

  const auto trail = back_office_.AuditTrail("mk5-problems");
  ASSERT_EQ(trail.size(), 4u);
  EXPECT_EQ(trail[0].action, "I");
  EXPECT_EQ(trail[0].fields,
            (MasterDataFields{{"cprl", "NET"}, {"desc", "Network down"}, {"cltp", ""}}));
  EXPECT_EQ(trail[0].changed, kTestNow);
  EXPECT_EQ(trail[1].action, "U");
  EXPECT_EQ(trail[1].fields, (MasterDataFields{{"cprl", "NET"}, {"cltp", "REPAIR"}}));
  // Saving the same values again is still an update, carrying the key alone.
  EXPECT_EQ(trail[2].fields, (MasterDataFields{{"cprl", "NET"}}));
  EXPECT_EQ(trail[3].action, "D");
  EXPECT_EQ(trail[3].fields, (MasterDataFields{{"cprl", "NET"}}));
  EXPECT_TRUE(back_office_.List("mk5-problems").empty());
}

TEST_P(MasterDataAuditTest, BadChangesAreRefusedAndRecordNothing) {
  back_office_.Put("mk5-objects", {{"ccfg", "S1"}, {"crob", "PRN"}, {"oseq", "1"}});
  const size_t before = back_office_.AuditTrail("mk5-objects").size();

  EXPECT_EQ(ErrorOf([&] {
              back_office_.Put("mk9-things", {{"id", "1"}});
            }),
            err::kInvalidProcedureCall);
  EXPECT_EQ(ErrorOf([&] {
              back_office_.Put("mk5-priorities", {{"prio", "x1"}});
            }),
            err::kInvalidProcedureCall);
  EXPECT_EQ(ErrorOf([&] {
              back_office_.Put("mk5-objects", {{"ccfg", "S1"}, {"crob", "PRN"}});
            }),
            err::kInvalidProcedureCall);
  EXPECT_EQ(ErrorOf([&] {
              back_office_.Put("mk5-objects",
                               {{"ccfg", "S1"}, {"crob", "PRN"}, {"oseq", "2"}, {"colour", "red"}});
            }),
            err::kInvalidProcedureCall);
  EXPECT_EQ(ErrorOf([&] {
              back_office_.Put("mk5-objects", {{"ccfg", "S|1"}, {"crob", "PRN"}, {"oseq", "1"}});
            }),
            err::kInvalidProcedureCall);
  EXPECT_EQ(ErrorOf([&] {
              back_office_.Remove("mk5-objects", {"S1", "PRN", "9"});
            }),
            err::kInvalidProcedureCall);
  EXPECT_EQ(ErrorOf([&] {
              back_office_.Remove("mk5-objects", {"S1", "PRN"});
            }),
            err::kInvalidProcedureCall);

  EXPECT_EQ(back_office_.AuditTrail("mk5-objects").size(), before);
  EXPECT_EQ(back_office_.List("mk5-objects").size(), 1u);
  EXPECT_TRUE(back_office_.List("mk5-priorities").empty());
}

TEST_P(MasterDataAuditTest, ReaderSelectsByPeriodAndKeyRangeAndKeepsOnlyOutputFields) {
  {
    ScopedFixedTime earlier(DateTime{2008, 12, 31, 23, 59, 59});
    back_office_.Put("mk5-priorities", {{"prio", "7"}, {"dsca", "Before the period"}});
  }
  SetFixedTime(kTestNow);
  back_office_.Put("mk5-priorities", {{"prio", "5"}, {"dsca", "Planned"}});
  back_office_.Put("mk5-priorities", {{"prio", "150"}, {"dsca", "Out of range"}});
  back_office_.Put("mk5-priorities", {{"prio", "5"}});  // an update without description

  Reading reading = Read(kMk5PrioritiesManagerId, kMk5PrioritiesId, {2009, 1, 1, 0, 0, 0},
                         {"prio", Variant(1), Variant(99)}, {"prio"});
  ASSERT_TRUE(reading.reader->hasMoreElements());
  auto inserted = reading.reader->nextElement();
  EXPECT_TRUE(inserted->isInserted());
  auto object = reading.manager->getCurrentObject(*inserted->getTuple());
  EXPECT_EQ(object->Invoke("getpriority"), Variant(5));
  // dsca was not asked for, so the record carries no description.
  EXPECT_FALSE(object->Invoke("hasDescription").ToBool());
  EXPECT_EQ(ErrorOf([&] { object->Invoke("getColour"); }), err::kMethodNotSupported);

  auto updated = reading.reader->nextElement();
  EXPECT_TRUE(updated->isUpdated());
  EXPECT_FALSE(reading.reader->hasMoreElements());
  EXPECT_EQ(ErrorOf([&] { reading.reader->nextElement(); }), err::kInvalidProcedureCall);

  // A manager that was never initialised cannot serve a reader.
  auto manager = CreateObjectAs<MasterDataManager>(kMk5PrioritiesManagerId);
  EXPECT_EQ(ErrorOf([&] { manager->getCurrentObject(Dictionary()); }), err::kInvalidProcedureCall);
  EXPECT_EQ(ErrorOf([&] { manager->Initialize("  "); }), err::kInvalidProcedureCall);
}

TEST_P(MasterDataAuditTest, RefusalEndsTheNextReadOnceAfterTheChangesItLetsThrough) {
  back_office_.Put("mk4-symptoms", {{"csym", "A"}, {"desc", "one"}});
  back_office_.Put("mk4-symptoms", {{"csym", "B"}, {"desc", "two"}});
  back_office_.RefuseNextRead("mk4-symptoms", "VIS server busy", 1);
  const AuditCriteria::Range all{"csym", Variant(""), Variant(std::string(10, '\x7f'))};
  const std::vector<std::string> output = {"csym", "desc"};

  Reading first = Read(kMk4SymptomsManagerId, kMk4SymptomsId, {2009, 1, 1, 0, 0, 0}, all, output);
  auto element = first.reader->nextElement();
  EXPECT_EQ(element->getTuple()->Get("csym"), Variant("A"));
  try {
    first.reader->nextElement();
    ADD_FAILURE() << "the refusal did not come";
  } catch (const ComError& error) {
    EXPECT_EQ(error.number(), err::kBackOfficeRefused);
    EXPECT_EQ(error.description(), "VIS server busy");
  }

  Reading second = Read(kMk4SymptomsManagerId, kMk4SymptomsId, {2009, 1, 1, 0, 0, 0}, all, output);
  second.reader->nextElement();
  EXPECT_NO_THROW(second.reader->nextElement());

  back_office_.RefuseNextRead("mk4-symptoms", "closed for maintenance", 0);
  EXPECT_EQ(ErrorOf([&] {
              Read(kMk4SymptomsManagerId, kMk4SymptomsId, {2009, 1, 1, 0, 0, 0}, all, output);
            }),
            err::kBackOfficeRefused);
  EXPECT_EQ(ErrorOf([&] { back_office_.RefuseNextRead("mk4-symptoms", " ", 0); }),
            err::kInvalidProcedureCall);
}

INSTANTIATE_DATABASE_TEST_SUITE(MasterDataAuditTest);

}  // namespace
}  // namespace heliq
