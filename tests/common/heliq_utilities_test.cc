// The component frame: failure reports, collaborating objects, closing, parameters and the text
// helpers statements are built with.
#include "common/heliq_utilities.h"

#include <gtest/gtest.h>

#include <cctype>
#include <stdexcept>
#include <string>

#include "common/operation_frame.h"
#include "platform/clock.h"
#include "platform/com_error.h"
#include "platform/component.h"
#include "platform/configuration.h"
#include "platform/log.h"
#include "platform/object_context.h"
#include "tests/support/database_fixture.h"

namespace heliq {
namespace {

using testing::DatabaseTest;
using testing::RecordingLog;

constexpr std::string_view kGetComponentPrefix = "\r\nMETHOD: HeliqUtilies.GetComponent caught: ";

// A log component that is itself broken.
class FailingLog : public Log {
 public:
  void LogEvent(std::string_view, std::string_view, int32_t, const Variant&) override {
    throw std::runtime_error("log disk full");
  }
};

class FrameTest : public ::testing::Test {
 protected:
  void SetUp() override { RecordingLog::Clear(); }
  ScopedRegistration log_{std::string(kLogClassId),
                          [] { return std::make_unique<RecordingLog>(); }};
};

// Runs `body` and returns the ComError it raised (a failed expectation when it raised none).
template <typename F>
ComError RaisedBy(F&& body) {
  try {
    body();
  } catch (const ComError& e) {
    return e;
  }
  ADD_FAILURE() << "no ComError raised";
  return ComError(0, "", "");
}

TEST_F(FrameTest, ReportWithoutPendingFailureOnlyLogs) {
  ReportError("A.B.C");
  ReportError("A.B.C", Variant("row 7"));
  const auto entries = RecordingLog::Entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].text, "A.B.C caught: (0). Additional information: ");
  EXPECT_EQ(entries[0].source, "");
  EXPECT_EQ(entries[0].level, 0);
  EXPECT_EQ(entries[1].text,
            "A.B.C caught: (0). Additional information:  Additional information: row 7");
}

TEST_F(FrameTest, ReportOfPendingFailureReRaisesItWithComposedDescription) {
  const ComError plain = RaisedBy([] {
    try {
      throw ComError(5, "Origin.Source", "x", "desk.chm", 42);
    } catch (...) {
      ReportError("A.B.C");
    }
  });
  EXPECT_EQ(plain.number(), 5);
  EXPECT_EQ(plain.description(), "\r\nMETHOD: A.B.C caught: x(5).");
  EXPECT_EQ(plain.source(), "Origin.Source");
  EXPECT_EQ(plain.help_file(), "desk.chm");
  EXPECT_EQ(plain.help_context(), 42);
  auto entries = RecordingLog::Entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].source, "Origin.Source");
  EXPECT_EQ(entries[0].text,
            "A.B.C caught: x(5). Additional information: \r\nMETHOD: A.B.C caught: x(5).");

  const ComError informed = RaisedBy([] {
    try {
      throw ComError(5, "Origin.Source", "x");
    } catch (...) {
      ReportError("A.B.C", Variant("Q_ID 12"));
    }
  });
  EXPECT_EQ(informed.description(),
            "\r\nMETHOD: A.B.C caught: x(5). Additional information: Q_ID 12");

  // A failure that is not a ComError is reported as an unspecified failure with its text.
  const ComError foreign = RaisedBy([] {
    try {
      throw std::runtime_error("boom");
    } catch (...) {
      ReportError("A.B.C");
    }
  });
  EXPECT_EQ(foreign.number(), err::kDbError);
  EXPECT_EQ(foreign.description(), "\r\nMETHOD: A.B.C caught: boom(-2147467259).");
}

TEST_F(FrameTest, NestedOperationsNestTheirReports) {
  const ComError e = RaisedBy([] {
    RunOperation("Lib.Class.Outer", [] {
      RunOperation("Lib.Class.Inner", [] { throw ComError::Of(err::kOverflow, "Variant"); });
    });
  });
  EXPECT_EQ(e.number(), err::kOverflow);
  EXPECT_EQ(e.source(), "Variant");
  EXPECT_EQ(e.description(),
            "\r\nMETHOD: Lib.Class.Outer caught: \r\nMETHOD: Lib.Class.Inner caught: "
            "Overflow(6).(6).");
  EXPECT_EQ(RecordingLog::Entries().size(), 2u);
  // Success returns the body's value and logs nothing.
  EXPECT_EQ(RunOperation("Lib.Class.Fine", [] { return 3; }), 3);
  EXPECT_EQ(RecordingLog::Entries().size(), 2u);
}

TEST_F(FrameTest, FailedOperationVotesAbortOnItsContext) {
  RunUnitOfWork([] {
    EXPECT_FALSE(GetObjectContext()->doomed());
    try {
      RunOperation("Lib.Class.Op", [] { throw ComError::Of(err::kTypeMismatch); });
    } catch (const ComError&) {
    }
    EXPECT_TRUE(GetObjectContext()->doomed());
  });
}

