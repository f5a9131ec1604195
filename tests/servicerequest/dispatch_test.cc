// Dispatching by rules and weights: scoring, choice, ranking and the engineer-list file.
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/com_error.h"
#include "platform/object_context.h"
#include "portal/directory/directory_store.h"
#include "servicerequest/dispatch/dispatch.h"
#include "tests/support/ldap_directory.h"
#include "tests/support/raw_http.h"
#include "tests/support/request_fixture.h"

namespace heliq {
namespace {

// Exposes the dispatch's candidate table and engineer list.
class InspectableDispatch : public Dispatch {
 public:
  using Dispatch::m_vEngineers;
  using Dispatch::m_vRuleEngineers;
  using Dispatch::sortEngineersByScore;
  using Candidate = Dispatch::Candidate;
  int64_t ScoreOf(std::string_view login) const {
    for (const auto& c : m_vRuleEngineers) {
      if (c.login == login) return c.score;
    }
    ADD_FAILURE() << "no candidate " << login;
    return -1;
  }
};

struct EngineerList {
  bool rules_applied = false;
  std::vector<std::string> logins;
  std::vector<std::string> sequences;
  std::vector<std::string> first_names;
};

class DispatchTest : public testing::RequestTest {
 protected:
  void SetUp() override {
    RequestTest::SetUp();
    if (IsSkipped()) return;
    Exec(
        "insert into PARAMETERS (PARAM_NAME, PARAM_VALUE) values ('DataFileRelativePath', "
        "'data\\files/')");
    SetManualDispatching("True");
    // Weights are powers of two so a score tells which criteria matched.
    for (int id = 1; id <= 7; ++id) {
      for (const char* table : {"CCEDISWEIGHT", "SCEDISWEIGHT"}) {
        Exec(std::string("insert into ") + table + " (ID, WEIGHT) values (?, ?)",
             {Variant(id * 10), Variant(1 << (id - 1))});
      }
    }
    AddUser("cust", {}, "12", "US", "1033", "3");
  }

  void SetManualDispatching(const std::string& value) {
    Exec("delete from PARAMETERS where PARAM_NAME = 'Manual_Dispatching'");
    Exec("insert into PARAMETERS (PARAM_NAME, PARAM_VALUE) values ('Manual_Dispatching', ?)",
         {Variant(value)});
  }

  void AddUser(const std::string& login, std::vector<int32_t> roles, std::string bp = "",
               std::string country = "", std::string language = "1033", std::string regset = "",
               std::string given = "Given", std::string sn = "Name") {
    DirectoryUser user;
    user.login = login;
    user.given_name = given;
    user.surname = sn;
    user.mail = login + "@example.com";
    user.language_id = language;
    user.country = country;
    user.business_partner_id = bp;
    user.registration_set = regset;
    user.engineer_code = "EC-" + login;
    user.roles = std::move(roles);
    DirectoryStore::FromSettings().AddUser(user);
  }

  // A rule row; unset list columns stay null.
  void AddRule(const char* table, const std::string& login, std::map<std::string, Variant> cols,
               int queue = 0, int experience = 0, int automatic = 1) {
    std::string names = "LOGIN, QUEUESIZE, EXPERIENCE, APPLYFORAUTOMATIC, KEYWORD";
    std::string marks = "?, ?, ?, ?, ?";
    Params params{Variant(login), Variant(queue), Variant(experience), Variant(automatic),
                  cols.count("KEYWORD") ? cols["KEYWORD"] : Variant("")};
    cols.erase("KEYWORD");
    for (const auto& [name, value] : cols) {
      names += ", " + name;
      marks += ", ?";
      params.push_back(value);
    }
    Exec(std::string("insert into ") + table + " (" + names + ") values (" + marks + ")", params);
  }

  void RegisteredRequest(int32_t id, int32_t center = 1) {
    Exec("insert into QUESTIONS (Q_ID, Q_STATUS, CENTER) values (?, 5, ?)",
         {Variant(id), Variant(center)});
    Exec("insert into REMINDER (Q_ID, R_STATUS, T1_DATE) values (?, '5', ?)",
         {Variant(id), Variant(testing::kTestNow)});
  }

