// The virtual output port on the simulated machine with the manual clock: a
// terminal program reads COM21 while another program uses the captured
// COM11 (its peer is COM12).
#include "FilterTestSupport.h"

#include <ntddser.h>

#include <deque>
#include <string>

using namespace filtertest;

namespace {

constexpr ULONG kMaxDword = 0xFFFFFFFF;

class VirtualPortTest : public FilterFixture {
protected:
    void StartOutput(CaptureOutputForm form)
    {
        std::string key = ObjectKey(1);
        SetString(key, CAPTURE_VALUE_BASE_NAME_A, "COM21");
        SetString(key, "COM11", kPort0Path);
        SetDword(key, CAPTURE_VALUE_FORM_A, form);
        StartFilter();
    }
    void TearDown() override
    {
        for (HANDLE h : {reader, writer, peer}) {
            if (h != INVALID_HANDLE_VALUE)
                CloseHandle(h);
        }
        FilterFixture::TearDown();
    }

    void OpenReader(DWORD flags = 0)
    {
        reader = Open("COM21", flags);
        readerOverlapped = (flags & FILE_FLAG_OVERLAPPED) != 0;
        ASSERT_NE(INVALID_HANDLE_VALUE, reader);
    }
    void OpenWriter()
    {
        writer = Open("COM11");
        ASSERT_NE(INVALID_HANDLE_VALUE, writer);
    }

    void Write(const std::string& bytes)
    {
        DWORD done = 0;
        ASSERT_TRUE(WriteFile(writer, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr));
    }

    // The peer sends, COM11 reads: a read record.
    void Receive(const std::string& bytes)
    {
        if (peer == INVALID_HANDLE_VALUE)
            peer = Open("COM12");
        DWORD done = 0;
        ASSERT_TRUE(WriteFile(peer, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr));
        std::string got(bytes.size(), '\0');
        ASSERT_TRUE(ReadFile(writer, got.data(), static_cast<DWORD>(got.size()), &done, nullptr));
        ASSERT_EQ(bytes, got.substr(0, done));
    }

    // A request that the port answers at once; an overlapped reader needs an
    // OVERLAPPED for it all the same.
    BOOL Control(DWORD code, const void* in, DWORD inLength, void* out, DWORD outLength, DWORD* returned)
    {
        OVERLAPPED at{};
        return DeviceIoControl(reader, code, const_cast<void*>(in), inLength, out, outLength, returned,
                               readerOverlapped ? &at : nullptr);
    }

    void SetTimeouts(ULONG interval, ULONG multiplier, ULONG constant)
    {
        SERIAL_TIMEOUTS t = {interval, multiplier, constant, 0, 0};
        DWORD returned = 0;
        ASSERT_TRUE(Control(IOCTL_SERIAL_SET_TIMEOUTS, &t, sizeof t, nullptr, 0, &returned));
    }

    void SetHandShake(ULONG bits)
    {
        SERIAL_HANDFLOW flow = {bits, 0, 2000, 1000};
        DWORD returned = 0;
        ASSERT_TRUE(Control(IOCTL_SERIAL_SET_HANDFLOW, &flow, sizeof flow, nullptr, 0, &returned));
    }

    std::string ReadNow(DWORD length)
    {
        std::string bytes(length, '\0');
        DWORD done = 0;
        EXPECT_TRUE(ReadFile(reader, bytes.data(), length, &done, nullptr));
        bytes.resize(done);
        return bytes;
    }

    ULONG ModemStatus()
    {
        ULONG status = 0xFFFF;
        DWORD returned = 0;
        EXPECT_TRUE(Control(IOCTL_SERIAL_GET_MODEMSTATUS, nullptr, 0, &status, sizeof status, &returned));
        return status;
    }

    bool Done(OVERLAPPED* o) { return HasOverlappedIoCompleted(o); }

