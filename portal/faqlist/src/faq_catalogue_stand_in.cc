#include "portal/faqlist/faq_catalogue_stand_in.h"

#include <memory>
#include <string>
#include <string_view>

#include "common/faq_catalogue.h"
#include "common/heliq_utilities.h"

namespace heliq {
namespace {

constexpr std::string_view kInsertFaq =
    "INSERT INTO FAQLIST (FAQ_TYPE, FAQ_PRODUCTCAT, FAQ_CATEGORY, FAQ_PUBLISH_FOR, FAQ_TITLE, "
    "FAQ_QUESTION, FAQ_ANSWER, FAQ_DATE, FAQ_KEYWORDS, FAQ_LINK) "
    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING FAQ_ID";

class FaqListTable final : public FaqCatalogue {
 public:
  int32_t AddFaq(int32_t faq_type, int32_t product_category, int32_t category, int32_t publish_for,
                 const std::string& title, const std::string& question, const std::string& answer,
                 const std::string& date_text, const std::string& keywords,
                 const std::string& link) override {
    // The date is checked before anything is written: a bad one raises error 13.
    const Variant date = date_text.empty() ? Variant::Null() : Variant(Variant(date_text).ToDate());
    auto connection = GetRAvuruvoConnection();
    const Variant id = connection->QueryValue(
        kInsertFaq, {Variant(faq_type), Variant(product_category), Variant(category),
                     Variant(publish_for), Variant(title), Variant(question), Variant(answer), date,
                     Variant(keywords), Variant(link)});
    connection->Close();
    return id.ToLong();
  }
};

}  // namespace

void RegisterFaqCatalogueComponent() {
  ComponentRegistry::Global().Register(kFaqCatalogueClassId,
                                       [] { return std::make_unique<FaqListTable>(); });
}

}  // namespace heliq
