// The filter and the test port as two kernel services of one load-order
// group, set up the way the application sets them up, capturing a terminal
// session: under Wine with the real .sys images in one winedevice.exe,
// natively with the same sources on the simulation. Built once per image:
// FILTER_IMAGE names it; image A runs with DeviceType 0 as on Windows NT 4.0.
#include <windows.h>
#include <winioctl.h>

#include "CaptureIoctl.h"
#include "CaptureItem.h"
#include "DriverParameters.h"
#include "KernelService.h"
#include "RecordStore.h"
#include "RecordStream.h"
#include "TestPortIoctl.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#ifndef _WIN32
extern "C" NTSTATUS NTAPI ZrVtrlFltDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);
#endif

namespace {

constexpr DWORD kSetBaudRate = 0x001B0004;  // IOCTL_SERIAL_SET_BAUD_RATE
constexpr const char* kInstalledImage = "ZrVtrlFlt.sys";
const std::string kServicesKey = "SYSTEM\\CurrentControlSet\\Services\\";

#ifdef _WIN32
std::string DriversFolder()
{
    char system[MAX_PATH];
    EXPECT_NE(0u, GetSystemDirectoryA(system, MAX_PATH));
    return std::string(system) + "\\drivers\\";
}

std::string ProgramFolder()
{
    char module[MAX_PATH];
    EXPECT_NE(0u, GetModuleFileNameA(nullptr, module, MAX_PATH));
    std::string path = module;
    return path.substr(0, path.find_last_of('\\') + 1);
}

// The image built beside the test, under the name the service loads.
void InstallFilterImage(TestMachine&)
{
    std::string source = ProgramFolder() + FILTER_IMAGE;
    std::string target = DriversFolder() + kInstalledImage;
    ASSERT_TRUE(CopyFileA(source.c_str(), target.c_str(), FALSE)) << source << ": " << GetLastError();
}

void RemoveInstalledImages()
{
    for (const char* image : {kInstalledImage, TESTPORT_IMAGE_NAME})
        DeleteFileA((DriversFolder() + image).c_str());
}
#else
void InstallFilterImage(TestMachine& machine)
{
    machine.RegisterDriverImage(kInstalledImage, ZrVtrlFltDriverEntry);
}

void RemoveInstalledImages() {}
#endif

void SetTestPortPair()
{
    HKEY key;
    std::string path = kServicesKey + TESTPORT_SERVICE_NAME "\\" TESTPORT_PARAMETERS_KEY;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                             KEY_WRITE, nullptr, &key, nullptr));
    const char pair[] = "COM11,COM12";
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Pair0", 0, REG_SZ, reinterpret_cast<const BYTE*>(pair), sizeof pair));
    RegCloseKey(key);
}

// A kernel service of the shared load-order group, as the Wine launcher
// prepares it (the \SystemRoot form of the image path).
SC_HANDLE CreateGroupService(SC_HANDLE manager, const char* name, const char* displayName, const char* image)
{
    SC_HANDLE service = CreateServiceA(manager, name, displayName, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                       SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, KernelImagePath(image).c_str(),
                                       TESTPORT_LOAD_ORDER_GROUP, nullptr, nullptr, nullptr, nullptr);
    EXPECT_NE(nullptr, service) << name << ": " << GetLastError();
    return service;
}

bool StartAndWait(SC_HANDLE service)
{
    if (!StartServiceA(service, 0, nullptr)) {
        ADD_FAILURE() << "StartService: " << GetLastError();
        return false;
    }
    return WaitForServiceState(service, SERVICE_RUNNING) == SERVICE_RUNNING;
}

std::unique_ptr<CaptureItem> MonitorItem(const char* port)
{
    std::unique_ptr<CaptureItem> item = NewCaptureItem();
    CopyItemText(item->port, sizeof item->port, port);
    item->form = StandardMonitor;
    item->bufferSize = 1000000;
    return item;
}

struct Record {
    CaptureRecord header;
    std::vector<uint8_t> data;
};