    // Overlapped waits and reads of the reader, kept by the fixture: one still
    // pending when a test stops ends into live memory when the reader closes.
    struct EventWait {
        OVERLAPPED overlapped{};
        ULONG events = 0xFFFF;
    };
    struct PendingRead {
        OVERLAPPED overlapped{};
        char buffer[64] = {};
    };
    EventWait& StartWait()
    {
        EventWait& wait = waits.emplace_back();
        DWORD returned = 0;
        EXPECT_FALSE(DeviceIoControl(reader, IOCTL_SERIAL_WAIT_ON_MASK, nullptr, 0, &wait.events, sizeof wait.events,
                                     &returned, &wait.overlapped));
        return wait;
    }
    // The events of a finished wait, 0xFFFF while it still waits.
    ULONG EventsOf(EventWait& wait)
    {
        DWORD returned = 0;
        if (!Done(&wait.overlapped) || !GetOverlappedResult(reader, &wait.overlapped, &returned, FALSE))
            return 0xFFFF;
        return wait.events;
    }
    PendingRead& StartRead()
    {
        PendingRead& read = reads.emplace_back();
        DWORD done = 0;
        EXPECT_FALSE(ReadFile(reader, read.buffer, sizeof read.buffer, &done, &read.overlapped));
        return read;
    }
    std::string BytesOf(PendingRead& read)
    {
        DWORD done = 0;
        EXPECT_TRUE(GetOverlappedResult(reader, &read.overlapped, &done, FALSE));
        return std::string(read.buffer, done);
    }

