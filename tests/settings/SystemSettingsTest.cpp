#include "SettingsDirectory.h"
#include "Settings.h"
#include "SystemSettings.h"

namespace {

using SystemSettingsFile = SettingsDirectory;

TEST_F(SystemSettingsFile, EveryKeyHasItsDefaultWithoutAFile)
{
    SystemSettings s = ReadSystemSettings();
    EXPECT_EQ(s.WinType, 0);
    EXPECT_EQ(s.WinPosX, 0);
    EXPECT_EQ(s.WinPosY, 0);
    EXPECT_EQ(s.WinSizeX, 0);
    EXPECT_EQ(s.WinSizeY, 0);
    EXPECT_EQ(s.Split1Row, 400);
    EXPECT_EQ(s.Split1Col, 200);
    EXPECT_EQ(s.DataCount, 0);
    EXPECT_EQ(s.CapWinSizeX, 0);
    EXPECT_EQ(s.CapWinSizeY, 0);
    EXPECT_EQ(s.Timer, 100u);
    EXPECT_EQ(s.Limit, 1u);
    const uint32_t colors[SYSTEM_COLOR_COUNT] = {16512, 16711680, 32896, 0, 255, 16776960, 16777215, 16761024};
    for (int i = 0; i < SYSTEM_COLOR_COUNT; ++i)
        EXPECT_EQ(s.Color[i], colors[i]) << "Color" << i + 1;
    EXPECT_EQ(s.PrintTop, 0);
    EXPECT_EQ(s.PrintBottom, 0);
    EXPECT_EQ(s.PrintLeft, 0);
    EXPECT_EQ(s.PrintRight, 0);
    EXPECT_EQ(FileText(), "");
}

TEST_F(SystemSettingsFile, StoredValuesReplaceTheDefaults)
{
    WriteColor(1, 16512);
    WriteColor(8, 0x00123456);
    WriteInt(SETTINGS_SYSTEM, "Timer", 250);
    WriteInt(SETTINGS_SYSTEM, "WinPosX", -40);
    WriteInt(SETTINGS_SYSTEM, "Split1Row", 0);
    SystemSettings s = ReadSystemSettings();
    EXPECT_EQ(s.Color[0], 16512u);
    EXPECT_EQ(s.Color[0] & 0xFF, 128u);
    EXPECT_EQ((s.Color[0] >> 8) & 0xFF, 64u);
    EXPECT_EQ(s.Color[7], 0x00123456u);
    EXPECT_EQ(s.Timer, 250u);
    EXPECT_EQ(s.WinPosX, -40);
    EXPECT_EQ(s.Split1Row, 0);
    EXPECT_NE(FileText().find("Color8=1193046"), std::string::npos);
}

// The monitors draw with what the colour dialog shows for such values.
TEST_F(SystemSettingsFile, ColoursBeyondRgbAreReadAsTheirRedGreenAndBlue)
{
    WriteFileText("[System]\r\nColor1=-1\r\nColor2=16777216\r\nColor3=abc\r\nColor4=-16711936\r\n");
    SystemSettings s = ReadSystemSettings();
    EXPECT_EQ(s.Color[0], 0xFFFFFFu);
    EXPECT_EQ(s.Color[1], 0u);
    EXPECT_EQ(s.Color[2], 0u);
    EXPECT_EQ(s.Color[3], 0x00FF00u);
}

TEST_F(SystemSettingsFile, ColourNumbersOutsideOneToEightAreNoKeys)
{
    EXPECT_FALSE(WriteColor(0, 5));
    EXPECT_FALSE(WriteColor(9, 5));
    EXPECT_EQ(FileText(), "");
    EXPECT_EQ(ReadColor(5), 255u);
}

}  // namespace
