// Requests on a captured port become records, delivered in completion order
// and read by the monitor's record stream; the byte limit; unload while a
// request is in flight.
#include "FilterTestSupport.h"

#include "RecordStore.h"
#include "RecordStream.h"
#include "StoredRecords.h"

#include <ntddser.h>

using namespace filtertest;

namespace {

class CaptureTest : public FilterFixture {
protected:
    void StartMonitorOn11(DWORD maxBytes = 1000000)
    {
        WriteMonitorObject(1, "COM11", kPort0Path, maxBytes);
        StartFilter();
    }

    // Opens COM11, sets 9600 baud, writes "abc"; the peer writes two bytes
    // that COM11 then reads; COM11 closes.
    void RunTerminalSession()
    {
        HANDLE port = Open("COM11");
        ASSERT_NE(INVALID_HANDLE_VALUE, port);
        DWORD returned = 0;
        ULONG baud = 9600;
        ASSERT_TRUE(
            DeviceIoControl(port, IOCTL_SERIAL_SET_BAUD_RATE, &baud, sizeof baud, nullptr, 0, &returned, nullptr));
        DWORD done = 0;
        ASSERT_TRUE(WriteFile(port, "abc", 3, &done, nullptr));
        HANDLE peer = Open("COM12");
        ASSERT_NE(INVALID_HANDLE_VALUE, peer);
        ASSERT_TRUE(WriteFile(peer, "xy", 2, &done, nullptr));
        char received[2] = {};
        ASSERT_TRUE(ReadFile(port, received, 2, &done, nullptr));
        ASSERT_EQ(2u, done);
        EXPECT_TRUE(CloseHandle(peer));
        EXPECT_TRUE(CloseHandle(port));
    }

    // COM11 captured under a 100-byte limit, the open already fetched, then
    // writes of "1", "2" and "3" twenty times each: 60-byte records, of which
    // the first is dropped.
    void WriteThreeRecordsOverA100ByteLimit(HANDLE* port, HANDLE* control)
    {
        StartMonitorOn11(100);
        *port = Open("COM11");
        ASSERT_NE(INVALID_HANDLE_VALUE, *port);
        *control = Open(MonitorObjectName(1));
        ASSERT_NE(INVALID_HANDLE_VALUE, *control);
        ASSERT_EQ(1u, FetchAll(*control).size()) << "the open";
        DWORD done = 0;
        for (char fill : {'1', '2', '3'}) {
            std::string bytes(20, fill);
            ASSERT_TRUE(WriteFile(*port, bytes.data(), 20, &done, nullptr));
        }
    }
};

TEST_F(CaptureTest, ATerminalSessionArrivesAsRecordsInCompletionOrder)
{
    StartMonitorOn11();
    RunTerminalSession();
    std::vector<Record> records = FetchRecords(1);

    ASSERT_EQ(6u, records.size());
    EXPECT_EQ(RecordKind_Create, records[0].header.kind);
    EXPECT_TRUE(records[0].data.empty()) << "an open carries the header only";

    EXPECT_EQ(RecordKind_DeviceControl, records[1].header.kind);
    EXPECT_EQ(0x001B0004u, records[1].header.ioControlCode);
    EXPECT_EQ(4u, records[1].header.inputLength);
    EXPECT_EQ(0u, records[1].header.dataLength);
    ASSERT_EQ(4u, records[1].data.size());
    uint32_t rate;
    memcpy(&rate, records[1].data.data(), 4);
    EXPECT_EQ(9600u, rate);

    EXPECT_EQ(RecordKind_Write, records[2].header.kind);
    EXPECT_EQ(3u, records[2].header.dataLength);
    EXPECT_EQ("abc", std::string(records[2].data.begin(), records[2].data.end()));
    EXPECT_EQ(RecordKind_Read, records[3].header.kind);
    EXPECT_EQ("xy", std::string(records[3].data.begin(), records[3].data.end()));
    EXPECT_EQ(RecordKind_Cleanup, records[4].header.kind);
    EXPECT_EQ(RecordKind_Close, records[5].header.kind);

    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(0u, records[i].header.portIndex);
        EXPECT_EQ(records[0].header.sourceDevice, records[i].header.sourceDevice);
        EXPECT_EQ(0u, records[i].header.flags);
        EXPECT_NE(0u, records[i].header.timestamp) << "stamped by the control device";
        if (i > 0) {
            EXPECT_GE(records[i].header.timestamp, records[i - 1].header.timestamp);
        }
    }
}

