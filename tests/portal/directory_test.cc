// The directory (users, roles, members, partners) and its bind check, embedded and over LDAP with
// the same expected answers; the embedded directory's changes; the back-end selector and the
// language list; on every available database.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "common/directory.h"
#include "common/heliq_utilities.h"
#include "common/lookups.h"
#include "platform/com_error.h"
#include "platform/configuration.h"
#include "platform/object_context.h"
#include "portal/directory/directory_store.h"
#include "tests/support/database_fixture.h"
#include "tests/support/ldap_directory.h"

namespace heliq {
namespace {

using testing::DatabaseTest;
using testing::DirectoryAccount;
using testing::DirectoryKind;
using testing::ForEachDirectory;
using testing::RecordingLog;
using testing::UseFixtureSettingsWith;

// Sets HELIQ_MEMBERSHIP_PASSWORD for the lifetime of the object.
class ScopedPassword {
 public:
  explicit ScopedPassword(const char* value) { setenv(kVariable, value, 1); }
  ~ScopedPassword() { unsetenv(kVariable); }

 private:
  static constexpr const char* kVariable = "HELIQ_MEMBERSHIP_PASSWORD";
};

constexpr std::string_view kWrongPassword = "hunter2-wrong";

template <typename T>
std::unique_ptr<T> Create(std::string_view class_id) {
  return CreateObjectAs<T>(class_id);
}

std::vector<std::string> Logins(const MemberTable& table) {
  std::vector<std::string> logins;
  for (int32_t row = 0; row < table.row_count(); ++row) logins.push_back(table.Value(row, "cn"));
  return logins;
}

class DirectoryTest : public DatabaseTest {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    if (IsSkipped()) return;
    LoadDemoData();
  }

