// The display settings as the settings dialogs show, check and store them.
#include "DisplaySettings.h"

#include "Settings.h"
#include "SettingsDirectory.h"

#include <gtest/gtest.h>

namespace {

using DisplaySettingsFile = SettingsDirectory;

MonitorTiming TimingShownFor(const char* timer, const char* limit)
{
    WriteString(SETTINGS_SYSTEM, "Timer", timer);
    WriteString(SETTINGS_SYSTEM, "Limit", limit);
    return ReadTimingForDialog();
}

TEST_F(DisplaySettingsFile, StoredTimingOutsideItsRangeShowsAsTheDefault)
{
    MonitorTiming absent = ReadTimingForDialog();
    EXPECT_EQ(absent.timer, 100u);
    EXPECT_EQ(absent.limit, 1u);
    const struct {
        const char* timer;
        const char* limit;
        uint32_t shownTimer;
        uint32_t shownLimit;
    } cases[] = {
        {"5", "1000000", 100, 1},         {"9", "-1", 100, 1},         {"10", "0", 10, 0},
        {"1000", "999999", 1000, 999999}, {"1001", "-999999", 100, 1}, {"-50", "abc", 100, 0},
    };
    for (const auto& c : cases) {
        MonitorTiming shown = TimingShownFor(c.timer, c.limit);
        EXPECT_EQ(shown.timer, c.shownTimer) << c.timer;
        EXPECT_EQ(shown.limit, c.shownLimit) << c.limit;
    }
}

TEST_F(DisplaySettingsFile, FieldsAreCheckedAgainstTheirRangesWithTheirMessages)
{
    uint32_t value = 0;
    for (const char* accepted : {"10", "1000"})
        EXPECT_EQ(CheckRangeText(accepted, TIMER_RANGE, &value), RangeCheck::Accepted) << accepted;
    for (const char* accepted : {"0", "999999"})
        EXPECT_EQ(CheckRangeText(accepted, LIMIT_RANGE, &value), RangeCheck::Accepted) << accepted;
    EXPECT_EQ(TimingRefusal(CheckRangeText("9", TIMER_RANGE, &value), TIMER_RANGE),
              "10 から 1000 までの整数を入力してください。");
    EXPECT_EQ(TimingRefusal(CheckRangeText("1001", TIMER_RANGE, &value), TIMER_RANGE),
              "10 から 1000 までの整数を入力してください。");
    EXPECT_EQ(TimingRefusal(CheckRangeText("1000000", LIMIT_RANGE, &value), LIMIT_RANGE),
              "0 から 999999 までの整数を入力してください。");
    EXPECT_EQ(TimingRefusal(CheckRangeText("-1", LIMIT_RANGE, &value), LIMIT_RANGE), "整数を入力してください。");
}

TEST_F(DisplaySettingsFile, ColoursOutsideRgbShowAsTheirRedGreenAndBlue)
{
    WriteFileText("[System]\r\nColor1=abc\r\nColor2=-1\r\nColor3=16777216\r\nColor4=4294967295\r\n"
                  "Color5=-16777216\r\nColor6=0x0000FF\r\nColor7=\r\n");
    const MonitorColours shown = ReadColoursForDialog();
    EXPECT_EQ(shown[0], 0u) << "a text without digits reads as 0";
    EXPECT_EQ(shown[1], 0xFFFFFFu);
    EXPECT_EQ(shown[2], 0u);
    EXPECT_EQ(shown[3], 0xFFFFFFu);
    EXPECT_EQ(shown[4], 0u);
    EXPECT_EQ(shown[5], 0x0000FFu);
    EXPECT_EQ(shown[6], DefaultColor(7)) << "an empty value counts as absent";
    EXPECT_EQ(shown[7], DefaultColor(8));
}

#ifndef _WIN32
// Wine lets root write a read-only file; Windows and the simulation do not.
TEST_F(DisplaySettingsFile, AReadOnlyFileIsReportedAndKeptAsItWas)
{
    const std::string before = "[System]\r\nTimer=250\r\nColor1=255\r\n";
    WriteFileText(before);
    ASSERT_TRUE(SetFileAttributesA(SETTINGS_FILE, FILE_ATTRIBUTE_READONLY));
    MonitorColours colours = ReadColoursForDialog();
    colours[0] = 0;
    EXPECT_FALSE(WriteColours(colours));
    EXPECT_FALSE(WriteTiming(MonitorTiming{500, 5}));
    EXPECT_EQ(FileText(), before);
    SetFileAttributesA(SETTINGS_FILE, FILE_ATTRIBUTE_NORMAL);
}
#endif

}  // namespace