// Forced pending runs every completion routine from a DPC at DISPATCH_LEVEL,
// where the filter may neither send a request nor wait for one.
TEST_F(CaptureTest, RequestsCompletedAtDispatchLevelAreCapturedWithoutWaiting)
{
    machine.ForcePendingRequests(true);
    StartMonitorOn11();
    RunTerminalSession();
    HANDLE control = Open(MonitorObjectName(1));
    ASSERT_NE(INVALID_HANDLE_VALUE, control);
    std::vector<std::vector<uint8_t>> records = FetchAll(control);
    CloseHandle(control);
    ASSERT_EQ(6u, records.size());
    EXPECT_EQ("abc", std::string(records[2].begin() + CAPTURE_RECORD_HEADER_SIZE, records[2].end()));
}

// Some port drivers complete an open with a non-zero information.
TEST_F(CaptureTest, AnOpenCompletedWithInformationArrivesAsAHeaderOnlyRecord)
{
    ASSERT_TRUE(machine.UnloadDriver(TESTPORT_SERVICE_NAME));
    SetDword(kServicesKey + TESTPORT_SERVICE_NAME "\\" TESTPORT_PARAMETERS_KEY, TESTPORT_OPEN_INFORMATION_VALUE, 1);
    ASSERT_EQ(STATUS_SUCCESS, machine.LoadDriver(TESTPORT_SERVICE_NAME, TESTPORT_IMAGE_NAME));
    StartMonitorOn11();
    HANDLE port = Open("COM11");
    ASSERT_NE(INVALID_HANDLE_VALUE, port);
    CloseHandle(port);
    HANDLE control = Open(MonitorObjectName(1));
    ASSERT_NE(INVALID_HANDLE_VALUE, control);
    std::vector<std::vector<uint8_t>> records = FetchAll(control);
    CloseHandle(control);
    ASSERT_EQ(3u, records.size()) << "open, clean-up, close";
    Record open = ToRecord(records[0]);
    EXPECT_EQ(RecordKind_Create, open.header.kind);
    EXPECT_EQ(0u, CaptureRecordPayloadLength(open.header));
    EXPECT_TRUE(open.data.empty());
}

TEST_F(CaptureTest, TheMonitorsRecordStreamShowsTheSession)
{
    StartMonitorOn11();
    RecordStore store(10000, 1);
    RecordStream stream(store, GetTickCount(), [](uint32_t) {});
    ASSERT_TRUE(stream.Open(MonitorObjectPath(1).c_str()));
    RunTerminalSession();
    EXPECT_TRUE(stream.PollDevice(GetTickCount()));

    EXPECT_EQ(3u, stream.SentTotal());
    EXPECT_EQ(2u, stream.ReceivedTotal());
    EXPECT_EQ(9600, stream.BaudRate());
    ASSERT_EQ(2u, store.RecordCount()) << "the write and the read are kept";
    const RecordView write = StoredRecords(store)[0];
    EXPECT_EQ(RecordKind_Write, write.kind);
    EXPECT_EQ(0, memcmp("abc", write.data, 3));
    stream.Close();
}

// The monitor's counter between two writes 2 ms apart, the first 1 ms
// before the coarse clock's next step of 15.625 ms.
uint32_t CounterOfWritesTwoMsApart(sim::Machine& machine)
{
    constexpr uint64_t kMs = 10000;
    constexpr uint64_t kStep = 156250;
    RecordStore store(10000, 1);
    RecordStream stream(store, GetTickCount(), [](uint32_t) {});
    EXPECT_TRUE(stream.Open(MonitorObjectPath(1).c_str()));
    HANDLE port = Open("COM11");
    machine.clock().Advance(kStep - kMs - machine.clock().Elapsed() % kStep);
    DWORD done = 0;
    EXPECT_TRUE(WriteFile(port, "a", 1, &done, nullptr));
    machine.clock().Advance(2 * kMs);
    EXPECT_TRUE(WriteFile(port, "b", 1, &done, nullptr));
    CloseHandle(port);
    stream.PollDevice(GetTickCount());
    stream.Close();
    const std::vector<RecordView> records = StoredRecords(store);
    return records.size() == 2 ? records[1].timeCounter : 0xFFFFFFFF;
}

TEST_F(CaptureTest, RecordsAreStampedWithThePreciseSystemTimeWhereTheSystemHasIt)
{
    StartMonitorOn11();
    EXPECT_EQ(2u, CounterOfWritesTwoMsApart(machine));
}

TEST_F(CaptureTest, WithoutThePreciseCallRecordsTakeTheClockInterruptsSteps)
{
    machine.HideSystemRoutine("KeQuerySystemTimePrecise");
    StartMonitorOn11();
    EXPECT_EQ(15u, CounterOfWritesTwoMsApart(machine));
}

