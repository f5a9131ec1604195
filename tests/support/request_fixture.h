// RequestTest: the fixture of tests that run operations on requests. A fresh database
// (DatabaseTest) with the recording file store installed, and readers for what an operation
// leaves behind.
#ifndef HELIQ_TESTS_SUPPORT_REQUEST_FIXTURE_H_
#define HELIQ_TESTS_SUPPORT_REQUEST_FIXTURE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/com_error.h"
#include "platform/object_context.h"
#include "platform/variant.h"
#include "tests/support/database_fixture.h"
#include "tests/support/fake_file_handling.h"

namespace heliq::testing {

class RequestTest : public DatabaseTest {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    if (IsSkipped()) return;
    files_ = std::make_unique<ScopedFakeFileHandling>();
  }
  void TearDown() override {
    files_.reset();
    DatabaseTest::TearDown();
  }

  // The request's reminder row: timer of `status` started at `started`.
  void AddReminder(int32_t id, int32_t status, const DateTime& started) {
    Exec("insert into REMINDER (Q_ID, R_STATUS, T1_DATE) values (?, ?, ?)",
         {Variant(id), Variant(std::to_string(status)), Variant(started)});
  }

  // T_STATUS, CENTER, T_NAME, T_COMMENT, USERCOMMENT, TIMESPENT, T_DATE, T_ID of the request's log
  // rows, oldest first.
  std::vector<std::vector<Variant>> Log(int32_t id) {
    return Rows(
               "select T_STATUS, CENTER, T_NAME, T_COMMENT, USERCOMMENT, TIMESPENT, T_DATE, T_ID "
               "from TRANSACTIONS where Q_ID = ? order by T_ID",
               {Variant(id)})
        .rows;
  }

  // Runs `body` in a unit of work and returns the error it raised (number 0 when none).
  template <typename F>
  ComError Failure(F&& body) {
    try {
      RunUnitOfWork(std::forward<F>(body));
    } catch (const ComError& e) {
      return e;
    }
    return ComError(0, "", "");
  }

  std::unique_ptr<ScopedFakeFileHandling> files_;
};

}  // namespace heliq::testing

#endif  // HELIQ_TESTS_SUPPORT_REQUEST_FIXTURE_H_
