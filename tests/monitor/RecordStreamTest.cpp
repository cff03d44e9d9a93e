// The polling loop against a small capture device of its own, on the
// simulated machine.
#include "RecordStream.h"
#include "StoredRecords.h"
#include "TestRecords.h"

#include "CaptureIoctl.h"
#include "Machine.h"

#include <wdm.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <vector>

namespace {

// What the device holds and how it misbehaves; the fixture owns it.
struct CaptureQueue {
    std::deque<std::vector<uint8_t>> records;
    bool lost = false;
    int failingQueries = 0;
    int failingFetches = 0;  // -1: always
    int queries = 0;
    int fetches = 0;
    // A device that knows the batched fetch, and what it reports dropped.
    bool batches = false;
    int batchFetches = 0;
    uint32_t droppedRecords = 0;
    uint32_t droppedBytes = 0;
};

CaptureQueue* g_queue = nullptr;  // one device per test process

const char16_t DeviceName[] = u"\\Device\\ZrVlObj1";
const char16_t LinkName[] = u"\\DosDevices\\ZrVlObj1";
const char DevicePath[] = "\\\\.\\ZrVlObj1";

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS Query(PIRP irp, ULONG outLength)
{
    ++g_queue->queries;
    if (g_queue->failingQueries > 0) {
        --g_queue->failingQueries;
        return Complete(irp, STATUS_UNSUCCESSFUL, 0);
    }
    if (outLength < sizeof(CaptureQueryReply))
        return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    CaptureQueryReply reply{};
    reply.statusFlags = g_queue->lost ? CAPTURE_FLAG_DATA_LOST : 0;
    reply.pendingRecords = static_cast<uint32_t>(g_queue->records.size());
    for (const auto& record : g_queue->records)
        reply.pendingBytes += static_cast<uint32_t>(record.size());
    if (!g_queue->records.empty())
        reply.nextRecordSize = static_cast<uint32_t>(g_queue->records.front().size());
    std::memcpy(irp->AssociatedIrp.SystemBuffer, &reply, sizeof reply);
    return Complete(irp, STATUS_SUCCESS, sizeof reply);
}

NTSTATUS Fetch(PIRP irp, ULONG outLength)
{
    ++g_queue->fetches;
    if (g_queue->failingFetches != 0) {
        if (g_queue->failingFetches > 0)
            --g_queue->failingFetches;
        return Complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
    }
    if (g_queue->records.empty() || outLength < g_queue->records.front().size())
        return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    std::vector<uint8_t> record = std::move(g_queue->records.front());
    g_queue->records.pop_front();
    if (g_queue->lost)
        record[offsetof(CaptureRecord, flags)] |= CAPTURE_FLAG_DATA_LOST;
    g_queue->lost = false;
    std::memcpy(irp->AssociatedIrp.SystemBuffer, record.data(), record.size());
    return Complete(irp, STATUS_SUCCESS, record.size());
}

NTSTATUS FetchBatch(PIRP irp, ULONG outLength)
{
    ++g_queue->batchFetches;
    if (!g_queue->batches)
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    if (outLength < sizeof(CaptureBatchHeader))
        return Complete(irp, STATUS_SUCCESS, 0);
    auto* out = static_cast<uint8_t*>(irp->AssociatedIrp.SystemBuffer);
    CaptureBatchHeader header{0, 0, g_queue->droppedRecords, g_queue->droppedBytes};
    g_queue->droppedRecords = g_queue->droppedBytes = 0;
    ULONG written = sizeof header;
    while (!g_queue->records.empty() && g_queue->records.front().size() <= outLength - written) {
        std::vector<uint8_t>& record = g_queue->records.front();
        if (g_queue->lost)
            record[offsetof(CaptureRecord, flags)] |= CAPTURE_FLAG_DATA_LOST;
        g_queue->lost = false;
        std::memcpy(out + written, record.data(), record.size());
        written += static_cast<ULONG>(record.size());
        ++header.recordCount;
        g_queue->records.pop_front();
    }
    if (!g_queue->records.empty())
        header.nextRecordSize = static_cast<uint32_t>(g_queue->records.front().size());
    std::memcpy(out, &header, sizeof header);
    return Complete(irp, STATUS_SUCCESS, written);
}

NTSTATUS Dispatch(PDEVICE_OBJECT, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->MajorFunction != IRP_MJ_DEVICE_CONTROL)
        return Complete(irp, STATUS_SUCCESS, 0);
    const ULONG outLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_CAPTURE_QUERY: return Query(irp, outLength);
    case IOCTL_CAPTURE_FETCH: return Fetch(irp, outLength);
    case IOCTL_CAPTURE_FETCH_BATCH: return FetchBatch(irp, outLength);
    default: return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
}

void Unload(PDRIVER_OBJECT driver)
{
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, LinkName);
    IoDeleteSymbolicLink(&link);
    IoDeleteDevice(driver->DeviceObject);
}