  DirectoryStore Store() { return DirectoryStore::FromSettings(); }
  int64_t Users() { return Store().ListUsers().size(); }
};

TEST_P(DirectoryTest, BoundUserCarriesAttributesAndRoles) {
  ForEachDirectory([](DirectoryKind) {
    auto user = BindDirectoryUser("SCE2");
    EXPECT_EQ(user->Login(), "sce2");
    EXPECT_EQ(user->GivenName(), "Maria Fernanda");
    EXPECT_EQ(user->Surname(), "Gonzalez de la Vega");
    EXPECT_EQ(user->Mail(), "sce2@servicedesk.example.com");
    EXPECT_EQ(user->LanguageId(), "3082");
    EXPECT_EQ(user->Country(), "US");
    EXPECT_EQ(user->EngineerCode(), "SE02");
    EXPECT_TRUE(user->IsInRole(kRoleSupportCentreEngineers));
    EXPECT_FALSE(user->IsInRole(kRoleCallCentreEngineers));
    EXPECT_FALSE(user->IsInRole(77)) << "a role without a group";
    EXPECT_EQ(BindDirectoryUser("cce2")->GivenName(), "J\xc3\xbcrgen");

    auto customer = GetUserFromID("cust3");
    ASSERT_NE(customer, nullptr);
    EXPECT_EQ(customer->BusinessPartnerId(), "2000");
    EXPECT_EQ(customer->RegistrationSet(), "2");
    EXPECT_EQ(customer->EngineerCode(), "");
    EXPECT_FALSE(customer->IsInRole(kRoleDispatchers));
  });
}

TEST_P(DirectoryTest, UnknownLoginOrMissingServerInfoLeavesTheObjectUnbound) {
  ForEachDirectory([](DirectoryKind) {
    const auto account = DirectoryAccount();
    auto user = Create<MembershipUser>(kMembershipUserClassId);
    try {
      user->BindAs("cce1", account.bind_dn, account.password);
      FAIL() << "bound without server information";
    } catch (const ComError& e) {
      EXPECT_EQ(e.number(), err::kInvalidProcedureCall);
    }
    user->SetServerInfo("config/heliq.toml");
    user->BindAs("cce1", account.bind_dn, account.password);
    EXPECT_EQ(user->GivenName(), "Emily");
    for (const char* login : {"ghost", "*", "*)(uid=*", ""}) {
      try {
        user->BindAs(login, account.bind_dn, account.password);
        ADD_FAILURE() << "bound the login '" << login << "'";
      } catch (const ComError& e) {
        EXPECT_EQ(e.number(), err::kInvalidProcedureCall);
        EXPECT_NE(e.description().find(std::string("'") + login + "'"), std::string::npos)
            << e.description();
      }
      // A failed bind does not leave the previous user behind.
      EXPECT_THROW(user->GivenName(), ComError);
    }
  });
}

TEST_P(DirectoryTest, BindChecksTheConfiguredAccountWithoutRevealingPasswords) {
  ForEachDirectory([](DirectoryKind) {
    const auto account = DirectoryAccount();
    auto user = BindDirectoryUser("cce1");
    EXPECT_EQ(user->Mail(), "cce1@servicedesk.example.com");

    auto direct = Create<MembershipUser>(kMembershipUserClassId);
    direct->SetServerInfo("config/heliq.toml");
    direct->BindAs("cce1", "CN=SVC-HELIQ,ou=desk,dc=example",
                   account.password);  // names ignore case
    const std::string without_root = account.bind_dn.substr(0, account.bind_dn.find(','));
    for (auto [bind_user, password] :
         {std::pair{account.bind_dn, std::string(kWrongPassword)},
          std::pair{account.bind_dn, std::string()}, std::pair{without_root, account.password},
          std::pair{std::string("cn=intruder,ou=desk,dc=example"), account.password}}) {
      try {
        direct->BindAs("cce1", bind_user, password);
        ADD_FAILURE() << "bound as " << bind_user;
      } catch (const ComError& e) {
        EXPECT_EQ(e.number(), err::kUnauthorized) << e.description();
        EXPECT_NE(e.description().find(bind_user), std::string::npos) << e.description();
        EXPECT_EQ(e.description().find(kWrongPassword), std::string::npos) << e.description();
        EXPECT_EQ(e.description().find(account.password), std::string::npos) << e.description();
      }
    }
    auto members = Create<MembershipMembers>(kMembershipMembersClassId);
    members->SetServerInfo("config/heliq.toml");
    try {
      members->BindAs(account.bind_dn, kWrongPassword);
      ADD_FAILURE() << "members bound with a wrong password";
    } catch (const ComError& e) {
      EXPECT_EQ(e.number(), err::kUnauthorized);
      EXPECT_EQ(e.description().find(kWrongPassword), std::string::npos) << e.description();
    }
    EXPECT_THROW(members->ListRoleMembers(kRoleCallCentreEngineers, ""), ComError);
    EXPECT_TRUE(RecordingLog::Entries().empty());
  });
}

TEST_P(DirectoryTest, PasswordFromTheEnvironmentWins) {
  ForEachDirectory([](DirectoryKind kind) {
    const auto account = DirectoryAccount();
    UseFixtureSettingsWith(testing::DirectorySections(kind, "stale-in-file"));
    // The embedded directory's account is what the settings say; a server knows better.
    if (kind == DirectoryKind::kLdap) {
      EXPECT_THROW(BindDirectoryUser("cce2"), ComError);
    }
    ScopedPassword environment(account.password.c_str());
    EXPECT_EQ(BindDirectoryUser("cce2")->Country(), "DE");
    auto looked_up = GetUserFromID("cce2");
    ASSERT_NE(looked_up, nullptr);
    EXPECT_EQ(looked_up->Surname(), "Schmidt");
    auto user = Create<MembershipUser>(kMembershipUserClassId);
    user->SetServerInfo("config/heliq.toml");
    try {
      user->BindAs("cce2", account.bind_dn, "stale-in-file");
      FAIL() << "bound with the file's password although the environment sets another";
    } catch (const ComError& e) {
      EXPECT_EQ(e.number(), err::kUnauthorized);
    }
  });
}

TEST_P(DirectoryTest, RoleMembersListMailAndLoginFirst) {
  ForEachDirectory([](DirectoryKind) {
    const MemberTable table = BindDirectoryMembers()->ListRoleMembers(36, "givenname,sn");
    ASSERT_EQ(table.row_count(), 2);
    EXPECT_EQ(table.columns(), (std::vector<std::string>{"dn", "mail", "cn", "givenname", "sn"}));
    EXPECT_EQ(table.Value(0, 1), "sce1@servicedesk.example.com");
    EXPECT_EQ(table.Value(0, 2), "sce1");
    EXPECT_EQ(table.Value(0, "dn"), "cn=sce1,ou=desk,dc=example");
    EXPECT_EQ(table.Value(1, "GivenName"), "Maria Fernanda");
    EXPECT_EQ(table.Value(1, "SN"), "Gonzalez de la Vega");
    EXPECT_THROW(table.Value(2, 0), ComError);
    EXPECT_THROW(table.Value(0, "shoe"), ComError);

    auto members = BindDirectoryMembers();
    EXPECT_EQ(Logins(members->ListRoleMembers(32, "")),
              (std::vector<std::string>{"cce1", "cce2", "cce3"}));
    EXPECT_EQ(members->ListRoleMembers(32, "").columns().size(), 3u);
    EXPECT_EQ(members->ListRoleMembers(77, "givenname,sn").row_count(), 0);
    const MemberTable all = members->ListRoleMembers(31,
                                                     "mail,languageid,c,BusinessPartnerID,"
                                                     "registrationset,EmployeeNumber,cn");
    EXPECT_EQ(all.columns(),
              (std::vector<std::string>{"dn", "mail", "cn", "languageid", "c", "BusinessPartnerID",
                                        "registrationset", "EmployeeNumber"}));
    EXPECT_EQ(all.Value(0, "languageid"), "2057");
    EXPECT_EQ(all.Value(0, "EmployeeNumber"), "");
    try {
      members->ListRoleMembers(32, "givenname,shoesize");
      FAIL() << "unknown attribute accepted";
    } catch (const ComError& e) {
      EXPECT_EQ(e.number(), err::kInvalidProcedureCall);
      EXPECT_NE(e.description().find("shoesize"), std::string::npos);
    }
  });
}

TEST_P(DirectoryTest, MemberSearchByEngineerCodeAndOtherFilters) {
  const int64_t users = Users();
  ForEachDirectory([users](DirectoryKind) {
    auto members = BindDirectoryMembers();
    EXPECT_EQ(Logins(members->SearchMembers({"EmployeeNumber=SE01"}, "")),
              std::vector<std::string>{"sce1"});
    EXPECT_EQ(Logins(members->SearchMembers({"employeenumber=se02 "}, "")),
              std::vector<std::string>{"sce2"});
    EXPECT_EQ(members->SearchMembers({"EmployeeNumber=XX99"}, "").row_count(), 0);
    // An empty code names nobody, not every user without one.
    EXPECT_EQ(members->SearchMembers({"EmployeeNumber="}, "").row_count(), 0);
    EXPECT_EQ(Logins(members->SearchMembers({"(EmployeeNumber=SE*)"}, "")),
              (std::vector<std::string>{"sce1", "sce2"}));
    EXPECT_EQ(Logins(members->SearchMembers({"EmployeeNumber=**E0**2"}, "")),
              (std::vector<std::string>{"cce2", "sce2"}));
    EXPECT_EQ(Logins(members->SearchMembers({"c=DE", "sn=*er"}, "sn")),
              (std::vector<std::string>{"cust3", "dispatch2", "super2"}));
    EXPECT_EQ(members->SearchMembers({}, "").row_count(), users);
    // A value is only ever a value: filter syntax inside it matches nothing.
    EXPECT_EQ(members->SearchMembers({"cn=*)(cn=*"}, "").row_count(), 0);
    EXPECT_EQ(members->SearchMembers({"cn=cce1)(|(cn=*"}, "").row_count(), 0);
    for (const char* bad : {"EmployeeNumber", "shoe=42"}) {
      try {
        members->SearchMembers({bad}, "");
        ADD_FAILURE() << "filter accepted: " << bad;
      } catch (const ComError& e) {
        EXPECT_EQ(e.number(), err::kInvalidProcedureCall);
      }
    }
  });
}

TEST_P(DirectoryTest, PortalUserAndBusinessPartnerLookups) {
  ForEachDirectory([](DirectoryKind) {
    auto portal = Create<PortalUser>(kPortalUserClassId);
    EXPECT_TRUE(portal->UserExists("CCE1"));
    EXPECT_FALSE(portal->UserExists("ghost"));
    EXPECT_FALSE(portal->UserExists("*"));
    EXPECT_FALSE(portal->UserExists("*)(uid=*"));
    EXPECT_EQ(portal->GetEngineerCode("sce1"), "SE01");
    EXPECT_EQ(portal->GetEngineerCode("sce*"), "");
    EXPECT_EQ(portal->GetEngineerCode("cust1"), "");
    EXPECT_EQ(portal->GetEngineerCode("ghost"), "");

    auto partners = Create<BusinessPartner>(kBusinessPartnerClassId);
    EXPECT_EQ(partners->GetBusinessPartnerName(2000), "Munich Networks GmbH");
    EXPECT_EQ(partners->GetBusinessPartnerName(9999), "");
  });
}

TEST_P(DirectoryTest, AddingAUserIsAllOrNothing) {
  DirectoryStore store = Store();
  const int64_t before = Users();
  DirectoryUser user{"newbie", "Nina", "Novak", "nina@example.com", "1029", "CZ", "",
                     "",       "SE01", {32, 36}};
  try {
    store.AddUser(user);
    FAIL() << "a second user with engineer code SE01 was added";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kDbConstraint);
    EXPECT_NE(e.description().find("sce1"), std::string::npos) << e.description();
  }
  user.engineer_code = "NN01";
  user.language_id = "Czech";
  EXPECT_THROW(store.AddUser(user), ComError);
  user.language_id = "1029";
  user.roles = {32, -1};
  EXPECT_THROW(store.AddUser(user), ComError);
  EXPECT_EQ(Users(), before);
  EXPECT_FALSE(store.FindUser("newbie").has_value());

