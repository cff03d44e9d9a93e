// The filter's lifetime against other programs and the ports: a service stop
// that ends while a program keeps a request pending on a captured port, a
// captured port that is unplugged while a program reads it, and one that
// comes back.
#include "FilterTestSupport.h"
#include "RecordDecoder.h"
#include "RecordStream.h"
#include "StoredRecords.h"

#include <ntddser.h>

#include <atomic>

using namespace filtertest;

namespace {

class LifecycleTest : public FilterFixture {
protected:
    void SetUp() override
    {
        // Pair 0 (COM11, COM12) is a plug-in adapter's.
        SetDword(kServicesKey + TESTPORT_SERVICE_NAME "\\" TESTPORT_PARAMETERS_KEY, TESTPORT_REMOVABLE_PAIRS_VALUE, 1);
        FilterFixture::SetUp();
        InstallFilterService();
    }

    // One byte from `from` arrives at `to`: the port still carries data.
    static void ExpectByteArrives(HANDLE from, HANDLE to)
    {
        DWORD done = 0;
        OVERLAPPED writing{};
        if (!WriteFile(from, "k", 1, nullptr, &writing)) {
            ASSERT_EQ(static_cast<DWORD>(ERROR_IO_PENDING), GetLastError());
        }
        ASSERT_TRUE(GetOverlappedResult(from, &writing, &done, TRUE));
        OVERLAPPED reading{};
        char byte = 0;
        if (!ReadFile(to, &byte, 1, nullptr, &reading)) {
            ASSERT_EQ(static_cast<DWORD>(ERROR_IO_PENDING), GetLastError());
        }
        ASSERT_TRUE(GetOverlappedResult(to, &reading, &done, TRUE));
        EXPECT_EQ('k', byte);
    }
};

// With the system's unload-safe completion routine (Windows XP and later),
// and without it, where the unload takes the filter's routine back.
class StopWhileWaitingTest : public LifecycleTest, public ::testing::WithParamInterface<bool> {};

TEST_P(StopWhileWaitingTest, TheStopEndsAtOnceWhileAProgramWaitsOnACapturedPort)
{
    if (!GetParam())
        machine.HideSystemRoutine("IoSetCompletionRoutineEx");
    WriteMonitorObject(1, "COM11", kPort0Path, 10000);
    StartService();
    HANDLE port = Open("COM11", FILE_FLAG_OVERLAPPED);
    ASSERT_NE(INVALID_HANDLE_VALUE, port);
    ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
    OVERLAPPED waiting{};
    DWORD events = 0;
    ASSERT_FALSE(WaitCommEvent(port, &events, &waiting));
    ASSERT_EQ(static_cast<DWORD>(ERROR_IO_PENDING), GetLastError());

    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), StopService());
    EXPECT_FALSE(machine.IsDriverLoaded(kFilterService));

    HANDLE peer = Open("COM12", FILE_FLAG_OVERLAPPED);
    ASSERT_NE(INVALID_HANDLE_VALUE, peer);
    ExpectByteArrives(peer, port);
    DWORD done = 0;
    ASSERT_TRUE(GetOverlappedResult(port, &waiting, &done, TRUE)) << "the wait ends normally, later";
    EXPECT_EQ(static_cast<DWORD>(EV_RXCHAR), events);
    ExpectByteArrives(port, peer);
    StartService();  // and capture can start again
    CloseHandle(peer);
    CloseHandle(port);
}

INSTANTIATE_TEST_SUITE_P(UnloadSafeRoutine, StopWhileWaitingTest, ::testing::Bool());

TEST_F(LifecycleTest, AnUnpluggedPortEndsItsCaptureAndLetsThePortDriverGo)
{
    WriteMonitorObject(1, "COM11", kPort0Path, 10000);
    StartService();
    HANDLE port = Open("COM11", FILE_FLAG_OVERLAPPED);
    ASSERT_NE(INVALID_HANDLE_VALUE, port);
    OVERLAPPED reading{};
    char byte = 0;
    ASSERT_FALSE(ReadFile(port, &byte, 1, nullptr, &reading));

    ASSERT_TRUE(machine.UnplugDevice(kPort0Path));
    DWORD done = 0;
    EXPECT_FALSE(GetOverlappedResult(port, &reading, &done, TRUE)) << "the unplugged port ends the read";
    CloseHandle(port);  // the last handle: the removal follows

    std::vector<Record> records = FetchRecords(1);
    ASSERT_GE(records.size(), 3u);
    const CaptureRecord& removal = records[records.size() - 3].header;
    EXPECT_EQ(IRP_MJ_PNP, removal.kind) << "removal, then the program's clean-up and close";
    EXPECT_EQ(IRP_MN_SURPRISE_REMOVAL, removal.minorFunction);
    EXPECT_EQ(INVALID_HANDLE_VALUE, Open("FLTCOM11A")) << "the filter's own name reaches no deleted port";
    EXPECT_EQ(INVALID_HANDLE_VALUE, Open("COM11"));

    EXPECT_TRUE(machine.UnloadDriver(TESTPORT_SERVICE_NAME)) << "nothing of ours is left on the port";
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), StopService());
    ASSERT_EQ(STATUS_SUCCESS, machine.LoadDriver(TESTPORT_SERVICE_NAME, TESTPORT_IMAGE_NAME));
}

TEST_F(LifecycleTest, TheOtherPortsAreCapturedOnAfterAnUnplugAndTheStopWorks)
{
    WriteMonitorObject(1, "COM11", kPort0Path, 10000);
    WriteMonitorObject(2, "COM13", kPort2Path, 10000);
    StartService();
    ASSERT_TRUE(machine.UnplugDevice(kPort0Path));
    FetchRecords(2);

    HANDLE port = Open("COM13");
    ASSERT_NE(INVALID_HANDLE_VALUE, port);
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(port, "abc", 3, &done, nullptr));
    CloseHandle(port);
    std::vector<Record> records = FetchRecords(2);
    ASSERT_EQ(4u, records.size()) << "open, write, clean-up, close";
    EXPECT_EQ(RecordKind_Write, records[1].header.kind);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), StopService());
}