  void DispatchCc(InspectableDispatch& dispatch, int32_t id, bool automatic,
                  const std::string& text = "", int32_t locale = 1033) {
    RunUnitOfWork([&] { dispatch.DispatchHDS("5", "6", "cust", id, text, automatic, locale); });
  }

  std::filesystem::path ListPath(const std::string& prefix, int32_t id) {
    return install_dir() / "data/files/DispatchFiles" / (prefix + std::to_string(id) + ".xml");
  }

  // Parses an engineer-list file with a real XML parser (it must be well-formed UTF-16).
  EngineerList ReadList(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_GE(bytes.size(), 2u);
    EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xFF);
    EXPECT_EQ(static_cast<unsigned char>(bytes[1]), 0xFE);
    xmlDocPtr doc = xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), "list.xml", nullptr,
                                  XML_PARSE_NONET | XML_PARSE_NOERROR);
    EngineerList list;
    if (doc == nullptr) {
      ADD_FAILURE() << "engineer list is not well-formed XML";
      return list;
    }
    xmlNodePtr root = xmlDocGetRootElement(doc);
    auto text_of = [](xmlNodePtr node) {
      xmlChar* content = xmlNodeGetContent(node);
      std::string out = content ? reinterpret_cast<const char*>(content) : "";
      xmlFree(content);
      return out;
    };
    xmlChar* applied = xmlGetProp(root, BAD_CAST "Rulesapplied");
    list.rules_applied = applied && std::string(reinterpret_cast<char*>(applied)) == "True";
    xmlFree(applied);
    for (xmlNodePtr e = root->children; e; e = e->next) {
      if (e->type != XML_ELEMENT_NODE) continue;
      xmlChar* login = xmlGetProp(e, BAD_CAST "Login");
      list.logins.emplace_back(reinterpret_cast<char*>(login));
      xmlFree(login);
      for (xmlNodePtr child = e->children; child; child = child->next) {
        const std::string name = reinterpret_cast<const char*>(child->name);
        if (name == "Sequence") list.sequences.push_back(text_of(child));
        if (name == "FirstNameDisplay") list.first_names.push_back(text_of(child));
      }
    }
    xmlFreeDoc(doc);
    return list;
  }
};

TEST_P(DispatchTest, ListCriteriaMatchOnlySemicolonEnclosedValues) {
  AddUser("e1", {32});
  AddUser("e2", {32});
  AddRule("CCEDISRULE", "e1",
          {{"BUSPART", Variant(";112;1;")},
           {"COUNTRY", Variant(";US;")},
           {"LANGUAGE", Variant(";1033;")},
           {"PRODCAT", Variant(";5;")},
           {"QUESCAT", Variant("6")},
           {"REGSET", Variant(";3;")}});
  AddRule("CCEDISRULE", "e2",
          {{"BUSPART", Variant(";12;")},
           {"COUNTRY", Variant(";us;")},
           {"LANGUAGE", Variant(";10331;")},
           {"PRODCAT", Variant(";;")},
           {"QUESCAT", Variant(";6;")}});
  RegisteredRequest(1);
  InspectableDispatch dispatch;
  DispatchCc(dispatch, 1, false);
  // e1: country 2 + language 8 + product category 16 + registration set 64; "6" lacks semicolons.
  EXPECT_EQ(dispatch.ScoreOf("e1"), 2 + 8 + 16 + 64);
  // e2: business partner 1 + question category 32; case matters; null REGSET never matches.
  EXPECT_EQ(dispatch.ScoreOf("e2"), 1 + 32);
}

