// A terminal program reads the virtual output port COM21 while another
// program uses the captured COM11 (its peer is COM12): under Wine with the
// real .sys images, natively with the same sources on the simulation.
#include "FilterServiceFixture.h"

#include <winioctl.h>

#include "SerialIoctl.h"

#include <string>

namespace {

constexpr DWORD kMaxDword = 0xFFFFFFFF;

// A text line of form 1: 78 characters and CR LF.
std::string TextLine(const std::string& text)
{
    return text + std::string(78 - text.size(), ' ') + "\r\n";
}

class VirtualPortServiceTest : public FilterServiceTest {
protected:
    void TearDown() override
    {
        for (HANDLE h : {reader, writer, peer}) {
            if (h != INVALID_HANDLE_VALUE)
                CloseHandle(h);
        }
        if (readDone)
            CloseHandle(readDone);
        FilterServiceTest::TearDown();
    }

    void StartOutput(OutputForm form)
    {
        items.InsertOrUpdateRow(NewItem("COM11", form, "COM21"), -1);
        StartFilter();
    }

    void OpenReader(DWORD flags = 0)
    {
        reader = OpenPort("\\\\.\\COM21", flags);
        ASSERT_NE(INVALID_HANDLE_VALUE, reader) << GetLastError();
    }
    void OpenWriter()
    {
        writer = OpenPort("\\\\.\\COM11");
        ASSERT_NE(INVALID_HANDLE_VALUE, writer) << GetLastError();
    }

    void SetReadTimeouts(DWORD interval, DWORD multiplier, DWORD constant)
    {
        COMMTIMEOUTS timeouts = {interval, multiplier, constant, 0, 0};
        ASSERT_TRUE(SetCommTimeouts(reader, &timeouts)) << GetLastError();
    }

    void Write(const std::string& bytes)
    {
        DWORD done = 0;
        ASSERT_TRUE(WriteFile(writer, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr))
            << GetLastError();
        ASSERT_EQ(bytes.size(), done);
    }

    // The peer sends, COM11 reads: a read record.
    void Receive(const std::string& bytes)
    {
        if (peer == INVALID_HANDLE_VALUE)
            peer = OpenPort("\\\\.\\COM12");
        ASSERT_NE(INVALID_HANDLE_VALUE, peer) << GetLastError();
        DWORD done = 0;
        ASSERT_TRUE(WriteFile(peer, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr));
        std::string got(bytes.size(), '\0');
        ASSERT_TRUE(ReadFile(writer, &got[0], static_cast<DWORD>(got.size()), &done, nullptr));
        ASSERT_EQ(bytes, got.substr(0, done));
    }

    // With interval MAXDWORD and no total timeout each read returns at once
    // with what is there; a terminal polls like this until `length` bytes came.
    std::string PollFor(size_t length)
    {
        SetReadTimeouts(kMaxDword, 0, 0);
        std::string bytes;
        for (int tries = 0; tries < 100 && bytes.size() < length; ++tries) {
            char part[77];  // odd-sized reads: the output continues where the last read stopped
            DWORD done = 0;
            EXPECT_TRUE(ReadFile(reader, part, sizeof part, &done, nullptr)) << GetLastError();
            bytes.append(part, done);
            if (done == 0)
                Sleep(20);
        }
        return bytes;
    }

    // An overlapped read of up to `length` bytes that stays queued in the driver.
    void QueueRead(DWORD length)
    {
        readDone = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        overlapped = {};
        overlapped.hEvent = readDone;
        readBuffer.assign(length, '\0');
        ASSERT_FALSE(ReadFile(reader, &readBuffer[0], length, nullptr, &overlapped));
        ASSERT_EQ(static_cast<DWORD>(ERROR_IO_PENDING), GetLastError());
    }

    // Lets up to `ms` milliseconds pass until the queued read ends: natively by
    // moving the manual clock, under Wine by waiting. The bytes read, or
    // nothing when the read did not end.
    std::string AwaitRead(DWORD ms)
    {
#ifdef _WIN32
        if (WaitForSingleObject(readDone, ms) != WAIT_OBJECT_0)
            return "(still queued)";
#else
        for (DWORD passed = 0; passed < ms && !HasOverlappedIoCompleted(&overlapped); passed += 10)
            machine.AdvanceTicks(1);
        if (!HasOverlappedIoCompleted(&overlapped))
            return "(still queued)";
#endif
        DWORD done = 0;
        EXPECT_TRUE(GetOverlappedResult(reader, &overlapped, &done, FALSE)) << GetLastError();
        return readBuffer.substr(0, done);
    }

