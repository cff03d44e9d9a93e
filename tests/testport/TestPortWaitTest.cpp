// Requests that wait, on the simulation's manual clock: read timeouts as
// Windows counts them, wait on mask with the null-modem lines, purge, and
// cancellation by CancelIo, CloseHandle and unload.
#include "TestPortFixture.h"

#include <string>

namespace testport {
namespace {

// An overlapped read into its own buffer.
struct PendingRead : Pending {
    std::string buffer;
    DWORD got = 0;
    BOOL started = FALSE;
    PendingRead(HANDLE port, DWORD size) : buffer(size, '\0')
    {
        started = ReadFile(port, buffer.data(), size, nullptr, &overlapped);
    }
    // The bytes read, once the read has ended; false when it failed.
    bool Finish(HANDLE port)
    {
        BOOL ok = GetOverlappedResult(port, &overlapped, &got, TRUE);
        buffer.resize(got);
        return ok;
    }
};

void SetTimeouts(HANDLE port, DWORD interval, DWORD multiplier, DWORD constant)
{
    COMMTIMEOUTS timeouts{interval, multiplier, constant, 0, 0};
    ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
}

bool Write(HANDLE port, const std::string& bytes)
{
    DWORD written = 0;
    OVERLAPPED overlapped{};
    return WriteFile(port, bytes.data(), static_cast<DWORD>(bytes.size()), &written, &overlapped) &&
           written == bytes.size();
}

class TestPortTimeoutTest : public TestPortFixture {
protected:
    void SetUp() override
    {
        TestPortFixture::SetUp();
        OpenBoth(FILE_FLAG_OVERLAPPED);
    }
};

TEST_F(TestPortTimeoutTest, IntervalMaxAloneReturnsAtOnceWithWhatIsThere)
{
    SetTimeouts(a, MAXDWORD, 0, 0);
    PendingRead empty(a, 8);
    ASSERT_TRUE(empty.Done());
    EXPECT_TRUE(empty.Finish(a));
    EXPECT_EQ("", empty.buffer);
    ASSERT_TRUE(Write(b, "abc"));
    PendingRead some(a, 8);
    ASSERT_TRUE(some.Finish(a));
    EXPECT_EQ("abc", some.buffer);
}

TEST_F(TestPortTimeoutTest, TotalTimeoutEndsTheReadWithTheBytesItGot)
{
    SetTimeouts(a, 0, 10, 50);  // 10 x 5 + 50 = 100 ms
    ASSERT_TRUE(Write(b, "ab"));
    PendingRead read(a, 5);
    machine.AdvanceTicks(9);
    EXPECT_FALSE(read.Done());
    machine.AdvanceTicks(1);
    ASSERT_TRUE(read.Done());
    EXPECT_TRUE(read.Finish(a)) << "a timed-out read succeeds";
    EXPECT_EQ("ab", read.buffer);
}

TEST_F(TestPortTimeoutTest, TheWholeLengthEndsTheReadBeforeItsTimeout)
{
    SetTimeouts(a, 0, 0, 1000);
    PendingRead read(a, 4);
    machine.AdvanceTicks(3);
    ASSERT_TRUE(Write(b, "ab"));
    EXPECT_FALSE(read.Done());
    ASSERT_TRUE(Write(b, "cdef"));
    ASSERT_TRUE(read.Done());
    ASSERT_TRUE(read.Finish(a));
    EXPECT_EQ("abcd", read.buffer);
    SetTimeouts(a, MAXDWORD, 0, 0);
    PendingRead rest(a, 8);
    ASSERT_TRUE(rest.Finish(a));
    EXPECT_EQ("ef", rest.buffer) << "the bytes beyond the first read wait for the next";
}

TEST_F(TestPortTimeoutTest, IntervalTimeoutRunsFromTheLastByte)
{
    SetTimeouts(a, 50, 0, 0);
    PendingRead read(a, 10);
    machine.AdvanceTicks(20);
    EXPECT_FALSE(read.Done()) << "no interval before the first byte";
    ASSERT_TRUE(Write(b, "a"));
    machine.AdvanceTicks(4);
    ASSERT_TRUE(Write(b, "b"));
    machine.AdvanceTicks(4);
    EXPECT_FALSE(read.Done());
    machine.AdvanceTicks(1);
    ASSERT_TRUE(read.Done());
    ASSERT_TRUE(read.Finish(a));
    EXPECT_EQ("ab", read.buffer);
}

TEST_F(TestPortTimeoutTest, IntervalAndMultiplierMaxWaitForTheFirstByteOnly)
{
    SetTimeouts(a, MAXDWORD, MAXDWORD, 200);
    PendingRead first(a, 10);
    machine.AdvanceTicks(5);
    EXPECT_FALSE(first.Done());
    ASSERT_TRUE(Write(b, "x"));
    ASSERT_TRUE(first.Finish(a));
    EXPECT_EQ("x", first.buffer);

    PendingRead none(a, 10);
    machine.AdvanceTicks(19);
    EXPECT_FALSE(none.Done());
    machine.AdvanceTicks(1);
    ASSERT_TRUE(none.Finish(a));
    EXPECT_EQ("", none.buffer);
}

TEST_F(TestPortTimeoutTest, ReadsAreServedInOrderAndEachGetsItsOwnTimeout)
{
    SetTimeouts(a, 0, 0, 100);
    PendingRead first(a, 2);
    machine.AdvanceTicks(5);
    PendingRead second(a, 2);
    ASSERT_TRUE(Write(b, "abc"));
    ASSERT_TRUE(first.Finish(a));
    EXPECT_EQ("ab", first.buffer);
    machine.AdvanceTicks(9);
    EXPECT_FALSE(second.Done()) << "its time runs from when it became the first read";
    machine.AdvanceTicks(1);
    ASSERT_TRUE(second.Finish(a));
    EXPECT_EQ("c", second.buffer);
}

TEST_F(TestPortTimeoutTest, AllThreeReadTimeoutsMaxAreRefused)
{
    COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, MAXDWORD, 0, 0};
    EXPECT_FALSE(SetCommTimeouts(a, &timeouts));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
}

class TestPortEventTest : public TestPortTimeoutTest {};

// An overlapped wait on mask.
struct PendingWait : Pending {
    DWORD events = 0xDEAD;
    explicit PendingWait(HANDLE port) { WaitCommEvent(port, &events, &overlapped); }
    DWORD Finish(HANDLE port)
    {
        DWORD size = 0;
        EXPECT_TRUE(GetOverlappedResult(port, &overlapped, &size, TRUE)) << GetLastError();
        return events;
    }
};

TEST_F(TestPortEventTest, ReceivedBytesEndAPendingWait)
{
    ASSERT_TRUE(SetCommMask(a, EV_RXCHAR | EV_RXFLAG));
    PendingWait wait(a);
    EXPECT_FALSE(wait.Done());
    ASSERT_TRUE(Write(b, "q"));
    EXPECT_EQ(static_cast<DWORD>(EV_RXCHAR), wait.Finish(a));
}

TEST_F(TestPortEventTest, EventsBeforeTheWaitAreKeptForIt)
{
    DCB dcb{};
    ASSERT_TRUE(GetCommState(a, &dcb));
    dcb.EvtChar = '\n';
    ASSERT_TRUE(SetCommState(a, &dcb));
    ASSERT_TRUE(SetCommMask(a, EV_RXCHAR | EV_RXFLAG));
    ASSERT_TRUE(Write(b, "line\n"));
    PendingWait wait(a);
    ASSERT_TRUE(wait.Done());
    EXPECT_EQ(static_cast<DWORD>(EV_RXCHAR | EV_RXFLAG), wait.Finish(a));
    PendingWait next(a);
    EXPECT_FALSE(next.Done()) << "kept events are handed out once";
    ASSERT_TRUE(SetCommMask(a, EV_RXCHAR));
    EXPECT_EQ(0u, next.Finish(a)) << "a new mask ends the pending wait with no event";
}

TEST_F(TestPortEventTest, OneEndsLinesAreThePeersModemStatus)
{
    DWORD status = 0;
    ASSERT_TRUE(GetCommModemStatus(b, &status));
    EXPECT_EQ(static_cast<DWORD>(MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON), status);

    ASSERT_TRUE(SetCommMask(b, EV_CTS));
    PendingWait cts(b);
    ASSERT_TRUE(EscapeCommFunction(a, CLRRTS));
    EXPECT_EQ(static_cast<DWORD>(EV_CTS), cts.Finish(b));
    ASSERT_TRUE(GetCommModemStatus(b, &status));
    EXPECT_EQ(static_cast<DWORD>(MS_DSR_ON | MS_RLSD_ON), status);

    ASSERT_TRUE(SetCommMask(b, EV_DSR | EV_RLSD));
    PendingWait dsr(b);
    ASSERT_TRUE(EscapeCommFunction(a, CLRDTR));
    EXPECT_EQ(static_cast<DWORD>(EV_DSR | EV_RLSD), dsr.Finish(b));
    ASSERT_TRUE(GetCommModemStatus(b, &status));
    EXPECT_EQ(0u, status);
    ASSERT_TRUE(GetCommModemStatus(a, &status));
    EXPECT_EQ(static_cast<DWORD>(MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON), status) << "the other direction is untouched";

    ASSERT_TRUE(EscapeCommFunction(a, SETDTR));
    ASSERT_TRUE(GetCommModemStatus(b, &status));
    EXPECT_EQ(static_cast<DWORD>(MS_DSR_ON | MS_RLSD_ON), status);
    ASSERT_TRUE(CloseHandle(a));
    a = INVALID_HANDLE_VALUE;
    ASSERT_TRUE(GetCommModemStatus(b, &status));
    EXPECT_EQ(0u, status) << "a closed end drops its lines";
}

TEST_F(TestPortEventTest, HandshakeLinesCannotBeSetByHand)
{
    DCB dcb{};
    ASSERT_TRUE(GetCommState(a, &dcb));
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    ASSERT_TRUE(SetCommState(a, &dcb));
    EXPECT_FALSE(EscapeCommFunction(a, CLRRTS));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_TRUE(EscapeCommFunction(a, CLRDTR));
}

TEST_F(TestPortEventTest, ABreakAndReportedErrorsRaiseTheirEvents)
{
    ASSERT_TRUE(SetCommMask(b, EV_BREAK | EV_ERR));
    PendingWait wait(b);
    ASSERT_TRUE(EscapeCommFunction(a, SETBREAK));
    EXPECT_EQ(static_cast<DWORD>(EV_BREAK), wait.Finish(b));
    DWORD errors = 0;
    ASSERT_TRUE(ClearCommError(b, &errors, nullptr));
    EXPECT_EQ(static_cast<DWORD>(CE_BREAK), errors);

    PendingWait error(b);
    ULONG flags = SERIAL_ERROR_PARITY;
    DWORD returned = 0;
    OVERLAPPED overlapped{};
    ASSERT_TRUE(
        DeviceIoControl(b, IOCTL_TESTPORT_REPORT_ERRORS, &flags, sizeof flags, nullptr, 0, &returned, &overlapped));
    EXPECT_EQ(static_cast<DWORD>(EV_ERR), error.Finish(b));
}

TEST_F(TestPortEventTest, ASecondWaitOrAWaitWithoutMaskIsRefused)
{
    PendingWait noMask(a);
    DWORD size = 0;
    EXPECT_FALSE(GetOverlappedResult(a, &noMask.overlapped, &size, TRUE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    ASSERT_TRUE(SetCommMask(a, EV_RXCHAR));
    PendingWait first(a);
    PendingWait second(a);
    EXPECT_FALSE(GetOverlappedResult(a, &second.overlapped, &size, TRUE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_FALSE(first.Done());
}

class TestPortCancelTest : public TestPortTimeoutTest {};

TEST_F(TestPortCancelTest, PurgeAbortsPendingReadsAndClearsTheReceiveQueue)
{
    PendingRead read(a, 10);
    ASSERT_TRUE(PurgeComm(a, PURGE_RXABORT));
    EXPECT_FALSE(read.Finish(a));
    EXPECT_EQ(static_cast<DWORD>(ERROR_OPERATION_ABORTED), GetLastError());

    ASSERT_TRUE(Write(b, "old"));
    ASSERT_TRUE(PurgeComm(a, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_TXABORT));
    COMSTAT stat{};
    ASSERT_TRUE(ClearCommError(a, nullptr, &stat));
    EXPECT_EQ(0u, stat.cbInQue);
    EXPECT_FALSE(PurgeComm(a, 0x10));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
}

TEST_F(TestPortCancelTest, CancelIoEndsPendingReadsAndWaitsAndLeavesThePortUsable)
{
    ASSERT_TRUE(SetCommMask(a, EV_CTS));
    PendingWait wait(a);
    PendingRead read(a, 10);
    ASSERT_TRUE(CancelIo(a));
    EXPECT_FALSE(read.Finish(a));
    EXPECT_EQ(static_cast<DWORD>(ERROR_OPERATION_ABORTED), GetLastError());
    DWORD size = 0;
    EXPECT_FALSE(GetOverlappedResult(a, &wait.overlapped, &size, TRUE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_OPERATION_ABORTED), GetLastError());

    PendingRead next(a, 3);
    ASSERT_TRUE(Write(b, "new"));
    ASSERT_TRUE(next.Finish(a));
    EXPECT_EQ("new", next.buffer);
}

TEST_F(TestPortCancelTest, CancelledReadsGiveTheirBytesBackInOrder)
{
    SetTimeouts(a, 0, 0, 0);
    PendingRead first(a, 10);
    PendingRead next(a, 2);
    ASSERT_TRUE(Write(b, "ab"));
    ASSERT_TRUE(CancelIo(a));
    EXPECT_FALSE(first.Finish(a));
    // The second read may take the given-back bytes before its own cancel.
    std::string received = next.Finish(a) ? next.buffer : "";
    ASSERT_TRUE(Write(b, "cd"));
    PendingRead fresh(a, static_cast<DWORD>(4 - received.size()));
    ASSERT_TRUE(fresh.Finish(a));
    EXPECT_EQ("abcd", received + fresh.buffer);
}

TEST_F(TestPortCancelTest, PurgeAbortKeepsTheBytesOfTheAbortedRead)
{
    PendingRead read(a, 10);
    ASSERT_TRUE(Write(b, "ab"));
    ASSERT_TRUE(PurgeComm(a, PURGE_RXABORT));
    EXPECT_FALSE(read.Finish(a));
    COMSTAT stat{};
    ASSERT_TRUE(ClearCommError(a, nullptr, &stat));
    EXPECT_EQ(2u, stat.cbInQue);
}

TEST_F(TestPortCancelTest, ClosingWithAPendingReadEndsItAndFreesTheEnd)
{
    SetTimeouts(a, 0, 0, 500);
    auto* read = new PendingRead(a, 10);
    ASSERT_TRUE(CloseHandle(a));
    a = INVALID_HANDLE_VALUE;
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(read->overlapped.hEvent, 0));
    EXPECT_EQ(STATUS_CANCELLED, static_cast<NTSTATUS>(read->overlapped.Internal));
    delete read;
    machine.AdvanceTicks(60);  // a timer left behind would fire here
    a = OpenPort("COM11", FILE_FLAG_OVERLAPPED);
    ASSERT_NE(INVALID_HANDLE_VALUE, a);
}

}  // namespace
}  // namespace testport