TEST_P(DispatchTest, KeywordPiecesAreSearchedAsWritten) {
  for (const char* login : {"k1", "k2", "k3", "k4", "k5"}) AddUser(login, {32});
  AddRule("CCEDISRULE", "k1", {{"KEYWORD", Variant("printer, scanner")}});
  AddRule("CCEDISRULE", "k2", {{"KEYWORD", Variant("printer,scanner,")}});
  AddRule("CCEDISRULE", "k3", {{"KEYWORD", Variant("")}});
  AddRule("CCEDISRULE", "k4", {{"KEYWORD", Variant("toner,,")}});
  AddRule("CCEDISRULE", "k5", {{"KEYWORD", Variant(",")}});
  RegisteredRequest(1);
  InspectableDispatch with_space;
  DispatchCc(with_space, 1, false, "the scanner jams");
  EXPECT_EQ(with_space.ScoreOf("k1"), 4) << "' scanner' occurs after a blank";
  EXPECT_EQ(with_space.ScoreOf("k2"), 4) << "one trailing comma is dropped";
  EXPECT_EQ(with_space.ScoreOf("k3"), 0) << "an empty keyword never matches";
  EXPECT_EQ(with_space.ScoreOf("k4"), 4) << "an empty piece occurs in every text";
  EXPECT_EQ(with_space.ScoreOf("k5"), 0) << "a lone comma leaves no piece";
  InspectableDispatch without_space;
  DispatchCc(without_space, 1, false, "scanner jams");
  EXPECT_EQ(without_space.ScoreOf("k1"), 0);
  EXPECT_EQ(without_space.ScoreOf("k2"), 4);
}

TEST_P(DispatchTest, WeightsCountByPositionAndMissingOnesWeighNothing) {
  Exec("delete from CCEDISWEIGHT");
  Exec("insert into CCEDISWEIGHT (ID, WEIGHT) values (100, 7), (200, 2.5)");
  AddUser("e1", {32});
  AddRule("CCEDISRULE", "e1",
          {{"BUSPART", Variant(";12;")}, {"COUNTRY", Variant(";US;")}, {"REGSET", Variant(";3;")}});
  RegisteredRequest(1);
  InspectableDispatch dispatch;
  DispatchCc(dispatch, 1, false);
  EXPECT_EQ(dispatch.ScoreOf("e1"), 7 + 2) << "2.5 rounds half to even";
}

TEST_P(DispatchTest, AnEighthWeightRowFailsTheDispatchAndWritesNothing) {
  Exec("insert into CCEDISWEIGHT (ID, WEIGHT) values (80, 1)");
  AddUser("e1", {32});
  AddRule("CCEDISRULE", "e1", {});
  RegisteredRequest(1);
  InspectableDispatch dispatch;
  try {
    DispatchCc(dispatch, 1, true);
    FAIL();
  } catch (const ComError& e) {
    EXPECT_NE(e.description().find("HlqServiceRequestMTS.Dispatch.DispatchHDS"), std::string::npos);
  }
  EXPECT_EQ(Value("select Q_STATUS from QUESTIONS"), Variant(5));
  EXPECT_EQ(Count("TRANSACTIONS"), 0);
}

TEST_P(DispatchTest, ManualListRanksBestFirstWithTheAutomaticTieBreak) {
  for (const char* login : {"a", "b", "c", "d"}) AddUser(login, {32});
  AddUser("norule", {32});
  AddUser("other", {36});
  // Same score for a, b and c; b has the smallest queue, c more experience than a.
  AddRule("CCEDISRULE", "a", {{"COUNTRY", Variant(";US;")}}, 2, 1);
  AddRule("CCEDISRULE", "b", {{"COUNTRY", Variant(";US;")}}, 1, 0);
  AddRule("CCEDISRULE", "c", {{"COUNTRY", Variant(";US;")}}, 2, 5);
  AddRule("CCEDISRULE", "d", {{"PRODCAT", Variant(";5;")}}, 9, 0, 0);
  RegisteredRequest(1);
  InspectableDispatch dispatch;
  DispatchCc(dispatch, 1, false);
  const EngineerList list = ReadList(ListPath("CC_", 1));
  EXPECT_TRUE(list.rules_applied);
  EXPECT_EQ(list.logins, (std::vector<std::string>{"d", "b", "c", "a", "norule"}));
  EXPECT_EQ(list.sequences, (std::vector<std::string>{"1", "2", "3", "4", "5"}));
  const auto calls = files_->calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].operation, "TransferFile");
  EXPECT_EQ(calls[0].kind, 11);
  EXPECT_EQ(calls[0].option4.ToText(), ListPath("CC_", 1).string());
  // The request itself is not touched in manual mode.
  EXPECT_EQ(Value("select Q_STATUS from QUESTIONS"), Variant(5));
}

