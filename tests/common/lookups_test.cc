// Display names for engineer lists, dispatch-rule removal, binding directory users, the last
// synchronisation date and the default back end's component, on every available database.
#include "common/lookups.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/heliq_utilities.h"
#include "platform/com_error.h"
#include "platform/configuration.h"
#include "platform/object_context.h"
#include "tests/support/database_fixture.h"

namespace heliq {
namespace {

using testing::DatabaseTest;
using testing::RecordingLog;

constexpr std::string_view kInsertCceRule =
    "insert into CCEDISRULE (LOGIN, APPLYFORAUTOMATIC) values (?, 1)";
constexpr std::string_view kInsertSceRule =
    "insert into SCEDISRULE (LOGIN, APPLYFORAUTOMATIC) values (?, 1)";
constexpr std::string_view kInsertParameter =
    "insert into PARAMETERS (PARAM_NAME, PARAM_TYPE, PARAM_VALUE) values (?, ?, ?)";

std::string Literal(const std::string& text) { return "'" + text + "'"; }

// The fixture's settings plus `sections` (TOML text).
std::string SettingsTextWith(const std::string& sections) {
  std::string text = "install_dir = " + Literal(GetInstallDir()) + "\n[connections]\n";
  for (const char* application : {"Heliq", "RAvuruvo", "BackOffice", "Directory"}) {
    text +=
        std::string(application) + " = " + Literal(SettingValue("connections", application)) + "\n";
  }
  return text + "[log]\nfile = ''\n" + sections;
}
void UseSettingsWith(const std::string& sections) { SetSettingsText(SettingsTextWith(sections)); }

// A directory user that records how it was bound, and can be told to refuse.
class FakeDirectoryUser : public MembershipUser {
 public:
  struct Calls {
    std::vector<std::string> order;
    std::string server_info, login, bind_user, bind_password;
    bool refuse = false;
  };
  static Calls& calls() {
    static Calls instance;
    return instance;
  }

  void SetServerInfo(const std::string& path) override {
    calls().order.push_back("SetServerInfo");
    calls().server_info = path;
  }
  void BindAs(std::string_view login, std::string_view user, std::string_view password) override {
    calls().order.push_back("BindAs");
    calls().login = login;
    calls().bind_user = user;
    calls().bind_password = password;
    if (calls().refuse) throw ComError(err::kUnauthorized, "fake", "refused");
  }
  std::string Login() const override { return calls().login; }
  std::string GivenName() const override { return ""; }
  std::string Surname() const override { return ""; }
  std::string Mail() const override { return ""; }
  std::string LanguageId() const override { return ""; }
  std::string Country() const override { return ""; }
  std::string BusinessPartnerId() const override { return ""; }
  std::string RegistrationSet() const override { return ""; }
  std::string EngineerCode() const override { return ""; }
  bool IsInRole(int32_t) const override { return false; }
};

class LookupsTest : public DatabaseTest {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    if (IsSkipped()) return;
    FakeDirectoryUser::calls() = {};
  }

