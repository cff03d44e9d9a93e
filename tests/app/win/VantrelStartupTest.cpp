// The real Vantrel.exe under Wine: before its main window shows, it writes
// the driver image for this system (image B: Wine reports a modern Windows)
// into the system's drivers folder, leaves a current file alone, and a second
// instance ends at once.
#include "DriverImages.h"
#include "FileBytes.h"
#include "FilterService.h"
#include "ServiceHandle.h"
#include "SettingsDirectory.h"
#include "VantrelProcess.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <utility>
#include <vector>

namespace {

const DWORD kSecondInstanceTimeoutMs = 10000;
const DWORD kStartupFailed = 1;
const DWORD kServiceStateTimeoutMs = 10000;

bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Worked out here, not by the start-up code, so that a wrong path shows.
std::wstring DriverFileInSystemFolder()
{
    wchar_t system[MAX_PATH] = {};
    UINT length = GetSystemDirectoryW(system, MAX_PATH);
    return std::wstring(system, length) + L"\\drivers\\ZrVtrlFlt.sys";
}

bool LastWriteTime(const std::wstring& path, FILETIME* time)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return false;
    *time = data.ftLastWriteTime;
    return true;
}

bool SetLastWriteTime(const std::wstring& path, const FILETIME& time)
{
    HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool set = SetFileTime(file, nullptr, nullptr, &time) != 0;
    CloseHandle(file);
    return set;
}

FILETIME NewYear2001()
{
    SYSTEMTIME date = {};
    date.wYear = 2001;
    date.wMonth = 1;
    date.wDay = 1;
    FILETIME time = {};
    SystemTimeToFileTime(&date, &time);
    return time;
}

// Polls the service until it reaches `wanted` or time runs out.
DWORD WaitForServiceState(SC_HANDLE service, DWORD wanted)
{
    SERVICE_STATUS status = {};
    DWORD start = GetTickCount();
    while (QueryServiceStatus(service, &status) && status.dwCurrentState != wanted &&
           GetTickCount() - start < kServiceStateTimeoutMs) {
        Sleep(50);
    }
    return status.dwCurrentState;
}

// The Windows version Wine reports to Vantrel.exe while it lives ("nt40",
// "winxp", as winecfg names them).
class WineVersionForVantrel {
public:
    explicit WineVersionForVantrel(const char* version)
    {
        EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key_, nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegSetValueExA(key_, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                                 static_cast<DWORD>(strlen(version) + 1)),
                  ERROR_SUCCESS);
    }
    ~WineVersionForVantrel()
    {
        RegDeleteValueA(key_, "Version");
        RegCloseKey(key_);
    }

private:
    static constexpr const char* kKey = "Software\\Wine\\AppDefaults\\Vantrel.exe";
    HKEY key_ = nullptr;
};

// Each test starts Vantrel.exe in a fresh current directory (its own
// Vantrel.ini) and leaves the prefix's driver file as it found it.
class VantrelStartupTest : public SettingsDirectory {
protected:
    void SetUp() override
    {
        SettingsDirectory::SetUp();
        Bytes exe = ReadFileBytes(VantrelExePath());
        ASSERT_FALSE(exe.empty()) << "cannot read the built Vantrel.exe";
        imageA_ = Cut(exe, BUILT_DRIVER_IMAGES.a);
        imageB_ = Cut(exe, BUILT_DRIVER_IMAGES.b);
        ASSERT_FALSE(imageA_.empty());
        ASSERT_FALSE(imageB_.empty());
        driverFile_ = DriverFileInSystemFolder();
        hadDriverFile_ = FileExists(driverFile_);
        original_ = ReadFileBytes(driverFile_);
        DeleteFileW(driverFile_.c_str());
    }

    void TearDown() override
    {
        if (hadDriverFile_)
            EXPECT_TRUE(WriteFileBytes(driverFile_, original_));
        else
            DeleteFileW(driverFile_.c_str());
        SettingsDirectory::TearDown();
    }

    static Bytes Cut(const Bytes& exe, const DriverImage& image)
    {
        if (image.offset > exe.size() || exe.size() - image.offset < image.length)
            return Bytes();
        return Bytes(exe.begin() + image.offset, exe.begin() + image.offset + image.length);
    }

    // One run of the application up to its main window, closed as the user
    // would; tells whether the window showed maximised.
    bool StartAndClose()
    {
        VantrelProcess vantrel;
        EXPECT_TRUE(vantrel.Start()) << "cannot start Vantrel.exe";
        HWND hwnd = vantrel.WaitForMainFrame();
        EXPECT_NE(hwnd, nullptr) << "no main window";
        bool maximised = hwnd != nullptr && IsZoomed(hwnd);
        DWORD exitCode = 1;
        EXPECT_TRUE(vantrel.Close(&exitCode)) << "did not end on WM_CLOSE";
        EXPECT_EQ(exitCode, 0u);
        return maximised;
    }

    Bytes imageA_;
    Bytes imageB_;
    std::wstring driverFile_;
    bool hadDriverFile_ = false;
    Bytes original_;
};

TEST_F(VantrelStartupTest, AMissingDriverFileIsWrittenWithImageB)
{
    ASSERT_FALSE(FileExists(driverFile_));
    StartAndClose();
    EXPECT_TRUE(ReadFileBytes(driverFile_) == imageB_) << "the drivers folder does not hold image B";
}

