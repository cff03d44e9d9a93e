#include "ItemValidation.h"

#include <gtest/gtest.h>

namespace {

TEST(BufferSizeCheck, BoundsAreAcceptedAndTheirNeighboursRefused)
{
    uint32_t size = 0;
    EXPECT_EQ(CheckRangeText("10000", BUFFER_SIZE_RANGE, &size), RangeCheck::Accepted);
    EXPECT_EQ(size, 10000u);
    EXPECT_EQ(CheckRangeText("10000000", BUFFER_SIZE_RANGE, &size), RangeCheck::Accepted);
    EXPECT_EQ(size, 10000000u);
    EXPECT_EQ(CheckRangeText("9999", BUFFER_SIZE_RANGE, &size), RangeCheck::OutOfRange);
    EXPECT_EQ(CheckRangeText("10000001", BUFFER_SIZE_RANGE, &size), RangeCheck::OutOfRange);
}

TEST(BufferSizeCheck, EachRefusalHasItsMessage)
{
    EXPECT_EQ(SizeCheckMessage(RangeCheck::OutOfRange), "10000 から 10000000 までの整数を入力してください。");
    EXPECT_EQ(SizeCheckMessage(RangeCheck::NotInteger), "正の整数を入力してください。");
    EXPECT_EQ(SizeCheckMessage(RangeCheck::Accepted), "");
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
