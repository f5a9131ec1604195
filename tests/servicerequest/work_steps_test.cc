// Engineer work steps on a request: take in hand, set to waiting, clarify, save; moving the
// attachment files of a request.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

#include "platform/com_error.h"
#include "platform/object_context.h"
#include "platform/operation_table.h"
#include "servicerequest/question/question.h"
#include "tests/support/request_fixture.h"

namespace heliq {
namespace {

namespace fs = std::filesystem;
using testing::kTestNow;

const DateTime kEarlier{2008, 12, 31, 18, 0, 0};

// Opens the private helper to the tests.
class QuestionWithAttachments : public Question {
 public:
  using Question::moveAttachments;
};

class WorkStepsTest : public testing::RequestTest {
 protected:
  // A registered request in `status` of `center` with its reminder started at kEarlier.
  void AddRequest(int32_t id, int32_t status, int32_t center = 2, Variant total = Variant(10)) {
    Exec(
        "insert into QUESTIONS (Q_ID, Q_STATUS, CENTER, TOTALTIMESPENT, LASTTRANSTIME, S_TEXT, "
        "Q_CATEGORY, Q_PRODUCTCAT, PRODUCTID) values (?, ?, ?, ?, 'BO-OLD', 'old solution', 1, 2, "
        "3)",
        {Variant(id), Variant(status), Variant(center), total});
    AddReminder(id, status, kEarlier);
  }

  DictionaryPtr Details(int32_t id) {
    auto d = Dictionary::Create();
    d->Set("Q_ID", Variant(id));
    d->Set("T_NAME", Variant("eng1"));
    d->Set("T_COMMENT", Variant("it's on my desk"));
    d->Set("USERCOMMENT", Variant("we're on it"));
    d->Set("TIMESPENT", Variant(15));
    return d;
  }

  template <typename Step>
  void Run(Step step, const DictionaryPtr& details) {
    RunUnitOfWork([&] { (Question().*step)(details); });
  }

  // Runs a step that must fail with `number`; returns the description.
  template <typename Step>
  std::string RunFailing(Step step, const DictionaryPtr& details, int32_t number) {
    try {
      Run(step, details);
      ADD_FAILURE() << "the step succeeded";
    } catch (const ComError& e) {
      EXPECT_EQ(e.number(), number) << e.description();
      return e.description();
    }
    return "";
  }

  Variant Field(int32_t id, const std::string& column) {
    return Value("select " + column + " from QUESTIONS where Q_ID = ?", {Variant(id)});
  }
  // R_STATUS and T1_DATE of the request's reminder.
  std::pair<std::string, Variant> Reminder(int32_t id) {
    const ResultSet r =
        Rows("select R_STATUS, T1_DATE from REMINDER where Q_ID = ?", {Variant(id)});
    EXPECT_EQ(r.rows.size(), 1u);
    return {r.rows[0][0].ToText(), r.rows[0][1]};
  }
  // Checks the one log row of a step.
  void ExpectLogged(int32_t id, const std::string& code, int32_t center, int32_t time_spent) {
    const auto log = Log(id);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0][0].ToText(), code);
    EXPECT_EQ(log[0][1], Variant(center));
    EXPECT_EQ(log[0][2].ToText(), "eng1");
    EXPECT_EQ(log[0][3].ToText(), "it's on my desk");
    EXPECT_EQ(log[0][4].ToText(), "we're on it");
    EXPECT_EQ(log[0][5], Variant(time_spent));
    EXPECT_EQ(log[0][6], Variant(kTestNow));
  }
  int32_t LoggedId(int32_t id) { return Log(id).at(0)[7].ToLong(); }
};

