// Dispatch: choosing an engineer for a request by rules and weights, engineer lists for manual
// dispatching, assignment to engineers and queues, and the engineers' counters.
// Registered as "HlqServiceRequestMTS.Dispatch".
//
// Two families of engineers: call centre (role 32, tables CCEDISRULE / CCEDISWEIGHT) and support
// centre (role 36, SCEDISRULE / SCEDISWEIGHT). Writes belong to the caller's unit of work; the
// back office, the directory and the file store are outside it. Failures vote abort and are
// reported under "HlqServiceRequestMTS.Dispatch.<operation>" (re-raised), except where an
// operation's comment says otherwise.
//
// Thread safety: an object keeps the candidate table and engineer list of the one dispatch it is
// running; use one object per call. Separate objects may run concurrently.
#ifndef HELIQ_SERVICEREQUEST_DISPATCH_DISPATCH_H_
#define HELIQ_SERVICEREQUEST_DISPATCH_DISPATCH_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/directory.h"
#include "platform/component.h"
#include "platform/variant.h"

namespace heliq {

inline constexpr std::string_view kDispatchClassId = "HlqServiceRequestMTS.Dispatch";

inline constexpr int32_t kCallCentreRole = 32;
inline constexpr int32_t kSupportCentreRole = 36;

// One engineer of the engineer list, as its file shows him. `sequence` is his position from 1
// when the rules applied, 0 otherwise.
struct RankedEngineer {
  std::string login;
  int32_t sequence = 0;
  std::string first_name_display, last_name_display, first_name, last_name, mail, language, country;
};

struct RankedEngineers {
  bool rules_applied = false;
  std::vector<RankedEngineer> engineers;
};

class Dispatch : public Component {
 public:
  // --- Dispatching (rules, weights, ranking) ---

  // Dispatches a request to the call centre. Automatic: assigns it to the best-scored engineer
  // (nothing happens when no rule takes part in automatic dispatching). Manual: writes the ranked
  // engineer-list file. A file-server failure raises err::kFileServer with the description
  // "Problem with File Server. Contact the administrator." and an empty source.
  virtual void DispatchHDS(const std::string& product_category,
                           const std::string& question_category, const std::string& user_id,
                           int32_t question_id, const std::string& text, bool automatic,
                           int32_t login_locale);
  // The same for the support centre. Automatic mode needs `call_details` holding
  // BACKOFFICEAPPLICATION and returns the back-office call number ("" otherwise); a back-office
  // refusal comes back in `error`.
  virtual std::string DispatchAHDS(const std::string& product_category,
                                   const std::string& question_category, const std::string& user_id,
                                   int32_t question_id, const std::string& text, bool automatic,
                                   int32_t login_locale, const DictionaryPtr& call_details,
                                   Variant& error);
  // The engineer list that a manual dispatch of a request with these values would write to its
  // file (role 32 or 36), ranked and filled the same way, without writing or handing on a file.
  // Reads only. Fails as the manual dispatch would (reported under its DispatchHDS/DispatchAHDS
  // source).
  virtual RankedEngineers RankEngineers(int32_t role, const std::string& product_category,
                                        const std::string& question_category,
                                        const std::string& user_id, const std::string& text,
                                        int32_t login_locale);
  // True when at least one rule row of the family takes part in automatic dispatching.
  virtual bool AutomaticdispatchingNeededforCC();
  virtual bool AutomaticdispatchingNeededforSC();

  // --- Assignment ---

  // Directs a request to the call-centre engineer details D_DIRECT_TO (status 15, or 20 when it
  // was neither 5 nor 15; only for CENTER 1), moving the queue sizes, logging "15".
  virtual void assignQuestiontoCCE(const DictionaryPtr& details);
  // Directs a request to a support-centre engineer; automatic runs open a back-office call first
  // and return its number. A refusal is returned in `error` and logged, not raised.
  virtual std::string assignQuestiontoSCE(const DictionaryPtr& details,
                                          const DictionaryPtr& call_details, int32_t backend,
                                          Variant& error, bool automatic = false);
  // Passes a request to the support-centre queue (status 5, CENTER 2) with a new back-office call.
  virtual std::string AssignQuestionToSCQueue(const DictionaryPtr& details, int32_t backend,
                                              Variant& error);
  // Moves a support-centre request to another support-centre engineer.
  virtual void ReassignQuestiontoSCE(const DictionaryPtr& details, Variant& error);