// One turn of the monitor's reading loop: query, fetch, until nothing is left.
void FetchPending(HANDLE device, std::vector<Record>* records)
{
    for (;;) {
        CaptureQueryReply reply{};
        DWORD returned = 0;
        ASSERT_TRUE(DeviceIoControl(device, IOCTL_CAPTURE_QUERY, nullptr, 0, &reply, sizeof reply, &returned, nullptr));
        if (reply.nextRecordSize == 0)
            return;
        std::vector<uint8_t> bytes(reply.nextRecordSize);
        ASSERT_TRUE(DeviceIoControl(device, IOCTL_CAPTURE_FETCH, nullptr, 0, bytes.data(), reply.nextRecordSize,
                                    &returned, nullptr));
        ASSERT_EQ(reply.nextRecordSize, returned);
        Record record{};
        memcpy(&record.header, bytes.data(), CAPTURE_RECORD_HEADER_SIZE);
        record.data.assign(bytes.begin() + CAPTURE_RECORD_HEADER_SIZE, bytes.end());
        records->push_back(record);
    }
}

class CaptureServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(nullptr, manager) << GetLastError();
        RemoveLeftoverService(manager, FILTER_SERVICE_NAME);
        RemoveLeftoverService(manager, TESTPORT_SERVICE_NAME);
        InstallDriverImage(machine, TESTPORT_IMAGE_NAME);
        testPort = CreateGroupService(manager, TESTPORT_SERVICE_NAME, TESTPORT_SERVICE_NAME, TESTPORT_IMAGE_NAME);
        ASSERT_NE(nullptr, testPort);
        SetTestPortPair();
        ASSERT_TRUE(StartAndWait(testPort));
        InstallFilterImage(machine);
        filter = CreateGroupService(manager, FILTER_SERVICE_NAME, FILTER_DISPLAY_NAME, kInstalledImage);
        ASSERT_NE(nullptr, filter);
    }
    void TearDown() override
    {
        if (filter)
            StopAndDeleteService(filter);
        if (testPort)
            StopAndDeleteService(testPort);
        if (manager)
            CloseServiceHandle(manager);
        RemoveInstalledImages();
    }

    // Two monitor items on COM11, written by the application's own code: the
    // first object attaches to the port, the second listens through it.
    void WriteParametersAndStart()
    {
        FilterService service;
#ifdef FILTER_DEVICE_TYPE_ZERO
        ASSERT_TRUE(service.SetDword(nullptr, "DeviceType", 0));
#endif
        items.InsertOrUpdateRow(MonitorItem("COM11"), -1);
        items.InsertOrUpdateRow(MonitorItem("COM11"), -1);
        DosDeviceTable devices(DOS_DEVICE_LISTING_SIZE);
        std::vector<std::string> logged;
        ASSERT_EQ(1, BuildDriverParameters(items, FILTER_PARAMETERS_KEY, service, devices,
                                           [&](const std::string& line) { logged.push_back(line); }));
        EXPECT_TRUE(logged.empty()) << logged.front();
        ASSERT_STREQ("ZrVlObj1", items.Item(0)->deviceObject);
        ASSERT_STREQ("ZrVlObj2", items.Item(1)->deviceObject);
        char devicePath[64] = {};
        ASSERT_TRUE(service.GetString("Parameters\\Obj1", "COM11", devicePath, sizeof devicePath));
        EXPECT_STREQ(TESTPORT_DEVICE_PREFIX "0", devicePath) << "the port value names the test port's device";
        ASSERT_TRUE(StartAndWait(filter));
    }

    TestMachine machine;
    SC_HANDLE manager = nullptr;
    SC_HANDLE testPort = nullptr;
    SC_HANDLE filter = nullptr;
    CaptureItemRows items;
};

