// A port that uses direct I/O: the filter shows itself as the port does, the
// I/O manager hands the caller's buffer over as an MDL, and the records carry
// the bytes read and written; bytes that cannot be mapped count as lost.
#include "FilterTestSupport.h"

#include "RecordStore.h"
#include "RecordStream.h"
#include "StoredRecords.h"

using namespace filtertest;

namespace {

// COM11/COM12 (pair 0) use direct I/O, COM13/COM14 stay buffered.
class DirectIoCaptureTest : public FilterFixture {
protected:
    void SetUp() override
    {
        SetDword(kServicesKey + TESTPORT_SERVICE_NAME "\\" TESTPORT_PARAMETERS_KEY, TESTPORT_DIRECT_IO_PAIRS_VALUE, 1);
        FilterFixture::SetUp();
    }
};

TEST_F(DirectIoCaptureTest, AFilterShowsThePortsTypeCharacteristicsAndIoFlags)
{
    WriteMonitorObject(1, "COM11", kPort0Path, 10000);
    SetString(ObjectKey(1), "COM13", kPort2Path);
    StartFilter();
    const ULONG ioFlags = DO_BUFFERED_IO | DO_DIRECT_IO | DO_POWER_PAGABLE;
    ULONG lowerFlagsSeen = 0;
    int filters = 0;
    for (PDEVICE_OBJECT device = filter->DeviceObject; device != nullptr; device = device->NextDevice) {
        if (HeadOf(device)->kind != kFilterDeviceKind)
            continue;
        PDEVICE_OBJECT lower = FilterOf(device)->lowerDevice;
        ASSERT_NE(nullptr, lower);
        EXPECT_EQ(lower->DeviceType, device->DeviceType);
        EXPECT_EQ(lower->Characteristics | FILE_DEVICE_SECURE_OPEN, device->Characteristics);
        EXPECT_EQ(lower->Flags & ioFlags, device->Flags & ioFlags);
        lowerFlagsSeen |= lower->Flags;
        ++filters;
    }
    EXPECT_EQ(2, filters);
    EXPECT_EQ(DO_BUFFERED_IO | DO_DIRECT_IO, lowerFlagsSeen & (DO_BUFFERED_IO | DO_DIRECT_IO)) << "one port of each";
}

TEST_F(DirectIoCaptureTest, ReadsAndWritesOfADirectIoPortArriveWithTheirBytesInOrder)
{
    WriteMonitorObject(1, "COM11", kPort0Path, 1000000);
    StartFilter();
    HANDLE port = Open("COM11", FILE_FLAG_OVERLAPPED);
    ASSERT_NE(INVALID_HANDLE_VALUE, port);
    HANDLE peer = Open("COM12");
    ASSERT_NE(INVALID_HANDLE_VALUE, peer);
    OVERLAPPED overlapped{};
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(port, "hello", 5, &done, &overlapped));
    ASSERT_TRUE(WriteFile(peer, "world!", 6, &done, nullptr));
    char received[6] = {};
    if (!ReadFile(port, received, 6, nullptr, &overlapped)) {
        ASSERT_EQ(static_cast<DWORD>(ERROR_IO_PENDING), GetLastError());
    }
    ASSERT_TRUE(GetOverlappedResult(port, &overlapped, &done, TRUE));
    EXPECT_EQ("world!", std::string(received, 6));
    // A read that the peer's write completes later, from its own request.
    char later[3] = {};
    EXPECT_FALSE(ReadFile(port, later, 3, nullptr, &overlapped));
    ASSERT_EQ(static_cast<DWORD>(ERROR_IO_PENDING), GetLastError());
    ASSERT_TRUE(WriteFile(peer, "xyz", 3, &done, nullptr));
    ASSERT_TRUE(GetOverlappedResult(port, &overlapped, &done, TRUE));
    EXPECT_EQ("xyz", std::string(later, 3));
    CloseHandle(peer);
    CloseHandle(port);

