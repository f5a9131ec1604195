// The road of one call-centre request as the benchmarks drive it: the front end's own insert of
// the unregistered row, then six public operations (register, automatic dispatch, take in hand,
// answer, accept, close), each one call. Also the demo population the road needs: a customer and
// four call-centre engineers with automatic rule rows.
#ifndef HELIQ_BENCH_ROAD_STEPS_H_
#define HELIQ_BENCH_ROAD_STEPS_H_

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "bench/bench_installation.h"
#include "platform/variant.h"

namespace heliq::bench {

struct RoadStep {
  std::string class_id;
  std::string operation;
  nlohmann::ordered_json arguments;
};

// The six operation calls of the road of request `id` (created before).
inline std::vector<RoadStep> RoadSteps(int32_t id) {
  const std::string question = "HlqServiceRequestMTS.Question";
  auto details = [&](const char* comment) {
    return nlohmann::ordered_json{
        {"Q_ID", id}, {"T_NAME", "cce1"}, {"T_COMMENT", comment}, {"USERCOMMENT", ""}};
  };
  auto registration = details("new");
  registration["T_NAME"] = "customer";
  registration["CENTER"] = 1;
  registration["Q_DESC"] = "Printer jams";
  registration["Q_ORIGINATOR"] = "customer";
  auto answer = details("answered");
  answer["A_TEXT"] = "Open the tray";
  return {
      {question, "RegisterQuestion", {{"i_dictDetails", registration}}},
      {"HlqServiceRequestMTS.Dispatch",
       "DispatchHDS",
       {{"i_sPCategory", "5"},
        {"i_sQCategory", "6"},
        {"i_sUserId", "customer"},
        {"i_lQID", id},
        {"i_sText", "jam"},
        {"i_bAutomatic", true},
        {"i_lLoginLocale", 1033}}},
      {question, "TakeInHand", {{"i_dictDetails", details("mine")}}},
      {question, "AnswerQuestion", {{"i_dictDetails", answer}}},
      {question, "AcceptQuestion", {{"i_dictDetails", details("thanks")}}},
      {question, "CloseQuestion", {{"i_dictDetails", details("done")}}},
  };
}

// The fields of the front end's insert (CreateUnregisteredRequest).
inline Dictionary RoadRequestFields() {
  Dictionary fields;
  fields.Set("Q_DESC", Variant("Printer jams"));
  fields.Set("Q_TEXT", Variant("It is jammed"));
  fields.Set("Q_ORIGINATOR", Variant("customer"));
  return fields;
}

inline const std::vector<std::string>& RoadEngineers() {
  static const std::vector<std::string> engineers = {"cce1", "cce2", "cce3", "cce4"};
  return engineers;
}

// Customer, engineers and their rule rows, and the reminder time the answer reads.
inline void PopulateRoad(const Installation& installation) {
  auto db = installation.Session();
  db->Begin(true);
  db->Execute("INSERT INTO PARAMETERS (PARAM_NAME, PARAM_VALUE) VALUES ('Reminder_Time', '24')",
              {});
  for (const auto& login : RoadEngineers()) {
    db->Execute(
        "INSERT INTO CCEDISRULE (LOGIN, QUEUESIZE, EXPERIENCE, APPLYFORAUTOMATIC, KEYWORD) "
        "VALUES (?, 0, 0, 1, '')",
        {Variant(login)});
  }
  db->Commit();
  auto directory = installation.StandInSession("Directory");
  directory->Begin(true);
  auto add_user = [&](const std::string& login, bool engineer) {
    directory->Execute(
        "INSERT INTO DIR_USER (LOGIN, GIVENNAME, SURNAME, MAIL, LANGUAGEID, COUNTRY, "
        "BUSINESSPARTNERID, REGISTRATIONSET, ENGINEERCODE) VALUES (?, 'Given', 'Name', ?, "
        "'1033', 'US', '12', '3', ?)",
        {Variant(login), Variant(login + "@example.com"), Variant("EC" + login)});
    if (engineer) {
      directory->Execute("INSERT INTO DIR_USER_ROLE (LOGIN, ROLE_ID) VALUES (?, 32)",
                         {Variant(login)});
    }
  };
  add_user("customer", false);
  for (const auto& login : RoadEngineers()) add_user(login, true);
  directory->Commit();
}

}  // namespace heliq::bench

#endif  // HELIQ_BENCH_ROAD_STEPS_H_
