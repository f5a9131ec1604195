// Dispatching by rules and weights: scoring every rule row against the request, then either
// assigning the best engineer (automatic) or ranking all of them into the engineer list (manual).
#include "servicerequest/dispatch/dispatch.h"

#include <algorithm>
#include <array>
#include <limits>
#include <unordered_set>

#include "common/heliq_utilities.h"
#include "common/lookups.h"
#include "common/operation_frame.h"
#include "servicerequest/dispatch/src/truth_value.h"

namespace heliq {
namespace {

constexpr std::string_view kDispatchHdsSource = "HlqServiceRequestMTS.Dispatch.DispatchHDS";
constexpr std::string_view kDispatchAhdsSource = "HlqServiceRequestMTS.Dispatch.DispatchAHDS";
constexpr std::string_view kNeededCcSource =
    "HlqServiceRequestMTS.Dispatch.AutomaticdispatchingNeededforCC";
constexpr std::string_view kNeededScSource =
    "HlqServiceRequestMTS.Dispatch.AutomaticdispatchingNeededforSC";
constexpr std::string_view kSelectSource = "HlqServiceRequestMTS.Dispatch.selectandAssign";
constexpr std::string_view kListSource = "HlqServiceRequestMTS.Dispatch.createEngineersList";
constexpr std::string_view kOthersSource =
    "HlqServiceRequestMTS.Dispatch.checkAndAddotherEngineers";
constexpr std::string_view kNoRulesSource =
    "HlqServiceRequestMTS.Dispatch.createListWithoutDispatchRule";
constexpr std::string_view kFileServerMessage =
    "Problem with File Server. Contact the administrator.";

// The statements of one engineer family. A null counter sorts as the smallest value on every
// database (the databases disagree by default), so ties break alike on SQLite and PostgreSQL.
struct FamilySql {
  std::string_view weights;
  std::string_view automatic_rules;
  std::string_view manual_rules;
  std::string_view any_automatic;
};

constexpr FamilySql kCallCentreSql{
    "SELECT * FROM CCEDISWEIGHT ORDER BY ID",
    "SELECT * FROM CCEDISRULE WHERE APPLYFORAUTOMATIC = 1 ORDER BY QUEUESIZE NULLS FIRST, "
    "EXPERIENCE DESC NULLS LAST, LOGIN",
    "SELECT * FROM CCEDISRULE ORDER BY QUEUESIZE DESC NULLS LAST, "
    "EXPERIENCE NULLS FIRST, LOGIN DESC",
    "SELECT LOGIN FROM CCEDISRULE WHERE APPLYFORAUTOMATIC = 1 LIMIT 1"};
constexpr FamilySql kSupportCentreSql{
    "SELECT * FROM SCEDISWEIGHT ORDER BY ID",
    "SELECT * FROM SCEDISRULE WHERE APPLYFORAUTOMATIC = 1 ORDER BY QUEUESIZE NULLS FIRST, "
    "EXPERIENCE DESC NULLS LAST, LOGIN",
    "SELECT * FROM SCEDISRULE ORDER BY QUEUESIZE DESC NULLS LAST, "
    "EXPERIENCE NULLS FIRST, LOGIN DESC",
    "SELECT LOGIN FROM SCEDISRULE WHERE APPLYFORAUTOMATIC = 1 LIMIT 1"};

const FamilySql& SqlFor(int32_t role) {
  return role == kCallCentreRole ? kCallCentreSql : kSupportCentreSql;
}

constexpr size_t kCriteria = 7;
// Criteria in weight order; the keyword criterion (index 2) is scored separately.
constexpr std::array<std::string_view, kCriteria> kRuleColumns = {
    "BUSPART", "COUNTRY", "KEYWORD", "LANGUAGE", "PRODCAT", "QUESCAT", "REGSET"};
constexpr size_t kKeywordCriterion = 2;

// A Manual_Dispatching value that is not a truth value (absent included) fails the dispatch.
bool ReadTruthValue(const std::string& text) {
  if (auto value = internal::ParseTruthValue(text)) return *value;
  throw ComError(err::kTypeMismatch, "Dispatch",
                 "the parameter Manual_Dispatching is not a truth value: '" + text + "'");
}

// A whole number attribute of the directory as decimal text; a missing attribute counts as 0.
std::string NumberText(const std::string& attribute, int64_t min, int64_t max) {
  if (Variant(attribute).IsBlank()) return "0";
  const int64_t value = Variant(attribute).ToLongLong();
  if (value < min || value > max) throw ComError::Of(err::kOverflow);
  return std::to_string(value);
}

// The column holds `value` enclosed in semicolons. A null column never matches.
bool ListMatches(const Variant& column, const std::string& enclosed) {
  if (column.IsNull()) return false;
  return column.ToText().find(enclosed) != std::string::npos;
}

// The first comma-separated keyword (one trailing comma dropped, pieces not trimmed) that occurs
// in the text.
bool KeywordMatches(const Variant& column, const std::string& text) {
  std::string keywords = column.ToText();  // null raises: a null keyword fails the dispatch
  if (!keywords.empty() && keywords.back() == ',') keywords.pop_back();
  if (keywords.empty()) return false;  // no pieces at all
  size_t start = 0;
  while (true) {
    const size_t comma = keywords.find(',', start);
    const std::string piece = keywords.substr(start, comma - start);
    if (text.find(piece) != std::string::npos && !(piece.empty() && text.empty())) return true;
    if (comma == std::string::npos) return false;
    start = comma + 1;
  }
}

}  // namespace

bool Dispatch::AutomaticdispatchingNeededforCC() {
  return RunOperation(kNeededCcSource, [&] {
    auto connection = GetHeliqConnection();
    return !connection->Query(kCallCentreSql.any_automatic).rows.empty();
  });
}

bool Dispatch::AutomaticdispatchingNeededforSC() {
  return RunOperation(kNeededScSource, [&] {
    auto connection = GetHeliqConnection();
    return !connection->Query(kSupportCentreSql.any_automatic).rows.empty();
  });
}

void Dispatch::DispatchHDS(const std::string& product_category,
                           const std::string& question_category, const std::string& user_id,
                           int32_t question_id, const std::string& text, bool automatic,
                           int32_t login_locale) {
  Variant error;
  DispatchFamily(kCallCentreRole, product_category, question_category, user_id, question_id, text,
                 automatic, login_locale, nullptr, error);
}

std::string Dispatch::DispatchAHDS(const std::string& product_category,
                                   const std::string& question_category, const std::string& user_id,
                                   int32_t question_id, const std::string& text, bool automatic,
                                   int32_t login_locale, const DictionaryPtr& call_details,
                                   Variant& error) {
  return DispatchFamily(kSupportCentreRole, product_category, question_category, user_id,
                        question_id, text, automatic, login_locale, call_details, error);
}

RankedEngineers Dispatch::RankEngineers(int32_t role, const std::string& product_category,
                                        const std::string& question_category,
                                        const std::string& user_id, const std::string& text,
                                        int32_t login_locale) {
  // The manual dispatch itself, with the file diverted: one ranking for the file and the list.
  RankedEngineers list;
  listing_ = &list;
  struct Restore {
    RankedEngineers*& target;
    ~Restore() { target = nullptr; }
  } restore{listing_};
  Variant error;
  DispatchFamily(role, product_category, question_category, user_id, 0, text, false, login_locale,
                 nullptr, error);
  return list;
}

std::string Dispatch::DispatchFamily(int32_t role, const std::string& product_category,
                                     const std::string& question_category,
                                     const std::string& user_id, int32_t question_id,
                                     const std::string& text, bool automatic, int32_t login_locale,
                                     const DictionaryPtr& call_details, Variant& error) {
  try {
    role_members_.reset();
    const FamilySql& sql = SqlFor(role);
    if (automatic) {
      const bool needed = role == kCallCentreRole ? AutomaticdispatchingNeededforCC()
                                                  : AutomaticdispatchingNeededforSC();
      if (!needed) return "";
    } else {
      m_sManualDispatching = GetParamValue("Manual_Dispatching");
      if (!ReadTruthValue(m_sManualDispatching)) {
        createListWithoutDispatchRule(question_id, role, login_locale);
        return "";
      }
    }

    auto connection = GetHeliqConnection();
    std::array<int64_t, kCriteria> weights{};
    const ResultSet weight_rows = connection->Query(sql.weights);
    const int weight_column = weight_rows.ColumnIndex("WEIGHT");
    for (size_t i = 0; i < weight_rows.rows.size(); ++i) {
      if (i >= kCriteria) {
        throw ComError(err::kSubscriptOutOfRange, "Dispatch",
                       "the weight table has more than seven rows");
      }
      weights[i] = weight_rows.rows[i][static_cast<size_t>(weight_column)].ToLong();
    }

    std::array<std::string, kCriteria> enclosed;
    {
      auto user = getUserObject(user_id);
      enclosed[0] = ";" + NumberText(user->BusinessPartnerId(), INT32_MIN, INT32_MAX) + ";";
      enclosed[1] = ";" + user->Country() + ";";
      enclosed[3] = ";" + user->LanguageId() + ";";
      enclosed[4] = ";" + product_category + ";";
      enclosed[5] = ";" + question_category + ";";
      enclosed[6] = ";" + NumberText(user->RegistrationSet(), INT16_MIN, INT16_MAX) + ";";
    }

    const ResultSet rules = connection->Query(automatic ? sql.automatic_rules : sql.manual_rules);
    if (rules.rows.empty() && !automatic) {
      connection.reset();
      createListWithoutDispatchRule(question_id, role, login_locale);
      return "";
    }
    std::array<int, kCriteria> columns;
    for (size_t k = 0; k < kCriteria; ++k) columns[k] = rules.ColumnIndex(kRuleColumns[k]);
    const int login_column = rules.ColumnIndex("LOGIN");
    const int queue_column = rules.ColumnIndex("QUEUESIZE");
    const int experience_column = rules.ColumnIndex("EXPERIENCE");

    m_vRuleEngineers.assign(rules.rows.size(), Candidate{});
    m_vEngineers.assign(rules.rows.size(), std::string());
    for (size_t i = 0; i < rules.rows.size(); ++i) {
      const auto& row = rules.rows[i];
      Candidate& candidate = m_vRuleEngineers[i];
      candidate.login = row[static_cast<size_t>(login_column)].ToTextOrEmpty();
      for (size_t k = 0; k < kCriteria; ++k) {
        const Variant& column = row[static_cast<size_t>(columns[k])];
        const bool matches = k == kKeywordCriterion ? KeywordMatches(column, text)
                                                    : ListMatches(column, enclosed[k]);
        if (matches) candidate.score += weights[k];
      }
      candidate.queue_size = row[static_cast<size_t>(queue_column)];
      candidate.experience = row[static_cast<size_t>(experience_column)];
    }
    connection.reset();

    if (automatic) return selectandAssign(question_id, role, login_locale, call_details, error);
    createEngineersList(question_id, role, login_locale);
    return "";
  } catch (...) {
    AbortContext();
    if (CurrentError().number() == err::kFileServer) {
      throw ComError(err::kFileServer, "", std::string(kFileServerMessage));
    }
    ReportError(role == kCallCentreRole ? kDispatchHdsSource : kDispatchAhdsSource);
    throw;
  }
}

std::string Dispatch::selectandAssign(int32_t question_id, int32_t role, int32_t login_locale,
                                      const DictionaryPtr& call_details, Variant& error) {
  return RunOperation(kSelectSource, [&]() -> std::string {
    // From the last row up, ">=" lets an earlier row of the same score win: the automatic query's
    // order (smallest queue, most experience, login) breaks ties.
    int64_t best_score = 0;
    std::string best_login;
    for (auto it = m_vRuleEngineers.rbegin(); it != m_vRuleEngineers.rend(); ++it) {
      if (it->score >= best_score) {
        best_score = it->score;
        best_login = it->login;
      }
    }
    if (!isValidEngineer(best_login, role)) {
      if (role == kCallCentreRole) {
        DeleteCCEDispatchRules(best_login);
      } else {
        DeleteSCEDispatchRules(best_login);
      }
      UpdateTransactionLog(question_id, best_login);
      return "";
    }
    auto details = Dictionary::Create();
    details->Set("Q_ID", Variant(question_id));
    details->Set("D_DIRECT_TO", Variant(best_login));
    details->Set("T_NAME", Variant("HQLBL3968"));
    details->Set("T_COMMENT", Variant("HQLBL3554;;;;" + best_login));
    details->Set("USERCOMMENT", Variant(""));
    if (role == kCallCentreRole) {
      assignQuestiontoCCE(details);
      return "";
    }
    if (!call_details) {
      throw ComError(err::kArgumentNotOptional, "Dispatch",
                     "automatic support-centre dispatching needs the call details");
    }
    return assignQuestiontoSCE(details, call_details,
                               call_details->Get("BACKOFFICEAPPLICATION").ToLong(), error, true);
  });
}

void Dispatch::createEngineersList(int32_t question_id, int32_t role, int32_t login_locale) {
  try {
    if (!m_vRuleEngineers.empty()) {
      sortEngineersByScore(m_vRuleEngineers, 0, m_vRuleEngineers.size() - 1);
    }
    // Best first; among equal scores the reverse of the manual query's order, which is the
    // automatic order: smallest queue, most experience, login.
    const size_t n = m_vRuleEngineers.size();
    m_vEngineers.assign(n, std::string());
    for (size_t k = 0; k < n; ++k) m_vEngineers[k] = m_vRuleEngineers[n - 1 - k].login;
    checkAndAddotherEngineers(role);
    makeXMLforEngineers(question_id, role, login_locale);
  } catch (...) {
    if (CurrentError().number() == err::kFileServer) {
      throw ComError(err::kFileServer, "", std::string(kFileServerMessage));
    }
    ReportError(kListSource);
    throw;
  }
}

void Dispatch::sortEngineersByScore(std::vector<Candidate>& candidates, size_t lo, size_t hi) {
  if (lo >= hi || hi >= candidates.size()) return;
  std::stable_sort(candidates.begin() + static_cast<std::ptrdiff_t>(lo),
                   candidates.begin() + static_cast<std::ptrdiff_t>(hi) + 1,
                   [](const Candidate& a, const Candidate& b) { return a.score < b.score; });
}

void Dispatch::checkAndAddotherEngineers(int32_t role) {
  RunOperation(kOthersSource, [&] {
    const MemberTable& members = RoleMembers(role);
    if (members.row_count() == 0) return;
    std::unordered_set<std::string> with_rules;
    for (const auto& candidate : m_vRuleEngineers) with_rules.insert(candidate.login);
    // Members go after all N ranked entries, empty ones included: the file ends at the first
    // empty login, so a rule row without a login ends the list rather than letting unranked
    // members in ahead of the ranked ones behind it.
    for (int32_t i = 0; i < members.row_count(); ++i) {
      const std::string& login = members.Value(static_cast<size_t>(i), "cn");
      if (!with_rules.count(login)) m_vEngineers.push_back(login);
    }
  });
}

void Dispatch::createListWithoutDispatchRule(int32_t question_id, int32_t role,
                                             int32_t login_locale) {
  try {
    const MemberTable& members = RoleMembers(role);
    m_vEngineers.clear();
    for (int32_t i = 0; i < members.row_count(); ++i) {
      m_vEngineers.push_back(members.Value(static_cast<size_t>(i), "cn"));
    }
    makeXMLforEngineers(question_id, role, login_locale);
  } catch (...) {
    if (CurrentError().number() == err::kFileServer) {
      throw ComError(err::kFileServer, "", std::string(kFileServerMessage));
    }
    ReportError(kNoRulesSource);
    throw;
  }
}

const MemberTable& Dispatch::RoleMembers(int32_t role) {
  if (!role_members_ || role_members_role_ != role) {
    role_members_ = getMembersObject()->ListRoleMembers(role, "givenname,sn,mail,languageid,c");
    role_members_role_ = role;
  }
  return *role_members_;
}

void RegisterDispatchComponent() {
  ComponentRegistry::Global().Register(kDispatchClassId,
                                       [] { return std::make_unique<Dispatch>(); });
}

}  // namespace heliq