TEST_P(WorkStepsTest, TakeInHandRestartsTheTimerAndLogsWithoutTimeSpent) {
  AddRequest(1, 15, 2);
  auto details = Details(1);
  details->Set("LASTTRANSTIME", Variant("20090101070000"));
  Run(&Question::TakeInHand, details);
  EXPECT_EQ(Field(1, "Q_STATUS"), Variant(25));
  EXPECT_EQ(Field(1, "LASTTRANSTIME").ToText(), "20090101070000");
  EXPECT_EQ(Field(1, "TOTALTIMESPENT"), Variant(10)) << "taking in hand spends no time";
  EXPECT_EQ(Reminder(1), std::make_pair(std::string("25"), Variant(kTestNow)));
  ExpectLogged(1, "25", 2, 0);
  EXPECT_TRUE(files_->calls().empty());

  // Any status is taken in hand; a blank stamp keeps the stored one.
  AddRequest(2, 150, 1);
  auto blank = Details(2);
  blank->Set("LASTTRANSTIME", Variant(""));
  Run(&Question::TakeInHand, blank);
  EXPECT_EQ(Field(2, "Q_STATUS"), Variant(25));
  EXPECT_EQ(Field(2, "LASTTRANSTIME").ToText(), "BO-OLD");
  ExpectLogged(2, "25", 1, 0);
}

TEST_P(WorkStepsTest, WaitingRestartsTheTimerAndWaitingForTheCustomerStopsIt) {
  AddRequest(1, 25, 1);
  auto internal = Details(1);
  internal->Set("WAITINGTYPE", Variant(0));
  Run(&Question::SetToWaiting, internal);
  EXPECT_EQ(Field(1, "Q_STATUS"), Variant(30));
  EXPECT_EQ(Field(1, "TOTALTIMESPENT"), Variant(25));
  EXPECT_EQ(Reminder(1), std::make_pair(std::string("30"), Variant(kTestNow)));
  ExpectLogged(1, "30", 1, 15);

  AddRequest(2, 25, 2, Variant::Null());
  auto customer = Details(2);
  customer->Set("WAITINGTYPE", Variant("1"));
  customer->Set("LASTTRANSTIME", Variant("BO-NEW"));
  Run(&Question::SetToWaiting, customer);
  EXPECT_EQ(Field(2, "Q_STATUS"), Variant(35));
  EXPECT_EQ(Field(2, "TOTALTIMESPENT"), Variant(15)) << "a null total counts as 0";
  EXPECT_EQ(Field(2, "LASTTRANSTIME").ToText(), "BO-NEW");
  const auto [status, timer] = Reminder(2);
  EXPECT_EQ(status, "35");
  EXPECT_TRUE(timer.IsNull()) << "no timer runs while the customer is to answer";
  ExpectLogged(2, "35", 2, 15);

  // Kind 5; the fifth value tells the file store that the customer is to answer.
  const auto calls = files_->calls();
  ASSERT_EQ(calls.size(), 2u);
  for (int i : {0, 1}) {
    EXPECT_EQ(calls[i].question_id, i + 1);
    EXPECT_EQ(calls[i].kind, 5);
    EXPECT_EQ(calls[i].transaction_id, LoggedId(i + 1));
    EXPECT_TRUE(calls[i].option4.IsEmpty());
  }
  EXPECT_TRUE(calls[0].option5.IsEmpty());
  EXPECT_EQ(calls[1].option5, Variant(35));
}

TEST_P(WorkStepsTest, UnknownWaitingTypeFailsAndChangesNothing) {
  AddRequest(1, 25);
  for (Variant type : {Variant(2), Variant(-1), Variant("35")}) {
    SCOPED_TRACE(type.ToText());
    auto details = Details(1);
    details->Set("WAITINGTYPE", type);
    const std::string description =
        RunFailing(&Question::SetToWaiting, details, err::kInvalidProcedureCall);
    EXPECT_NE(description.find("WAITINGTYPE"), std::string::npos) << description;
    EXPECT_NE(description.find("METHOD: HlqServiceRequestMTS.Question.SetToWaiting"),
              std::string::npos);
  }
  auto text = Details(1);
  text->Set("WAITINGTYPE", Variant("soon"));
  RunFailing(&Question::SetToWaiting, text, err::kTypeMismatch);
  // The row is read first: without one the type is never looked at, and nothing happens.
  auto missing = Details(404);
  missing->Set("WAITINGTYPE", Variant(7));
  Run(&Question::SetToWaiting, missing);

  EXPECT_EQ(Field(1, "Q_STATUS"), Variant(25));
  EXPECT_EQ(Field(1, "TOTALTIMESPENT"), Variant(10));
  EXPECT_EQ(Reminder(1), std::make_pair(std::string("25"), Variant(kEarlier)));
  EXPECT_EQ(Count("TRANSACTIONS"), 0);
  EXPECT_TRUE(files_->calls().empty());
}

