// Printing without windows: margins as the dialog stores and checks them,
// the page geometry, the lines of a page and the sheets of a run.
#include "PrintLayout.h"

#include "Settings.h"
#include "SettingsDirectory.h"

#include <gtest/gtest.h>

namespace {

using PrintSettingsFile = SettingsDirectory;

// A4 portrait at 300 dpi, as Wine's PostScript driver reports it.
constexpr PrinterMetrics kA4 = {2479, 3508, 209, 297};

TEST_F(PrintSettingsFile, MarginsRoundTripAndStoredOutsideTheRangeShowAsZero)
{
    ASSERT_TRUE(WriteMargins(PrintMargins{0, 100, 7, 55}));
    PrintMargins read = ReadMarginsForDialog();
    EXPECT_EQ(read.top, 0u);
    EXPECT_EQ(read.bottom, 100u);
    EXPECT_EQ(read.left, 7u);
    EXPECT_EQ(read.right, 55u);
    EXPECT_EQ(ReadString(SETTINGS_SYSTEM, "PrintRight", ""), "55");

    WriteString(SETTINGS_SYSTEM, "PrintTop", "101");
    WriteString(SETTINGS_SYSTEM, "PrintBottom", "-1");
    WriteString(SETTINGS_SYSTEM, "PrintLeft", "x");
    read = ReadMarginsForDialog();
    EXPECT_EQ(read.top, 0u);
    EXPECT_EQ(read.bottom, 0u);
    EXPECT_EQ(read.left, 0u);
    EXPECT_EQ(read.right, 55u);
}

TEST(PrintMarginField, AcceptsZeroToHundredAndRefusesWithTheMessages)
{
    uint32_t value = 0;
    EXPECT_EQ(CheckRangeText("0", MARGIN_RANGE, &value), RangeCheck::Accepted);
    EXPECT_EQ(CheckRangeText("100", MARGIN_RANGE, &value), RangeCheck::Accepted);
    EXPECT_EQ(MarginRefusal(CheckRangeText("101", MARGIN_RANGE, &value)), "0 から 100 までの整数を入力してください。");
    EXPECT_EQ(MarginRefusal(CheckRangeText("x", MARGIN_RANGE, &value)), "整数を入力してください。");
}

TEST(PageGeometry, MarginsBecomePrinterPixelsAndTheImageKeepsTheAspect)
{
    auto whole = ComputePageGeometry(kA4, PrintMargins{}, false);
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->left, 0);
    EXPECT_EQ(whole->width, 2479);
    EXPECT_EQ(whole->height, 3508);
    EXPECT_EQ(whole->imageHeight, 3508 * 640 / 2479);

    auto soft = ComputePageGeometry(kA4, PrintMargins{10, 20, 10, 30}, true);
    ASSERT_TRUE(soft);
    EXPECT_EQ(soft->left, 10 * 2479 / 209);
    EXPECT_EQ(soft->top, 10 * 3508 / 297);
    EXPECT_EQ(soft->width, (2479 - 30 * 2479 / 209 - 10 * 2479 / 209) / 2);
    EXPECT_EQ(soft->height, 3508 - 20 * 3508 / 297 - 10 * 3508 / 297);
    EXPECT_EQ(soft->imageHeight, soft->height * 640 / soft->width);
}

TEST(PageGeometry, NoSizeNoRoomOrNoLineIsRefused)
{
    EXPECT_FALSE(ComputePageGeometry({2479, 3508, 0, 297}, PrintMargins{}, false));
    EXPECT_FALSE(ComputePageGeometry({2479, 3508, 209, 0}, PrintMargins{}, false));
    constexpr PrinterMetrics kSquare148 = {1748, 1748, 148, 148};
    EXPECT_FALSE(ComputePageGeometry(kSquare148, PrintMargins{0, 0, 100, 100}, false));
    EXPECT_FALSE(ComputePageGeometry(kSquare148, PrintMargins{100, 100, 0, 0}, false));
    EXPECT_FALSE(ComputePageGeometry({1, 100, 1, 100}, PrintMargins{}, true));
    // 640 mm wide: the image is as many pixels high as the page is millimetres.
    EXPECT_FALSE(ComputePageGeometry({640, 94, 640, 94}, PrintMargins{}, false));
    auto lowest = ComputePageGeometry({640, 95, 640, 95}, PrintMargins{}, false);
    ASSERT_TRUE(lowest);
    EXPECT_EQ(lowest->imageHeight, MIN_PAGE_IMAGE_HEIGHT);
    EXPECT_EQ(LinesPerPage(lowest->imageHeight), 1u);
}