TEST_P(DispatchTest, EngineerListIsWellFormedWhateverTheNamesHold) {
  AddUser("o'brien&<x>", {36}, "", "IE", "1033", "", "Ann & \"Bo\"", "<Surname-that-is-very-long>");
  SetManualDispatching("0");
  RegisteredRequest(1);
  InspectableDispatch dispatch;
  RunUnitOfWork([&] {
    Variant error;
    dispatch.DispatchAHDS("5", "6", "cust", 1, "", false, 1033, nullptr, error);
  });
  const EngineerList list = ReadList(ListPath("SC_", 1));
  EXPECT_FALSE(list.rules_applied);
  ASSERT_EQ(list.logins.size(), 1u);
  EXPECT_EQ(list.logins[0], "o'brien&<x>");
  EXPECT_EQ(list.sequences, std::vector<std::string>{""}) << "<Sequence/> without rules";
  EXPECT_EQ(list.first_names, std::vector<std::string>{"A."});
}

TEST_P(DispatchTest, EmptyRuleTableWithManualDispatchingListsAllEngineers) {
  AddUser("z1", {32});
  AddUser("z2", {32});
  RegisteredRequest(1);
  InspectableDispatch dispatch;
  DispatchCc(dispatch, 1, false);
  const EngineerList list = ReadList(ListPath("CC_", 1));
  EXPECT_TRUE(list.rules_applied);
  EXPECT_EQ(list.logins, (std::vector<std::string>{"z1", "z2"}));
}

TEST_P(DispatchTest, BadManualDispatchingValueFailsTheDispatch) {
  SetManualDispatching("maybe");
  RegisteredRequest(1);
  InspectableDispatch dispatch;
  EXPECT_THROW(DispatchCc(dispatch, 1, false), ComError);
  EXPECT_FALSE(std::filesystem::exists(ListPath("CC_", 1)));
}

TEST_P(DispatchTest, FileServerFailureBecomesTheFileServerMessage) {
  AddUser("e1", {32});
  AddRule("CCEDISRULE", "e1", {});
  RegisteredRequest(1);
  files_->FailWith(ComError(err::kFileServer, "files", "no space"));
  InspectableDispatch dispatch;
  try {
    DispatchCc(dispatch, 1, false);
    FAIL();
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kFileServer);
    EXPECT_EQ(e.source(), "");
    EXPECT_EQ(e.description(), "Problem with File Server. Contact the administrator.");
  }
}

TEST_P(DispatchTest, AutomaticDispatchAssignsTheBestValidEngineer) {
  AddUser("low", {32});
  AddUser("best", {32});
  AddRule("CCEDISRULE", "low", {{"COUNTRY", Variant(";US;")}}, 0, 0);
  AddRule("CCEDISRULE", "best", {{"COUNTRY", Variant(";US;")}, {"PRODCAT", Variant(";5;")}}, 4);
  RegisteredRequest(1);
  InspectableDispatch dispatch;
  DispatchCc(dispatch, 1, true);
  EXPECT_EQ(Value("select D_DIRECT_TO from QUESTIONS").ToText(), "best");
  EXPECT_EQ(Value("select Q_STATUS from QUESTIONS"), Variant(15));
  EXPECT_EQ(Value("select QUEUESIZE from CCEDISRULE where LOGIN = 'best'"), Variant(5));
  EXPECT_EQ(Value("select R_STATUS from REMINDER").ToText(), "15");
  EXPECT_EQ(Value("select T_COMMENT from TRANSACTIONS").ToText(), "HQLBL3554;;;;best");
  EXPECT_EQ(Value("select T_NAME from TRANSACTIONS").ToText(), "HQLBL3968");
}