  user.roles = {36, 32, 36};
  store.AddUser(user);
  EXPECT_EQ(store.FindUser("NEWBIE")->roles, (std::vector<int32_t>{32, 36}));
  try {
    store.AddUser(user);
    FAIL() << "the same login was added twice";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kDbConstraint);
  }
  EXPECT_THROW(store.AddUser(DirectoryUser{" "}), ComError);
  EXPECT_EQ(Users(), before + 1);
}

TEST_P(DirectoryTest, RolesAndPartnersChangeWithClearErrors) {
  DirectoryStore store = Store();
  store.AddRole("CUST1", 31);
  store.AddRole("cust1", 31);  // held already: no change
  EXPECT_EQ(store.FindUser("cust1")->roles, std::vector<int32_t>{31});
  EXPECT_EQ(Logins(BindDirectoryMembers()->ListRoleMembers(31, "")),
            (std::vector<std::string>{"cust1", "dispatch1"}));
  store.RemoveRole("Cust1", 31);
  EXPECT_TRUE(store.FindUser("cust1")->roles.empty());
  for (auto change : {+[](DirectoryStore& s) { s.RemoveRole("cust1", 31); },
                      +[](DirectoryStore& s) { s.AddRole("ghost", 32); },
                      +[](DirectoryStore& s) { s.AddRole("cust1", 0); },
                      +[](DirectoryStore& s) { s.AddPartner(0, "Zero"); },
                      +[](DirectoryStore& s) { s.AddPartner(3000, "  "); }}) {
    try {
      change(store);
      ADD_FAILURE() << "a bad change was accepted";
    } catch (const ComError& e) {
      EXPECT_EQ(e.number(), err::kInvalidProcedureCall) << e.description();
    }
  }
  EXPECT_THROW(store.AddPartner(1000, "Again"), ComError);
  store.AddPartner(3000, " Lakeside Labs ");
  ASSERT_EQ(store.ListPartners().size(), 4u);
  EXPECT_EQ(store.PartnerName(3000), "Lakeside Labs");
}