    std::deque<EventWait> waits;
    std::deque<PendingRead> reads;
    HANDLE reader = INVALID_HANDLE_VALUE;
    HANDLE writer = INVALID_HANDLE_VALUE;
    HANDLE peer = INVALID_HANDLE_VALUE;
    bool readerOverlapped = false;
};

TEST_F(VirtualPortTest, AReadWithOnlyATotalTimeoutEndsOnTheHundredAndSecondTick)
{
    StartOutput(CAPTURE_FORM_READ_DATA);
    OpenReader(FILE_FLAG_OVERLAPPED);
    SetTimeouts(0, 0, 1000);
    char buffer[16];
    OVERLAPPED read{};
    DWORD done = 99;
    ASSERT_FALSE(ReadFile(reader, buffer, sizeof buffer, &done, &read));
    ASSERT_EQ(ERROR_IO_PENDING, GetLastError());
    machine.AdvanceTicks(101);
    EXPECT_FALSE(Done(&read)) << "still waiting after 101 ticks";
    machine.AdvanceTicks(1);
    ASSERT_TRUE(Done(&read));
    ASSERT_TRUE(GetOverlappedResult(reader, &read, &done, FALSE));
    EXPECT_EQ(0u, done);
}

TEST_F(VirtualPortTest, DefaultTimeoutsReturnAtOnceWithWhatIsBuffered)
{
    StartOutput(CAPTURE_FORM_READ_DATA);
    OpenReader();
    OpenWriter();
    EXPECT_EQ("", ReadNow(100));
    Receive("hello");
    Receive("!");
    Write("not read data");
    EXPECT_EQ("hel", ReadNow(3));
    EXPECT_EQ("lo!", ReadNow(100));
    EXPECT_EQ("", ReadNow(100));
}

TEST_F(VirtualPortTest, IntervalTimeoutEndsAReadBetweenBursts)
{
    StartOutput(CAPTURE_FORM_READ_DATA);
    OpenReader(FILE_FLAG_OVERLAPPED);
    OpenWriter();
    SetTimeouts(50, 0, 0);
    char buffer[64] = {};
    OVERLAPPED read{};
    DWORD done = 0;
    ASSERT_FALSE(ReadFile(reader, buffer, sizeof buffer, &done, &read));
    machine.AdvanceTicks(30);
    EXPECT_FALSE(Done(&read)) << "the interval runs only after the first byte";
    Receive("ab");
    machine.AdvanceTicks(3);
    Receive("cd");
    machine.AdvanceTicks(5);
    EXPECT_FALSE(Done(&read)) << "5 ticks after the last burst";
    machine.AdvanceTicks(3);
    ASSERT_TRUE(Done(&read));
    ASSERT_TRUE(GetOverlappedResult(reader, &read, &done, FALSE));
    EXPECT_EQ("abcd", std::string(buffer, done));
}

// The interval runs from the last byte: a check exactly ReadIntervalTimeout
// after it leaves the read waiting, a check one tick later ends it, and a
// check without new bytes does not move the tick timer's deadline.
TEST_F(VirtualPortTest, IntervalTimeoutEndsOneTickAfterItsLengthFromTheLastByte)
{
    StartOutput(CAPTURE_FORM_READ_DATA);
    OpenReader(FILE_FLAG_OVERLAPPED);
    OpenWriter();
    SetTimeouts(50, 0, 0);
    PendingRead& read = StartRead();
    machine.AdvanceTicks(10);
    Receive("ab");
    machine.AdvanceTicks(5);
    Write("w");  // a record the read skips: one more check
    EXPECT_FALSE(Done(&read.overlapped)) << "50 ms after the last byte";
    machine.AdvanceTicks(1);
    Write("w");
    ASSERT_TRUE(Done(&read.overlapped)) << "60 ms after the last byte";
    EXPECT_EQ("ab", BytesOf(read));

    PendingRead& again = StartRead();
    Receive("cd");
    machine.AdvanceTicks(2);
    Write("w");
    machine.AdvanceTicks(3);
    EXPECT_FALSE(Done(&again.overlapped));
    machine.AdvanceTicks(1);
    EXPECT_TRUE(Done(&again.overlapped)) << "the tick timer counts from the last byte, not from the last check";
}

TEST_F(VirtualPortTest, AWaitOnReceivedCharacterEndsWithTheNextRecord)
{
    StartOutput(CAPTURE_FORM_TEXT);
    OpenReader(FILE_FLAG_OVERLAPPED);
    OpenWriter();
    ULONG mask = SERIAL_EV_RXCHAR;
    DWORD returned = 0;
    OVERLAPPED set{};
    ASSERT_TRUE(DeviceIoControl(reader, IOCTL_SERIAL_SET_WAIT_MASK, &mask, sizeof mask, nullptr, 0, &returned, &set));
    ULONG events = 0xFFFF;
    OVERLAPPED wait{};
    ASSERT_FALSE(
        DeviceIoControl(reader, IOCTL_SERIAL_WAIT_ON_MASK, nullptr, 0, &events, sizeof events, &returned, &wait));
    machine.AdvanceTicks(50);
    EXPECT_FALSE(Done(&wait));
    Write("x");
    ASSERT_TRUE(Done(&wait));
    ASSERT_TRUE(GetOverlappedResult(reader, &wait, &returned, FALSE));
    EXPECT_EQ(4u, returned);
    EXPECT_EQ(SERIAL_EV_RXCHAR, events);
}

// A terminal program's WaitCommEvent loop: the wait that reports an event
// takes its counter, so the next wait waits for something new.
TEST_F(VirtualPortTest, EachEventIsReportedByOneWaitOnly)
{
    // The open and two writes (126 bytes) fill it: the third write drops the oldest.
    SetDword(ObjectKey(1), CAPTURE_VALUE_MAX_BYTES_A, 100);
    StartOutput(CAPTURE_FORM_TEXT);
    OpenReader(FILE_FLAG_OVERLAPPED);
    OpenWriter();
    SERIAL_CHARS chars = {0, 0, 0, '\n', 0x11, 0x13};
    DWORD returned = 0;
    ASSERT_TRUE(Control(IOCTL_SERIAL_SET_CHARS, &chars, sizeof chars, nullptr, 0, &returned));
    ULONG mask = SERIAL_EV_RXCHAR | SERIAL_EV_RXFLAG | SERIAL_EV_ERR;
    ASSERT_TRUE(Control(IOCTL_SERIAL_SET_WAIT_MASK, &mask, sizeof mask, nullptr, 0, &returned));

    Write("line\n");
    EventWait& first = StartWait();
    EXPECT_EQ(static_cast<ULONG>(SERIAL_EV_RXCHAR | SERIAL_EV_RXFLAG), EventsOf(first));
    EventWait& second = StartWait();
    EXPECT_FALSE(Done(&second.overlapped)) << "no stale event";
    Write("x");
    EXPECT_EQ(static_cast<ULONG>(SERIAL_EV_RXCHAR), EventsOf(second)) << "the event character was reported";
    EventWait& third = StartWait();
    Write("y");
    EXPECT_EQ(static_cast<ULONG>(SERIAL_EV_RXCHAR | SERIAL_EV_ERR), EventsOf(third));
    EventWait& fourth = StartWait();
    EXPECT_FALSE(Done(&fourth.overlapped)) << "the loss was reported";
}

TEST_F(VirtualPortTest, EveryOpenStartsFromTheDefaultsButModemStatusStays)
{
    StartOutput(CAPTURE_FORM_SIGNAL_SELECTED);
    OpenReader();
    OpenWriter();
    EXPECT_EQ(INVALID_HANDLE_VALUE, Open("COM21")) << "one handle at a time";
    SetHandShake(0x08);
    SetTimeouts(10, 20, 30);
    ULONG baud = 115200;
    DWORD returned = 0;
    ASSERT_TRUE(Control(IOCTL_SERIAL_SET_BAUD_RATE, &baud, sizeof baud, nullptr, 0, &returned));
    Receive("r");
    SetTimeouts(kMaxDword, 0, 0);
    EXPECT_EQ("r", ReadNow(10));
    EXPECT_EQ(0x10u, ModemStatus());
    ASSERT_TRUE(CloseHandle(reader));
    OpenReader();
    EXPECT_EQ(0x10u, ModemStatus());
    SERIAL_TIMEOUTS t{};
    ASSERT_TRUE(Control(IOCTL_SERIAL_GET_TIMEOUTS, nullptr, 0, &t, sizeof t, &returned));
    EXPECT_EQ(kMaxDword, t.ReadIntervalTimeout);
    EXPECT_EQ(0u, t.ReadTotalTimeoutMultiplier + t.ReadTotalTimeoutConstant);
    ASSERT_TRUE(Control(IOCTL_SERIAL_GET_BAUD_RATE, nullptr, 0, &baud, sizeof baud, &returned));
    EXPECT_EQ(9600u, baud);
    SERIAL_HANDFLOW flow{};
    ASSERT_TRUE(Control(IOCTL_SERIAL_GET_HANDFLOW, nullptr, 0, &flow, sizeof flow, &returned));
    EXPECT_EQ(0u, flow.ControlHandShake);
    EXPECT_EQ(2000, flow.XonLimit);
    SERIAL_CHARS chars{};
    ASSERT_TRUE(Control(IOCTL_SERIAL_GET_CHARS, nullptr, 0, &chars, sizeof chars, &returned));
    EXPECT_EQ(0x11, chars.XonChar);
    EXPECT_EQ(0x13, chars.XoffChar);
}

// Bytes that arrive before the port's first tick count as well.
TEST_F(VirtualPortTest, IntervalTimeoutRunsFromAByteOfTickZero)
{
    StartOutput(CAPTURE_FORM_READ_DATA);
    OpenReader(FILE_FLAG_OVERLAPPED);
    OpenWriter();
    SetTimeouts(50, 0, 0);
    PendingRead& read = StartRead();
    Receive("ab");
    machine.AdvanceTicks(3);
    Write("w");  // a record the read skips
    machine.AdvanceTicks(2);
    EXPECT_FALSE(Done(&read.overlapped)) << "50 ms after the last byte";
    machine.AdvanceTicks(1);
    ASSERT_TRUE(Done(&read.overlapped)) << "60 ms after the last byte";
    EXPECT_EQ("ab", BytesOf(read));
}

TEST_F(VirtualPortTest, PurgeAndCloseEndQueuedReadsAndWaits)
{
    StartOutput(CAPTURE_FORM_READ_DATA);
    OpenReader(FILE_FLAG_OVERLAPPED);
    SERIAL_TIMEOUTS t = {0, 0, 0, 0, 0};
    DWORD returned = 0;
    OVERLAPPED set{};
    ASSERT_TRUE(DeviceIoControl(reader, IOCTL_SERIAL_SET_TIMEOUTS, &t, sizeof t, nullptr, 0, &returned, &set));
    char buffer[8];
    OVERLAPPED first{}, second{};
    DWORD done = 0;
    ASSERT_FALSE(ReadFile(reader, buffer, sizeof buffer, &done, &first));
    ASSERT_FALSE(ReadFile(reader, buffer, sizeof buffer, &done, &second));
    ULONG purge = SERIAL_PURGE_TXABORT | SERIAL_PURGE_TXCLEAR;
    ASSERT_TRUE(DeviceIoControl(reader, IOCTL_SERIAL_PURGE, &purge, sizeof purge, nullptr, 0, &returned, &set));
    EXPECT_FALSE(Done(&first)) << "the transmit bits do nothing";
    purge = SERIAL_PURGE_RXABORT;
    ASSERT_TRUE(DeviceIoControl(reader, IOCTL_SERIAL_PURGE, &purge, sizeof purge, nullptr, 0, &returned, &set));
    ASSERT_TRUE(Done(&first));
    ASSERT_TRUE(Done(&second));
    EXPECT_FALSE(GetOverlappedResult(reader, &first, &done, FALSE));
    EXPECT_EQ(ERROR_OPERATION_ABORTED, GetLastError());

    ULONG mask = SERIAL_EV_RXFLAG;
    ASSERT_TRUE(DeviceIoControl(reader, IOCTL_SERIAL_SET_WAIT_MASK, &mask, sizeof mask, nullptr, 0, &returned, &set));
    ULONG events = 0xFF;
    OVERLAPPED wait{}, read{};
    ASSERT_FALSE(
        DeviceIoControl(reader, IOCTL_SERIAL_WAIT_ON_MASK, nullptr, 0, &events, sizeof events, &returned, &wait));
    ASSERT_FALSE(ReadFile(reader, buffer, sizeof buffer, &done, &read));
    ASSERT_TRUE(CloseHandle(reader));
    reader = INVALID_HANDLE_VALUE;
    EXPECT_TRUE(Done(&wait));
    EXPECT_TRUE(Done(&read));
    EXPECT_EQ(0u, events);
}

TEST_F(VirtualPortTest, CancelIoEndsAQueuedReadAndTheNextOneStillReads)
{
    StartOutput(CAPTURE_FORM_READ_DATA);
    OpenReader(FILE_FLAG_OVERLAPPED);
    OpenWriter();
    SetTimeouts(0, 0, 0);
    char buffer[4];
    OVERLAPPED read{};
    DWORD done = 0;
    ASSERT_FALSE(ReadFile(reader, buffer, sizeof buffer, &done, &read));
    ASSERT_TRUE(CancelIo(reader));
    ASSERT_TRUE(Done(&read));
    EXPECT_FALSE(GetOverlappedResult(reader, &read, &done, FALSE));
    OVERLAPPED again{};
    ASSERT_FALSE(ReadFile(reader, buffer, sizeof buffer, &done, &again));
    Receive("wxyz");
    ASSERT_TRUE(Done(&again));
    ASSERT_TRUE(GetOverlappedResult(reader, &again, &done, FALSE));
    EXPECT_EQ("wxyz", std::string(buffer, done));
}

// The bytes a read took from the records exist nowhere else: cancelling it
// hands them out instead of dropping them.
TEST_F(VirtualPortTest, ACancelledReadCompletesWithTheBytesItHolds)
{
    StartOutput(CAPTURE_FORM_READ_DATA);
    OpenReader(FILE_FLAG_OVERLAPPED);
    OpenWriter();
    SetTimeouts(0, 0, 0);
    PendingRead& read = StartRead();
    Receive("abcd");
    ASSERT_FALSE(Done(&read.overlapped)) << "waiting for the whole length";
    ASSERT_TRUE(CancelIo(reader));
    ASSERT_TRUE(Done(&read.overlapped));
    EXPECT_EQ("abcd", BytesOf(read));
    PendingRead& next = StartRead();
    Receive("ef");
    ASSERT_TRUE(CancelIo(reader));
    EXPECT_EQ("ef", BytesOf(next));
}

// ----- what each form delivers -----

TEST_F(VirtualPortTest, FormOneDeliversTheTextLinesByteForByte)
{
    StartOutput(CAPTURE_FORM_TEXT);
    OpenReader();
    OpenWriter();
    SERIAL_LINE_CONTROL line = {STOP_BIT_1, NO_PARITY, 8};
    DWORD returned = 0;
    ASSERT_TRUE(
        DeviceIoControl(writer, IOCTL_SERIAL_SET_LINE_CONTROL, &line, sizeof line, nullptr, 0, &returned, nullptr));
    Write("0123456789ABCDEFGHIJ");
    std::string text;
    // Odd-sized reads: the text continues where the last read stopped, and
    // text beyond what was captured ends the loop.
    for (std::string part = ReadNow(77); !part.empty() && text.size() <= 80u * 5; part = ReadNow(77))
        text += part;
    ASSERT_EQ(80u * 5, text.size()) << "open, set line control, three lines of the write";
    EXPECT_EQ("COM11  CreateFile", text.substr(0, 17));
    EXPECT_EQ("COM11  SetLineControl 8Bits Nparity 1StopBits", text.substr(80, 45)) << "parameters from column 22";
    std::string write = text.substr(160);
    EXPECT_EQ("COM11  WriteFile             20byte", write.substr(0, 35));
    EXPECT_EQ("00000000 30 31 32 33 34 35 36 37-38 39 41 42 43 44 45 46 0123456789ABCDEF     \r\n",
              write.substr(80, 80));
    EXPECT_EQ("00000010 47 48 49 4A", write.substr(160, 20));
    EXPECT_EQ("\r\n", write.substr(238, 2));
}

TEST_F(VirtualPortTest, FormsTwoAndThreeDeliverTheRawWrittenOrReadBytes)
{
    StartOutput(CAPTURE_FORM_WRITTEN_DATA);
    OpenReader();
    OpenWriter();
    Write("sent1");
    Receive("got");
    Write("sent2");
    EXPECT_EQ("sent1sent2", ReadNow(100));
    CloseHandle(writer);
    CloseHandle(reader);
    writer = reader = INVALID_HANDLE_VALUE;
    ASSERT_TRUE(machine.UnloadDriver(kFilterService));
    StartOutput(CAPTURE_FORM_READ_DATA);
    OpenReader();
    OpenWriter();
    Write("sent");
    Receive("got1");
    Receive("got2");
    EXPECT_EQ("got1got2", ReadNow(100));
}

TEST_F(VirtualPortTest, FormFourFollowsTheHandflowAndShowsTheDirection)
{
    StartOutput(CAPTURE_FORM_SIGNAL_SELECTED);
    OpenReader();
    OpenWriter();
    SetHandShake(0x08 | 0x10);
    Receive("in1");
    Receive("in2");
    Write("out");
    Receive("in3");
    EXPECT_EQ("in1in2", ReadNow(100)) << "received data up to the first write record";
    EXPECT_EQ(0x10u, ModemStatus());
    EXPECT_EQ("out", ReadNow(100));
    EXPECT_EQ(0x20u, ModemStatus());
    SetHandShake(0x10);
    Receive("skipped");
    Write("w");
    EXPECT_EQ("w", ReadNow(100));
    EXPECT_EQ(0x20u, ModemStatus());
}

// ----- bad input -----

struct LengthRule {
    DWORD code;
    DWORD minimum;
    bool input;
    NTSTATUS shortStatus;
};

TEST_F(VirtualPortTest, EveryLengthRuleAnswersItsStatus)
{
    StartOutput(CAPTURE_FORM_TEXT);
    OpenReader();
    const LengthRule rules[] = {
        {IOCTL_SERIAL_SET_BAUD_RATE, 4, true, ERROR_INSUFFICIENT_BUFFER},
        {IOCTL_SERIAL_GET_BAUD_RATE, 4, false, ERROR_INSUFFICIENT_BUFFER},
        {IOCTL_SERIAL_SET_LINE_CONTROL, 3, true, ERROR_INSUFFICIENT_BUFFER},
        {IOCTL_SERIAL_GET_LINE_CONTROL, 3, false, ERROR_INSUFFICIENT_BUFFER},
        {IOCTL_SERIAL_SET_CHARS, 6, true, ERROR_INSUFFICIENT_BUFFER},
        {IOCTL_SERIAL_GET_CHARS, 6, false, ERROR_INSUFFICIENT_BUFFER},
        {IOCTL_SERIAL_SET_HANDFLOW, 16, true, ERROR_INSUFFICIENT_BUFFER},
        {IOCTL_SERIAL_GET_HANDFLOW, 16, false, ERROR_INSUFFICIENT_BUFFER},
        {IOCTL_SERIAL_SET_TIMEOUTS, 20, true, ERROR_INSUFFICIENT_BUFFER},
        {IOCTL_SERIAL_GET_TIMEOUTS, 20, false, ERROR_INSUFFICIENT_BUFFER},
        {IOCTL_SERIAL_SET_QUEUE_SIZE, 8, true, ERROR_INSUFFICIENT_BUFFER},
        {IOCTL_SERIAL_GET_COMMSTATUS, 20, false, ERROR_INSUFFICIENT_BUFFER},
        {IOCTL_SERIAL_GET_MODEMSTATUS, 4, false, ERROR_INSUFFICIENT_BUFFER},
        {IOCTL_SERIAL_GET_WAIT_MASK, 4, false, ERROR_INSUFFICIENT_BUFFER},
        {IOCTL_SERIAL_SET_WAIT_MASK, 4, true, ERROR_INVALID_PARAMETER},
        {IOCTL_SERIAL_WAIT_ON_MASK, 4, false, ERROR_INSUFFICIENT_BUFFER},
        {IOCTL_SERIAL_PURGE, 4, true, ERROR_INSUFFICIENT_BUFFER},
    };
    for (const LengthRule& rule : rules) {
        // Valid contents: 8 data bits, 9600 baud, timeouts that return at once.
        uint8_t buffer[32] = {0, 0, 8};
        SERIAL_TIMEOUTS immediate = {kMaxDword, 0, 0, 0, 0};
        if (rule.code == IOCTL_SERIAL_SET_TIMEOUTS)
            memcpy(buffer, &immediate, sizeof immediate);
        if (rule.code == IOCTL_SERIAL_SET_BAUD_RATE)
            buffer[0] = 0x80, buffer[1] = 0x25;
        DWORD returned = 0xFF;
        DWORD shortLength = rule.minimum - 1;
        BOOL ok = rule.input ? Control(rule.code, buffer, shortLength, nullptr, 0, &returned)
                             : Control(rule.code, nullptr, 0, buffer, shortLength, &returned);
        EXPECT_FALSE(ok) << std::hex << rule.code;
        EXPECT_EQ(static_cast<DWORD>(rule.shortStatus), GetLastError()) << std::hex << rule.code;
        if (rule.code == IOCTL_SERIAL_WAIT_ON_MASK)
            continue;  // at full length it waits
        ok = rule.input ? Control(rule.code, buffer, rule.minimum, nullptr, 0, &returned)
                        : Control(rule.code, nullptr, 0, buffer, rule.minimum, &returned);
        EXPECT_TRUE(ok) << std::hex << rule.code;
        EXPECT_EQ(rule.input ? 0u : rule.minimum, returned) << std::hex << rule.code;
    }
}

TEST_F(VirtualPortTest, RangeChecksRefuseBadSettings)
{
    StartOutput(CAPTURE_FORM_TEXT);
    OpenReader();
    DWORD returned = 0;
    for (ULONG baud : {0u, 921601u, 0xFFFFFFFFu}) {
        EXPECT_FALSE(Control(IOCTL_SERIAL_SET_BAUD_RATE, &baud, sizeof baud, nullptr, 0, &returned)) << baud;
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    }
    for (ULONG baud : {1u, 921600u})
        EXPECT_TRUE(Control(IOCTL_SERIAL_SET_BAUD_RATE, &baud, sizeof baud, nullptr, 0, &returned)) << baud;
    const SERIAL_LINE_CONTROL bad[] = {{3, 0, 8}, {0, 5, 8}, {0, 0, 0}, {0, 0, 9}};
    for (const SERIAL_LINE_CONTROL& line : bad)
        EXPECT_FALSE(Control(IOCTL_SERIAL_SET_LINE_CONTROL, &line, sizeof line, nullptr, 0, &returned));
    SERIAL_LINE_CONTROL edge = {2, 4, 1};
    EXPECT_TRUE(Control(IOCTL_SERIAL_SET_LINE_CONTROL, &edge, sizeof edge, nullptr, 0, &returned));
    SERIAL_TIMEOUTS allMax = {kMaxDword, kMaxDword, kMaxDword, 0, 0};
    EXPECT_FALSE(Control(IOCTL_SERIAL_SET_TIMEOUTS, &allMax, sizeof allMax, nullptr, 0, &returned));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    SERIAL_LINE_CONTROL stored{};
    ASSERT_TRUE(Control(IOCTL_SERIAL_GET_LINE_CONTROL, nullptr, 0, &stored, sizeof stored, &returned));
    EXPECT_EQ(1, stored.WordLength) << "a refused setting leaves the stored one";
    EXPECT_TRUE(Control(0x001B0FFC, nullptr, 0, nullptr, 0, &returned)) << "unknown serial codes are accepted";
}

TEST_F(VirtualPortTest, ReadsOfNoBytesAndOfVeryManyBytes)
{
    StartOutput(CAPTURE_FORM_WRITTEN_DATA);
    OpenReader();
    OpenWriter();
    Write("abc");
    EXPECT_EQ("", ReadNow(0));
    std::string huge = ReadNow(16u << 20);
    EXPECT_EQ("abc", huge);
}

TEST_F(VirtualPortTest, ErrorAbortRefusesReadsWhileAnErrorIsUnreported)
{
    StartOutput(CAPTURE_FORM_READ_DATA);
    OpenReader();
    OpenWriter();
    SetHandShake(SERIAL_ERROR_ABORT);
    ULONG errors = SERIAL_ERROR_FRAMING;
    DWORD returned = 0;
    ASSERT_TRUE(
        DeviceIoControl(writer, IOCTL_TESTPORT_REPORT_ERRORS, &errors, sizeof errors, nullptr, 0, &returned, nullptr));
    SERIAL_STATUS status{};
    ASSERT_TRUE(
        DeviceIoControl(writer, IOCTL_SERIAL_GET_COMMSTATUS, nullptr, 0, &status, sizeof status, &returned, nullptr));
    Receive("late");
    EXPECT_EQ("", ReadNow(10)) << "the status record ends the read";
    char buffer[4];
    DWORD done = 0;
    EXPECT_FALSE(ReadFile(reader, buffer, sizeof buffer, &done, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_REQUEST_ABORTED), GetLastError());
    ASSERT_TRUE(Control(IOCTL_SERIAL_GET_COMMSTATUS, nullptr, 0, &status, sizeof status, &returned));
    EXPECT_EQ(static_cast<ULONG>(SERIAL_ERROR_FRAMING), status.Errors);
    EXPECT_EQ("late", ReadNow(10));
}

// COMMTIMEOUTS (Windows docs): with ReadIntervalTimeout MAXDWORD and a total
// constant, a read returns as soon as a byte is there, else when the
// constant has passed (the serial driver treats a zero multiplier alike).
TEST_F(VirtualPortTest, AnIntervalOfMaxdwordWithATotalConstantWaitsForTheConstantOrTheFirstBytes)
{
    StartOutput(CAPTURE_FORM_READ_DATA);
    OpenReader(FILE_FLAG_OVERLAPPED);
    OpenWriter();
    for (ULONG multiplier : {kMaxDword, 0u}) {
        SetTimeouts(kMaxDword, multiplier, 1000);
        PendingRead& idle = StartRead();
        machine.AdvanceTicks(101);
        EXPECT_FALSE(Done(&idle.overlapped)) << "waits for the constant; multiplier " << multiplier;
        machine.AdvanceTicks(1);
        ASSERT_TRUE(Done(&idle.overlapped));
        EXPECT_EQ("", BytesOf(idle));

        PendingRead& early = StartRead();
        machine.AdvanceTicks(20);
        Receive("ab");
        EXPECT_TRUE(Done(&early.overlapped)) << "returns with the first bytes; multiplier " << multiplier;
        machine.AdvanceTicks(100);
        ASSERT_TRUE(Done(&early.overlapped));
        EXPECT_EQ("ab", BytesOf(early));
    }
}

}  // namespace