TEST_P(DispatchTest, AutomaticTieGoesToTheFirstRowOfTheAutomaticOrder) {
  for (const char* login : {"x", "y", "z"}) AddUser(login, {32});
  AddRule("CCEDISRULE", "x", {}, 3, 9);
  AddRule("CCEDISRULE", "y", {}, 1, 2);
  AddRule("CCEDISRULE", "z", {}, 1, 5);
  AddRule("CCEDISRULE", "manual-only", {{"COUNTRY", Variant(";US;")}}, 0, 0, 0);
  RegisteredRequest(1);
  InspectableDispatch dispatch;
  DispatchCc(dispatch, 1, true);
  EXPECT_EQ(Value("select D_DIRECT_TO from QUESTIONS").ToText(), "z");
}

// A null counter is the smallest value on both databases: no queue comes first, no experience
// last, in the list and in the automatic choice alike.
TEST_P(DispatchTest, NullCountersBreakTiesAlikeOnEveryDatabase) {
  for (const char* login : {"p", "q", "r"}) AddUser(login, {32});
  AddRule("CCEDISRULE", "p", {}, 1, 0);
  AddRule("CCEDISRULE", "q", {}, 0, 0);
  AddRule("CCEDISRULE", "r", {}, 1, 0);
  Exec("update CCEDISRULE set EXPERIENCE = NULL where LOGIN = 'p'");
  Exec("update CCEDISRULE set QUEUESIZE = NULL where LOGIN = 'q'");
  RegisteredRequest(1);
  InspectableDispatch manual;
  DispatchCc(manual, 1, false);
  EXPECT_EQ(ReadList(ListPath("CC_", 1)).logins, (std::vector<std::string>{"q", "r", "p"}));
  InspectableDispatch automatic;
  DispatchCc(automatic, 1, true);
  EXPECT_EQ(Value("select D_DIRECT_TO from QUESTIONS").ToText(), "q");
}

// The ranked part ends at a rule row without a login; members without rules come only after all
// ranked entries, so none of them is listed ahead of a ranked engineer.
TEST_P(DispatchTest, RuleRowWithoutLoginEndsTheListBeforeTheUnrankedMembers) {
  for (const char* login : {"a", "b", "norule"}) AddUser(login, {32});
  AddRule("CCEDISRULE", "a", {{"COUNTRY", Variant(";US;")}, {"PRODCAT", Variant(";5;")}});
  AddRule("CCEDISRULE", "", {{"COUNTRY", Variant(";US;")}});
  AddRule("CCEDISRULE", "b", {});
  RegisteredRequest(1);
  InspectableDispatch dispatch;
  DispatchCc(dispatch, 1, false);
  EXPECT_EQ(dispatch.m_vEngineers, (std::vector<std::string>{"a", "", "b", "norule"}));
  const EngineerList list = ReadList(ListPath("CC_", 1));
  EXPECT_EQ(list.logins, std::vector<std::string>{"a"});
  EXPECT_EQ(list.sequences, std::vector<std::string>{"1"});
}

TEST_P(DispatchTest, VanishedEngineerLosesHisRulesAndTheRequestStays) {
  AddUser("gone-role", {36});
  AddRule("CCEDISRULE", "gone-role", {{"COUNTRY", Variant(";US;")}});
  AddRule("CCEDISRULE", "gone-role", {});
  AddUser("stays", {32});
  AddRule("CCEDISRULE", "stays", {});
  AddRule("SCEDISRULE", "gone-role", {});
  RegisteredRequest(1);
  InspectableDispatch dispatch;
  DispatchCc(dispatch, 1, true);
  EXPECT_EQ(Value("select count(*) from CCEDISRULE where LOGIN = 'gone-role'"), Variant(0));
  EXPECT_EQ(Value("select count(*) from SCEDISRULE"), Variant(1)) << "other family untouched";
  EXPECT_EQ(Value("select Q_STATUS from QUESTIONS"), Variant(5));
  EXPECT_TRUE(Value("select D_DIRECT_TO from QUESTIONS").IsNull());
  const ResultSet log = Rows("select T_NAME, T_STATUS, T_COMMENT from TRANSACTIONS");
  ASSERT_EQ(log.rows.size(), 1u);
  EXPECT_EQ(log.rows[0][0].ToText(), "HQLBL3968");
  EXPECT_EQ(log.rows[0][1].ToText(), "5");
  EXPECT_EQ(log.rows[0][2].ToText(), "HQLBL3994;;;;gone-role");
}