TEST_F(FrameTest, BrokenLogNeverReplacesTheReportedFailure) {
  ScopedRegistration broken(std::string(kLogClassId),
                            [] { return std::make_unique<FailingLog>(); });
  const ComError e =
      RaisedBy([] { RunOperation("Lib.Class.Op", [] { throw ComError(5, "Origin", "x"); }); });
  EXPECT_EQ(e.number(), 5);
  EXPECT_EQ(e.description(), "\r\nMETHOD: Lib.Class.Op caught: x(5).");
  ReportError("Lib.Class.Op");  // no failure pending: returns normally
}

TEST_F(FrameTest, MissingComponentRaises429WithInformationOfItsContext) {
  const ComError direct = RaisedBy([] { GetComponent("No.Such"); });
  EXPECT_EQ(direct.number(), err::kCannotCreateComponent);
  EXPECT_TRUE(direct.description().starts_with(kGetComponentPrefix)) << direct.description();
  EXPECT_TRUE(
      direct.description().ends_with("(429). Additional information: CreateObject(No.Such) "
                                     "failed"))
      << direct.description();

  RunUnitOfWork([] {
    const ComError inside = RaisedBy([] { GetComponent("No.Such"); });
    EXPECT_EQ(inside.number(), err::kCannotCreateComponent);
    EXPECT_TRUE(inside.description().ends_with(
        "(429). Additional information: CreateInstance(No.Such) failed.\r\nNote: Objects having "
        "'Instancing=PublicNotCreatable' may only be instantiated with 'New', not with "
        "GetComponent()"))
        << inside.description();
  });
  EXPECT_EQ(RecordingLog::Entries().size(), 2u);

  // A registered component of another interface is a type mismatch, not a missing component.
  EXPECT_NE(GetComponentAs<Log>(kLogClassId), nullptr);
  EXPECT_EQ(RaisedBy([] { GetComponentAs<Configuration>(kLogClassId); }).number(),
            err::kTypeMismatch);
}

TEST_F(FrameTest, ComponentWhoseFactoryFailsRaises429) {
  ScopedRegistration refusing("Test.Refusing", []() -> std::unique_ptr<Component> {
    throw std::runtime_error("no licence");
  });
  ScopedRegistration empty("Test.Empty", [] { return std::unique_ptr<Component>(); });
  EXPECT_EQ(RaisedBy([] { GetComponent("Test.Empty"); }).number(), err::kCannotCreateComponent);
  EXPECT_EQ(RaisedBy([] { GetComponent("Test.Refusing"); }).number(), err::kCannotCreateComponent);
}

TEST(SqlTextTest, LiteralsAreCompleteAndQuotesCannotEndThem) {
  EXPECT_EQ(SQLEncode(""), "''");
  EXPECT_EQ(SQLEncode("O'Brien"), "'O''Brien'");
  EXPECT_EQ(SQLEncode("'); drop table QUESTIONS; --"), "'''); drop table QUESTIONS; --'");
  EXPECT_EQ(SQLEncode("\xC3\xA9'"), "'\xC3\xA9'''");
  EXPECT_EQ(ToSQLTimestamp({2009, 1, 1, 7, 5, 9}), "{ts '2009-01-01 07:05:09'}");
  EXPECT_EQ(ToSQLTimestamp({2008, 6, 5, 3, 49, 1}), "{ts '2008-06-05 03:49:01'}");
  EXPECT_EQ(ToSQLTimestamp({2008, 12, 31, 23, 59, 59}), "{ts '2008-12-31 23:59:59'}");
}

TEST(SqlTextTest, CurrentDateTimeIsTheClocksWholeSecond) {
  ScopedFixedTime fixed({2009, 1, 1, 7, 5, 9});
  EXPECT_EQ(GetCurrentDateTime(), (DateTime{2009, 1, 1, 7, 5, 9}));
}

TEST(TextHelpersTest, XmlEncodeReplacesAmpersandFirst) {
  EXPECT_EQ(XMLEncode(Variant("a&lt;b")), Variant("a&amp;lt;b"));
  EXPECT_EQ(XMLEncode(Variant("")), Variant(""));
  EXPECT_EQ(XMLEncode(Variant("<a href='x'>&</a>")), Variant("&lt;a href='x'&gt;&amp;&lt;/a&gt;"));
  EXPECT_EQ(XMLEncode(Variant(5)), Variant(5));
  EXPECT_TRUE(XMLEncode(Variant::Null()).IsNull());
}

TEST(TextHelpersTest, EncodeApostropheLeavesNullAlone) {
  EXPECT_TRUE(EncodeApostrophe(Variant::Null()).IsNull());
  EXPECT_EQ(EncodeApostrophe(Variant("it's 'x'")), Variant("it&apos;s &apos;x&apos;"));
  EXPECT_EQ(EncodeApostrophe(Variant("")), Variant(""));
}