TEST_P(WorkStepsTest, ClarifyingLogsWhichWaitEndedAndRestartsTheTimer) {
  AddRequest(1, 30, 1);
  AddRequest(2, 35, 2);
  Run(&Question::ClarifyQuestion, Details(1));
  Run(&Question::ClarifyQuestion, Details(2));
  for (int32_t id : {1, 2}) {
    EXPECT_EQ(Field(id, "Q_STATUS"), Variant(40));
    EXPECT_EQ(Field(id, "TOTALTIMESPENT"), Variant(25));
    EXPECT_EQ(Reminder(id), std::make_pair(std::string("40"), Variant(kTestNow)));
  }
  ExpectLogged(1, "45", 1, 15);
  ExpectLogged(2, "50", 2, 15);
  EXPECT_TRUE(files_->calls().empty());
}

TEST_P(WorkStepsTest, ClarifyingARequestThatDoesNotWaitNeedsTheCallersWord) {
  AddRequest(1, 25);
  Run(&Question::ClarifyQuestion, Details(1));
  auto other = Details(1);
  other->Set("Q_STATUS", Variant(45));
  Run(&Question::ClarifyQuestion, other);
  EXPECT_EQ(Field(1, "Q_STATUS"), Variant(25));
  EXPECT_EQ(Field(1, "TOTALTIMESPENT"), Variant(10));
  EXPECT_EQ(Reminder(1), std::make_pair(std::string("25"), Variant(kEarlier)));
  EXPECT_EQ(Count("TRANSACTIONS"), 0);

  auto resumed = Details(1);
  resumed->Set("Q_STATUS", Variant("50"));
  Run(&Question::ClarifyQuestion, resumed);
  EXPECT_EQ(Field(1, "Q_STATUS"), Variant(40));
  ExpectLogged(1, "50", 2, 15);
}

TEST_P(WorkStepsTest, SavingStoresTheWorkAndKeepsTheTimersStart) {
  AddRequest(1, 30, 1);
  auto details = Details(1);
  details->Set("S_TEXT", Variant("Replace the 'feed' roller"));
  details->Set("S_LINK", Variant("http://kb/1"));
  details->Set("Q_CATEGORY", Variant("7"));
  details->Set("Q_PRODUCTCAT", Variant(8.0));
  // PRODUCTID not given: the engineer's classification is written as given, 0 included.
  Run(&Question::SaveQuestion, details);
  EXPECT_EQ(Field(1, "Q_STATUS"), Variant(25));
  EXPECT_EQ(Field(1, "S_TEXT").ToText(), "Replace the 'feed' roller");
  EXPECT_EQ(Field(1, "S_LINK").ToText(), "http://kb/1");
  EXPECT_EQ(Field(1, "Q_CATEGORY"), Variant(7));
  EXPECT_EQ(Field(1, "Q_PRODUCTCAT"), Variant(8));
  EXPECT_EQ(Field(1, "PRODUCTID"), Variant(0));
  EXPECT_EQ(Field(1, "TOTALTIMESPENT"), Variant(25));
  EXPECT_EQ(Field(1, "LASTTRANSTIME").ToText(), "BO-OLD");
  EXPECT_EQ(Reminder(1), std::make_pair(std::string("25"), Variant(kEarlier)));
  ExpectLogged(1, "25", 1, 15);
  const auto calls = files_->calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].kind, 4);
  EXPECT_EQ(calls[0].transaction_id, LoggedId(1));
}

TEST_P(WorkStepsTest, NoRequestMeansNoChange) {
  AddRequest(1, 15);
  for (auto step : {&Question::TakeInHand, &Question::SetToWaiting, &Question::ClarifyQuestion,
                    &Question::SaveQuestion}) {
    auto zero = Details(0);
    Run(step, zero);
    auto missing = Details(1);
    missing->Remove("Q_ID");
    Run(step, missing);
    auto unknown = Details(404);
    unknown->Set("Q_STATUS", Variant(50));
    Run(step, unknown);
  }
  EXPECT_EQ(Field(1, "Q_STATUS"), Variant(15));
  EXPECT_EQ(Count("TRANSACTIONS"), 0);
  EXPECT_TRUE(files_->calls().empty());
  RunFailing(&Question::TakeInHand, nullptr, err::kInvalidProcedureCall);
}