  ScopedRegistration FakeUser() {
    return ScopedRegistration(std::string(kMembershipUserClassId),
                              [] { return std::make_unique<FakeDirectoryUser>(); });
  }
};

TEST_P(LookupsTest, NamesThatFitTheListStayWhole) {
  // 10 + 1 + 13 = 24 characters: the limit itself.
  EXPECT_EQ(GetExactFirstName("Alexandria", "Featherstone1", 1033), "Alexandria");
  EXPECT_EQ(GetExactLastName("Alexandria", "Featherstone1", 1033), "Featherstone1");
  EXPECT_EQ(GetExactLastName("Alexandria", "Featherstone1", 1041), "Featherstone1");
  // Lengths count characters: "Jürgen" is six, though seven bytes.
  EXPECT_EQ(GetExactFirstName("Jürgen", "Oberhausenmeyers", 1031), "Jürgen");
  EXPECT_EQ(GetExactLastName("Jürgen", "Oberhausenmeyers", 1031), "Oberhausenmeyers");
}

TEST_P(LookupsTest, NamesOneCharacterTooLongAreShortened) {
  // 10 + 1 + 14 = 25.
  EXPECT_EQ(GetExactFirstName("Alexandria", "Featherstone12", 1033), "A.");
  EXPECT_EQ(GetExactLastName("Alexandria", "Featherstone12", 1033), "Featherstone12");
  // Japanese: the family name is written first, so the other name is cut.
  EXPECT_EQ(GetExactFirstName("Alexandria", "Featherstone12", 1041), "Alexandria");
  EXPECT_EQ(GetExactLastName("Alexandria", "Featherstone12", 1041), "F.");
}

TEST_P(LookupsTest, LongNamesKeepSixteenCharactersAndWholeCharacters) {
  const std::string first = "Maximilianusaurelius";  // 20
  const std::string last = "Ébersbach-Wolkenstein";  // 21 characters, 22 bytes
  EXPECT_EQ(GetExactFirstName(first, last, 1033), "M.");
  EXPECT_EQ(GetExactLastName(first, last, 1033), "Ébersbach-Wolken");
  EXPECT_EQ(GetExactFirstName(first, last, 1041), "Maximilianusaure");
  EXPECT_EQ(GetExactLastName(first, last, 1041), "É.");
  EXPECT_TRUE(RecordingLog::Entries().empty());
}

TEST_P(LookupsTest, DeletingRulesRemovesOnlyThatEngineersRowsOfThatCentre) {
  for (const char* login : {"cce1", "CCE1", "cce2", "o'brien"}) Exec(kInsertCceRule, {login});
  Exec(kInsertSceRule, {"cce1"});

  DeleteCCEDispatchRules("cce1");
  EXPECT_EQ(Value("select count(*) from CCEDISRULE where LOGIN = 'cce2'").ToLong(), 1);
  EXPECT_EQ(Count("CCEDISRULE"), 2) << "logins compare without regard to case";
  EXPECT_EQ(Count("SCEDISRULE"), 1);

  // A quote in a login is a value, not SQL.
  DeleteCCEDispatchRules("o'brien");
  EXPECT_EQ(Count("CCEDISRULE"), 1);
  DeleteSCEDispatchRules("cce1");
  EXPECT_EQ(Count("SCEDISRULE"), 0);
}

TEST_P(LookupsTest, RuleDeletionBelongsToTheCallAndItsFailureIsNotTrapped) {
  Exec(kInsertSceRule, {"sce1"});
  RunUnitOfWork([] {
    DeleteSCEDispatchRules("sce1");
    AbortContext();
  });
  EXPECT_EQ(Count("SCEDISRULE"), 1) << "an aborted call keeps the rules";

  {
    UnitOfWork work;
    GetHeliqConnection()->Execute("DROP TABLE CCEDISRULE");
    try {
      DeleteCCEDispatchRules("cce1");
      FAIL() << "deleting from a missing table succeeded";
    } catch (const ComError& e) {
      EXPECT_EQ(e.number(), err::kDbSyntax);
      EXPECT_EQ(e.description().find("METHOD:"), std::string::npos) << "reported on the way";
    }
    work.Finish(false);
  }
  EXPECT_TRUE(RecordingLog::Entries().empty());
  EXPECT_EQ(Count("CCEDISRULE"), 0);
}

TEST_P(LookupsTest, UserIsBoundWithTheConfiguredAccount) {
  auto fake = FakeUser();
  UseSettingsWith("[membership]\naccount = 'svc-heliq'\npassword = 'pw-1'\nroot = ''\n");
  auto user = GetUserFromID("cce1");
  ASSERT_NE(user, nullptr);
  const auto& calls = FakeDirectoryUser::calls();
  EXPECT_EQ(calls.order, (std::vector<std::string>{"SetServerInfo", "BindAs"}));
  EXPECT_EQ(calls.login, "cce1");
  EXPECT_EQ(calls.bind_user, "svc-heliq") << "an empty root adds no comma";
  EXPECT_EQ(calls.bind_password, "pw-1");
  if (std::getenv("HELIQ_CONFIG") == nullptr) {
    EXPECT_EQ(calls.server_info, GetInstallDir() + "/config/heliq.toml");
  } else {
    EXPECT_FALSE(calls.server_info.empty());
  }

  UseSettingsWith("[membership]\naccount = 'svc-heliq'\npassword = 'pw-1'\nroot = 'dc=example'\n");
  ASSERT_NE(GetUserFromID("cce1"), nullptr);
  EXPECT_EQ(FakeDirectoryUser::calls().bind_user, "svc-heliq,dc=example");
}

// The directory is told the file the settings really came from, wherever the configuration
// search found it (an installed /etc/heliq/heliq.toml, --config), not a guess under install_dir.
TEST_P(LookupsTest, UserIsBoundWithTheFileTheSettingsCameFrom) {
  auto fake = FakeUser();
  const std::filesystem::path file = std::filesystem::path(GetInstallDir()) / "elsewhere.toml";
  std::ofstream(file) << SettingsTextWith("[membership]\naccount = 'svc-heliq'\n");
  LoadSettings(file.string());
  ASSERT_NE(GetUserFromID("cce1"), nullptr);
  EXPECT_EQ(FakeDirectoryUser::calls().server_info, std::filesystem::absolute(file).string());
}

TEST_P(LookupsTest, UserThatCannotBeBoundGivesNoObjectAndNoReport) {
  // The embedded directory holds nobody yet.
  EXPECT_EQ(GetUserFromID("nobody"), nullptr);
  {
    auto fake = FakeUser();
    FakeDirectoryUser::calls().refuse = true;
    EXPECT_EQ(GetUserFromID("cce1"), nullptr);
  }
  {
    ScopedRegistration missing(
        std::string(kMembershipUserClassId),
        []() -> std::unique_ptr<Component> { throw ComError::Of(err::kCannotCreateComponent); });
    EXPECT_EQ(GetUserFromID("cce1"), nullptr);
  }
  EXPECT_TRUE(RecordingLog::Entries().empty());
}

TEST_P(LookupsTest, UserLookupInsideAFailurePathPropagatesItsFailure) {
  try {
    throw ComError::Of(err::kOverflow, "caller");
  } catch (...) {
    try {
      GetUserFromID("nobody");
      ADD_FAILURE() << "an unknown user was bound";
    } catch (const ComError& e) {
      EXPECT_EQ(e.number(), err::kInvalidProcedureCall);
    }
  }
  EXPECT_TRUE(RecordingLog::Entries().empty());
}

TEST_P(LookupsTest, LastSynchronizedDateOfEachType) {
  EXPECT_EQ(GetLastSynchronizedDate("3"), "") << "no parameter yet";
  Exec(kInsertParameter, {"LastSynchronizedDate", 3, "  2009-01-01 00:00:00 "});
  Exec(kInsertParameter, {"LastSynchronizedDate", 1, "2008-06-05 03:49:01"});
  Exec(kInsertParameter, {"OtherDate", 0, "2001-01-01"});
  EXPECT_EQ(GetLastSynchronizedDate("3"), "2009-01-01 00:00:00");
  EXPECT_EQ(GetLastSynchronizedDate(" 1 "), "2008-06-05 03:49:01");
  EXPECT_EQ(GetLastSynchronizedDate("0"), "");
  // The type is bound as a number, never spliced into the statement.
  EXPECT_EQ(GetLastSynchronizedDate("3 or PARAM_TYPE = 1"), "");
  EXPECT_EQ(GetLastSynchronizedDate(""), "");
}

TEST_P(LookupsTest, LastSynchronizedDateKeepsTheLastOfSeveralRowsAndSwallowsFailures) {
  // Several rows of one type cannot exist beside the table's key; lift the key inside a call
  // that is rolled back afterwards.
  UnitOfWork work;
  auto connection = GetHeliqConnection();
  if (backend() == testing::Backend::kPostgres) {
    connection->Execute("ALTER TABLE PARAMETERS DROP CONSTRAINT parameters_pkey");
  } else {
    connection->Execute("ALTER TABLE PARAMETERS RENAME TO PARAMETERS_KEYED");
    connection->Execute(
        "CREATE TABLE PARAMETERS (PARAM_NAME TEXT, PARAM_TYPE INTEGER, PARAM_VALUE TEXT)");
  }
  connection->Execute(kInsertParameter, {"LastSynchronizedDate", 3, "2009-01-01 00:00:00"});
  connection->Execute(kInsertParameter, {"LastSynchronizedDate", 3, " 2009-02-01 00:00:00"});
  EXPECT_EQ(GetLastSynchronizedDate("3"), "2009-02-01 00:00:00");

  connection->Execute("DROP TABLE PARAMETERS");
  EXPECT_EQ(GetLastSynchronizedDate("3"), "");
  EXPECT_TRUE(RecordingLog::Entries().empty());
  connection.reset();
  work.Finish(false);
}

TEST_P(LookupsTest, BackendComponentIdOfTheDefaultBackEnd) {
  EXPECT_EQ(GetBackendComponentId(), "") << "no back end configured";
  UseSettingsWith("[backoffice]\ngeneration = 3\n");
  EXPECT_EQ(GetBackendComponentId(), "HeliqMk5.VIS");
  UseSettingsWith("[backoffice]\ngeneration = 3\n[backend]\ndefault = 8\n");
  EXPECT_EQ(GetBackendComponentId(), "HeliqMk6.VIS");
  UseSettingsWith("[backoffice]\ngeneration = 1\n[backend]\ncomponent_id = 'Site.VIS'\n");
  EXPECT_EQ(GetBackendComponentId(), "Site.VIS");
  UseSettingsWith("[backend]\ndefault = 5\n");
  EXPECT_EQ(GetBackendComponentId(), "") << "an unknown back end";
  ScopedRegistration missing(
      std::string(kBackendSelectorClassId),
      []() -> std::unique_ptr<Component> { throw ComError::Of(err::kCannotCreateComponent); });
  EXPECT_EQ(GetBackendComponentId(), "");
  EXPECT_TRUE(RecordingLog::Entries().empty());
}

INSTANTIATE_DATABASE_TEST_SUITE(LookupsTest);

}  // namespace
}  // namespace heliq
