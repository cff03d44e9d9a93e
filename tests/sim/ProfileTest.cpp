// The profile calls as Windows documents them; runs on the simulation and
// under Wine.
#include "TestMachine.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace {

class ProfileTest : public ::testing::Test {
protected:
    void SetUp() override { std::remove(kHostName); }
    void TearDown() override { std::remove(kHostName); }

    static std::string Read(const char* section, const char* key, const char* fallback = "dflt", DWORD size = 64)
    {
        char buffer[64] = {};
        DWORD length = GetPrivateProfileStringA(section, key, fallback, buffer, size, kPath);
        EXPECT_EQ(std::string(buffer).size(), length);
        return buffer;
    }
    static UINT ReadInt(const char* key, INT fallback = 77) { return GetPrivateProfileIntA("S", key, fallback, kPath); }
    static void Write(const char* section, const char* key, const char* value)
    {
        ASSERT_TRUE(WritePrivateProfileStringA(section, key, value, kPath));
    }
    static void WriteFileText(const char* text) { std::ofstream(kHostName, std::ios::binary) << text; }
    static std::string FileText()
    {
        std::ifstream in(kHostName, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    static constexpr const char* kPath = ".\\simsys-profile.ini";
    static constexpr const char* kHostName = "simsys-profile.ini";
    TestMachine machine;
};

TEST_F(ProfileTest, MissingFileGivesDefaultsAndIsNotCreatedByReading)
{
    EXPECT_EQ("dflt", Read("System", "Timer"));
    EXPECT_EQ("", Read("System", "Timer", nullptr));
    EXPECT_EQ(100u, GetPrivateProfileIntA("System", "Timer", 100, kPath));
    EXPECT_FALSE(std::ifstream(kHostName).good());
}

TEST_F(ProfileTest, FirstWriteCreatesFileInCurrentDirectoryAndValuesReadBack)
{
    Write("System", "Timer", "250");
    EXPECT_TRUE(std::ifstream(kHostName).good());
    EXPECT_EQ(250u, GetPrivateProfileIntA("System", "Timer", 100, kPath));
    EXPECT_EQ("250", Read("System", "Timer"));
}

TEST_F(ProfileTest, SectionAndKeyNamesIgnoreCase)
{
    Write("System", "WinPosX", "12");
    EXPECT_EQ("12", Read("SYSTEM", "winposx"));
    Write("system", "WINPOSX", "13");
    EXPECT_EQ("13", Read("System", "WinPosX"));
    // Still one section with one key.
    char names[64];
    EXPECT_EQ(7u, GetPrivateProfileStringA(nullptr, nullptr, "", names, sizeof names, kPath));
    EXPECT_EQ(8u, GetPrivateProfileStringA("System", nullptr, "", names, sizeof names, kPath));
}

TEST_F(ProfileTest, IntegersAreParsedFromTheLeadingNumber)
{
    Write("S", "Mixed", "12abc");
    Write("S", "Negative", "-5");
    Write("S", "Empty", "");
    Write("S", "Letters", "abc");
    Write("S", "Padded", "  42  ");
    EXPECT_EQ(12u, ReadInt("Mixed"));
    EXPECT_EQ(static_cast<UINT>(-5), ReadInt("Negative"));
    EXPECT_EQ(77u, ReadInt("Empty")) << "an empty value reads as the default";
    EXPECT_EQ(0u, ReadInt("Letters"));
    EXPECT_EQ(42u, ReadInt("Padded"));
    EXPECT_EQ(77u, ReadInt("Missing"));
}

TEST_F(ProfileTest, LongValuesAreCutToTheBufferAndDefaultsLoseTrailingBlanks)
{
    Write("S", "Text", "abcdefghij");
    char buffer[8] = {};
    EXPECT_EQ(4u, GetPrivateProfileStringA("S", "Text", "", buffer, 5, kPath));
    EXPECT_STREQ("abcd", buffer);
    EXPECT_EQ("xy", Read("S", "Missing", "xy   "));
}

TEST_F(ProfileTest, QuotedValuesAreReadWithoutTheirQuotes)
{
    WriteFileText("[S]\r\nDouble=\"a b\"\r\nSingle='c'\r\nHalf=\"d\r\n");
    EXPECT_EQ("a b", Read("S", "Double"));
    EXPECT_EQ("c", Read("S", "Single"));
    EXPECT_EQ("\"d", Read("S", "Half"));
}

TEST_F(ProfileTest, NullKeyDeletesSectionAndNullValueDeletesKey)
{
    Write("Data0", "COM", "COM1");
    Write("Data0", "Size", "100");
    Write("Data1", "COM", "COM2");
    Write("Data1", "Port", "COM5");
    ASSERT_TRUE(WritePrivateProfileStringA("Data0", nullptr, nullptr, kPath));
    EXPECT_EQ("dflt", Read("Data0", "COM"));
    EXPECT_EQ("COM2", Read("Data1", "COM"));
    ASSERT_TRUE(WritePrivateProfileStringA("Data1", "Port", nullptr, kPath));
    EXPECT_EQ("dflt", Read("Data1", "Port"));
    EXPECT_EQ("COM2", Read("Data1", "COM"));
    EXPECT_EQ(std::string::npos, FileText().find("Data0"));
}

TEST_F(ProfileTest, ReplacingAValueKeepsOtherLinesAndAddsNewKeysToTheirSection)
{
    WriteFileText("; settings\r\n[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n");
    Write("A", "x", "10");
    Write("A", "z", "3");
    EXPECT_EQ("10", Read("A", "x"));
    EXPECT_EQ("3", Read("A", "z"));
    EXPECT_EQ("2", Read("B", "y"));
    std::string text = FileText();
    EXPECT_NE(std::string::npos, text.find("; settings"));
    EXPECT_LT(text.find("z=3"), text.find("[B]")) << text;
}

TEST_F(ProfileTest, NameListsEndWithTwoTerminatorsEvenWhenCut)
{
    Write("First", "k", "v");
    Write("Second", "k", "v");
    char buffer[32];
    DWORD length = GetPrivateProfileStringA(nullptr, nullptr, "", buffer, sizeof buffer, kPath);
    EXPECT_EQ(std::string("First\0Second\0\0", 14), std::string(buffer, length + 1));
    std::fill(std::begin(buffer), std::end(buffer), 'x');
    EXPECT_EQ(8u, GetPrivateProfileStringA(nullptr, nullptr, "", buffer, 10, kPath));
    EXPECT_EQ(std::string("First\0Se\0", 9), std::string(buffer, 9));
#ifndef _WIN32
    // Windows documents two terminators after the cut name; Wine 8 leaves the
    // buffer's last byte unwritten, so only the simulation is held to it.
    EXPECT_EQ('\0', buffer[9]);
#endif
}

}  // namespace
