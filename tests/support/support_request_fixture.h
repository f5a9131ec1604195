// Test support: support-centre requests with their engineers (directory users with back-office
// engineer codes and rule rows) and readers of what an action left behind. For the tests of the
// actions that meet the back office.
#ifndef HELIQ_TESTS_SUPPORT_SUPPORT_REQUEST_FIXTURE_H_
#define HELIQ_TESTS_SUPPORT_SUPPORT_REQUEST_FIXTURE_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "portal/directory/directory_store.h"
#include "servicerequest/dispatch/dispatch.h"
#include "tests/support/request_fixture.h"

namespace heliq::testing {

inline const DateTime kReminderStarted{2008, 12, 31, 18, 0, 0};

class SupportRequestTest : public RequestTest {
 protected:
  void SetUp() override {
    RequestTest::SetUp();
    if (IsSkipped()) return;
    AddEngineer("sce1", "SE01", "SCEDISRULE", kSupportCentreRole, 3);
    AddEngineer("sce2", "SE02", "SCEDISRULE", kSupportCentreRole, 1);
    AddEngineer("cce1", "CE01", "CCEDISRULE", kCallCentreRole, 2);
  }

  void AddEngineer(const std::string& login, const std::string& code, const std::string& rules,
                   int32_t role, int32_t queue_size) {
    DirectoryUser user;
    user.login = login;
    user.engineer_code = code;
    user.roles = {role};
    DirectoryStore::FromSettings().AddUser(user);
    Exec("insert into " + rules + " (LOGIN, QUEUESIZE, EXPERIENCE) values (?, ?, 0)",
         {Variant(login), Variant(queue_size)});
  }
  // A request with text "A", its back-office call and stamp, its reminder (both timers) started
  // at kReminderStarted.
  void AddRequest(int32_t id, int32_t status, int32_t center, std::string_view engineer,
                  std::string_view call = "C1", std::string_view stamp = "BO-1") {
    Exec(
        "insert into QUESTIONS (Q_ID, Q_STATUS, CENTER, D_DIRECT_TO, Q_TEXT, Q_DATE, Q_CALL, "
        "LASTTRANSTIME) values (?, ?, ?, ?, 'A', ?, ?, ?)",
        {Variant(id), Variant(status), Variant(center), Variant(engineer),
         Variant(kReminderStarted), Variant(call), Variant(stamp)});
    Exec("insert into REMINDER (Q_ID, R_STATUS, T1_DATE, T2_DATE) values (?, ?, ?, ?)",
         {Variant(id), Variant(std::to_string(status)), Variant(kReminderStarted),
          Variant(kReminderStarted)});
  }
  DictionaryPtr Details(int32_t id, int32_t status, int32_t center, std::string_view engineer) {
    auto d = Dictionary::Create();
    d->Set("Q_ID", Variant(id));
    d->Set("Q_STATUS", Variant(status));
    d->Set("CENTER", Variant(center));
    d->Set("D_DIRECT_TO", Variant(engineer));
    d->Set("T_NAME", Variant("cust1"));
    d->Set("T_COMMENT", Variant("comment"));
    d->Set("USERCOMMENT", Variant("note"));
    return d;
  }

  Variant Field(int32_t id, std::string_view column) {
    return Value("select " + std::string(column) + " from QUESTIONS where Q_ID = ?", {Variant(id)});
  }
  // Each row of the query as its fields joined by "|" (null as "").
  std::vector<std::string> Texts(std::string_view sql, const Params& params) {
    std::vector<std::string> texts;
    for (const auto& row : Rows(sql, params).rows) {
      std::string text;
      for (size_t i = 0; i < row.size(); ++i) text += (i ? "|" : "") + row[i].ToTextOrEmpty();
      texts.push_back(text);
    }
    return texts;
  }
  // QUEUESIZE|EXPERIENCE of the engineer's rule row.
  std::string Counters(std::string_view login) {
    return Texts(
               "select QUEUESIZE, EXPERIENCE from SCEDISRULE where LOGIN = ? union all "
               "select QUEUESIZE, EXPERIENCE from CCEDISRULE where LOGIN = ?",
               {Variant(login), Variant(login)})
        .at(0);
  }
  // R_STATUS|T1_DATE|T2_DATE; "" without a reminder.
  std::string Reminder(int32_t id) {
    const auto texts =
        Texts("select R_STATUS, T1_DATE, T2_DATE from REMINDER where Q_ID = ?", {Variant(id)});
    return texts.empty() ? "" : texts[0];
  }
  // T_STATUS|T_COMMENT|USERCOMMENT of the request's log rows, oldest first.
  std::vector<std::string> LogTexts(int32_t id) {
    return Texts(
        "select T_STATUS, T_COMMENT, USERCOMMENT from TRANSACTIONS where Q_ID = ? order by T_ID",
        {Variant(id)});
  }
};

}  // namespace heliq::testing

#endif  // HELIQ_TESTS_SUPPORT_SUPPORT_REQUEST_FIXTURE_H_
