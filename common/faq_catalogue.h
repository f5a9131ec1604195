// The product catalogue's FAQ list ("RAvuruvo.Faqlist"): publishing a solved request adds one
// entry and relies on the number the catalogue gives it back.
//
// Thread safety: one object per use; separate objects may run concurrently.
#ifndef HELIQ_COMMON_FAQ_CATALOGUE_H_
#define HELIQ_COMMON_FAQ_CATALOGUE_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/component.h"

namespace heliq {

inline constexpr std::string_view kFaqCatalogueClassId = "RAvuruvo.Faqlist";

class FaqCatalogue : public Component {
 public:
  // Adds an entry and returns its FAQ number (assigned by the catalogue, increasing).
  // `faq_type`: kind of entry (the publisher passes 0); `publish_for`: audience code;
  // `date_text`: when the entry was made, "YYYY-MM-DD hh:mm:ss" ("" for none); `keywords`:
  // search words ("" for none). Errors: err::kTypeMismatch for a date text that is not a date;
  // database failures as raised.
  virtual int32_t AddFaq(int32_t faq_type, int32_t product_category, int32_t category,
                         int32_t publish_for, const std::string& title, const std::string& question,
                         const std::string& answer, const std::string& date_text,
                         const std::string& keywords, const std::string& link) = 0;
};

}  // namespace heliq

#endif  // HELIQ_COMMON_FAQ_CATALOGUE_H_