TEST_F(CaptureTest, AStatusQueryCarriesTheInjectedLineErrors)
{
    StartMonitorOn11();
    RecordStore store(10000, 1);
    RecordStream stream(store, GetTickCount(), [](uint32_t) {});
    ASSERT_TRUE(stream.Open(MonitorObjectPath(1).c_str()));
    HANDLE port = Open("COM11");
    ASSERT_NE(INVALID_HANDLE_VALUE, port);
    ULONG errors = SERIAL_ERROR_FRAMING | SERIAL_ERROR_PARITY;
    DWORD returned = 0;
    ASSERT_TRUE(
        DeviceIoControl(port, IOCTL_TESTPORT_REPORT_ERRORS, &errors, sizeof errors, nullptr, 0, &returned, nullptr));
    DWORD commErrors = 0;
    COMSTAT status;
    ASSERT_TRUE(ClearCommError(port, &commErrors, &status));
    CloseHandle(port);
    stream.PollDevice(GetTickCount());

    ASSERT_EQ(1u, store.RecordCount());
    const RecordView record = StoredRecords(store)[0];
    EXPECT_EQ(RecordKind_DeviceControl, record.kind);
    ASSERT_EQ(2u, record.length);
    EXPECT_EQ(3u, record.data[0]) << "FRM";
    EXPECT_EQ(10u, record.data[1]) << "RXP";
    stream.Close();
}

TEST_F(CaptureTest, TheByteLimitDropsTheOldestAndFlagsTheLoss)
{
    HANDLE port = INVALID_HANDLE_VALUE;
    HANDLE control = INVALID_HANDLE_VALUE;
    ASSERT_NO_FATAL_FAILURE(WriteThreeRecordsOverA100ByteLimit(&port, &control));
    CaptureQueryReply reply = Query(control);
    EXPECT_EQ(CAPTURE_FLAG_DATA_LOST, reply.statusFlags);
    EXPECT_EQ(2u, reply.pendingRecords);
    EXPECT_EQ(120u, reply.pendingBytes);
    EXPECT_EQ(60u, reply.nextRecordSize);

    std::vector<uint8_t> bytes(59);
    DWORD returned = 1;
    ASSERT_TRUE(DeviceIoControl(control, IOCTL_CAPTURE_FETCH, nullptr, 0, bytes.data(), 59, &returned, nullptr));
    EXPECT_EQ(0u, returned) << "a buffer one byte short leaves the record";
    CloseHandle(control);

    RecordStore store(10000, 1);
    RecordStream stream(store, GetTickCount(), [](uint32_t) {});
    ASSERT_TRUE(stream.Open(MonitorObjectPath(1).c_str()));
    stream.PollDevice(GetTickCount());
    EXPECT_EQ(1u, stream.LostCount());
    ASSERT_EQ(3u, store.RecordCount()) << "marker, second and third write";
    EXPECT_EQ(RecordKind_DeviceControl, StoredRecords(store)[0].kind);
    EXPECT_EQ('2', StoredRecords(store)[1].data[0]);
    stream.Close();
    HANDLE again = Open(MonitorObjectName(1));
    EXPECT_EQ(0u, Query(again).statusFlags) << "the fetch cleared the loss";
    CloseHandle(again);
    CloseHandle(port);
}