// 100 mm left and right leave A4 a strip 9 mm wide; a roll 640 mm wide and
// 100 m long would need an image 100000 pixels high.
TEST(PageGeometry, AStripIsRefusedAndAVeryLongPagePrintsOnItsUpperPart)
{
    EXPECT_EQ(CheckPageLayout(kA4, PrintMargins{0, 0, 100, 100}, false), PageRefusal::TooNarrow);
    EXPECT_EQ(CheckPageLayout(kA4, PrintMargins{0, 0, 50, 109}, false), PageRefusal::None);
    EXPECT_EQ(CheckPageLayout(kA4, PrintMargins{0, 0, 50, 110}, false), PageRefusal::TooNarrow);
    EXPECT_EQ(CheckPageLayout(kA4, PrintMargins{0, 0, 50, 60}, true), PageRefusal::TooNarrow);
    auto roll = ComputePageGeometry({6400, 1000000, 640, 100000}, PrintMargins{}, false);
    ASSERT_TRUE(roll);
    EXPECT_EQ(roll->imageHeight, MAX_PAGE_IMAGE_HEIGHT);
    EXPECT_EQ(roll->height, MAX_PAGE_IMAGE_HEIGHT * 10);
}

TEST(PageLines, FortyPixelsALineBelowTheHeaderAtMost199)
{
    EXPECT_EQ(LinesPerPage(905), 21u);
    EXPECT_EQ(LinesPerPage(134), 1u);
    EXPECT_EQ(LinesPerPage(135), 2u);
    EXPECT_EQ(LinesPerPage(100000), 199u);
}

TEST(PageSheets, SoftLayoutPutsTwoPagesSideBySideAndLeavesAHalfSheetOpen)
{
    PageGeometry page{100, 50, 1000, 2000, 1280};
    for (uint32_t p : {0u, 1u, 2u}) {
        PagePlacement alone = PlacePage(page, p, false);
        EXPECT_TRUE(alone.startsSheet && alone.endsSheet);
        EXPECT_EQ(alone.x, 100);
    }
    PagePlacement first = PlacePage(page, 0, true), second = PlacePage(page, 1, true), third = PlacePage(page, 2, true);
    EXPECT_TRUE(first.startsSheet && !first.endsSheet);
    EXPECT_EQ(first.x, 100);
    EXPECT_TRUE(!second.startsSheet && second.endsSheet);
    EXPECT_EQ(second.x, 1100);
    EXPECT_TRUE(third.startsSheet && !third.endsSheet);
    EXPECT_TRUE(SheetLeftOpen(2, true));
    EXPECT_FALSE(SheetLeftOpen(1, true));
    EXPECT_FALSE(SheetLeftOpen(2, false));
}

TEST(PrinterEnumeration, GrowsTheBufferAsAskedAndGivesUpAfterAFewAttempts)
{
    int calls = 0;
    auto grown = EnumerateWithGrowingBuffer(
        [&](unsigned char*, uint32_t size, uint32_t* needed) {
            ++calls;
            *needed = 300;
            return size >= 300;
        },
        84);
    ASSERT_TRUE(grown);
    EXPECT_EQ(grown->size(), 300u);
    EXPECT_EQ(calls, 2);

    calls = 0;
    auto endless = EnumerateWithGrowingBuffer(
        [&](unsigned char*, uint32_t size, uint32_t* needed) {
            ++calls;
            *needed = size + 1;
            return false;
        },
        84);
    EXPECT_FALSE(endless);
    EXPECT_LE(calls, 4);

    EXPECT_FALSE(EnumerateWithGrowingBuffer(
        [](unsigned char*, uint32_t, uint32_t* needed) {
            *needed = 0;
            return false;
        },
        84));
}

}  // namespace
