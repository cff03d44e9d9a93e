// A terminal session on the captured test port, fetched by a monitor and by
// a listener: under Wine with the real .sys images, natively with the same
// sources on the simulation. Built once per image; image A runs with
// DeviceType 0 as on Windows NT 4.0.
#include "FilterServiceFixture.h"

#include <winioctl.h>

#include "CaptureIoctl.h"
#include "CaptureParameters.h"
#include "FilterService.h"
#include "RecordStore.h"
#include "RecordStream.h"
#include "SerialIoctl.h"
#include "StoredRecords.h"
#include "TestPortIoctl.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

// The application's first two monitor objects.
constexpr const char* kFirstMonitorPath = "\\\\.\\" CAPTURE_MONITOR_OBJECT_PREFIX_A "1";
constexpr const char* kSecondMonitorPath = "\\\\.\\" CAPTURE_MONITOR_OBJECT_PREFIX_A "2";

struct Record {
    CaptureRecord header;
    std::vector<uint8_t> data;
};

// One turn of the monitor's reading loop: query, fetch, until nothing is
// left. A session leaves a handful; a device that never runs dry fails.
void FetchPending(HANDLE device, std::vector<Record>* records)
{
    constexpr int kMostFetches = 1000;
    for (int fetches = 0;; ++fetches) {
        ASSERT_LT(fetches, kMostFetches) << "the device never runs out of records";
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

class CaptureServiceTest : public FilterServiceTest {
protected:
    // Two monitor items on COM11: the first object attaches to the port, the
    // second listens through it.
    void StartTwoMonitors()
    {
        items.InsertOrUpdateRow(NewItem("COM11", StandardMonitor), -1);
        items.InsertOrUpdateRow(NewItem("COM11", StandardMonitor), -1);
        StartFilter();
        ASSERT_STREQ(CAPTURE_MONITOR_OBJECT_PREFIX_A "1", items.Item(0)->deviceObject);
        ASSERT_STREQ(CAPTURE_MONITOR_OBJECT_PREFIX_A "2", items.Item(1)->deviceObject);
        FilterService service;
        char devicePath[64] = {};
        ASSERT_TRUE(
            service.GetString("Parameters\\" CAPTURE_OBJECT_KEY_PREFIX_A "1", "COM11", devicePath, sizeof devicePath));
        EXPECT_STREQ(TESTPORT_DEVICE_PREFIX "0", devicePath) << "the port value names the test port's device";
    }
};

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
    EXPECT_TRUE(DeviceIoControl(port, IOCTL_SERIAL_SET_BAUD_RATE, &baud, sizeof baud, nullptr, 0, &count, nullptr))
        << GetLastError();
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
    StartTwoMonitors();
    RecordStore store(10000, 1);
    RecordStream stream(store, GetTickCount(), [](uint32_t) {});
    ASSERT_TRUE(stream.Open(kFirstMonitorPath)) << GetLastError();
    HANDLE listener = OpenPort(kSecondMonitorPath);
    ASSERT_NE(INVALID_HANDLE_VALUE, listener) << GetLastError();
    // Wine 8 does not wait for the driver's answer to an open: there the
    // refused second open still gives a handle.
    if (!RunningUnderWine()) {
        EXPECT_EQ(INVALID_HANDLE_VALUE, OpenPort(kSecondMonitorPath)) << "one handle at a time";
    }

    RunTerminalSession();
    // The close reaches the driver after CloseHandle has returned under Wine.
    std::vector<Record> records;
    for (int tries = 0;
         tries < 100 && !HasFatalFailure() && (records.empty() || records.back().header.kind != RecordKind_Close);
         ++tries) {
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
    EXPECT_EQ(static_cast<uint32_t>(IOCTL_SERIAL_SET_BAUD_RATE), records[1].header.ioControlCode);
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
    ASSERT_EQ(2u, store.RecordCount()) << "the monitor keeps the write and the read";
    const std::vector<RecordView> kept = StoredRecords(store);
    EXPECT_EQ(RecordKind_Write, kept[0].kind);
    EXPECT_EQ(0, memcmp("abc", kept[0].data, 3));
    EXPECT_EQ(RecordKind_Read, kept[1].kind);
    EXPECT_EQ(0, memcmp("xy", kept[1].data, 2));
}

// A port driver that uses direct I/O: the filter on top takes on its flags,
// and the records carry the bytes from the caller's pages.
class DirectIoCaptureServiceTest : public CaptureServiceTest {
protected:
    DirectIoCaptureServiceTest() { directIoPairs = 1; }
};

TEST_F(DirectIoCaptureServiceTest, TheBytesOfADirectIoPortReachTheMonitor)
{
    StartTwoMonitors();
    RecordStore store(10000, 1);
    RecordStream stream(store, GetTickCount(), [](uint32_t) {});
    ASSERT_TRUE(stream.Open(kFirstMonitorPath)) << GetLastError();
    RunTerminalSession();
    for (int tries = 0; tries < 100 && stream.ReceivedTotal() < 2; ++tries) {
        stream.PollDevice(GetTickCount());
        Sleep(50);
    }
    stream.Close();

    EXPECT_EQ(3u, stream.SentTotal());
    EXPECT_EQ(2u, stream.ReceivedTotal());
    ASSERT_EQ(2u, store.RecordCount());
    const std::vector<RecordView> kept = StoredRecords(store);
    EXPECT_EQ(0, memcmp("abc", kept[0].data, 3));
    EXPECT_EQ(0, memcmp("xy", kept[1].data, 2));
}

}  // namespace