TEST_P(WorkStepsTest, FailuresCommitNothing) {
  // The file store refuses after the row, the reminder and the log row were written.
  AddRequest(1, 25);
  files_->FailWith(ComError(err::kFileServer, "files", "disk full"));
  auto waiting = Details(1);
  waiting->Set("WAITINGTYPE", Variant(1));
  const std::string description = RunFailing(&Question::SetToWaiting, waiting, err::kFileServer);
  EXPECT_NE(description.find("METHOD: HlqServiceRequestMTS.Question.SetToWaiting"),
            std::string::npos);
  RunFailing(&Question::SaveQuestion, Details(1), err::kFileServer);

  // The time spent overflows after the reminder statement ran.
  AddRequest(2, 25, 2, Variant(std::numeric_limits<int32_t>::max() - 5));
  auto overflow = Details(2);
  overflow->Set("WAITINGTYPE", Variant(0));
  RunFailing(&Question::SetToWaiting, overflow, err::kOverflow);
  auto bad_id = Details(2);
  bad_id->Set("Q_ID", Variant("two"));
  RunFailing(&Question::TakeInHand, bad_id, err::kTypeMismatch);

  for (int32_t id : {1, 2}) {
    EXPECT_EQ(Field(id, "Q_STATUS"), Variant(25));
    EXPECT_EQ(Field(id, "S_TEXT").ToText(), "old solution");
    EXPECT_EQ(Reminder(id), std::make_pair(std::string("25"), Variant(kEarlier)));
  }
  EXPECT_EQ(Field(1, "TOTALTIMESPENT"), Variant(10));
  EXPECT_EQ(Count("TRANSACTIONS"), 0);
  EXPECT_EQ(testing::RecordingLog::Entries().size(), 4u);
}

TEST_P(WorkStepsTest, StepsRunThroughTheOperationTable) {
  AddRequest(1, 15);
  for (const char* name : {"TakeInHand", "SetToWaiting", "ClarifyQuestion", "SaveQuestion"}) {
    ASSERT_NE(FindOperation("HlqServiceRequestMTS.Question", name), nullptr) << name;
  }
  const OperationSpec* take = FindOperation("hlqservicerequestmts.question", "takeinhand");
  Dictionary args;
  args.Set("i_dictDetails", Variant(Details(1)));
  CallOperation(*take, args);
  EXPECT_EQ(Field(1, "Q_STATUS"), Variant(25));
}

// --- moveAttachments ---

