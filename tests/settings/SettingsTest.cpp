#include "Settings.h"
#include "SettingsDirectory.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using SettingsFile = SettingsDirectory;

TEST_F(SettingsFile, AbsentFileGivesDefaultsAndIsNotCreatedByReading)
{
    EXPECT_EQ(ReadInt(SETTINGS_SYSTEM, "Timer", 100), 100u);
    EXPECT_EQ(ReadInt(SETTINGS_SYSTEM, "Split1Row", 400), 400u);
    EXPECT_EQ(ReadString("Data0", "COM", ""), "");
    EXPECT_EQ(ReadString("Data0", "Port", "none"), "none");
    EXPECT_EQ(FileText(), "");
}

TEST_F(SettingsFile, IntegersRoundTripAsDecimalText)
{
    ASSERT_TRUE(WriteInt(SETTINGS_SYSTEM, "Color1", 16512));
    EXPECT_EQ(ReadInt(SETTINGS_SYSTEM, "Color1", 0), 16512u);
    EXPECT_NE(FileText().find("Color1=16512"), std::string::npos);

    // A window left of the primary screen is stored as negative "%d" text.
    ASSERT_TRUE(WriteInt(SETTINGS_SYSTEM, "WinPosX", -5));
    EXPECT_EQ(static_cast<int32_t>(ReadInt(SETTINGS_SYSTEM, "WinPosX", 0)), -5);
}

TEST_F(SettingsFile, IntegersReadTheirLeadingDigits)
{
    WriteString(SETTINGS_SYSTEM, "Timer", "12abc");
    WriteString(SETTINGS_SYSTEM, "Limit", "abc");
    EXPECT_EQ(ReadInt(SETTINGS_SYSTEM, "Timer", 100), 12u);
    EXPECT_EQ(ReadInt(SETTINGS_SYSTEM, "Limit", 1), 0u);
}

TEST_F(SettingsFile, NamesMatchWithoutRegardToCase)
{
    WriteString("Data0", "COM", "COM11");
    EXPECT_EQ(ReadString("DATA0", "com", ""), "COM11");
    WriteString("data0", "Com", "COM12");
    EXPECT_EQ(ReadString("Data0", "COM", ""), "COM12");
}

TEST_F(SettingsFile, TextsAreCutToTheCapacity)
{
    std::string longText(300, 'x');
    WriteString("Data0", "Port", longText.c_str());
    EXPECT_EQ(ReadString("Data0", "Port", ""), std::string(259, 'x'));
    EXPECT_EQ(ReadString("Data0", "Port", "", 5), "xxxx");
}

TEST_F(SettingsFile, DeleteSectionRemovesEveryKeyAndLeavesOthers)
{
    WriteString("Data0", "COM", "COM1");
    WriteString("Data1", "COM", "COM2");
    WriteInt("Data1", "Size", 10000);
    ASSERT_TRUE(DeleteSection("Data1"));
    EXPECT_EQ(ReadString("Data1", "COM", ""), "");
    EXPECT_EQ(ReadInt("Data1", "Size", 7), 7u);
    EXPECT_EQ(ReadString("Data0", "COM", ""), "COM1");
    EXPECT_EQ(FileText().find("Data1"), std::string::npos);
}

TEST_F(SettingsFile, AnotherCurrentDirectoryUsesAnotherFile)
{
    WriteInt(SETTINGS_SYSTEM, "Timer", 250);
    std::string other = MakeFreshDir("other");
    ASSERT_EQ(chdir(other.c_str()), 0);
    EXPECT_EQ(ReadInt(SETTINGS_SYSTEM, "Timer", 100), 100u);
    WriteInt(SETTINGS_SYSTEM, "Timer", 50);
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    EXPECT_EQ(ReadInt(SETTINGS_SYSTEM, "Timer", 100), 250u);
}

TEST(SettingsNames, NumberedNamesUseDecimalNumbers)
{
    EXPECT_EQ(NumberedName("Data", 0), "Data0");
    EXPECT_EQ(NumberedName("Color", 8), "Color8");
    EXPECT_EQ(NumberedName("Column", 12), "Column12");
}

}  // namespace
