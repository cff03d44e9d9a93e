// Capture start and stop from the items to the monitor's records, with the
// real filter driver on a null-modem test port pair of the simulation.
#include "CaptureControl.h"
#include "DriverParameters.h"
#include "RecordStore.h"
#include "RecordStream.h"
#include "TestPortIoctl.h"

#include "Machine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);  // the test port
extern "C" NTSTATUS ZrVtrlFltDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);

namespace {

HANDLE OpenPort(const char* name)
{
    std::string path = std::string("\\\\.\\") + name;
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

void WritePair(const char* pair)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE,
                                             "SYSTEM\\CurrentControlSet\\Services\\" TESTPORT_SERVICE_NAME
                                             "\\" TESTPORT_PARAMETERS_KEY,
                                             0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Pair0", 0, REG_SZ, reinterpret_cast<const BYTE*>(pair),
                                            static_cast<DWORD>(strlen(pair) + 1)));
    RegCloseKey(key);
}

class CaptureEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        WritePair("COM11,COM12");
        machine.RegisterDriverImage(TESTPORT_IMAGE_NAME, DriverEntry);
        ASSERT_EQ(STATUS_SUCCESS, machine.LoadDriver(TESTPORT_SERVICE_NAME, TESTPORT_IMAGE_NAME));
        machine.RegisterDriverImage("ZrVtrlFlt.sys", ZrVtrlFltDriverEntry);
        ASSERT_TRUE(service.Install(FILTER_DISPLAY_NAME, FILTER_IMAGE_PATH, 0));
        AddMonitorItem("COM11");
    }
    void TearDown() override
    {
        if (machine.IsDriverLoaded(FILTER_SERVICE_NAME)) {
            EXPECT_TRUE(service.StopAndWait(FILTER_STOP_TIMEOUT_MS));
        }
        EXPECT_TRUE(machine.UnloadDriver(TESTPORT_SERVICE_NAME));
    }

    void AddMonitorItem(const char* port)
    {
        std::unique_ptr<CaptureItem> item = NewCaptureItem();
        CopyItemText(item->port, sizeof item->port, port);
        item->form = StandardMonitor;
        item->bufferSize = 10000;
        items.InsertOrUpdateRow(std::move(item), -1);
    }

    CaptureStart Start()
    {
        DosDeviceTable devices(DOS_DEVICE_LISTING_SIZE);
        return StartCapture(items, service, devices, [this](const std::string& line) { log.push_back(line); });
    }

    sim::Machine machine;
    FilterService service;
    CaptureItemRows items;
    std::vector<std::string> log;
};

TEST_F(CaptureEndToEnd, TrafficOfTheCapturedPortReachesTheMonitor)
{
    CaptureStart start = Start();
    ASSERT_EQ(CaptureStartResult::Started, start.result);
    ASSERT_EQ(1u, start.monitors.size());
    EXPECT_EQ("\\\\.\\ZrVlObj1", start.monitors[0].devicePath);

    RecordStore store(start.monitors[0].bufferSize, 1);
    store.Grow(1);  // the view's idle cell
    RecordStream stream(store, GetTickCount(), [](uint32_t) {});
    ASSERT_TRUE(stream.Open(start.monitors[0].devicePath.c_str()));

    HANDLE program = OpenPort("COM11");
    HANDLE peer = OpenPort("COM12");
    ASSERT_NE(INVALID_HANDLE_VALUE, program);
    ASSERT_NE(INVALID_HANDLE_VALUE, peer);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(program, &dcb));
    dcb.BaudRate = 19200;
    ASSERT_TRUE(SetCommState(program, &dcb));
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(program, "abc", 3, &done, nullptr));
    ASSERT_TRUE(WriteFile(peer, "xy", 2, &done, nullptr));
    char reply[2];
    ASSERT_TRUE(ReadFile(program, reply, 2, &done, nullptr));
    ASSERT_EQ(2u, done);
    CloseHandle(program);
    CloseHandle(peer);

    EXPECT_TRUE(stream.PollDevice(GetTickCount()));
    EXPECT_EQ(3u, stream.SentTotal());
    EXPECT_EQ(2u, stream.ReceivedTotal());
    EXPECT_EQ(19200, stream.BaudRate());
    EXPECT_EQ(2u, store.RecordCount());
    stream.Close();
}