std::string WrittenOrFailed(HANDLE port, const std::string& bytes)
{
    DWORD done = 0;
    return WriteFile(port, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr) ? bytes : "";
}

std::string ReadAtOnce(HANDLE port)
{
    COMMTIMEOUTS now = {MAXDWORD, 0, 0, 0, 0};
    std::string bytes(100, '\0');
    DWORD done = 0;
    EXPECT_TRUE(SetCommTimeouts(port, &now) && ReadFile(port, bytes.data(), 100, &done, nullptr));
    return bytes.substr(0, done);
}

std::string ShownLine(const RecordView& record)
{
    if (record.kind == RecordKind_DeviceControl)
        return record.data[0] == LineErrorCode_PortRemoved    ? "removed"
               : record.data[0] == LineErrorCode_PortReturned ? "returned"
                                                              : "?";
    return std::string(reinterpret_cast<const char*>(record.data), record.length);
}

// Unplugged while a program writes and plugged in again under its COM name,
// the program letting the removed port go before the return or after it:
// the monitor, the virtual port of written data and the other end's monitor
// go on, and what was never written is no loss.
class ReturningPortTest : public LifecycleTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ReturningPortTest, AReturningPortIsCapturedAgainIntoTheSameMonitorAndVirtualPort)
{
    const bool closedBeforeTheReturn = GetParam();
    WriteMonitorObject(1, "COM11", kPort0Path, 10000);
    WriteMonitorObject(2, "COM12", TESTPORT_DEVICE_PREFIX "1", 10000);
    SetString(ObjectKey(3), CAPTURE_VALUE_BASE_NAME_A, "COM21");
    SetString(ObjectKey(3), "COM11", kPort0Path);
    SetDword(ObjectKey(3), CAPTURE_VALUE_FORM_A, CAPTURE_FORM_WRITTEN_DATA);
    StartService();
    HANDLE output = Open("COM21");
    HANDLE peer = Open("COM12");
    HANDLE port = Open("COM11");
    RecordStore store(10000, 1);
    RecordStream stream(store, GetTickCount(), [](uint32_t) {});
    ASSERT_TRUE(stream.Open(MonitorObjectPath(1).c_str()));
    std::string sent = WrittenOrFailed(port, "before");
    ASSERT_TRUE(machine.UnplugDevice(kPort0Path));
    sent += WrittenOrFailed(port, "away");
    if (closedBeforeTheReturn)
        CloseHandle(port);
    DWORD returned = 0;
    ASSERT_TRUE(DeviceIoControl(peer, IOCTL_TESTPORT_PLUG_IN_PEER, nullptr, 0, nullptr, 0, &returned, nullptr));
    if (!closedBeforeTheReturn)
        CloseHandle(port);
    machine.WaitForSystemWork();
    port = Open("COM11");
    sent += WrittenOrFailed(port, "after");
    CloseHandle(port);
    std::string heard = ReadAtOnce(peer);

    EXPECT_EQ("beforeafter", sent);
    EXPECT_EQ(sent, heard);
    stream.PollDevice(GetTickCount());
    std::vector<std::string> shown;
    for (const RecordView& record : StoredRecords(store))
        shown.push_back(ShownLine(record));
    EXPECT_EQ((std::vector<std::string>{"before", "removed", "returned", "after"}), shown);
    EXPECT_EQ(0u, stream.LostCount());
    stream.Close();
    EXPECT_EQ(sent, ReadAtOnce(output)) << "the virtual port: every byte written while the port was there";
    std::string peerRead;
    for (const Record& record : FetchRecords(2))
        peerRead += record.header.kind == RecordKind_Read ? std::string(record.data.begin(), record.data.end()) : "";
    EXPECT_EQ(sent, peerRead) << "the other end is captured throughout";
    CloseHandle(peer);
    CloseHandle(output);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), StopService());
}

INSTANTIATE_TEST_SUITE_P(ClosedBeforeTheReturn, ReturningPortTest, ::testing::Bool());

// Unplugged again the moment the filter is on the returned port's stack: the
// removal lets that port go at once, and the stop works.
TEST_F(LifecycleTest, APortUnpluggedAgainAsTheFilterAttachesIsLetGo)
{
    std::atomic<bool> returning{false};
    machine.OnDeviceAttached([&](PDEVICE_OBJECT) {
        if (returning.exchange(false)) {
            EXPECT_TRUE(machine.UnplugDevice("\\??\\COM11"));
        }
    });
    WriteMonitorObject(1, "COM11", kPort0Path, 10000);
    StartService();
    ASSERT_TRUE(machine.UnplugDevice(kPort0Path));
    returning = true;
    HANDLE peer = Open("COM12");
    DWORD returned = 0;
    ASSERT_TRUE(DeviceIoControl(peer, IOCTL_TESTPORT_PLUG_IN_PEER, nullptr, 0, nullptr, 0, &returned, nullptr));
    machine.WaitForSystemWork();
    CloseHandle(peer);
    std::vector<Record> records = FetchRecords(1);
    ASSERT_EQ(3u, records.size()) << "removed, returned, removed";
    EXPECT_EQ(CAPTURE_PNP_START_DEVICE, records[1].header.minorFunction);
    EXPECT_EQ(INVALID_HANDLE_VALUE, Open("COM11"));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), StopService());
}

}  // namespace