TEST_F(VantrelStartupTest, ASecondStartLeavesACurrentDriverFileUntouched)
{
    StartAndClose();
    ASSERT_TRUE(ReadFileBytes(driverFile_) == imageB_);
    // A date no write of today can give: any rewrite would replace it.
    ASSERT_TRUE(SetLastWriteTime(driverFile_, NewYear2001()));

    StartAndClose();
    FILETIME after = {};
    ASSERT_TRUE(LastWriteTime(driverFile_, &after));
    FILETIME marker = NewYear2001();
    EXPECT_EQ(CompareFileTime(&after, &marker), 0) << "the file was written again";
    EXPECT_TRUE(ReadFileBytes(driverFile_) == imageB_);
}

TEST_F(VantrelStartupTest, TheOtherSystemsImageIsReplacedByImageB)
{
    ASSERT_NE(BUILT_DRIVER_IMAGES.a.checksum, BUILT_DRIVER_IMAGES.b.checksum) << "the images must be told apart";
    ASSERT_TRUE(WriteFileBytes(driverFile_, imageA_));
    StartAndClose();
    EXPECT_TRUE(ReadFileBytes(driverFile_) == imageB_) << "image A was kept";
}

TEST_F(VantrelStartupTest, ASecondInstanceEndsAtOnceWithoutAWindow)
{
    VantrelProcess first;
    ASSERT_TRUE(first.Start());
    HWND firstFrame = first.WaitForMainFrame();
    ASSERT_NE(firstFrame, nullptr);

    VantrelProcess second;
    ASSERT_TRUE(second.Start());
    DWORD secondExit = 0;
    ASSERT_TRUE(second.WaitForExit(kSecondInstanceTimeoutMs, &secondExit)) << "the second instance keeps running";
    EXPECT_EQ(secondExit, kStartupFailed);
    EXPECT_EQ(CountMainFrames(0), 1) << "only the first instance's window exists";

    EXPECT_TRUE(first.IsRunning());
    EXPECT_TRUE(IsWindowVisible(firstFrame));
    DWORD firstExit = 1;
    EXPECT_TRUE(first.Close(&firstExit));
    EXPECT_EQ(firstExit, 0u);
}

TEST_F(VantrelStartupTest, WinTypeOpensTheMainWindowMaximised)
{
    EXPECT_FALSE(StartAndClose()) << "no settings file: WinType 0";
    WriteFileText("[System]\r\nWinType=1\r\n");
    EXPECT_TRUE(StartAndClose());
}

// The launcher registered VantrelFlt before this suite ran: the file that
// start-up wrote is what Wine loads for it.
TEST_F(VantrelStartupTest, TheWrittenImageLoadsAsTheLaunchersFilterService)
{
    StartAndClose();
    ServiceHandle service = OpenNamedService(FILTER_SERVICE_NAME, SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
    ASSERT_TRUE(service) << "VantrelFlt is not registered: " << GetLastError();
    ASSERT_TRUE(StartServiceA(service.get(), 0, nullptr)) << GetLastError();
    EXPECT_EQ(WaitForServiceState(service.get(), SERVICE_RUNNING), static_cast<DWORD>(SERVICE_RUNNING));
    SERVICE_STATUS status = {};
    EXPECT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) << GetLastError();
    EXPECT_EQ(WaitForServiceState(service.get(), SERVICE_STOPPED), static_cast<DWORD>(SERVICE_STOPPED));
}

// Wine's version setting stands for the system: each image must be what
// start-up writes for it and must load as the service. Wine's NT 4.0 mode
// still has today's kernel underneath; the import check covers the rest.
TEST_F(VantrelStartupTest, WindowsNT4GetsImageAAndWindowsXPImageBAndEachLoads)
{
    for (const auto& [version, image] : {std::make_pair("nt40", &imageA_), std::make_pair("winxp", &imageB_)}) {
        SCOPED_TRACE(version);
        {
            WineVersionForVantrel reported(version);
            StartAndClose();
        }
        EXPECT_TRUE(ReadFileBytes(driverFile_) == *image) << "not the image for this system";
        ServiceHandle service =
            OpenNamedService(FILTER_SERVICE_NAME, SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
        ASSERT_TRUE(service) << GetLastError();
        ASSERT_TRUE(StartServiceA(service.get(), 0, nullptr)) << GetLastError();
        EXPECT_EQ(WaitForServiceState(service.get(), SERVICE_RUNNING), static_cast<DWORD>(SERVICE_RUNNING));
        SERVICE_STATUS status = {};
        EXPECT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) << GetLastError();
        EXPECT_EQ(WaitForServiceState(service.get(), SERVICE_STOPPED), static_cast<DWORD>(SERVICE_STOPPED));
    }
    // Start-up on NT 4.0 wrote DeviceType 0, which no later start removes.
    const std::string serviceKey = std::string("SYSTEM\\CurrentControlSet\\Services\\") + FILTER_SERVICE_NAME;
    EXPECT_EQ(RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, serviceKey.c_str(), "DeviceType"), ERROR_SUCCESS);
}

}  // namespace
