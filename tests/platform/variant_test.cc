// Variant conversions and the Dictionary.
#include "platform/variant.h"

#include <gtest/gtest.h>

#include "platform/com_error.h"

namespace heliq {
namespace {

int32_t ErrorOf(auto&& f) {
  try {
    f();
  } catch (const ComError& e) {
    return e.number();
  }
  return 0;
}

TEST(VariantTest, EmptyConvertsToZeroBlankAndFalse) {
  const Variant empty;
  EXPECT_EQ(empty.ToLong(), 0);
  EXPECT_EQ(empty.ToText(), "");
  EXPECT_FALSE(empty.ToBool());
  EXPECT_TRUE(empty.IsBlank());
}

TEST(VariantTest, NullRaisesInvalidUseOfNull) {
  const Variant null = Variant::Null();
  EXPECT_EQ(ErrorOf([&] { null.ToLong(); }), err::kInvalidUseOfNull);
  EXPECT_EQ(ErrorOf([&] { null.ToText(); }), err::kInvalidUseOfNull);
  EXPECT_EQ(null.ToTextOrEmpty(), "");
}

TEST(VariantTest, WholeNumbersRoundHalfToEvenAndOverflowOutside32Bits) {
  EXPECT_EQ(Variant(2.5).ToLong(), 2);
  EXPECT_EQ(Variant(3.5).ToLong(), 4);
  EXPECT_EQ(Variant(-2.5).ToLong(), -2);
  EXPECT_EQ(Variant("  41.5 ").ToLong(), 42);
  EXPECT_EQ(Variant(int64_t{2147483647}).ToLong(), 2147483647);
  EXPECT_EQ(ErrorOf([] { Variant(int64_t{2147483648}).ToLong(); }), err::kOverflow);
  EXPECT_EQ(ErrorOf([] { Variant(2147483647.5).ToLong(); }), err::kOverflow);
  EXPECT_EQ(Variant(-2147483648.4).ToLong(), -2147483647 - 1);
  EXPECT_EQ(ErrorOf([] { Variant("1e300").ToLong(); }), err::kOverflow);
}

TEST(VariantTest, TextThatIsNotANumberIsATypeMismatch) {
  for (const char* text : {"", "abc", "12abc", "0x10", "nan", "inf", "1,5"}) {
    EXPECT_EQ(ErrorOf([&] { Variant(text).ToLong(); }), err::kTypeMismatch) << text;
  }
  EXPECT_EQ(ErrorOf([] { Variant(Dictionary::Create()).ToText(); }), err::kTypeMismatch);
}

TEST(VariantTest, BooleansAndTheirText) {
  EXPECT_EQ(Variant(true).ToText(), "True");
  EXPECT_EQ(Variant(true).ToLong(), -1);
  EXPECT_TRUE(Variant("True").ToBool());
  EXPECT_FALSE(Variant("0").ToBool());
  EXPECT_TRUE(Variant(7).ToBool());
  EXPECT_EQ(ErrorOf([] { Variant("yes").ToBool(); }), err::kTypeMismatch);
}

TEST(VariantTest, DatesHaveOneYearFirstTextForm) {
  const DateTime d{2009, 1, 1, 7, 5, 9};
  EXPECT_EQ(Variant(d).ToText(), "2009-01-01 07:05:09");
  EXPECT_EQ(Variant("2009-01-01 07:05:09").ToDate(), d);
  EXPECT_EQ(Variant("2009-01-01T07:05:09.250+02").ToDate(), d);
  EXPECT_EQ(Variant("2009-01-01").ToDate(), (DateTime{2009, 1, 1, 0, 0, 0}));
  EXPECT_EQ(ErrorOf([] { Variant("2009-02-29").ToDate(); }), err::kTypeMismatch);
  EXPECT_EQ(ErrorOf([] { Variant("2009-01-01 24:00:00").ToDate(); }), err::kTypeMismatch);
  EXPECT_TRUE(DateTime::Parse("2008-02-29"));
  // Texts sort in time order.
  EXPECT_LT(DateTime({2009, 1, 2, 0, 0, 0}).ToText(), DateTime({2009, 10, 1, 0, 0, 0}).ToText());
}

TEST(VariantTest, DateArithmeticCrossesMonthsYearsAndLeapDays) {
  const DateTime d{2008, 2, 28, 23, 0, 0};
  EXPECT_EQ(d.AddSeconds(3600), (DateTime{2008, 2, 29, 0, 0, 0}));
  EXPECT_EQ(DateTime({2008, 12, 31, 23, 59, 59}).AddSeconds(1), (DateTime{2009, 1, 1, 0, 0, 0}));
  EXPECT_EQ(DateTime::FromEpochSeconds(d.ToEpochSeconds()), d);
  EXPECT_EQ(DateTime({1899, 12, 30, 0, 0, 0}).AddSeconds(-1), (DateTime{1899, 12, 29, 23, 59, 59}));
  // Day numbers: 1.5 is 31 December 1899, noon.
  EXPECT_EQ(Variant(1.5).ToDate(), (DateTime{1899, 12, 31, 12, 0, 0}));
}

TEST(DictionaryTest, KeepsInsertionOrderAndIsSharedByReference) {
  auto dict = Dictionary::Create();
  dict->Set("b", Variant(1));
  dict->Set("a", Variant(2));
  dict->Set("b", Variant(3));
  ASSERT_EQ(dict->size(), 2u);
  EXPECT_EQ(dict->entries()[0].first, "b");
  EXPECT_EQ(dict->Get("b"), Variant(3));
  EXPECT_TRUE(dict->Get("B").IsEmpty()) << "keys are case-sensitive";
  const Variant copy(dict);
  copy.ToDictionary()->Set("c", Variant("new"));
  EXPECT_EQ(dict->Get("c").ToText(), "new");
  EXPECT_TRUE(dict->Remove("a"));
  EXPECT_FALSE(dict->Exists("a"));
}

TEST(DictionaryTest, LargeDictionariesKeepOrderAndPositionsThroughSetAndRemove) {
  auto dict = Dictionary::Create();
  constexpr int kKeys = 1000;
  for (int i = 0; i < kKeys; ++i) dict->Set("k" + std::to_string(i), Variant(i));
  dict->Set("k7", Variant("again"));
  ASSERT_EQ(dict->size(), static_cast<size_t>(kKeys));
  EXPECT_EQ(dict->entries()[7].second, Variant("again")) << "a key set again keeps its place";
  // Removing shifts the later keys; every lookup must still find the right entry.
  EXPECT_TRUE(dict->Remove("k0"));
  EXPECT_FALSE(dict->Remove("k0"));
  for (int i = 1; i < kKeys; i += 97) {
    EXPECT_EQ(dict->entries()[static_cast<size_t>(i - 1)].first, "k" + std::to_string(i));
    EXPECT_EQ(dict->Get("k" + std::to_string(i)), i == 7 ? Variant("again") : Variant(i));
  }
  dict->Set("k0", Variant(-1));
  EXPECT_EQ(dict->entries().back().first, "k0");
  EXPECT_EQ(dict->Get("k0"), Variant(-1));
  // Shrinking below the size that keeps an index, and growing again.
  for (int i = 1; i < kKeys - 3; ++i) dict->Remove("k" + std::to_string(i));
  ASSERT_EQ(dict->size(), 4u);
  EXPECT_EQ(dict->Get(std::string("k") + std::to_string(kKeys - 1)), Variant(kKeys - 1));
  for (int i = 0; i < 100; ++i) dict->Set("n" + std::to_string(i), Variant(i));
  EXPECT_EQ(dict->Get("n99"), Variant(99));
  EXPECT_EQ(dict->Get("k0"), Variant(-1));
  EXPECT_TRUE(dict->Get("k1").IsEmpty());
}

}  // namespace
}  // namespace heliq