NTSTATUS CaptureDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    UNICODE_STRING name;
    UNICODE_STRING link;
    RtlInitUnicodeString(&name, DeviceName);
    RtlInitUnicodeString(&link, LinkName);
    PDEVICE_OBJECT device = nullptr;
    NTSTATUS status = IoCreateDevice(driver, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
    if (!NT_SUCCESS(status))
        return status;
    device->Flags |= DO_BUFFERED_IO;
    for (auto& function : driver->MajorFunction)
        function = Dispatch;
    driver->DriverUnload = Unload;
    status = IoCreateSymbolicLink(&link, &name);
    if (!NT_SUCCESS(status))
        IoDeleteDevice(device);
    return status;
}

class RecordStreamTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_queue = &queue;
        ASSERT_TRUE(NT_SUCCESS(machine.StartDriver("TestCapture", CaptureDriverEntry)));
    }
    void TearDown() override
    {
        stream.Close();
        EXPECT_TRUE(machine.UnloadDriver("TestCapture"));
        g_queue = nullptr;
    }

    void Queue(const TestRecord& r)
    {
        const auto* bytes = reinterpret_cast<const uint8_t*>(r.record);
        queue.records.emplace_back(bytes, bytes + r.size);
        std::free(r.record);
    }

    void QueueReads(int count)
    {
        for (int i = 0; i < count; ++i)
            Queue(MakeDataRecord(RecordKind_Read, {static_cast<uint8_t>(i), 0x0A}, 10000ull * i));
    }

    sim::Machine machine;
    CaptureQueue queue;
    RecordStore store{10000, 1};
    std::vector<uint32_t> idleReports;
    RecordStream stream{store, 0, [this](uint32_t ms) { idleReports.push_back(ms); }};
};

}  // namespace

TEST_F(RecordStreamTest, OneTickDrainsEverythingPendingThenReportsIdle)
{
    ASSERT_TRUE(stream.Open(DevicePath));
    QueueReads(5);
    Queue(MakeDataRecord(RecordKind_Write, {1, 2, 3}, 90000));
    EXPECT_TRUE(stream.PollDevice(700));

    EXPECT_TRUE(queue.records.empty());
    EXPECT_EQ(store.RecordCount(), 6u);
    EXPECT_EQ(stream.ReceivedTotal(), 10u);
    EXPECT_EQ(stream.SentTotal(), 3u);
    EXPECT_EQ(queue.queries, 7);
    EXPECT_EQ(idleReports, (std::vector<uint32_t>{0}));  // kept records this tick

    EXPECT_FALSE(stream.PollDevice(950));
    EXPECT_EQ(idleReports.back(), 250u);
}

TEST_F(RecordStreamTest, ADeviceThatKnowsBatchesIsDrainedWithFewRequests)
{
    queue.batches = true;
    ASSERT_TRUE(stream.Open(DevicePath));
    QueueReads(5000);
    queue.lost = true;
    queue.droppedRecords = 7;
    queue.droppedBytes = 9;
    QueueReads(4999);
    // Larger than the batch buffer: the next request makes room for it.
    Queue(MakeDataRecord(RecordKind_Write, std::vector<uint8_t>(BatchBufferSize, 0x55), 0));
    EXPECT_TRUE(stream.PollDevice(100));

    EXPECT_TRUE(queue.records.empty());
    EXPECT_EQ(queue.queries + queue.fetches, 0);
    EXPECT_LE(queue.batchFetches, 10000 / 100);
    EXPECT_EQ(stream.ReceivedTotal(), 2u * 9999);
    EXPECT_EQ(stream.SentTotal(), BatchBufferSize);
    EXPECT_EQ(stream.LostCount(), 1u);
    EXPECT_EQ(stream.DroppedRecords(), 7u);
    EXPECT_EQ(stream.DroppedBytes(), 9u);
    EXPECT_EQ(idleReports.size(), 1u);
}

TEST_F(RecordStreamTest, ADeviceWithoutBatchesIsAskedOnceThenRecordByRecord)
{
    ASSERT_TRUE(stream.Open(DevicePath));
    QueueReads(2);
    stream.PollDevice(100);
    QueueReads(2);
    stream.PollDevice(200);
    EXPECT_EQ(store.RecordCount(), 4u);
    EXPECT_EQ(queue.batchFetches, 1);
    EXPECT_EQ(queue.fetches, 4);
}

TEST_F(RecordStreamTest, LostRecordsShowAMarkerAndCountOnce)
{
    ASSERT_TRUE(stream.Open(DevicePath));
    QueueReads(2);
    queue.lost = true;
    stream.PollDevice(100);
    EXPECT_EQ(stream.LostCount(), 1u);
    EXPECT_EQ(store.RecordCount(), 3u);
    const RecordView marker = StoredRecords(store)[0];
    EXPECT_EQ(marker.kind, RecordKind_DeviceControl);
    EXPECT_EQ(marker.data[0], 0u);
}

