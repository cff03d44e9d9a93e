// The capture filter on the simulated machine: the test port pairs and the
// filter's parameters written as the application writes them, both drivers
// started, and the capture requests a monitor sends.
#pragma once

#include <windows.h>
#include <winioctl.h>

#include "CaptureIoctl.h"
#include "CaptureParameters.h"
#include "CaptureRecord.h"
#include "FilterDriver.h"
#include "Machine.h"
#include "TestPortIoctl.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);  // the test port

namespace filtertest {

inline const std::string kServicesKey = "SYSTEM\\CurrentControlSet\\Services\\";
inline const std::string kFilterService = "VantrelFlt";
inline const std::string kParametersKey = kServicesKey + kFilterService + "\\Parameters";

// COM11 and COM12 are the two ends of pair 0, COM13 and COM14 of pair 1.
inline const char* const kPort0Path = "\\Device\\VtrlTestPort0";
inline const char* const kPort2Path = "\\Device\\VtrlTestPort2";

inline void SetString(const std::string& key, const std::string& name, const std::string& text)
{
    HKEY handle;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                             KEY_WRITE, nullptr, &handle, nullptr));
    // As the application writes them: no terminating zero.
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(handle, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.data()),
                                            static_cast<DWORD>(text.size())));
    RegCloseKey(handle);
}

inline void SetDword(const std::string& key, const std::string& name, DWORD value)
{
    HKEY handle;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                             KEY_WRITE, nullptr, &handle, nullptr));
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExA(handle, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value));
    RegCloseKey(handle);
}

inline std::string ObjectKey(int number)
{
    return kParametersKey + "\\" CAPTURE_OBJECT_KEY_PREFIX_A + std::to_string(number);
}

// The base name the application gives its monitor object `number`, and the
// path a monitor opens it by.
inline std::string MonitorObjectName(int number)
{
    return CAPTURE_MONITOR_OBJECT_PREFIX_A + std::to_string(number);
}

inline std::string MonitorObjectPath(int number)
{
    return "\\\\.\\" + MonitorObjectName(number);
}

inline void WriteMonitorObject(int number, const std::string& port, const std::string& devicePath, DWORD maxBytes)
{
    std::string key = ObjectKey(number);
    SetString(key, CAPTURE_VALUE_BASE_NAME_A, MonitorObjectName(number));
    SetString(key, port, devicePath);
    SetDword(key, CAPTURE_VALUE_MAX_BYTES_A, maxBytes);
}

struct Record {
    CaptureRecord header;
    std::vector<uint8_t> data;
};

inline Record ToRecord(const std::vector<uint8_t>& bytes)
{
    Record record{};
    EXPECT_GE(bytes.size(), CAPTURE_RECORD_HEADER_SIZE);
    memcpy(&record.header, bytes.data(), CAPTURE_RECORD_HEADER_SIZE);
    record.data.assign(bytes.begin() + CAPTURE_RECORD_HEADER_SIZE, bytes.end());
    EXPECT_FALSE(sim::Machine::LooksUnwritten(record.data.data(), record.data.size()))
        << "a record of kind " << int(record.header.kind) << " carries bytes that nobody wrote";
    return record;
}

inline CaptureQueryReply Query(HANDLE device)
{
    CaptureQueryReply reply{};
    DWORD returned = 0;
    EXPECT_TRUE(DeviceIoControl(device, IOCTL_CAPTURE_QUERY, nullptr, 0, &reply, sizeof reply, &returned, nullptr));
    EXPECT_EQ(sizeof reply, returned);
    return reply;
}

// Every pending record, oldest first, as the monitor fetches them. Nothing
// adds records meanwhile: a device that hands out more than it held keeps
// returning the same one, and the test fails instead of looping on.
inline std::vector<std::vector<uint8_t>> FetchAll(HANDLE device)
{
    std::vector<std::vector<uint8_t>> records;
    const uint32_t held = Query(device).pendingRecords;
    for (uint32_t size = Query(device).nextRecordSize; size != 0; size = Query(device).nextRecordSize) {
        if (records.size() == held) {
            ADD_FAILURE() << "more records than the " << held << " the device held";
            break;
        }
        std::vector<uint8_t> bytes(size);
        DWORD returned = 0;
        EXPECT_TRUE(DeviceIoControl(device, IOCTL_CAPTURE_FETCH, nullptr, 0, bytes.data(), size, &returned, nullptr));
        EXPECT_EQ(size, returned);
        records.push_back(bytes);
    }
    return records;
}

inline HANDLE Open(const std::string& name, DWORD flags = 0)
{
    std::string path = "\\\\.\\" + name;
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, flags, nullptr);
}

// Every pending record of monitor object `number`, decoded, oldest first.
inline std::vector<Record> FetchRecords(int number)
{
    HANDLE control = Open(MonitorObjectName(number));
    EXPECT_NE(INVALID_HANDLE_VALUE, control);
    std::vector<Record> records;
    for (const auto& bytes : FetchAll(control))
        records.push_back(ToRecord(bytes));
    CloseHandle(control);
    return records;
}

// Both drivers on a manual-clock machine; the filter's parameters are written
// by each test before StartFilter.
class FilterFixture : public ::testing::Test {
protected:
    explicit FilterFixture(sim::ClockMode mode = sim::ClockMode::Manual) : machine(mode) {}

    void SetUp() override
    {
        SetString(kServicesKey + TESTPORT_SERVICE_NAME "\\" TESTPORT_PARAMETERS_KEY, "Pair0", "COM11,COM12");
        SetString(kServicesKey + TESTPORT_SERVICE_NAME "\\" TESTPORT_PARAMETERS_KEY, "Pair1", "COM13,COM14");
        machine.RegisterDriverImage(TESTPORT_IMAGE_NAME, DriverEntry);
        ASSERT_EQ(STATUS_SUCCESS, machine.LoadDriver(TESTPORT_SERVICE_NAME, TESTPORT_IMAGE_NAME));
        machine.RegisterDriverImage("ZrVtrlFlt.sys", ZrVtrlFltDriverEntry);
    }
    void TearDown() override
    {
        if (service != nullptr)
            CloseServiceHandle(service);
        if (manager != nullptr)
            CloseServiceHandle(manager);
        if (machine.IsDriverLoaded(kFilterService)) {
            EXPECT_TRUE(machine.UnloadDriver(kFilterService));
        }
        EXPECT_TRUE(machine.UnloadDriver(TESTPORT_SERVICE_NAME));
    }

    void StartFilter() { ASSERT_EQ(STATUS_SUCCESS, machine.LoadDriver(kFilterService, "ZrVtrlFlt.sys", &filter)); }

    // The filter as the application installs it: a demand-start kernel service.
    void InstallFilterService()
    {
        manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        service = CreateServiceA(manager, kFilterService.c_str(), kFilterService.c_str(), SERVICE_ALL_ACCESS,
                                 SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                 "System32\\Drivers\\ZrVtrlFlt.sys", nullptr, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, service);
    }

    void StartService() { ASSERT_TRUE(StartServiceA(service, 0, nullptr)) << GetLastError(); }

    DWORD StopService()
    {
        SERVICE_STATUS status{};
        EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status)) << GetLastError();
        return status.dwCurrentState;
    }

    sim::Machine machine;
    PDRIVER_OBJECT filter = nullptr;
    SC_HANDLE manager = nullptr;
    SC_HANDLE service = nullptr;
};

}  // namespace filtertest
