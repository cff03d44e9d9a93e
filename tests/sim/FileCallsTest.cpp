// Copying, moving, deleting and marking files by name, and writing a whole
// profile section, as Windows documents them; runs on the simulation and
// under Wine.
#include "TestMachine.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace {

class FileCallsTest : public ::testing::Test {
protected:
    void SetUp() override { RemoveAll(); }
    void TearDown() override { RemoveAll(); }

    static void RemoveAll()
    {
        for (const char* name : {kFirst, kSecond}) {
            SetFileAttributesA(name, FILE_ATTRIBUTE_NORMAL);
            std::remove(name);
        }
    }
    static void WriteText(const char* name, const char* text) { std::ofstream(name, std::ios::binary) << text; }
    static std::string Text(const char* name)
    {
        std::ifstream in(name, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static bool IsReadOnly(const char* name)
    {
        DWORD attributes = GetFileAttributesA(name);
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    }
    static void ExpectFailure(BOOL result, DWORD error)
    {
        EXPECT_FALSE(result);
        EXPECT_EQ(error, GetLastError());
    }

    static constexpr const char* kFirst = "simsys-first.ini";
    static constexpr const char* kSecond = "simsys-second.ini";
    static constexpr const char* kProfile = ".\\simsys-first.ini";
    static constexpr DWORD kReplace = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    TestMachine machine;
};

TEST_F(FileCallsTest, CopyWritesOverOnlyWhenAsked)
{
    ExpectFailure(CopyFileA(kFirst, kSecond, FALSE), ERROR_FILE_NOT_FOUND);
    ExpectFailure(CopyFileA(".\\no-such-folder\\x.ini", kSecond, FALSE), ERROR_PATH_NOT_FOUND);
    WriteText(kFirst, "one\r\n");
    WriteText(kSecond, "two\r\n");
    ExpectFailure(CopyFileA(kFirst, kSecond, TRUE), ERROR_FILE_EXISTS);
    EXPECT_EQ("two\r\n", Text(kSecond));
    ASSERT_TRUE(CopyFileA(kFirst, kSecond, FALSE));
    EXPECT_EQ("one\r\n", Text(kSecond));
    EXPECT_FALSE(IsReadOnly(kSecond));
}

TEST_F(FileCallsTest, MoveReplacesOnlyWhenAsked)
{
    ExpectFailure(MoveFileExA(kFirst, kSecond, kReplace), ERROR_FILE_NOT_FOUND);
    WriteText(kFirst, "new\r\n");
    WriteText(kSecond, "old\r\n");
    ExpectFailure(MoveFileExA(kFirst, kSecond, 0), ERROR_ALREADY_EXISTS);
    EXPECT_EQ("old\r\n", Text(kSecond));
    ASSERT_TRUE(MoveFileExA(kFirst, kSecond, kReplace));
    EXPECT_EQ("new\r\n", Text(kSecond));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(kFirst));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
}

TEST_F(FileCallsTest, DeleteRefusesAReadOnlyFile)
{
    ExpectFailure(DeleteFileA(kFirst), ERROR_FILE_NOT_FOUND);
    WriteText(kFirst, "x\r\n");
    ASSERT_TRUE(SetFileAttributesA(kFirst, FILE_ATTRIBUTE_READONLY));
    ExpectFailure(DeleteFileA(kFirst), ERROR_ACCESS_DENIED);
    ASSERT_TRUE(SetFileAttributesA(kFirst, FILE_ATTRIBUTE_NORMAL));
    EXPECT_TRUE(DeleteFileA(kFirst));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(kFirst));
}

TEST_F(FileCallsTest, WritingASectionReplacesItsKeysAndKeepsTheRest)
{
    WriteText(kFirst, "; kept\r\n[A]\r\nold=1\r\ngone=2\r\n\r\n[B]\r\ny=2\r\n");
    ASSERT_TRUE(WritePrivateProfileSectionA("a", "x=10\0bare\0z=3\0", kProfile));
    ASSERT_TRUE(WritePrivateProfileSectionA("C", "k=v\0", kProfile));
    char buffer[64];
    EXPECT_EQ(9u, GetPrivateProfileSectionA("A", buffer, sizeof buffer, kProfile));
    EXPECT_EQ(std::string("x=10\0z=3\0\0", 10), std::string(buffer, 10)) << "the entry without '=' is left out";
    EXPECT_EQ(10u, GetPrivateProfileIntA("A", "x", 0, kProfile));
    EXPECT_EQ(2u, GetPrivateProfileIntA("B", "y", 0, kProfile));
    EXPECT_EQ(1u, GetPrivateProfileStringA("C", "k", "", buffer, sizeof buffer, kProfile));
    std::string text = Text(kFirst);
    EXPECT_EQ(0u, text.find("; kept\r\n"));
    EXPECT_LT(text.find("z=3"), text.find("[B]")) << text;
}

#ifndef _WIN32
// Windows keeps a read-only file as it is, even for an administrator: a copy
// takes the attribute along, and neither a profile write nor a replacing move
// changes the file. Wine 8 copies without the attribute, replaces the file,
// and lets root write it, so only the simulation is held to these.
TEST_F(FileCallsTest, AReadOnlyFileIsNeitherWrittenNorReplaced)
{
    WriteText(kFirst, "[A]\r\nx=1\r\n");
    ASSERT_TRUE(SetFileAttributesA(kFirst, FILE_ATTRIBUTE_READONLY));
    ExpectFailure(WritePrivateProfileStringA("A", "x", "2", kProfile), ERROR_ACCESS_DENIED);
    ExpectFailure(WritePrivateProfileSectionA("A", "x=2\0", kProfile), ERROR_ACCESS_DENIED);
    ASSERT_TRUE(CopyFileA(kFirst, kSecond, FALSE));
    EXPECT_TRUE(IsReadOnly(kSecond));
    ExpectFailure(CopyFileA(kFirst, kSecond, FALSE), ERROR_ACCESS_DENIED);
    ASSERT_TRUE(SetFileAttributesA(kSecond, FILE_ATTRIBUTE_NORMAL));
    WriteText(kSecond, "new\r\n");
    ExpectFailure(MoveFileExA(kSecond, kFirst, kReplace), ERROR_ACCESS_DENIED);
    EXPECT_EQ("[A]\r\nx=1\r\n", Text(kFirst));
    EXPECT_EQ("new\r\n", Text(kSecond));
}

TEST_F(FileCallsTest, EndedFileChangesFailWithoutEffect)
{
    WriteText(kFirst, "[A]\r\nx=1\r\n");
    uint64_t before = machine.FileChangesMade();
    machine.EndFileChangesAfter(1);
    ASSERT_TRUE(WritePrivateProfileStringA("A", "x", "2", kProfile));
    EXPECT_FALSE(WritePrivateProfileStringA("A", "x", "3", kProfile));
    EXPECT_FALSE(WritePrivateProfileSectionA("A", "x=4\0", kProfile));
    EXPECT_FALSE(CopyFileA(kFirst, kSecond, FALSE));
    EXPECT_FALSE(SetFileAttributesA(kFirst, FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(MoveFileExA(kFirst, kSecond, kReplace));
    EXPECT_FALSE(DeleteFileA(kFirst));
    EXPECT_EQ(before + 1, machine.FileChangesMade());
    EXPECT_EQ("[A]\r\nx=2\r\n", Text(kFirst));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(kSecond));

    machine.AllowFileChanges();
    EXPECT_TRUE(DeleteFileA(kFirst));
    EXPECT_EQ(before + 2, machine.FileChangesMade());
}
#endif

}  // namespace