std::string Read(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void Write(const fs::path& file, const std::string& text) {
  std::ofstream(file, std::ios::binary) << text;
}

TEST_P(WorkStepsTest, MovingAttachmentsMovesTheFilesAndDeletesTheSourceFolder) {
  const fs::path p = install_dir() / "SRAttachments" / "7P";
  const fs::path q = install_dir() / "SRAttachments" / "7Q";
  fs::create_directories(p);
  fs::create_directories(q);
  Write(p / "log.txt", "new");
  Write(p / "shot.png", "png");
  Write(q / "log.txt", "old");
  Write(q / "kept.doc", "doc");
  // Stored settings may use "\" as separator.
  std::string source = p.string() + "/";
  std::string target = q.string() + "\\";
  QuestionWithAttachments().moveAttachments(source, target);
  EXPECT_FALSE(fs::exists(p));
  EXPECT_EQ(Read(q / "log.txt"), "new") << "a file of the same name is overwritten";
  EXPECT_EQ(Read(q / "shot.png"), "png");
  EXPECT_EQ(Read(q / "kept.doc"), "doc");

  // A target folder that does not exist yet is created.
  fs::create_directories(p);
  Write(p / "a.txt", "a");
  const fs::path fresh = install_dir() / "SRAttachments" / "8Q";
  QuestionWithAttachments().moveAttachments(p.string() + "/", fresh.string() + "/");
  EXPECT_EQ(Read(fresh / "a.txt"), "a");
  EXPECT_FALSE(fs::exists(p));
}

TEST_P(WorkStepsTest, MovingAttachmentsEdgeCases) {
  const fs::path root = install_dir() / "SRAttachments";
  // A missing source folder: nothing happens.
  QuestionWithAttachments().moveAttachments((root / "1P").string() + "/",
                                            (root / "1Q").string() + "/");
  EXPECT_FALSE(fs::exists(root / "1Q"));

  // An empty source folder creates no target and is deleted.
  fs::create_directories(root / "2P");
  QuestionWithAttachments().moveAttachments((root / "2P").string() + "/",
                                            (root / "2Q").string() + "/");
  EXPECT_FALSE(fs::exists(root / "2P"));
  EXPECT_FALSE(fs::exists(root / "2Q"));

  // A folder moved onto itself keeps its files.
  fs::create_directories(root / "3P");
  Write(root / "3P" / "a.txt", "a");
  QuestionWithAttachments().moveAttachments((root / "3P").string() + "/",
                                            (root / "3P").string() + "/");
  EXPECT_EQ(Read(root / "3P" / "a.txt"), "a");

  // A target that cannot be created fails under the helper's name; the files stay where they
  // were.
  fs::create_directories(root / "4P");
  Write(root / "4P" / "a.txt", "a");
  Write(root / "blocker", "not a folder");
  try {
    QuestionWithAttachments().moveAttachments((root / "4P").string() + "/",
                                              (root / "blocker" / "4Q").string() + "/");
    FAIL() << "no error";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kPathFileAccess);
    EXPECT_NE(e.description().find("METHOD: HlqServiceRequestMTS.Question.moveAttachments"),
              std::string::npos)
        << e.description();
  }
  EXPECT_EQ(Read(root / "4P" / "a.txt"), "a");
}

// Nothing outside the upload folder is reached through a link or "..": a linked source or
// target folder is refused and what it points to stays as it was; links inside the source folder
// are not followed (the files they point to are neither copied nor deleted).
TEST_P(WorkStepsTest, MovingAttachmentsNeverFollowsLinksOutOfTheFolder) {
  const fs::path root = install_dir() / "SRAttachments";
  const fs::path outside = install_dir() / "elsewhere";
  fs::create_directories(outside / "folder");
  fs::create_directories(root);
  Write(outside / "secret.txt", "secret");
  Write(outside / "folder" / "other.txt", "other");
  auto expect_refused = [&](const fs::path& from, const fs::path& to) {
    try {
      QuestionWithAttachments().moveAttachments(from.string() + "/", to.string() + "/");
      ADD_FAILURE() << from << " -> " << to << " was not refused";
    } catch (const ComError& e) {
      EXPECT_EQ(e.number(), err::kPathFileAccess) << e.description();
    }
  };
  fs::create_directory_symlink(outside / "folder", root / "1P");
  expect_refused(root / "1P", root / "1Q");
  fs::create_directories(root / "2P");
  Write(root / "2P" / "a.txt", "a");
  fs::create_directory_symlink(outside / "folder", root / "2Q");
  expect_refused(root / "2P", root / "2Q");
  expect_refused(root / "2P", root / ".." / "escaped");
  expect_refused(root / "x" / ".." / "2P", root / "3Q");
  EXPECT_EQ(Read(outside / "folder" / "other.txt"), "other");
  EXPECT_EQ(Read(root / "2P" / "a.txt"), "a");
  EXPECT_FALSE(fs::exists(install_dir() / "escaped"));

  fs::create_symlink(outside / "secret.txt", root / "2P" / "link.txt");
  fs::create_directory_symlink(outside / "folder", root / "2P" / "linked-folder");
  QuestionWithAttachments().moveAttachments((root / "2P").string() + "/",
                                            (root / "4Q").string() + "/");
  EXPECT_EQ(Read(root / "4Q" / "a.txt"), "a");
  EXPECT_FALSE(fs::exists(fs::symlink_status(root / "4Q" / "link.txt")));
  EXPECT_FALSE(fs::exists(root / "2P"));
  EXPECT_EQ(Read(outside / "secret.txt"), "secret");
  EXPECT_EQ(Read(outside / "folder" / "other.txt"), "other");
}

INSTANTIATE_DATABASE_TEST_SUITE(WorkStepsTest);

}  // namespace
}  // namespace heliq
