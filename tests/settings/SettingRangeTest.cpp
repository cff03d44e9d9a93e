#include "SettingRange.h"

#include <gtest/gtest.h>

namespace {

constexpr SettingRange kRange = {10, 1000};

TEST(SettingRangeCheck, OnlyDigitsWithSurroundingBlanksAreAnInteger)
{
    uint32_t value = 7;
    EXPECT_EQ(CheckRangeText(" 20 ", kRange, &value), RangeCheck::Accepted);
    EXPECT_EQ(value, 20u);
    value = 7;
    for (const char* text : {"abc", "", "-20", "20x", "2 0", "+", "0x20"})
        EXPECT_EQ(CheckRangeText(text, kRange, &value), RangeCheck::NotInteger) << text;
    EXPECT_EQ(CheckRangeText(nullptr, kRange, &value), RangeCheck::NotInteger);
    EXPECT_EQ(value, 7u) << "a refused text stores nothing";
}

TEST(SettingRangeCheck, BoundsBelongToTheRangeAndHugeNumbersDoNot)
{
    uint32_t value = 0;
    EXPECT_EQ(CheckRangeText("10", kRange, &value), RangeCheck::Accepted);
    EXPECT_EQ(CheckRangeText("1000", kRange, &value), RangeCheck::Accepted);
    EXPECT_EQ(CheckRangeText("9", kRange, &value), RangeCheck::OutOfRange);
    EXPECT_EQ(CheckRangeText("1001", kRange, &value), RangeCheck::OutOfRange);
    // 2^32 + 20 would wrap to 20 in 32 bits.
    EXPECT_EQ(CheckRangeText("4294967316", kRange, &value), RangeCheck::OutOfRange);
    EXPECT_EQ(CheckRangeText("99999999999999999999999999", SettingRange{0, UINT32_MAX}, &value),
              RangeCheck::OutOfRange);
    EXPECT_EQ(value, 1000u);
}

TEST(SettingRangeCheck, RefusalsNameTheBoundsOrTheCallersText)
{
    EXPECT_EQ(RefusalMessage(RangeCheck::OutOfRange, kRange, "x"), "10 から 1000 までの整数を入力してください。");
    EXPECT_EQ(RefusalMessage(RangeCheck::NotInteger, kRange, "整数を入力してください。"), "整数を入力してください。");
    EXPECT_EQ(RefusalMessage(RangeCheck::Accepted, kRange, "x"), "");
}

}  // namespace
