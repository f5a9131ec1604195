// Marking a request for publishing and publishing it to the FAQ catalogue.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "common/faq_catalogue.h"
#include "platform/com_error.h"
#include "platform/object_context.h"
#include "platform/operation_table.h"
#include "servicerequest/question/question.h"
#include "tests/support/request_fixture.h"

namespace heliq {
namespace {

using testing::kTestNow;

// A catalogue that refuses every entry.
class RefusingCatalogue : public FaqCatalogue {
 public:
  int32_t AddFaq(int32_t, int32_t, int32_t, int32_t, const std::string&, const std::string&,
                 const std::string&, const std::string&, const std::string&,
                 const std::string&) override {
    throw ComError(err::kDbError, "RAvuruvo.Faqlist", "catalogue offline");
  }
};

class PublishingTest : public testing::RequestTest {
 protected:
  void AddAnswered(int32_t id, int32_t center = 2) {
    Exec(
        "insert into QUESTIONS (Q_ID, Q_STATUS, CENTER, Q_CATEGORY, Q_PRODUCTCAT, PRODUCTID, "
        "A_LINK, Q_DESC, Q_TEXT, A_TEXT) values (?, 165, ?, 1, 1, 1, 'old', 'Jam', "
        "'It''s jammed', 'Open the tray')",
        {Variant(id), Variant(center)});
    Exec("insert into REMINDER (Q_ID, R_STATUS, T1_DATE) values (?, '165', NULL)", {Variant(id)});
  }

  DictionaryPtr Details(int32_t id) {
    auto d = Dictionary::Create();
    d->Set("Q_ID", Variant(id));
    d->Set("T_NAME", Variant("eng1"));
    d->Set("T_COMMENT", Variant("worth sharing"));
    d->Set("USERCOMMENT", Variant("published"));
    d->Set("Q_CATEGORY", Variant("7"));
    d->Set("Q_PRODUCTCAT", Variant(8));
    d->Set("PRODUCTID", Variant(9.0));
    d->Set("A_LINK", Variant("http://kb/it's"));
    d->Set("P_PUBLISH_FOR", Variant(3));
    d->Set("Q_DESC", Variant("Printer jams"));
    d->Set("Q_TEXT", Variant("It's jammed"));
    d->Set("A_TEXT", Variant("Open the 'tray'"));
    return d;
  }

  void Mark(const DictionaryPtr& details) {
    RunUnitOfWork([&] { Question().SetToToPublish(details); });
  }
  int32_t Publish(const DictionaryPtr& details) {
    int32_t faq = 0;
    RunUnitOfWork([&] { faq = Question().PublishQuestion(details); });
    return faq;
  }
};

TEST_P(PublishingTest, MarkingStoresClassificationAndLinkLogsAndMarksFiles) {
  AddAnswered(5);
  Mark(Details(5));

  const ResultSet q = Rows(
      "select Q_STATUS, Q_CATEGORY, Q_PRODUCTCAT, PRODUCTID, A_LINK from QUESTIONS where Q_ID = 5");
  EXPECT_EQ(q.rows[0][0], Variant(170));
  EXPECT_EQ(q.rows[0][1], Variant(7));
  EXPECT_EQ(q.rows[0][2], Variant(8));
  EXPECT_EQ(q.rows[0][3], Variant(9));
  EXPECT_EQ(q.rows[0][4], Variant("http://kb/it's"));
  EXPECT_EQ(Value("select R_STATUS from REMINDER where Q_ID = 5"), Variant("165"))
      << "the reminder is not touched";

  const ResultSet log = Rows(
      "select T_NAME, T_STATUS, CENTER, T_DATE, T_COMMENT, USERCOMMENT, TIMESPENT "
      "from TRANSACTIONS where Q_ID = 5");
  ASSERT_EQ(log.rows.size(), 1u);
  EXPECT_EQ(log.rows[0][0], Variant("eng1"));
  EXPECT_EQ(log.rows[0][1], Variant("170"));
  EXPECT_EQ(log.rows[0][2], Variant(2));
  EXPECT_EQ(log.rows[0][3], Variant(kTestNow));
  EXPECT_EQ(log.rows[0][4], Variant("worth sharing"));
  EXPECT_EQ(log.rows[0][5], Variant("published"));
  EXPECT_EQ(log.rows[0][6], Variant(0));

  const auto calls = files_->calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].operation, "MarkFilesForPublishing");
  EXPECT_EQ(calls[0].question_id, 5);
}

TEST_P(PublishingTest, MarkingNoRequestOrAnUnknownOneWritesAndCallsNothing) {
  AddAnswered(5);
  Mark(Details(0));
  Mark(Details(404));
  EXPECT_EQ(Value("select Q_STATUS from QUESTIONS where Q_ID = 5"), Variant(165));
  EXPECT_EQ(Count("TRANSACTIONS"), 0);
  EXPECT_TRUE(files_->calls().empty());
}

TEST_P(PublishingTest, FailedMarkingLeavesTheRequestAsItWas) {
  AddAnswered(5);
  auto bad = Details(5);
  bad->Set("Q_CATEGORY", Variant("seven"));
  try {
    Mark(bad);
    FAIL() << "a category that is no number should be refused";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kTypeMismatch);
    EXPECT_NE(e.description().find("METHOD: HlqServiceRequestMTS.Question.SetToToPublish"),
              std::string::npos);
  }

  files_->FailWith(ComError(err::kFileServer, "files", "file server down"));
  EXPECT_THROW(Mark(Details(5)), ComError);
  EXPECT_EQ(Value("select Q_STATUS from QUESTIONS where Q_ID = 5"), Variant(165));
  EXPECT_EQ(Value("select A_LINK from QUESTIONS where Q_ID = 5"), Variant("old"));
  EXPECT_EQ(Count("TRANSACTIONS"), 0);
}

