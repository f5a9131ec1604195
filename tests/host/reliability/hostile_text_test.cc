// Hostile texts in every text argument of every public operation: walks the operation table, calls
// each row with quotes, SQL fragments, an embedded NUL, invalid UTF-8 and a very long text in all
// its text parameters and in the text keys of its dictionaries. Each call must either store the
// text verbatim or refuse with a clear error and roll back; no text may ever run as SQL.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/com_error.h"
#include "platform/operation_table.h"
#include "tests/host/reliability/request_load.h"
#include "tests/support/database_fixture.h"

namespace heliq {
namespace {

using testing::DatabaseTest;

constexpr int32_t kBystander = 4000;
constexpr int32_t kFirstVictim = 5000;

constexpr std::string_view kInsertRequest =
    "insert into QUESTIONS (Q_ID, Q_STATUS, CENTER, D_DIRECT_TO, Q_DESC, Q_ORIGINATOR) "
    "values (?, 25, 1, 'eng1', 'plain', 'cust')";
constexpr std::string_view kInsertReminder =
    "insert into REMINDER (Q_ID, R_STATUS, T1_DATE) values (?, '25', ?)";
constexpr std::string_view kInsertCanary =
    "insert into PARAMETERS (PARAM_NAME, PARAM_VALUE) values ('Canary', 'untouched')";
constexpr std::string_view kSelectCanary =
    "select PARAM_VALUE from PARAMETERS where PARAM_NAME = 'Canary'";
constexpr std::string_view kSelectRequest =
    "select Q_STATUS, Q_DESC, D_DIRECT_TO from QUESTIONS where Q_ID = ?";
constexpr std::string_view kCountRequestLog = "select count(*) from TRANSACTIONS where Q_ID = ?";

// Tables whose every text cell is checked for mangled hostile texts.
const char* const kStoredTables[] = {"QUESTIONS", "QUESTIONHISTORY", "TRANSACTIONS", "REMINDER",
                                     "PROSPECT",  "DAEMON",          "CALLDETAIL",   "PARAMETERS",
                                     "PREVIEW",   "FAQLIST",         "CCEDISRULE",   "SCEDISRULE"};

// Each text is framed by <hN> ... </hN> so a stored copy that lost its end shows.
std::vector<std::string> HostileTexts() {
  std::vector<std::string> texts = {
      "O'Brien's \"quoted\" text; -- ' OR '1'='1",
      "x'); DELETE FROM PARAMETERS; --",
      "'; UPDATE QUESTIONS SET Q_STATUS = 999 WHERE 1=1; --",
      std::string("nul\0inside", 10),
      "bad \xC3\x28 utf8 \xFF\xFE",
      "{ts '2009-01-01 00:00:00'} \\ % _ ? :name $1 &amp; <b>",
  };
  std::string long_text;
  while (long_text.size() < 100000) long_text += "ab'cd\"ef;";
  texts.push_back(long_text);
  for (size_t i = 0; i < texts.size(); ++i) {
    const std::string n = std::to_string(i);
    texts[i] = "<h" + n + ">" + texts[i] + "</h" + n + ">";
  }
  return texts;
}

// Details keys that carry free text somewhere in the operations.
const char* const kTextKeys[] = {
    "T_NAME",       "T_COMMENT",  "USERCOMMENT", "Q_DESC",       "Q_TEXT",       "Q_TEXT1",
    "Q_ORIGINATOR", "EMAILID",    "INFORMATION", "BP_NUMBER",    "Q_PRODUCT",    "Q_REPORTED",
    "Q_SITE",       "Q_OBJECT",   "Q_OBJECTNR",  "A_TEXT",       "A_LINK",       "S_TEXT",
    "S_LINK",       "PROBLEM",    "SOLUTION",    "ACTIVITY",     "SOLUTIONTEXT", "CancelledBy",
    "ACTIONDONEBY", "CALLNUMBER", "Q_CALL",      "SERVICEORDER", "WAITINGDESC",  "SUPPORTENGCODE",
    "LASTTRANSTIME"};

DictionaryPtr HostileDetails(int32_t id, const std::string& text) {
  auto d = Dictionary::Create();
  d->Set("Q_ID", Variant(id));
  d->Set("CENTER", Variant(1));
  d->Set("FromStatus", Variant(25));
  d->Set("Q_STATUS", Variant(25));
  for (const char* key : kTextKeys) d->Set(key, Variant(text));
  return d;
}

// The operation's arguments with `text` in every text-like place; false when it takes none.
bool HostileArguments(const OperationSpec& spec, int32_t id, const std::string& text,
                      Dictionary* args) {
  bool takes_text = false;
  for (const ParamSpec& param : spec.params) {
    switch (param.kind) {
      case ParamKind::kText:
      case ParamKind::kVariant:
        args->Set(param.name, Variant(text));
        takes_text = true;
        break;
      case ParamKind::kDictionary:
        args->Set(param.name, Variant(HostileDetails(id, text)));
        takes_text = true;
        break;
      case ParamKind::kLong:
        args->Set(param.name, Variant(id));
        break;
      case ParamKind::kBool:
        args->Set(param.name, Variant(false));
        break;
      case ParamKind::kDate:
        args->Set(param.name, Variant(Now()));
        break;
      case ParamKind::kArray: {
        auto array = std::make_shared<Array>();
        array->push_back(Variant(id));
        args->Set(param.name, Variant(array));
        break;
      }
    }
  }
  return takes_text;
}

class HostileTextTest : public DatabaseTest {};

TEST_P(HostileTextTest, EveryOperationStoresHostileTextsVerbatimOrRefusesThem) {
  testing::SeedLoad(db(), 0);
  Exec(kInsertCanary);
  const std::vector<std::string> texts = HostileTexts();
  auto add_request = [&](int32_t id) {
    Exec(kInsertRequest, {Variant(id)});
    Exec(kInsertReminder, {Variant(id), Variant(Now())});
  };
  add_request(kBystander);
  const int64_t parameters = Count("PARAMETERS");

  int32_t next = kFirstVictim;
  int calls = 0;
  int refusals = 0;
  for (const OperationSpec* spec : ListOperations()) {
    for (const std::string& text : texts) {
      const int32_t id = next++;
      add_request(id);
      Dictionary args;
      if (!HostileArguments(*spec, id, text, &args)) break;
      SCOPED_TRACE(spec->class_id + "." + spec->name + " with " + text.substr(0, 40));
      ++calls;
      try {
        CallOperation(*spec, args);
      } catch (const ComError& e) {
        ++refusals;
        EXPECT_NE(e.number(), 0);
        EXPECT_FALSE(e.description().empty());
        EXPECT_NE(e.number(), err::kDbSyntax) << "a text reached the SQL: " << e.description();
        // A refused call is rolled back: the request has no log row and is as it was.
        EXPECT_EQ(Value(kCountRequestLog, {Variant(id)}).ToLongLong(), 0);
        const ResultSet row = Rows(kSelectRequest, {Variant(id)});
        if (!row.rows.empty()) {
          EXPECT_EQ(row.rows[0][0].ToLong(), 25);
        }
      } catch (const std::exception& e) {
        ADD_FAILURE() << "not a ComError: " << e.what();
      }
    }
  }
  EXPECT_GT(calls, 100) << "the walk should reach most of the operation table";
  EXPECT_LT(refusals, calls) << "every call refused: the walk proves nothing about storage";

  // Nothing ran as SQL: the canary, the other parameters and the bystander request are intact.
  EXPECT_EQ(Value(kSelectCanary), Variant("untouched"));
  EXPECT_EQ(Count("PARAMETERS"), parameters);
  const ResultSet bystander = Rows(kSelectRequest, {Variant(kBystander)});
  ASSERT_EQ(bystander.rows.size(), 1u);
  EXPECT_EQ(bystander.rows[0][0].ToLong(), 25);
  EXPECT_EQ(bystander.rows[0][1].ToTextOrEmpty(), "plain");
  EXPECT_EQ(bystander.rows[0][2].ToTextOrEmpty(), "eng1");
  EXPECT_EQ(Value(kCountRequestLog, {Variant(kBystander)}).ToLongLong(), 0);

  // Whatever was stored is the whole text: a cell that holds the start of a hostile text holds
  // all of it.
  int stored = 0;
  for (const char* table : kStoredTables) {
    const ResultSet rows = Rows("select * from " + std::string(table));
    for (const auto& row : rows.rows) {
      for (size_t c = 0; c < row.size(); ++c) {
        if (row[c].type() != Variant::Type::kText) continue;
        const std::string cell = row[c].ToText();
        for (size_t i = 0; i < texts.size(); ++i) {
          const std::string start = "<h" + std::to_string(i) + ">";
          if (cell.find(start) == std::string::npos) continue;
          ++stored;
          EXPECT_NE(cell.find(texts[i]), std::string::npos)
              << table << "." << rows.columns[c] << " holds a mangled copy of text " << i << ": "
              << cell.substr(0, 80);
        }
      }
    }
  }
  EXPECT_GT(stored, 0) << "no hostile text was stored anywhere";
}

INSTANTIATE_DATABASE_TEST_SUITE(HostileTextTest);

}  // namespace
}  // namespace heliq