// Twelve records that exactly fill a batch come in one request; then one
// larger than the whole batch buffer reaches the store too.
TEST_F(CaptureEndToEnd, BatchesTakeRecordsThatExactlyFitAndOnesLargerThanTheirBuffer)
{
    items.Item(0)->bufferSize = 4 * BatchBufferSize;
    CaptureStart start = Start();
    ASSERT_EQ(1u, start.monitors.size());
    RecordStore store(4 * BatchBufferSize, 1);
    RecordStream stream(store, GetTickCount(), [](uint32_t) {});
    ASSERT_TRUE(stream.Open(start.monitors[0].devicePath.c_str()));
    HANDLE program = OpenPort("COM11");
    stream.PollDevice(GetTickCount());  // its open record
    const std::string fill((BatchBufferSize - sizeof(CaptureBatchHeader)) / 12 - CAPTURE_RECORD_HEADER_SIZE, 'f');
    const std::string large(BatchBufferSize + 100, 'l');
    DWORD done = 0;
    for (int i = 0; i < 12; ++i)
        WriteFile(program, fill.data(), static_cast<DWORD>(fill.size()), &done, nullptr);
    const uint64_t before = stream.Requests();
    EXPECT_TRUE(stream.PollDevice(GetTickCount()));
    EXPECT_EQ(1u, stream.Requests() - before);
    WriteFile(program, large.data(), static_cast<DWORD>(large.size()), &done, nullptr);
    EXPECT_TRUE(stream.PollDevice(GetTickCount()));
    EXPECT_EQ(12 * fill.size() + large.size(), stream.SentTotal());
    CloseHandle(program);
    stream.Close();
}

TEST_F(CaptureEndToEnd, APortHeldByAnotherProgramStopsTheStartBeforeTheService)
{
    HANDLE holder = OpenPort("COM11");
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    EXPECT_EQ(CaptureStartResult::PortBusy, Start().result);
    EXPECT_FALSE(machine.IsDriverLoaded(FILTER_SERVICE_NAME));
    CloseHandle(holder);
}

// The items stay in memory between two starts while COM12 leaves the system.
TEST_F(CaptureEndToEnd, AnItemWhosePortVanishedSinceTheLastStartIsLeftOut)
{
    AddMonitorItem("COM12");
    ASSERT_EQ(2u, Start().monitors.size());
    ASSERT_TRUE(service.StopAndWait(FILTER_STOP_TIMEOUT_MS));
    ASSERT_TRUE(machine.UnloadDriver(TESTPORT_SERVICE_NAME));
    WritePair("COM11,COM15");
    ASSERT_EQ(STATUS_SUCCESS, machine.LoadDriver(TESTPORT_SERVICE_NAME, TESTPORT_IMAGE_NAME));
    log.clear();

    CaptureStart start = Start();
    EXPECT_EQ(CaptureStartResult::Started, start.result);
    EXPECT_EQ(log, (std::vector<std::string>{"設定されたCOMポートが見つかりませんでした(COM12)"}));
    EXPECT_EQ(0, items.Item(1)->active);
    EXPECT_STREQ("", items.Item(1)->deviceObject);
    ASSERT_EQ(1u, start.monitors.size());
    EXPECT_EQ("COM11", start.monitors[0].port);
}

TEST_F(CaptureEndToEnd, StopEndsWhileAProgramStillHoldsACapturedPort)
{
    ASSERT_EQ(CaptureStartResult::Started, Start().result);
    HANDLE program = OpenPort("COM11");
    ASSERT_NE(INVALID_HANDLE_VALUE, program);

    // The program's handle is on the port's device, not on one of the filter's.
    EXPECT_TRUE(service.StopAndWait(FILTER_STOP_TIMEOUT_MS));
    EXPECT_FALSE(machine.IsDriverLoaded(FILTER_SERVICE_NAME));
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(program, "a", 1, &written, nullptr)) << "the port goes on without the filter";
    CloseHandle(program);
}

}  // namespace