TEST_P(PublishingTest, PublishingCreatesTheEntryArchivesTheRequestAndLogsTheFaqNumber) {
  AddAnswered(5, 2);
  AddAnswered(6, 1);
  const int32_t first = Publish(Details(5));
  const int32_t second = Publish(Details(6));
  EXPECT_GT(second, first);
  EXPECT_EQ(Value("select count(*) from FAQLIST").ToLong(), 2);

  const ResultSet faq = Rows(
      "select FAQ_TYPE, FAQ_PRODUCTCAT, FAQ_CATEGORY, FAQ_PUBLISH_FOR, FAQ_TITLE, FAQ_QUESTION, "
      "FAQ_ANSWER, FAQ_DATE, FAQ_KEYWORDS, FAQ_LINK from FAQLIST where FAQ_ID = ?",
      {Variant(first)});
  ASSERT_EQ(faq.rows.size(), 1u);
  EXPECT_EQ(faq.rows[0][0], Variant(0));
  EXPECT_EQ(faq.rows[0][1], Variant(8));
  EXPECT_EQ(faq.rows[0][2], Variant(7));
  EXPECT_EQ(faq.rows[0][3], Variant(3));
  EXPECT_EQ(faq.rows[0][4], Variant("Printer jams"));
  EXPECT_EQ(faq.rows[0][5], Variant("It's jammed"));
  EXPECT_EQ(faq.rows[0][6], Variant("Open the 'tray'"));
  EXPECT_EQ(faq.rows[0][7].ToDate(), kTestNow);
  EXPECT_EQ(faq.rows[0][8], Variant(""));
  EXPECT_EQ(faq.rows[0][9], Variant("http://kb/it's"));

  EXPECT_EQ(Count("QUESTIONS"), 0);
  EXPECT_EQ(Count("REMINDER"), 0);
  EXPECT_EQ(Value("select Q_STATUS from QUESTIONHISTORY where Q_ID = 5"), Variant(175));
  const ResultSet log = Rows(
      "select T_NAME, T_STATUS, CENTER, T_COMMENT, USERCOMMENT, TIMESPENT from TRANSACTIONS "
      "order by T_ID");
  ASSERT_EQ(log.rows.size(), 2u);
  EXPECT_EQ(log.rows[0][0], Variant("eng1"));
  EXPECT_EQ(log.rows[0][1], Variant("175"));
  EXPECT_EQ(log.rows[0][2], Variant(2)) << "the centre comes from the archive";
  EXPECT_EQ(log.rows[0][3], Variant("HQLBL3186;;;;" + std::to_string(first)))
      << "the caller's comment is not used";
  EXPECT_EQ(log.rows[0][4], Variant("published"));
  EXPECT_EQ(log.rows[0][5], Variant(0));
  EXPECT_EQ(log.rows[1][2], Variant(1));

  const auto calls = files_->calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].operation, "PublishFiles");
  EXPECT_EQ(calls[0].question_id, 5);
  EXPECT_EQ(calls[0].kind, first);  // the fake records the FAQ number in `kind`
}

TEST_P(PublishingTest, ARefusedEntryOrAFailureAfterItArchivesNothing) {
  AddAnswered(5);
  {
    ScopedRegistration catalogue(std::string(kFaqCatalogueClassId),
                                 [] { return std::make_unique<RefusingCatalogue>(); });
    try {
      Publish(Details(5));
      FAIL() << "the refusal should fail the publishing";
    } catch (const ComError& e) {
      EXPECT_EQ(e.number(), err::kDbError);
      EXPECT_EQ(e.source(), "RAvuruvo.Faqlist");
      EXPECT_NE(e.description().find("HlqServiceRequestMTS.Question.PublishQuestion"),
                std::string::npos);
    }
  }
  EXPECT_EQ(Value("select Q_STATUS from QUESTIONS where Q_ID = 5"), Variant(165));
  EXPECT_EQ(Count("QUESTIONHISTORY"), 0);
  EXPECT_EQ(Count("TRANSACTIONS"), 0);
  EXPECT_TRUE(files_->calls().empty());

  // The catalogue writes through the call's catalogue connection: its entry goes with the call.
  files_->FailWith(ComError(err::kFileServer, "files", "file server down"));
  EXPECT_THROW(Publish(Details(5)), ComError);
  EXPECT_EQ(Value("select Q_STATUS from QUESTIONS where Q_ID = 5"), Variant(165));
  EXPECT_EQ(Count("REMINDER"), 1);
  EXPECT_EQ(Count("QUESTIONHISTORY"), 0);
  EXPECT_EQ(Count("TRANSACTIONS"), 0);
  EXPECT_EQ(Count("FAQLIST"), 0);
}

TEST_P(PublishingTest, RunsThroughTheOperationTable) {
  AddAnswered(5);
  const OperationSpec* mark = FindOperation("HlqServiceRequestMTS.Question", "SetToToPublish");
  const OperationSpec* publish = FindOperation("HlqServiceRequestMTS.Question", "PublishQuestion");
  ASSERT_NE(mark, nullptr);
  ASSERT_NE(publish, nullptr);
  Dictionary args;
  args.Set("i_dictDetails", Variant(Details(5)));
  CallOperation(*mark, args);
  EXPECT_EQ(Value("select Q_STATUS from QUESTIONS where Q_ID = 5"), Variant(170));
  const CallResult result = CallOperation(*publish, args);
  EXPECT_EQ(result.result, Value("select max(FAQ_ID) from FAQLIST"));
}

INSTANTIATE_DATABASE_TEST_SUITE(PublishingTest);

}  // namespace
}  // namespace heliq