HANDLE OpenPort(const char* name)
{
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

// Opens COM11, sets 9600 baud, writes "abc"; the peer on COM12 writes two
// bytes that COM11 reads; COM11 closes.
void RunTerminalSession()
{
    HANDLE peer = OpenPort("\\\\.\\COM12");
    ASSERT_NE(INVALID_HANDLE_VALUE, peer) << GetLastError();
    HANDLE port = OpenPort("\\\\.\\COM11");
    ASSERT_NE(INVALID_HANDLE_VALUE, port) << GetLastError();
    ULONG baud = 9600;
    DWORD count = 0;
    EXPECT_TRUE(DeviceIoControl(port, kSetBaudRate, &baud, sizeof baud, nullptr, 0, &count, nullptr)) << GetLastError();
    EXPECT_TRUE(WriteFile(port, "abc", 3, &count, nullptr)) << GetLastError();
    EXPECT_TRUE(WriteFile(peer, "xy", 2, &count, nullptr)) << GetLastError();
    char received[2] = {};
    EXPECT_TRUE(ReadFile(port, received, 2, &count, nullptr)) << GetLastError();
    EXPECT_EQ("xy", std::string(received, count));
    EXPECT_TRUE(CloseHandle(port));
    EXPECT_TRUE(CloseHandle(peer));
}

std::vector<uint8_t> KindsOf(const std::vector<Record>& records)
{
    std::vector<uint8_t> kinds;
    for (const Record& record : records)
        kinds.push_back(record.header.kind);
    return kinds;
}

TEST_F(CaptureServiceTest, ATerminalSessionReachesTheMonitorAndTheListener)
{
    WriteParametersAndStart();
    RecordStore store(10000, 1);
    RecordStream stream(store, GetTickCount(), [](uint32_t) {});
    ASSERT_TRUE(stream.Open("\\\\.\\ZrVlObj1")) << GetLastError();
    HANDLE listener = OpenPort("\\\\.\\ZrVlObj2");
    ASSERT_NE(INVALID_HANDLE_VALUE, listener) << GetLastError();
    // Wine 8 does not wait for the driver's answer to an open: there the
    // refused second open still gives a handle.
    if (!RunningUnderWine()) {
        EXPECT_EQ(INVALID_HANDLE_VALUE, OpenPort("\\\\.\\ZrVlObj2")) << "one handle at a time";
    }

    RunTerminalSession();
    // The close reaches the driver after CloseHandle has returned under Wine.
    std::vector<Record> records;
    for (int tries = 0; tries < 100 && (records.empty() || records.back().header.kind != RecordKind_Close); ++tries) {
        FetchPending(listener, &records);
        stream.PollDevice(GetTickCount());
        Sleep(50);
    }
    stream.PollDevice(GetTickCount());
    stream.Close();
    CloseHandle(listener);

    std::vector<uint8_t> expected = {RecordKind_Create, RecordKind_DeviceControl, RecordKind_Write, RecordKind_Read};
    if (!RunningUnderWine())
        expected.push_back(RecordKind_Cleanup);  // Wine sends no clean-up
    expected.push_back(RecordKind_Close);
    ASSERT_EQ(expected, KindsOf(records));
    EXPECT_TRUE(records[0].data.empty());
    EXPECT_EQ(kSetBaudRate, records[1].header.ioControlCode);
    EXPECT_EQ(4u, records[1].header.inputLength);
    EXPECT_EQ(0u, records[1].header.dataLength);
    ASSERT_EQ(4u, records[1].data.size());
    uint32_t rate = 0;
    memcpy(&rate, records[1].data.data(), sizeof rate);
    EXPECT_EQ(9600u, rate);
    EXPECT_EQ("abc", std::string(records[2].data.begin(), records[2].data.end()));
    EXPECT_EQ(3u, records[2].header.dataLength);
    EXPECT_EQ("xy", std::string(records[3].data.begin(), records[3].data.end()));
    for (const Record& record : records) {
        EXPECT_EQ(0u, record.header.portIndex) << "the port's index in the listener's own table";
        EXPECT_EQ(records[0].header.sourceDevice, record.header.sourceDevice);
        EXPECT_NE(0u, record.header.timestamp);
    }

    EXPECT_EQ(3u, stream.SentTotal());
    EXPECT_EQ(2u, stream.ReceivedTotal());
    EXPECT_EQ(9600, stream.BaudRate());
    EXPECT_EQ(0u, stream.LostCount());
    ASSERT_EQ(2, store.List().Count()) << "the monitor keeps the write and the read";
    const auto* write = static_cast<const CaptureRecord*>(store.List().Head()->data);
    EXPECT_EQ(RecordKind_Write, write->kind);
    EXPECT_EQ(0, memcmp("abc", CaptureRecordData(write), 3));
    const auto* read = static_cast<const CaptureRecord*>(store.List().Head()->next->data);
    EXPECT_EQ(RecordKind_Read, read->kind);
    EXPECT_EQ(0, memcmp("xy", CaptureRecordData(read), 2));
}

}  // namespace