TEST_P(DirectoryTest, DirectoryChangesStayOutsideTheCall) {
  // A call that rolls back does not take back what the directory did; and the directory answers
  // inside a call.
  RunUnitOfWork([this] {
    Store().AddRole("cust2", 35);
    EXPECT_TRUE(BindDirectoryUser("cust2")->IsInRole(35));
    AbortContext();
  });
  EXPECT_TRUE(Store().FindUser("cust2")->roles == std::vector<int32_t>{35});
}

TEST_P(DirectoryTest, ConcurrentAddsOfOneLoginLetExactlyOneWin) {
  constexpr int kThreads = 4;
  std::atomic<int> added{0}, refused{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      try {
        Store().AddUser(
            DirectoryUser{"racer", "R", std::to_string(t), "", "", "", "", "", "", {32}});
        ++added;
      } catch (const ComError& e) {
        EXPECT_EQ(e.number(), err::kDbConstraint) << e.description();
        ++refused;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(added.load(), 1);
  EXPECT_EQ(refused.load(), kThreads - 1);
  EXPECT_EQ(Store().FindUser("racer")->roles, std::vector<int32_t>{32});
}

TEST_P(DirectoryTest, BackendSelectorFollowsTheConfiguration) {
  auto selector = Create<BackendSelector>(kBackendSelectorClassId);
  EXPECT_THROW(selector->SelectDefaultBackend(), ComError) << "nothing configured";
  UseFixtureSettingsWith("[backoffice]\ngeneration = 8\n");
  EXPECT_EQ(selector->SelectDefaultBackend(), 8);
  UseFixtureSettingsWith("[backoffice]\ngeneration = 8\n[backend]\ndefault = 1\n");
  EXPECT_EQ(selector->SelectDefaultBackend(), 1);
  DictionaryPtr mk4 = selector->GetBackendProperties(1);
  EXPECT_EQ(mk4->Get("name").ToText(), "Mk4");
  EXPECT_EQ(mk4->Get("componentid").ToText(), "HeliqMk4.VIS");
  EXPECT_TRUE(mk4->Get("isdefault").ToBool());
  EXPECT_FALSE(selector->GetBackendProperties(3)->Get("isdefault").ToBool());
  try {
    selector->GetBackendProperties(2);
    FAIL() << "back end 2 has properties";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kInvalidProcedureCall);
  }
  UseFixtureSettingsWith("[backend]\ndefault = 'Mk5'\n");
  EXPECT_THROW(selector->SelectDefaultBackend(), ComError);
}

TEST_P(DirectoryTest, LanguageListNamesLocalesOfOneLanguageAlike) {
  auto languages = Create<LanguageList>(kLanguageListClassId);
  EXPECT_EQ(languages->GetLanguageName(1034), "Spanish");
  EXPECT_EQ(languages->GetLanguageName(3082), "Spanish");
  EXPECT_EQ(languages->GetLanguageName(0), "") << "no language";
  EXPECT_EQ(languages->GetLanguageName(9999), "");
}

INSTANTIATE_DATABASE_TEST_SUITE(DirectoryTest);

}  // namespace
}  // namespace heliq