    ULONG ModemStatus()
    {
        ULONG status = 0xFFFF;
        DWORD returned = 0;
        EXPECT_TRUE(DeviceIoControl(reader, IOCTL_SERIAL_GET_MODEMSTATUS, nullptr, 0, &status, sizeof status, &returned,
                                    nullptr));
        EXPECT_EQ(sizeof status, returned);
        return status;
    }

    HANDLE reader = INVALID_HANDLE_VALUE;
    HANDLE writer = INVALID_HANDLE_VALUE;
    HANDLE peer = INVALID_HANDLE_VALUE;
    HANDLE readDone = nullptr;
    OVERLAPPED overlapped = {};
    std::string readBuffer;
};

TEST_F(VirtualPortServiceTest, FormOneDeliversTheTextOfAnOpenAndAWriteByteForByte)
{
    StartOutput(PortFormat);
    OpenReader();
    // Wine 8 does not wait for the driver's answer to an open: there the
    // refused second open still gives a handle.
    if (!RunningUnderWine()) {
        EXPECT_EQ(INVALID_HANDLE_VALUE, OpenPort("\\\\.\\COM21")) << "one handle at a time";
    }
    OpenWriter();
    Write("abc");
    std::string expected = TextLine("COM11  CreateFile") + TextLine("COM11  WriteFile              3byte") +
                           TextLine("00000000 61 62 63" + std::string(40, ' ') + "abc");
    EXPECT_EQ(expected, PollFor(expected.size()));
}

TEST_F(VirtualPortServiceTest, FormTwoHandsTheWrittenBytesToAQueuedRead)
{
    StartOutput(PortWriteFile);
    OpenReader(FILE_FLAG_OVERLAPPED);
    SetReadTimeouts(0, 0, 0);  // wait for the whole length
    QueueRead(6);
    OpenWriter();
    Write("abc");
    Receive("not sent");
    Write("def");
    EXPECT_EQ("abcdef", AwaitRead(5000));
}

TEST_F(VirtualPortServiceTest, AQueuedReadEndsWithWhatCameWhenItsTotalTimeoutRunsOut)
{
    StartOutput(PortWriteFile);
    OpenReader(FILE_FLAG_OVERLAPPED);
    SetReadTimeouts(0, 0, 300);
    OpenWriter();
    DWORD queued = GetTickCount();
    QueueRead(100);
    Write("abc");
    EXPECT_EQ("abc", AwaitRead(5000));
    EXPECT_GE(GetTickCount() - queued, 250u) << "not before the timeout";
}

TEST_F(VirtualPortServiceTest, FormThreeDeliversTheReadBytes)
{
    StartOutput(PortReadFile);
    OpenReader();
    OpenWriter();
    Write("not received");
    Receive("got1");
    Receive("got2");
    EXPECT_EQ("got1got2", PollFor(8));
}

TEST_F(VirtualPortServiceTest, FormFourFollowsTheHandflowAndShowsTheDirection)
{
    StartOutput(PortSignalSelect);
    OpenReader();
    // SERIAL_HANDFLOW: the CTS handshake bit asks for received data, the DSR
    // handshake bit for sent data.
    struct {
        ULONG controlHandShake, flowReplace;
        LONG xonLimit, xoffLimit;
    } handflow = {0x08 | 0x10, 0, 2000, 1000};
    DWORD returned = 0;
    ASSERT_TRUE(
        DeviceIoControl(reader, IOCTL_SERIAL_SET_HANDFLOW, &handflow, sizeof handflow, nullptr, 0, &returned, nullptr));
    OpenWriter();
    Receive("in1");
    Write("out");
    EXPECT_EQ("in1", PollFor(3)) << "received data up to the first write record";
    EXPECT_EQ(0x10u, ModemStatus());
    EXPECT_EQ("out", PollFor(3));
    EXPECT_EQ(0x20u, ModemStatus());
}

}  // namespace
