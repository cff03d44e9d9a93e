// The filter's lifetime against other programs and the ports: a service stop
// that ends while a program keeps a request pending on a captured port, and a
// captured port that is unplugged while a program reads it.
#include "FilterTestSupport.h"

#include <ntddser.h>

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

}  // namespace
