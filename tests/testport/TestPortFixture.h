// The test port driver on a simulated machine: pair COM11/COM12 written to
// the service's parameters and the driver loaded, as other suites start it.
#pragma once

#include <windows.h>
#include <winioctl.h>
#include <ntddser.h>

#include "Machine.h"
#include "TestPortIoctl.h"

#include <gtest/gtest.h>

#include <string>

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);

namespace testport {

inline const std::string kParametersKey =
    "SYSTEM\\CurrentControlSet\\Services\\" TESTPORT_SERVICE_NAME "\\" TESTPORT_PARAMETERS_KEY;

inline void SetParameter(const std::string& name, DWORD type, const void* data, DWORD size)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kParametersKey.c_str(), 0, nullptr,
                                             REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size));
    RegCloseKey(key);
}

inline void SetPair(const std::string& name, const std::string& ports)
{
    SetParameter(name, REG_SZ, ports.c_str(), static_cast<DWORD>(ports.size() + 1));
}

inline HANDLE OpenPort(const std::string& name, DWORD flags = 0)
{
    std::string path = "\\\\.\\" + name;
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, flags, nullptr);
}

// An overlapped request with its own event.
struct Pending {
    OVERLAPPED overlapped{};
    Pending() { overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
    ~Pending() { CloseHandle(overlapped.hEvent); }
    Pending(const Pending&) = delete;
    Pending& operator=(const Pending&) = delete;
    bool Done() const { return WaitForSingleObject(overlapped.hEvent, 0) == WAIT_OBJECT_0; }
};

class TestPortFixture : public ::testing::Test {
protected:
    explicit TestPortFixture(sim::ClockMode mode = sim::ClockMode::Manual) : machine(mode) {}

    void SetUp() override
    {
        SetPair("Pair0", "COM11,COM12");
        machine.RegisterDriverImage(TESTPORT_IMAGE_NAME, DriverEntry);
        ASSERT_EQ(STATUS_SUCCESS, machine.LoadDriver(TESTPORT_SERVICE_NAME, TESTPORT_IMAGE_NAME));
    }
    void TearDown() override
    {
        for (HANDLE port : {a, b}) {
            if (port != INVALID_HANDLE_VALUE)
                CloseHandle(port);
        }
        EXPECT_TRUE(machine.UnloadDriver(TESTPORT_SERVICE_NAME));
    }
    // Both ends, COM11 as `a` and COM12 as `b`.
    void OpenBoth(DWORD flags = 0)
    {
        a = OpenPort("COM11", flags);
        ASSERT_NE(INVALID_HANDLE_VALUE, a) << GetLastError();
        b = OpenPort("COM12", flags);
        ASSERT_NE(INVALID_HANDLE_VALUE, b) << GetLastError();
    }

    sim::Machine machine;
    HANDLE a = INVALID_HANDLE_VALUE;
    HANDLE b = INVALID_HANDLE_VALUE;
};

}  // namespace testport