TEST_F(RecordStreamTest, FailingFetchesEndTheTickAndTheRecordWaits)
{
    ASSERT_TRUE(stream.Open(DevicePath));
    QueueReads(1);
    queue.failingFetches = -1;
    EXPECT_TRUE(stream.PollDevice(100));
    EXPECT_EQ(queue.fetches, static_cast<int>(MaxFailedFetchesPerTick));
    EXPECT_EQ(queue.records.size(), 1u);
    EXPECT_TRUE(idleReports.empty());

    queue.failingFetches = 1;  // one more failure, then the retry succeeds
    EXPECT_TRUE(stream.PollDevice(200));
    EXPECT_TRUE(queue.records.empty());
    EXPECT_EQ(store.RecordCount(), 1u);
}

TEST_F(RecordStreamTest, FailingQueryEndsTheTickQuietly)
{
    ASSERT_TRUE(stream.Open(DevicePath));
    QueueReads(1);
    queue.failingQueries = 1;
    EXPECT_FALSE(stream.PollDevice(100));
    EXPECT_EQ(queue.fetches, 0);
    EXPECT_TRUE(idleReports.empty());
    EXPECT_TRUE(stream.PollDevice(200));
    EXPECT_EQ(store.RecordCount(), 1u);
}

TEST_F(RecordStreamTest, PausedStreamLeavesRecordsQueued)
{
    ASSERT_TRUE(stream.Open(DevicePath));
    QueueReads(3);
    stream.TogglePause();
    EXPECT_FALSE(stream.Running());
    EXPECT_FALSE(stream.PollDevice(100));
    EXPECT_EQ(queue.queries, 0);
    EXPECT_EQ(queue.records.size(), 3u);

    stream.TogglePause();
    EXPECT_TRUE(stream.Running());
    EXPECT_TRUE(stream.PollDevice(200));
    EXPECT_EQ(store.RecordCount(), 3u);
}

TEST_F(RecordStreamTest, WithoutADevicePauseCanOnlyPause)
{
    EXPECT_FALSE(stream.Open("\\\\.\\ZrVlObj9"));
    EXPECT_FALSE(stream.IsOpen());
    EXPECT_TRUE(stream.Running());
    EXPECT_FALSE(stream.PollDevice(100));
    stream.TogglePause();
    EXPECT_FALSE(stream.Running());
    stream.TogglePause();
    EXPECT_FALSE(stream.Running());
}

TEST_F(RecordStreamTest, StopClosesTheDeviceForGood)
{
    ASSERT_TRUE(stream.Open(DevicePath));
    QueueReads(1);
    stream.Stop();
    EXPECT_FALSE(stream.IsOpen());
    EXPECT_FALSE(stream.Running());
    stream.TogglePause();
    EXPECT_FALSE(stream.Running());
    EXPECT_FALSE(stream.PollDevice(100));
    EXPECT_EQ(queue.queries, 0);
    EXPECT_FALSE(machine.DriverHasOpenHandles("TestCapture"));
}

namespace {

// Memory runs out after chunksLeft more blocks (-1: never) until it returns.
struct ScarceChunks : ChunkAllocator {
    void* Allocate(size_t bytes) override
    {
        if (chunksLeft == 0)
            return nullptr;
        chunksLeft -= chunksLeft > 0 ? 1 : 0;
        return ChunkAllocator::Allocate(bytes);
    }
    int chunksLeft = -1;
};

}  // namespace

TEST_F(RecordStreamTest, WithoutMemoryRecordsAreRefusedOnceLoggedAndMarkedWhereCaptureGoesOn)
{
    ScarceChunks chunks;
    RecordStore scarce(100000, 1, chunks);
    int logLines = 0;
    scarce.SetMemoryShortListener([&logLines] { ++logLines; });
    RecordStream scarceStream(scarce, 0, [](uint32_t) {});
    ASSERT_TRUE(scarceStream.Open(DevicePath));
    chunks.chunksLeft = 2;  // the chunk directory and one chunk
    QueueReads(3000);
    scarceStream.PollDevice(100);
    const uint32_t kept = scarce.RecordCount();
    EXPECT_TRUE(kept > 0 && kept < 3000) << kept;
    EXPECT_EQ(scarceStream.ReceivedTotal(), 6000u) << "every record was read from the device";
    QueueReads(5);
    scarceStream.PollDevice(200);
    EXPECT_EQ(scarce.RecordCount(), kept);

    chunks.chunksLeft = -1;
    QueueReads(2);
    scarceStream.PollDevice(300);
    const std::vector<RecordView> records = StoredRecords(scarce);
    ASSERT_EQ(records.size(), kept + 3);
    EXPECT_EQ(records[kept].kind, RecordKind_DeviceControl);
    EXPECT_EQ(records[kept].data[0], LineErrorCode_LostData);
    EXPECT_EQ(records[kept + 2].timestamp, 10000u) << "the driver's time stamp is kept";
    EXPECT_EQ(scarce.TotalCells(), kept * 3 + 1 + 2 * 3) << "a time cell and two bytes per read";
    EXPECT_EQ(logLines, 1);
}
