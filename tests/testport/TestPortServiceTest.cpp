// The test port as a kernel service, the same test on both platforms: under
// Wine the real VtrlTestPort.sys in winedevice.exe, natively the same source
// on the simulation. Synchronous calls only (Wine 8 fails overlapped
// WaitCommEvent).
#include <windows.h>
#include <winioctl.h>

#include "KernelService.h"
#include "SerialIoctl.h"
#include "TestPortIoctl.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kServiceKey = "SYSTEM\\CurrentControlSet\\Services\\" TESTPORT_SERVICE_NAME;

void SetPair(const char* name, const std::string& ports)
{
    HKEY key;
    std::string path = kServiceKey + "\\" TESTPORT_PARAMETERS_KEY;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                             KEY_WRITE, nullptr, &key, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(ports.c_str()),
                                            static_cast<DWORD>(ports.size() + 1)));
    RegCloseKey(key);
}

HANDLE OpenPort(const char* path)
{
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

class TestPortServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(nullptr, manager) << GetLastError();
        RemoveLeftoverService(manager, TESTPORT_SERVICE_NAME);
        InstallDriverImage(machine, TESTPORT_IMAGE_NAME);
        // The load-order group lets the filter share the test port's winedevice.exe.
        service = CreateServiceA(manager, TESTPORT_SERVICE_NAME, TESTPORT_SERVICE_NAME, SERVICE_ALL_ACCESS,
                                 SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                 KernelImagePath(TESTPORT_IMAGE_NAME).c_str(), TESTPORT_LOAD_ORDER_GROUP, nullptr,
                                 nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, service) << GetLastError();
        SetPair("Pair0", "COM11,COM12");
        ASSERT_TRUE(StartServiceA(service, 0, nullptr)) << GetLastError();
        ASSERT_EQ(static_cast<DWORD>(SERVICE_RUNNING), WaitForServiceState(service, SERVICE_RUNNING));
        a = OpenPort("\\\\.\\COM11");
        ASSERT_NE(INVALID_HANDLE_VALUE, a) << GetLastError();
        b = OpenPort("\\\\.\\COM12");
        ASSERT_NE(INVALID_HANDLE_VALUE, b) << GetLastError();
    }
    void TearDown() override
    {
        for (HANDLE port : {a, b}) {
            if (port != INVALID_HANDLE_VALUE)
                CloseHandle(port);
        }
        if (service)
            StopAndDeleteService(service);
        if (manager)
            CloseServiceHandle(manager);
    }

#ifdef _WIN32
    TestMachine machine;
#else
    // Synchronous reads that end by a timeout need a clock that runs by itself.
    TestMachine machine{sim::ClockMode::RealTime};
#endif
    SC_HANDLE manager = nullptr;
    SC_HANDLE service = nullptr;
    HANDLE a = INVALID_HANDLE_VALUE;
    HANDLE b = INVALID_HANDLE_VALUE;
};

TEST_F(TestPortServiceTest, TheServiceKeepsItsLoadOrderGroup)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServiceKey.c_str(), 0, KEY_READ, &key));
    char group[64] = {};
    DWORD size = sizeof group;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Group", nullptr, nullptr, reinterpret_cast<BYTE*>(group), &size));
    RegCloseKey(key);
    EXPECT_STREQ(TESTPORT_LOAD_ORDER_GROUP, group);
}

TEST_F(TestPortServiceTest, BytesWrittenOnOneEndAreReadOnTheOther)
{
    DWORD count = 0;
    ASSERT_TRUE(WriteFile(a, "abc", 3, &count, nullptr)) << GetLastError();
    EXPECT_EQ(3u, count);
    COMMTIMEOUTS timeouts{0, 0, 1000, 0, 0};
    ASSERT_TRUE(SetCommTimeouts(b, &timeouts));
    char buffer[8] = {};
    ASSERT_TRUE(ReadFile(b, buffer, 3, &count, nullptr)) << GetLastError();
    EXPECT_EQ("abc", std::string(buffer, count));

    ASSERT_TRUE(WriteFile(b, "xy", 2, &count, nullptr));
    ASSERT_TRUE(SetCommTimeouts(a, &timeouts));
    ASSERT_TRUE(ReadFile(a, buffer, 2, &count, nullptr));
    EXPECT_EQ("xy", std::string(buffer, count));
}

TEST_F(TestPortServiceTest, AReadThatTimesOutSucceedsWithWhatItGot)
{
    COMMTIMEOUTS timeouts{0, 0, 100, 0, 0};
    ASSERT_TRUE(SetCommTimeouts(b, &timeouts));
    DWORD count = 0;
    ASSERT_TRUE(WriteFile(a, "q", 1, &count, nullptr));
    char buffer[8] = {};
    ASSERT_TRUE(ReadFile(b, buffer, sizeof buffer, &count, nullptr)) << GetLastError();
    EXPECT_EQ("q", std::string(buffer, count));
}

TEST_F(TestPortServiceTest, LineSettingsAreSetAndReadBack)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(a, &dcb)) << GetLastError();
    dcb.BaudRate = 19200;
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    dcb.StopBits = TWOSTOPBITS;
    ASSERT_TRUE(SetCommState(a, &dcb)) << GetLastError();
    dcb.BaudRate = 9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    ASSERT_TRUE(SetCommState(a, &dcb)) << GetLastError();

    DCB back{};
    back.DCBlength = sizeof back;
    ASSERT_TRUE(GetCommState(a, &back)) << GetLastError();
    EXPECT_EQ(9600u, back.BaudRate);
    EXPECT_EQ(8, back.ByteSize);
    EXPECT_EQ(NOPARITY, back.Parity);
    EXPECT_EQ(ONESTOPBIT, back.StopBits);
}

TEST_F(TestPortServiceTest, InjectedLineErrorsArriveThroughClearCommError)
{
    ULONG flags = SERIAL_ERROR_FRAMING | SERIAL_ERROR_PARITY;
    DWORD returned = 0;
    ASSERT_TRUE(DeviceIoControl(a, IOCTL_TESTPORT_REPORT_ERRORS, &flags, sizeof flags, nullptr, 0, &returned, nullptr))
        << GetLastError();
    DWORD errors = 0;
    COMSTAT stat{};
    ASSERT_TRUE(ClearCommError(a, &errors, &stat)) << GetLastError();
    EXPECT_EQ(static_cast<DWORD>(CE_FRAME | CE_RXPARITY), errors);
    ASSERT_TRUE(ClearCommError(a, &errors, &stat));
    EXPECT_EQ(0u, errors) << "reported once";
}

TEST_F(TestPortServiceTest, ModemLinesCrossTheCable)
{
    DWORD status = 0;
    ASSERT_TRUE(GetCommModemStatus(b, &status)) << GetLastError();
    EXPECT_EQ(static_cast<DWORD>(MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON), status);
    ASSERT_TRUE(EscapeCommFunction(a, CLRRTS)) << GetLastError();
    ASSERT_TRUE(GetCommModemStatus(b, &status));
    EXPECT_EQ(static_cast<DWORD>(MS_DSR_ON | MS_RLSD_ON), status);
}

}  // namespace