    std::vector<Record> records = FetchRecords(1);
    ASSERT_EQ(6u, records.size());
    EXPECT_EQ(RecordKind_Create, records[0].header.kind);
    EXPECT_EQ(RecordKind_Write, records[1].header.kind);
    EXPECT_EQ("hello", std::string(records[1].data.begin(), records[1].data.end()));
    EXPECT_EQ(RecordKind_Read, records[2].header.kind);
    EXPECT_EQ("world!", std::string(records[2].data.begin(), records[2].data.end()));
    EXPECT_EQ(RecordKind_Read, records[3].header.kind);
    EXPECT_EQ("xyz", std::string(records[3].data.begin(), records[3].data.end()));
    EXPECT_EQ(RecordKind_Cleanup, records[4].header.kind);
    EXPECT_EQ(RecordKind_Close, records[5].header.kind);
}

// A port whose hardware moves the bytes itself (as by DMA): direct I/O, and
// the caller's pages are never mapped by it, so the filter maps them.
NTSTATUS SinkDispatch(PDEVICE_OBJECT, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    irp->IoStatus.Status = STATUS_SUCCESS;
    irp->IoStatus.Information = stack->MajorFunction == IRP_MJ_WRITE ? stack->Parameters.Write.Length : 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
}

UNICODE_STRING SinkName(PCWSTR text)
{
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, text);
    return name;
}

NTSTATUS SinkEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    UNICODE_STRING name = SinkName(u"\\Device\\DmaSink0");
    UNICODE_STRING link = SinkName(u"\\DosDevices\\COM15");
    PDEVICE_OBJECT device;
    NTSTATUS status = IoCreateDevice(driver, 0, &name, FILE_DEVICE_SERIAL_PORT, 0, TRUE, &device);
    if (!NT_SUCCESS(status))
        return status;
    device->Flags |= DO_DIRECT_IO;
    for (auto& function : driver->MajorFunction)
        function = SinkDispatch;
    driver->DriverUnload = [](PDRIVER_OBJECT unloading) {
        UNICODE_STRING sinkLink = SinkName(u"\\DosDevices\\COM15");
        IoDeleteSymbolicLink(&sinkLink);
        IoDeleteDevice(unloading->DeviceObject);
    };
    return IoCreateSymbolicLink(&link, &name);
}

class UnmappedTransferTest : public FilterFixture {
protected:
    void TearDown() override
    {
        FilterFixture::TearDown();
        EXPECT_TRUE(machine.UnloadDriver("DmaSink"));
    }
};

TEST_F(UnmappedTransferTest, BytesThatCannotBeMappedAreCountedAsLost)
{
    machine.RegisterDriverImage("DmaSink.sys", SinkEntry);
    ASSERT_EQ(STATUS_SUCCESS, machine.LoadDriver("DmaSink", "DmaSink.sys"));
    WriteMonitorObject(1, "COM15", "\\Device\\DmaSink0", 1000000);
    StartFilter();
    RecordStore store(10000, 1);
    RecordStream stream(store, GetTickCount(), [](uint32_t) {});
    ASSERT_TRUE(stream.Open(MonitorObjectPath(1).c_str()));
    HANDLE port = Open("COM15");
    ASSERT_NE(INVALID_HANDLE_VALUE, port);
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(port, "abcd", 4, &done, nullptr));
    machine.FailSystemMappings(true);
    ASSERT_TRUE(WriteFile(port, "efgh", 4, &done, nullptr)) << "the port's request is never affected";
    machine.FailSystemMappings(false);
    ASSERT_TRUE(WriteFile(port, "ij", 2, &done, nullptr));
    CloseHandle(port);
    EXPECT_TRUE(stream.PollDevice(GetTickCount()));
    stream.Close();

    EXPECT_EQ(6u, stream.SentTotal());
    EXPECT_EQ(4u, stream.DroppedBytes());
    std::string shown;
    for (const RecordView& record : StoredRecords(store)) {
        if (record.kind == RecordKind_Write)
            shown.append(reinterpret_cast<const char*>(record.data), record.length);
    }
    EXPECT_EQ("abcdij", shown);
}

}  // namespace
