#include "ItemValidation.h"

#include <gtest/gtest.h>

namespace {

const char RANGE_MESSAGE[] = "10000 から 10000000 までの整数を入力してください。";
const char INTEGER_MESSAGE[] = "正の整数を入力してください。";

TEST(BufferSizeCheck, BoundsAreAcceptedAndTheirNeighboursRefused)
{
    uint32_t size = 0;
    EXPECT_EQ(CheckBufferSizeText("10000", &size), SizeCheck::Accepted);
    EXPECT_EQ(size, 10000u);
    EXPECT_EQ(CheckBufferSizeText("10000000", &size), SizeCheck::Accepted);
    EXPECT_EQ(size, 10000000u);
    size = 1;
    EXPECT_EQ(CheckBufferSizeText("9999", &size), SizeCheck::OutOfRange);
    EXPECT_EQ(CheckBufferSizeText("10000001", &size), SizeCheck::OutOfRange);
    EXPECT_EQ(CheckBufferSizeText("99999999999999999999", &size), SizeCheck::OutOfRange);
    EXPECT_EQ(size, 1u);
}

TEST(BufferSizeCheck, TextThatIsNoUnsignedIntegerIsRefused)
{
    uint32_t size = 0;
    EXPECT_EQ(CheckBufferSizeText(" 20000 ", &size), SizeCheck::Accepted);
    EXPECT_EQ(size, 20000u);
    for (const char* text : {"abc", "", "-20000", "20000x", "2 0000", "+"})
        EXPECT_EQ(CheckBufferSizeText(text, &size), SizeCheck::NotPositiveInteger) << text;
    EXPECT_EQ(CheckBufferSizeText(nullptr, &size), SizeCheck::NotPositiveInteger);
}

TEST(BufferSizeCheck, EachRefusalHasItsMessage)
{
    EXPECT_EQ(SizeCheckMessage(SizeCheck::OutOfRange), RANGE_MESSAGE);
    EXPECT_EQ(SizeCheckMessage(SizeCheck::NotPositiveInteger), INTEGER_MESSAGE);
    EXPECT_EQ(SizeCheckMessage(SizeCheck::Accepted), "");
}

TEST(BufferSizeCheck, StoredSizeOutsideTheRangeOpensAsTheMinimum)
{
    EXPECT_EQ(SizeForDialog(0), 10000u);
    EXPECT_EQ(SizeForDialog(9999), 10000u);
    EXPECT_EQ(SizeForDialog(20000000), 10000u);
    EXPECT_EQ(SizeForDialog(10000), 10000u);
    EXPECT_EQ(SizeForDialog(10000000), 10000000u);
    EXPECT_EQ(SizeForDialog(123456), 123456u);
}

}  // namespace