TEST_P(DispatchTest, AllScoresNegativeLeaveNoEngineer) {
  Exec("update CCEDISWEIGHT set WEIGHT = -5");
  AddUser("neg", {32});
  AddRule("CCEDISRULE", "neg", {{"COUNTRY", Variant(";US;")}});
  AddRule("CCEDISRULE", "", {});
  RegisteredRequest(1);
  InspectableDispatch dispatch;
  DispatchCc(dispatch, 1, true);
  EXPECT_EQ(Value("select count(*) from CCEDISRULE where LOGIN = ''"), Variant(0));
  EXPECT_EQ(Value("select count(*) from CCEDISRULE"), Variant(1));
  EXPECT_EQ(Value("select T_COMMENT from TRANSACTIONS").ToText(), "HQLBL3994;;;;");
}

TEST_P(DispatchTest, NoAutomaticRuleMeansNothingHappens) {
  AddUser("e1", {32});
  AddRule("CCEDISRULE", "e1", {}, 0, 0, 0);
  RegisteredRequest(1);
  InspectableDispatch dispatch;
  EXPECT_FALSE(dispatch.AutomaticdispatchingNeededforCC());
  DispatchCc(dispatch, 1, true);
  EXPECT_EQ(Count("TRANSACTIONS"), 0);
  EXPECT_TRUE(dispatch.m_vRuleEngineers.empty());
}

TEST_P(DispatchTest, NullKeywordFailsTheDispatch) {
  AddUser("e1", {32});
  AddRule("CCEDISRULE", "e1", {{"KEYWORD", Variant::Null()}});
  RegisteredRequest(1);
  InspectableDispatch dispatch;
  EXPECT_THROW(DispatchCc(dispatch, 1, true), ComError);
  EXPECT_EQ(Count("TRANSACTIONS"), 0);
}

INSTANTIATE_DATABASE_TEST_SUITE(DispatchTest);

// The demo's engineers, rules and customers, read from the embedded directory or from slapd: the
// same choices and the same engineer lists.
class DemoDirectoryDispatchTest : public DispatchTest {
 protected:
  void SetUp() override {
    DispatchTest::SetUp();
    if (IsSkipped()) return;
    // The demo brings its own parameters and weights; the fixture's two parameters are put back
    // after it.
    for (const char* table : {"PARAMETERS", "CCEDISWEIGHT", "SCEDISWEIGHT"}) {
      Exec(std::string("delete from ") + table);
    }
    LoadDemoData();
    Exec("delete from PARAMETERS where PARAM_NAME = 'DataFileRelativePath'");
    Exec(
        "insert into PARAMETERS (PARAM_NAME, PARAM_VALUE) values ('DataFileRelativePath', "
        "'data\\files/')");
    SetManualDispatching("True");
  }

  void Dispatch(int32_t id, int32_t center, const std::string& text, bool automatic) {
    InspectableDispatch dispatch;
    RunUnitOfWork([&] {
      if (center == 1) {
        dispatch.DispatchHDS("1", "4", "cust1", id, text, automatic, 1033);
      } else {
        Variant error;
        dispatch.DispatchAHDS("1", "4", "cust1", id, text, automatic, 1033, nullptr, error);
      }
    });
  }