  // --- Counters: the rule row of the engineer the request is directed to now ---

  virtual void updateQueuesizeofCCE(int32_t question_id, int32_t change);
  virtual void updateExperienceofCCE(int32_t question_id);
  virtual void updateQueuesizeofSCE(int32_t question_id, int32_t change);
  virtual void updateExperienceofSCE(int32_t question_id);

 protected:
  // One row of the candidate table: a rule row and its score.
  struct Candidate {
    std::string login;
    int64_t score = 0;
    Variant queue_size;
    Variant experience;
  };

  // Chooses the best candidate and assigns the request (automatic mode); returns the call number
  // of a support-centre assignment.
  std::string selectandAssign(int32_t question_id, int32_t role, int32_t login_locale,
                              const DictionaryPtr& call_details, Variant& error);
  // Ranks the candidates into the engineer list, adds engineers without rules, writes the file.
  void createEngineersList(int32_t question_id, int32_t role, int32_t login_locale);
  // Appends the role's members that have no rule row to the engineer list.
  void checkAndAddotherEngineers(int32_t role);
  // Engineer list of all members of the role, unranked, and its file.
  void createListWithoutDispatchRule(int32_t question_id, int32_t role, int32_t login_locale);
  // Stable ascending sort of candidates[lo..hi] (inclusive, zero-based) by score.
  static void sortEngineersByScore(std::vector<Candidate>& candidates, size_t lo, size_t hi);

  // Writes the engineer-list file "CC_<id>.xml" / "SC_<id>.xml" and hands it to the file store;
  // while RankEngineers runs, keeps the list in `listing_` instead.
  void makeXMLforEngineers(int32_t question_id, int32_t role, int32_t login_locale);
  // The engineer list's entries with the directory attributes the file shows.
  RankedEngineers BuildEngineerList(int32_t role, int32_t login_locale);
  // Folder of the engineer-list files, ending in "/".
  std::string getXMLPath();
  std::unique_ptr<MembershipUser> getUserObject(std::string_view login);
  std::unique_ptr<MembershipMembers> getMembersObject();
  // True when the login exists in the directory and holds the role; false when a lookup fails.
  bool isValidEngineer(std::string_view login, int32_t role);

  // Stores the contract and warranty details of a new back-office call (once per call number).
  void InsertCallDetail(const DictionaryPtr& call_result);
  // Logs that the chosen engineer has vanished from the directory or lost the role.
  void UpdateTransactionLog(int32_t question_id, std::string_view login);

  std::vector<Candidate> m_vRuleEngineers;
  std::vector<std::string> m_vEngineers;
  std::string m_sManualDispatching;

 private:
  // The members of `role` with the attributes the engineer list shows, read once per dispatch:
  // adding engineers without rules and writing the list share one directory query.
  const MemberTable& RoleMembers(int32_t role);
  std::optional<MemberTable> role_members_;
  int32_t role_members_role_ = 0;
  // Set while RankEngineers runs: where the list goes instead of the file.
  RankedEngineers* listing_ = nullptr;

  // The shared body of DispatchHDS and DispatchAHDS.
  std::string DispatchFamily(int32_t role, const std::string& product_category,
                             const std::string& question_category, const std::string& user_id,
                             int32_t question_id, const std::string& text, bool automatic,
                             int32_t login_locale, const DictionaryPtr& call_details,
                             Variant& error);
};

// Registers the "HlqServiceRequestMTS.Dispatch" component.
void RegisterDispatchComponent();

}  // namespace heliq

#endif  // HELIQ_SERVICEREQUEST_DISPATCH_DISPATCH_H_