TEST_F(CaptureTest, ABatchTakesWholeRecordsInOrderAndReportsTheDrops)
{
    HANDLE port = INVALID_HANDLE_VALUE;
    HANDLE control = INVALID_HANDLE_VALUE;
    ASSERT_NO_FATAL_FAILURE(WriteThreeRecordsOverA100ByteLimit(&port, &control));
    auto fetchBatch = [control](DWORD room) {
        std::vector<uint8_t> reply(room);
        DWORD returned = 0;
        EXPECT_TRUE(
            DeviceIoControl(control, IOCTL_CAPTURE_FETCH_BATCH, nullptr, 0, reply.data(), room, &returned, nullptr));
        reply.resize(returned);
        return reply;
    };
    auto headerOf = [](const std::vector<uint8_t>& reply) {
        CaptureBatchHeader header{};
        memcpy(&header, reply.data(), sizeof header);
        return header;
    };
    auto recordAt = [](const std::vector<uint8_t>& reply, size_t offset) {
        CaptureRecord record{};
        memcpy(&record, reply.data() + offset, sizeof record);
        return record;
    };

    EXPECT_TRUE(fetchBatch(sizeof(CaptureBatchHeader) - 1).empty()) << "no room for the header";
    std::vector<uint8_t> first = fetchBatch(sizeof(CaptureBatchHeader) + 60 + 59);
    ASSERT_EQ(first.size(), sizeof(CaptureBatchHeader) + 60) << "whole records only";
    CaptureBatchHeader header = headerOf(first);
    EXPECT_EQ(1u, header.recordCount);
    EXPECT_EQ(60u, header.nextRecordSize);
    EXPECT_EQ(1u, header.droppedRecords);
    EXPECT_EQ(20u, header.droppedBytes);
    EXPECT_EQ(CAPTURE_FLAG_DATA_LOST, recordAt(first, sizeof header).flags);
    EXPECT_EQ('2', first[sizeof header + CAPTURE_RECORD_HEADER_SIZE]);

    std::vector<uint8_t> second = fetchBatch(4096);
    ASSERT_EQ(second.size(), sizeof(CaptureBatchHeader) + 60);
    header = headerOf(second);
    EXPECT_EQ(1u, header.recordCount);
    EXPECT_EQ(0u, header.nextRecordSize);
    EXPECT_EQ(0u, header.droppedRecords) << "drops are reported once";
    EXPECT_EQ(0u, recordAt(second, sizeof header).flags) << "the loss was delivered";
    EXPECT_EQ('3', second[sizeof header + CAPTURE_RECORD_HEADER_SIZE]);
    EXPECT_EQ(sizeof(CaptureBatchHeader), fetchBatch(4096).size()) << "an empty device: the header alone";
    CloseHandle(control);
    CloseHandle(port);
}

// A 400-byte limit holds ten one-byte records: the list and its spare nodes
// never hold more than the limit needs, and nodes freed by drops and by
// fetches are kept for the next records rather than returned to the pool.
TEST_F(CaptureTest, SmallRecordNodesAreKeptForReuseWithinTheByteLimit)
{
    StartMonitorOn11(400);
    HANDLE port = Open("COM11");
    HANDLE control = Open(MonitorObjectName(1));
    ASSERT_EQ(1u, FetchAll(control).size()) << "the open";
    const size_t baseline = machine.PoolTagsOf(kFilterService).size();
    const size_t mostNodes = 400 / CAPTURE_RECORD_HEADER_SIZE + 3;
    auto writeOneByteRecords = [port](int count) {
        DWORD done = 0;
        for (int i = 0; i < count; ++i)
            ASSERT_TRUE(WriteFile(port, "w", 1, &done, nullptr));
    };
    for (int round = 0; round < 3; ++round) {
        ASSERT_NO_FATAL_FAILURE(writeOneByteRecords(100));
        size_t heldWhileFull = machine.PoolTagsOf(kFilterService).size() - baseline;
        EXPECT_GE(heldWhileFull, 10u);
        EXPECT_LE(heldWhileFull, mostNodes) << "round " << round;
        EXPECT_FALSE(FetchAll(control).empty());
        EXPECT_EQ(heldWhileFull, machine.PoolTagsOf(kFilterService).size() - baseline)
            << "fetched nodes are kept, round " << round;
    }
    CloseHandle(control);
    CloseHandle(port);
}

// The unload takes its routine back from a read that waits in the port: the
// read completes later, normally, through no code of the filter.
TEST_F(CaptureTest, UnloadLeavesAReadInFlightToCompleteNormally)
{
    StartMonitorOn11();
    HANDLE port = Open("COM11", FILE_FLAG_OVERLAPPED);
    ASSERT_NE(INVALID_HANDLE_VALUE, port);
    OVERLAPPED overlapped{};
    char received[1] = {};
    ASSERT_FALSE(ReadFile(port, received, 1, nullptr, &overlapped));
    ASSERT_EQ(static_cast<DWORD>(ERROR_IO_PENDING), GetLastError());

    ASSERT_TRUE(machine.UnloadDriver(kFilterService));
    HANDLE peer = Open("COM12");
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(peer, "z", 1, &done, nullptr));
    ASSERT_TRUE(GetOverlappedResult(port, &overlapped, &done, TRUE));
    EXPECT_EQ(1u, done);
    EXPECT_EQ('z', received[0]);
    CloseHandle(peer);
    CloseHandle(port);
}

}  // namespace

namespace {

// A program writes far faster than the monitor and a reader of the virtual
// port COM21 (raw written bytes) drain, into small device buffers and a small
// store: every byte is accounted for, and the bytes that remain come in
// order, with a loss marker wherever some went missing.
class LossAccountingTest : public FilterFixture, public ::testing::WithParamInterface<sim::ClockMode> {
protected:
    LossAccountingTest() : FilterFixture(GetParam()) {}

    static constexpr uint32_t kTotal = 5000;
    static uint8_t WrittenByte(uint32_t i) { return static_cast<uint8_t>(i); }