TEST(TextHelpersTest, DateSeparatorIsOnePunctuationCharacterOrNothing) {
  const std::string separator = GetDateSeparator();
  ASSERT_LE(separator.size(), 1u);
  if (!separator.empty()) {
    EXPECT_FALSE(std::isalnum(static_cast<unsigned char>(separator[0])));
    EXPECT_NE(separator[0], '%');
  }
}

TEST(TextHelpersTest, FormatDateTextAndToLongThroughEncoder) {
  EXPECT_EQ(FormatDateText(Variant(DateTime{2009, 1, 1, 0, 0, 0})), "2009-01-01");
  EXPECT_EQ(FormatDateText(Variant(DateTime{2009, 1, 1, 7, 5, 9})), "2009-01-01 07:05:09");
  EXPECT_EQ(FormatDateText(Variant("2008-06-05")), "2008-06-05");
  EXPECT_EQ(FormatDateText(Variant()), "");
  EXPECT_EQ(FormatDateText(Variant::Null()), "");
  EXPECT_EQ(FormatDateText(Variant("")), "");
  EXPECT_EQ(RaisedBy([] { FormatDateText(Variant("tomorrow")); }).number(), err::kTypeMismatch);

  EXPECT_EQ(ToLongThroughEncoder(Variant(2.5)), 2);  // halves to even
  EXPECT_EQ(ToLongThroughEncoder(Variant(3.5)), 4);
  EXPECT_EQ(ToLongThroughEncoder(Variant(-2.5)), -2);
  EXPECT_EQ(ToLongThroughEncoder(Variant("7")), 7);
  EXPECT_EQ(ToLongThroughEncoder(Variant()), 0);
  EXPECT_EQ(ToLongThroughEncoder(Variant::Null()), 0);
  EXPECT_EQ(RaisedBy([] { ToLongThroughEncoder(Variant(2147483648.0)); }).number(), err::kOverflow);
  EXPECT_EQ(RaisedBy([] { ToLongThroughEncoder(Variant("abc")); }).number(), err::kTypeMismatch);
}

class FrameDatabaseTest : public DatabaseTest {
 protected:
  void SetParameter(std::string_view name, const Variant& value) {
    Exec("insert into PARAMETERS (PARAM_NAME, PARAM_VALUE) values (?, ?)", {Variant(name), value});
  }
};

TEST_P(FrameDatabaseTest, ParamValueOfMissingOrNullParameterIsEmpty) {
  SetParameter("ReminderHours", Variant("72"));
  SetParameter("NoValue", Variant::Null());
  EXPECT_EQ(GetParamValue("ReminderHours"), "72");
  EXPECT_EQ(GetParamValue("NotThere"), "");
  EXPECT_EQ(GetParamValue("NoValue"), "");
  EXPECT_EQ(GetParamValue(""), "");
  EXPECT_EQ(GetParamValue("x' or '1'='1"), "");
  EXPECT_TRUE(RecordingLog::Entries().empty());
}

TEST_P(FrameDatabaseTest, ClosingEmptyOrClosedReferencesDoesNothing) {
  std::unique_ptr<Connection> connection;
  CloseConnection(connection);
  EXPECT_EQ(connection, nullptr);
  connection = GetHeliqConnection();
  connection->Close();
  CloseConnection(connection);
  EXPECT_EQ(connection, nullptr);

  std::unique_ptr<Recordset> recordset;
  CloseRecordset(recordset);
  EXPECT_EQ(recordset, nullptr);
  connection = GetHeliqConnection();
  recordset = Recordset::Open(*connection, "select * from PARAMETERS");
  recordset->Close();
  CloseRecordset(recordset);
  EXPECT_EQ(recordset, nullptr);
  CloseConnection(connection);
  EXPECT_TRUE(RecordingLog::Entries().empty());
}

TEST_P(FrameDatabaseTest, ClosingRecordsetCancelsEditEvenOnFailurePath) {
  SetParameter("Counter", Variant("1"));
  auto connection = GetHeliqConnection();
  auto recordset = Recordset::OpenForUpdate(
      *connection, "select PARAM_NAME, PARAM_VALUE from PARAMETERS where PARAM_NAME = ?",
      {Variant("Counter")}, {"PARAMETERS", {{"PARAM_NAME", {}}}});
  recordset->SetField("PARAM_VALUE", Variant("2"));
  try {
    throw ComError::Of(err::kOverflow, "test");
  } catch (const ComError&) {
    CloseRecordset(recordset);
    CloseConnection(connection);
  }
  EXPECT_EQ(recordset, nullptr);
  EXPECT_EQ(connection, nullptr);
  EXPECT_EQ(Value("select PARAM_VALUE from PARAMETERS").ToText(), "1");
  EXPECT_TRUE(RecordingLog::Entries().empty());  // closing reports nothing of its own
}

INSTANTIATE_DATABASE_TEST_SUITE(FrameDatabaseTest);

}  // namespace
}  // namespace heliq
