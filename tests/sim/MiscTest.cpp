// Mutexes, version and folders as Windows reports them; runs on the
// simulation and under Wine.
#include "TestMachine.h"
#ifndef _WIN32
#include "system/SystemState.h"
#endif

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

class MiscTest : public ::testing::Test {
protected:
    TestMachine machine;
};

TEST_F(MiscTest, ASecondCreationOfANamedMutexReportsThatItExisted)
{
    HANDLE first = CreateMutexA(nullptr, TRUE, "ZerrowSoft_Vantrel_SimsysTest");
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
    HANDLE second = CreateMutexA(nullptr, TRUE, "ZerrowSoft_Vantrel_SimsysTest");
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
    EXPECT_TRUE(ReleaseMutex(first));
    EXPECT_FALSE(ReleaseMutex(first)) << "owned once, released once";
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_OWNER), GetLastError());
    CloseHandle(second);
    CloseHandle(first);
    // With every handle closed the name is free again.
    HANDLE third = CreateMutexA(nullptr, FALSE, "ZerrowSoft_Vantrel_SimsysTest");
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
    CloseHandle(third);
}

TEST_F(MiscTest, VersionNeedsAKnownStructureSize)
{
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    ASSERT_TRUE(GetVersionExA(&version));
    EXPECT_EQ(static_cast<DWORD>(VER_PLATFORM_WIN32_NT), version.dwPlatformId);
    EXPECT_GE(version.dwMajorVersion, 4u);
    version.dwOSVersionInfoSize = sizeof version - 1;
    EXPECT_FALSE(GetVersionExA(&version));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
}

TEST_F(MiscTest, SystemDirectoryReportsTheSizeItNeedsWhenTheBufferIsSmall)
{
    char path[276];
    UINT length = GetSystemDirectoryA(path, sizeof path);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(std::strlen(path), length);
    char small[4];
    EXPECT_EQ(length + 1, GetSystemDirectoryA(small, sizeof small));
}

TEST_F(MiscTest, ModuleFileNameIsCutWithTerminatorWhenTheBufferIsSmall)
{
    char path[300];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    ASSERT_GT(length, 5u);
    EXPECT_NE(std::string::npos, std::string(path).find("misc_test"));
    char small[5];
    EXPECT_EQ(5u, GetModuleFileNameA(nullptr, small, sizeof small));
    EXPECT_EQ(std::string(path, 4), std::string(small, 4));
#ifndef _WIN32
    // Windows since Vista terminates the cut name and reports the short
    // buffer; Wine 8 behaves like Windows XP (no terminator, no error).
    EXPECT_EQ('\0', small[4]);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
#endif
}

TEST_F(MiscTest, LocalTimeIsAValidDate)
{
    SYSTEMTIME now{};
    GetLocalTime(&now);
    EXPECT_GE(now.wYear, 2020);
    EXPECT_TRUE(now.wMonth >= 1 && now.wMonth <= 12);
    EXPECT_TRUE(now.wDay >= 1 && now.wDay <= 31);
    EXPECT_LT(now.wHour, 24);
    EXPECT_LT(now.wMilliseconds, 1000);
}

#ifndef _WIN32
TEST_F(MiscTest, TheSimulatedVersionCanBeSetToWindowsNT4)
{
    machine.system().info.SetVersion(sim::kWindowsNT4);
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    ASSERT_TRUE(GetVersionExA(&version));
    EXPECT_EQ(4u, version.dwMajorVersion);
    EXPECT_STREQ("Service Pack 6", version.szCSDVersion);
}
#endif

}  // namespace