    void StartMonitorAndVirtualPortOn11(DWORD maxBytes)
    {
        WriteMonitorObject(1, "COM11", kPort0Path, maxBytes);
        std::string key = ObjectKey(2);
        SetString(key, CAPTURE_VALUE_BASE_NAME_A, "COM21");
        SetString(key, "COM11", kPort0Path);
        SetDword(key, CAPTURE_VALUE_FORM_A, CAPTURE_FORM_WRITTEN_DATA);
        SetDword(key, CAPTURE_VALUE_MAX_BYTES_A, maxBytes);
        StartFilter();
    }

    static void ReadAvailable(HANDLE reader, std::vector<uint8_t>* received)
    {
        uint8_t bytes[4096];
        DWORD done = 0;
        ASSERT_TRUE(ReadFile(reader, bytes, sizeof bytes, &done, nullptr));
        received->insert(received->end(), bytes, bytes + done);
    }

    // The driver's count of the bytes it dropped, asked without taking a record.
    static uint32_t DroppedBytesOf(HANDLE device)
    {
        CaptureBatchHeader header{};
        DWORD returned = 0;
        EXPECT_TRUE(
            DeviceIoControl(device, IOCTL_CAPTURE_FETCH_BATCH, nullptr, 0, &header, sizeof header, &returned, nullptr));
        EXPECT_EQ(sizeof header, returned);
        return header.droppedBytes;
    }

    // The received bytes matched in order against the written ones: the
    // written bytes skipped on the way, or kTotal + 1 when they do not match.
    static uint32_t SkippedMatchingInOrder(const std::vector<uint8_t>& received)
    {
        uint32_t next = 0;
        for (uint8_t byte : received) {
            while (next < kTotal && WrittenByte(next) != byte)
                ++next;
            if (next == kTotal)
                return kTotal + 1;
            ++next;
        }
        return kTotal - static_cast<uint32_t>(received.size());
    }
};

TEST_P(LossAccountingTest, EveryWrittenByteIsKeptOrReportedDroppedAndGapsAreMarked)
{
    const uint32_t writesPerTick = 200;
    StartMonitorAndVirtualPortOn11(50 * (CAPTURE_RECORD_HEADER_SIZE + 1));
    HANDLE port = Open("COM11");
    ASSERT_NE(INVALID_HANDLE_VALUE, port);
    HANDLE reader = Open("COM21");
    ASSERT_NE(INVALID_HANDLE_VALUE, reader);
    std::vector<uint8_t> received;
    RecordStore store(300, 1);
    RecordStream stream(store, GetTickCount(), [](uint32_t) {});
    ASSERT_TRUE(stream.Open(MonitorObjectPath(1).c_str()));
    DWORD done = 0;
    for (uint32_t i = 0; i < kTotal; ++i) {
        uint8_t byte = WrittenByte(i);
        ASSERT_TRUE(WriteFile(port, &byte, 1, &done, nullptr));
        if (i % writesPerTick == writesPerTick - 1) {
            stream.PollDevice(GetTickCount());
            ASSERT_NO_FATAL_FAILURE(ReadAvailable(reader, &received));
        }
    }
    stream.PollDevice(GetTickCount());
    ASSERT_NO_FATAL_FAILURE(ReadAvailable(reader, &received));
    CloseHandle(port);

    uint32_t readerDropped = DroppedBytesOf(reader);
    EXPECT_GT(readerDropped, 0u);
    EXPECT_EQ(readerDropped, SkippedMatchingInOrder(received)) << "the reader got the rest, in order";
    CloseHandle(reader);

    EXPECT_GT(stream.DroppedBytes(), 0u);
    EXPECT_EQ(kTotal, stream.SentTotal() + stream.DroppedBytes()) << "shown or evicted, or dropped";
    int bytesSeen = 0;
    int previous = -1;
    bool markerSincePrevious = false;
    for (const RecordView& record : StoredRecords(store)) {
        if (record.kind != RecordKind_Write) {
            markerSincePrevious = true;
            continue;
        }
        int byte = record.data[0];
        if (previous >= 0 && !markerSincePrevious) {
            ASSERT_EQ((previous + 1) & 0xFF, byte) << "a gap without a marker after " << bytesSeen << " bytes";
        }
        previous = byte;
        markerSincePrevious = false;
        ++bytesSeen;
    }
    EXPECT_GT(bytesSeen, 0);
}

INSTANTIATE_TEST_SUITE_P(BothClocks, LossAccountingTest,
                         ::testing::Values(sim::ClockMode::Manual, sim::ClockMode::RealTime));

}  // namespace
