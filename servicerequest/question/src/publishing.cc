// Publishing a request to the FAQ: marking it (170) and publishing it (175, archived).
//
// The catalogue is asked for the entry first: when it fails nothing of the request has changed.
// The file-handling calls come last before the vote, so a failure of the file store still rolls
// back the status change, the archive move and the log row.
#include <string>
#include <string_view>

#include "common/faq_catalogue.h"
#include "common/file_handling.h"
#include "common/heliq_utilities.h"
#include "common/operation_frame.h"
#include "common/transaction_log.h"
#include "servicerequest/question/question.h"

namespace heliq {
namespace {

constexpr std::string_view kSetToToPublishSource = "HlqServiceRequestMTS.Question.SetToToPublish";
constexpr std::string_view kPublishSource = "HlqServiceRequestMTS.Question.PublishQuestion";
constexpr std::string_view kCreateFaqSource = "HlqServiceRequestMTS.Question.CreateFAQ";

constexpr std::string_view kSelectForPublishing =
    "select CENTER, Q_STATUS,Q_CATEGORY, Q_PRODUCTCAT, PRODUCTID, A_LINK  from QUESTIONS where "
    "  Q_ID=?";

constexpr int32_t kToBePublished = 170;
constexpr std::string_view kToBePublishedCode = "170";
constexpr int32_t kPublished = 175;
constexpr std::string_view kPublishedCode = "175";
// Log comment of a publication: this label, then the FAQ number.
constexpr std::string_view kPublishedLabel = "HQLBL3186;;;;";
// Kind of entry passed to the catalogue for a published request.
constexpr int32_t kFaqTypeRequest = 0;

const Dictionary& RequireDetails(const DictionaryPtr& details) {
  if (!details) {
    throw ComError(err::kInvalidProcedureCall, "HlqServiceRequestMTS.Question",
                   "no details dictionary was given");
  }
  return *details;
}

// An unset key (and null) reads as 0 or "".
int32_t Long(const Dictionary& details, std::string_view key) {
  const Variant value = details.Get(key);
  return value.IsNull() ? 0 : value.ToLong();
}

std::string Text(const Dictionary& details, std::string_view key) {
  return details.Get(key).ToTextOrEmpty();
}

}  // namespace

void Question::SetToToPublish(const DictionaryPtr& details_ptr) {
  RunOperation(kSetToToPublishSource, [&] {
    const Dictionary& details = RequireDetails(details_ptr);
    const DateTime now = GetCurrentDateTime();
    const int32_t question_id = Long(details, "Q_ID");
    if (question_id == 0) return;

    auto connection = GetHeliqConnection();
    auto row = Recordset::OpenForUpdate(*connection, kSelectForPublishing, {Variant(question_id)},
                                        {"QUESTIONS", {{"Q_ID", Variant(question_id)}}});
    if (row->eof()) return;  // an unknown request: nothing to mark, nothing logged
    const Variant center = row->Field("CENTER");
    // The details are converted before the row changes: a bad value fails with nothing written.
    const int32_t category = Long(details, "Q_CATEGORY");
    const int32_t product_category = Long(details, "Q_PRODUCTCAT");
    const int32_t product = Long(details, "PRODUCTID");
    row->SetField("Q_STATUS", Variant(kToBePublished));
    row->SetField("Q_CATEGORY", Variant(category));
    row->SetField("Q_PRODUCTCAT", Variant(product_category));
    row->SetField("PRODUCTID", Variant(product));
    row->SetField("A_LINK", Variant(Text(details, "A_LINK")));
    row->Update();
    CloseRecordset(row);
    CloseConnection(connection);

    CreateTransactionLog(question_id, Text(details, "T_NAME"), kToBePublishedCode,
                         center.IsNull() ? 0 : center.ToLong(), now, Text(details, "T_COMMENT"),
                         Text(details, "USERCOMMENT"), 0);
    CreateObjectAs<FileHandling>(kFileHandlingClassId)->MarkFilesForPublishing(question_id);
    CommitContext();
  });
}

int32_t Question::PublishQuestion(const DictionaryPtr& details_ptr) {
  return RunOperation(kPublishSource, [&] {
    const Dictionary& details = RequireDetails(details_ptr);
    const int32_t question_id = Long(details, "Q_ID");
    const DateTime now = GetCurrentDateTime();

    const int32_t faq_number = CreateFAQ(details_ptr);
    MovetoQuestionHistory(question_id, kPublished);
    const int32_t center = GetCenter(question_id);
    CreateTransactionLog(question_id, Text(details, "T_NAME"), kPublishedCode, center, now,
                         std::string(kPublishedLabel) + std::to_string(faq_number),
                         Text(details, "USERCOMMENT"), 0);
    CreateObjectAs<FileHandling>(kFileHandlingClassId)->PublishFiles(question_id, faq_number);
    CommitContext();
    return faq_number;
  });
}

// Casts no vote of its own: a failure is reported here and fails the publishing, whose frame
// votes abort.
int32_t Question::CreateFAQ(const DictionaryPtr& details_ptr) {
  try {
    const Dictionary& details = RequireDetails(details_ptr);
    const DateTime now = GetCurrentDateTime();
    const int32_t product_category = Long(details, "Q_PRODUCTCAT");
    const int32_t category = Long(details, "Q_CATEGORY");
    const int32_t publish_for = Long(details, "P_PUBLISH_FOR");
    const std::string title = Text(details, "Q_DESC");
    const std::string question = Text(details, "Q_TEXT");
    const std::string answer = Text(details, "A_TEXT");
    const std::string link = Text(details, "A_LINK");
    auto catalogue = CreateObjectAs<FaqCatalogue>(kFaqCatalogueClassId);
    return catalogue->AddFaq(kFaqTypeRequest, product_category, category, publish_for, title,
                             question, answer, now.ToText(), "", link);
  } catch (...) {
    ReportError(kCreateFaqSource);
    throw;  // ReportError always throws while a failure is in flight
  }
}

}  // namespace heliq
