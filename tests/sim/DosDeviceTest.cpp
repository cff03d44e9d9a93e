// User-visible behaviour of DOS device names, checked on both platforms:
// QueryDosDeviceA of the null device and of the whole list, and CreateFileA
// on present and missing devices.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#ifndef _WIN32
#include <Machine.h>
#endif

namespace {

class DosDeviceTest : public ::testing::Test {
#ifndef _WIN32
    sim::Machine machine;
#endif
};

std::vector<std::string> SplitList(const char* list)
{
    std::vector<std::string> names;
    for (const char* name = list; *name != 0; name += names.back().size() + 1)
        names.push_back(name);
    return names;
}

TEST_F(DosDeviceTest, OneNameGivesItsTargetAsAList)
{
    char target[MAX_PATH];
    memset(target, 'x', sizeof(target));
    DWORD stored = QueryDosDeviceA("NUL", target, sizeof(target));
    ASSERT_NE(0u, stored);
    EXPECT_STREQ("\\Device\\Null", target);
    EXPECT_EQ(0, target[strlen("\\Device\\Null") + 1]);
    EXPECT_EQ(strlen("\\Device\\Null") + 2, stored);
}

TEST_F(DosDeviceTest, MissingNameAndSmallBufferFail)
{
    char target[MAX_PATH];
    SetLastError(0);
    EXPECT_EQ(0u, QueryDosDeviceA("VANTRELNOSUCHNAME", target, sizeof(target)));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    char small[4];
    EXPECT_EQ(0u, QueryDosDeviceA("NUL", small, sizeof(small)));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
}

TEST_F(DosDeviceTest, WholeListHoldsTheNullDeviceAndEndsWithAnEmptyName)
{
    std::vector<char> list(1000000, 'x');
    DWORD stored = QueryDosDeviceA(nullptr, list.data(), static_cast<DWORD>(list.size()));
    ASSERT_GT(stored, 0u);
    ASSERT_LE(stored, list.size());
    auto names = SplitList(list.data());
    EXPECT_NE(names.end(), std::find(names.begin(), names.end(), "NUL"));
    size_t used = 1;
    for (const auto& name : names)
        used += name.size() + 1;
    EXPECT_EQ(0, list[used - 1]);
    char tiny[2];
    EXPECT_EQ(0u, QueryDosDeviceA(nullptr, tiny, sizeof(tiny)));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
}

TEST_F(DosDeviceTest, CreateFileOnDevices)
{
    HANDLE missing =
        CreateFileA("\\\\.\\VantrelNoSuchDevice", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, missing);
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    HANDLE null = CreateFileA("\\\\.\\NUL", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, null);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(null, "abc", 3, &written, nullptr));
    EXPECT_EQ(3u, written);
    char buffer[4];
    DWORD read = 9;
    EXPECT_TRUE(ReadFile(null, buffer, sizeof(buffer), &read, nullptr));
    EXPECT_EQ(0u, read);
    EXPECT_TRUE(CloseHandle(null));
}

}  // namespace