  void DispatchesTheDemoAlike() {
    RegisteredRequest(1);
    Dispatch(1, 1, "the printer jams", true);
    EXPECT_EQ(Value("select D_DIRECT_TO from QUESTIONS where Q_ID = 1").ToText(), "cce1");
    EXPECT_EQ(Value("select Q_STATUS from QUESTIONS where Q_ID = 1"), Variant(15));

    RegisteredRequest(2);
    Dispatch(2, 1, "the printer jams", false);
    const EngineerList call_centre = ReadList(ListPath("CC_", 2));
    EXPECT_TRUE(call_centre.rules_applied);
    EXPECT_EQ(call_centre.logins, (std::vector<std::string>{"cce1", "cce2", "cce3"}));
    EXPECT_EQ(call_centre.first_names,
              (std::vector<std::string>{"Emily", "J\xc3\xbcrgen", "Haruki"}));

    RegisteredRequest(3, 2);
    Dispatch(3, 2, "hardware repair", false);
    const EngineerList support_centre = ReadList(ListPath("SC_", 3));
    EXPECT_EQ(support_centre.logins, (std::vector<std::string>{"sce1", "sce2"}));
    EXPECT_EQ(support_centre.first_names, (std::vector<std::string>{"Robert", "M."}));
  }
};

TEST_P(DemoDirectoryDispatchTest, EmbeddedDirectory) {
  testing::UseDirectory(testing::DirectoryKind::kEmbedded);
  DispatchesTheDemoAlike();
}

TEST_P(DemoDirectoryDispatchTest, LdapDirectory) {
  if (!testing::UseDirectory(testing::DirectoryKind::kLdap)) {
    GTEST_SKIP() << "HELIQ_TEST_LDAP is not set";
  }
  DispatchesTheDemoAlike();
}

TEST_P(DemoDirectoryDispatchTest, LdapServerDownFailsTheDispatchAndCommitsNothing) {
  auto server = testing::TestLdap();
  if (!server) GTEST_SKIP() << "HELIQ_TEST_LDAP is not set";
  server->uri = "ldap://127.0.0.1:" + std::to_string(testing::FreePort());
  testing::UseFixtureSettingsWith(testing::MembershipSection(server->bind_dn, server->password) +
                                  testing::LdapDirectorySection(*server, "timeout = 2\n"));
  RegisteredRequest(1);
  const int64_t log_rows = Count("TRANSACTIONS");
  const Variant queue = Value("select QUEUESIZE from CCEDISRULE where LOGIN = 'cce1'");
  try {
    Dispatch(1, 1, "the printer jams", true);
    FAIL() << "dispatched without a directory";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kDbConnection) << e.description();
    EXPECT_NE(e.description().find(server->uri), std::string::npos) << e.description();
  }
  EXPECT_EQ(Value("select Q_STATUS from QUESTIONS where Q_ID = 1"), Variant(5));
  EXPECT_TRUE(Value("select D_DIRECT_TO from QUESTIONS where Q_ID = 1").IsNull());
  EXPECT_EQ(Value("select QUEUESIZE from CCEDISRULE where LOGIN = 'cce1'"), queue);
  EXPECT_EQ(Count("TRANSACTIONS"), log_rows);
  RegisteredRequest(2);
  EXPECT_THROW(Dispatch(2, 1, "", false), ComError);
  EXPECT_FALSE(std::filesystem::exists(ListPath("CC_", 2)));
}

INSTANTIATE_DATABASE_TEST_SUITE(DemoDirectoryDispatchTest);

TEST(SortEngineersTest, StableAscendingWithoutSizeLimit) {
  std::vector<InspectableDispatch::Candidate> rows(70000);
  for (size_t i = 0; i < rows.size(); ++i) {
    rows[i].login = std::to_string(i);
    rows[i].score = static_cast<int64_t>((i * 7919) % 5);
  }
  InspectableDispatch::sortEngineersByScore(rows, 0, rows.size() - 1);
  for (size_t i = 1; i < rows.size(); ++i) {
    ASSERT_LE(rows[i - 1].score, rows[i].score);
    if (rows[i - 1].score == rows[i].score) {
      ASSERT_LT(std::stoul(rows[i - 1].login), std::stoul(rows[i].login)) << "not stable";
    }
  }
}

}  // namespace
}  // namespace heliq
