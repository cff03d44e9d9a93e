// Requests of any code, length and content from user mode: the driver
// neither crashes nor lets them change the buffered records, and refuses the
// add request (records come only from the filters).
#include "FilterTestSupport.h"

#include <ntddser.h>

#include <random>

using namespace filtertest;

namespace {

std::vector<uint8_t> MakeRecord(uint8_t kind, const std::string& data)
{
    std::vector<uint8_t> bytes(CAPTURE_RECORD_HEADER_SIZE + data.size());
    CaptureRecord header{};
    header.kind = kind;
    header.dataLength = static_cast<uint32_t>(data.size());
    memcpy(bytes.data(), &header, sizeof header);
    memcpy(bytes.data() + CAPTURE_RECORD_HEADER_SIZE, data.data(), data.size());
    return bytes;
}

bool Add(HANDLE control, const std::vector<uint8_t>& input)
{
    DWORD returned = 0;
    return DeviceIoControl(control, IOCTL_CAPTURE_ADD, const_cast<uint8_t*>(input.data()),
                           static_cast<DWORD>(input.size()), nullptr, 0, &returned, nullptr) != FALSE;
}

const DWORD kLengths[] = {0, 1, 3, 4, 15, 16, 20, 39, 40, 41, 60, 100, 4096, 70000};

class GarbageRequestTest : public FilterFixture {
protected:
    void SetUp() override
    {
        FilterFixture::SetUp();
        WriteMonitorObject(1, "COM11", kPort0Path, 50000000);
        StartFilter();
        control = Open(MonitorObjectName(1));
        ASSERT_NE(INVALID_HANDLE_VALUE, control);
        // Open, three writes, clean-up and close of the captured port.
        HANDLE port = Open("COM11");
        ASSERT_NE(INVALID_HANDLE_VALUE, port);
        buffered.push_back(MakeRecord(RecordKind_Create, ""));
        for (const char* text : {"first", "second", "third"}) {
            DWORD done = 0;
            ASSERT_TRUE(WriteFile(port, text, static_cast<DWORD>(strlen(text)), &done, nullptr));
            buffered.push_back(MakeRecord(RecordKind_Write, text));
        }
        CloseHandle(port);
        buffered.push_back(MakeRecord(RecordKind_Cleanup, ""));
        buffered.push_back(MakeRecord(RecordKind_Close, ""));
    }
    void TearDown() override
    {
        CloseHandle(control);
        FilterFixture::TearDown();
    }

    // Any code, the capture codes more often than chance would pick them.
    DWORD RandomCode()
    {
        switch (random() % 4) {
        case 0: return static_cast<DWORD>(random());
        case 1: return 0x00220000u | static_cast<DWORD>(random() % 8) << 2;
        case 2: return 0x001B0000u | static_cast<DWORD>(random() % 48) << 2;
        default: return static_cast<DWORD>(random() % 64) << 16 | static_cast<DWORD>(random() & 0xFFFF);
        }
    }

    void Fill(std::vector<uint8_t>& bytes)
    {
        for (auto& b : bytes)
            b = static_cast<uint8_t>(random());
    }

    void SendGarbage(HANDLE device, bool spareFetches)
    {
        DWORD code = RandomCode();
        DWORD in = kLengths[random() % std::size(kLengths)];
        DWORD out = kLengths[random() % std::size(kLengths)];
        std::vector<uint8_t> input(in);
        std::vector<uint8_t> output(out);
        Fill(input);
        if (spareFetches && (code == IOCTL_CAPTURE_FETCH || code == IOCTL_CAPTURE_FETCH_BATCH))
            code = IOCTL_CAPTURE_QUERY;
        DWORD returned = 0;
        OVERLAPPED overlapped{};
        if (!DeviceIoControl(device, code, in ? input.data() : nullptr, in, out ? output.data() : nullptr, out,
                             &returned, overlapped_ ? &overlapped : nullptr))
            FinishPending(device, &overlapped, &returned);
        EXPECT_LE(returned, out);
    }

    // The port may legitimately hold a request (a wait on its event mask):
    // it is cancelled so that the next garbage can follow.
    void FinishPending(HANDLE device, OVERLAPPED* overlapped, DWORD* returned)
    {
        if (!overlapped_ || GetLastError() != ERROR_IO_PENDING)
            return;
        CancelIo(device);
        GetOverlappedResult(device, overlapped, returned, TRUE);
    }

    bool overlapped_ = false;

    std::mt19937 random{20240101};
    HANDLE control = INVALID_HANDLE_VALUE;
    std::vector<std::vector<uint8_t>> buffered;
};

TEST_F(GarbageRequestTest, AnAddRequestFromAProgramIsRefusedAndChangesNothing)
{
    EXPECT_FALSE(Add(control, MakeRecord(RecordKind_Read, "forged")));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_FUNCTION), GetLastError());
    EXPECT_EQ(buffered.size(), Query(control).pendingRecords);
}

// A read of the control device takes records (it reads as a serial port), so
// only control requests and writes come here; waits and timed reads may pend.
TEST_F(GarbageRequestTest, GarbageToTheControlDeviceLeavesTheRecordsAlone)
{
    ASSERT_TRUE(CloseHandle(control));
    control = Open(MonitorObjectName(1), FILE_FLAG_OVERLAPPED);
    ASSERT_NE(INVALID_HANDLE_VALUE, control);
    overlapped_ = true;
    for (int i = 0; i < 3000; ++i)
        SendGarbage(control, true);
    for (int i = 0; i < 200; ++i) {
        std::vector<uint8_t> bytes(kLengths[random() % std::size(kLengths)]);
        Fill(bytes);
        DWORD done = 1;
        OVERLAPPED write{};
        EXPECT_TRUE(WriteFile(control, bytes.data(), static_cast<DWORD>(bytes.size()), &done, &write));
        EXPECT_EQ(0u, done);
    }
    ASSERT_TRUE(CloseHandle(control));
    control = Open(MonitorObjectName(1));
    ASSERT_NE(INVALID_HANDLE_VALUE, control);
    std::vector<std::vector<uint8_t>> fetched = FetchAll(control);
    ASSERT_EQ(buffered.size(), fetched.size());
    for (size_t i = 0; i < fetched.size(); ++i) {
        EXPECT_EQ(buffered[i].size(), fetched[i].size());
        EXPECT_EQ(buffered[i][0], fetched[i][0]) << "kind";
        EXPECT_TRUE(std::equal(buffered[i].begin() + CAPTURE_RECORD_HEADER_SIZE, buffered[i].end(),
                               fetched[i].begin() + CAPTURE_RECORD_HEADER_SIZE));
    }
}

TEST_F(GarbageRequestTest, GarbageThroughTheFilterBecomesWellFormedRecords)
{
    FetchAll(control);
    HANDLE port = Open("FLTCOM11A", FILE_FLAG_OVERLAPPED);
    ASSERT_NE(INVALID_HANDLE_VALUE, port);
    overlapped_ = true;
    for (int i = 0; i < 2000; ++i)
        SendGarbage(port, false);
    for (int i = 0; i < 100; ++i) {
        std::vector<uint8_t> bytes(kLengths[random() % std::size(kLengths)]);
        Fill(bytes);
        DWORD done = 0;
        OVERLAPPED write{};
        if (!WriteFile(port, bytes.data(), static_cast<DWORD>(bytes.size()), &done, &write))
            FinishPending(port, &write, &done);
        OVERLAPPED read{};
        if (!ReadFile(port, bytes.data(), static_cast<DWORD>(bytes.size()), &done, &read))
            FinishPending(port, &read, &done);
    }
    CloseHandle(port);
    std::vector<std::vector<uint8_t>> fetched = FetchAll(control);
    EXPECT_GT(fetched.size(), 2000u);
    for (const auto& bytes : fetched) {
        CaptureRecord header;
        memcpy(&header, bytes.data(), sizeof header);
        EXPECT_EQ(CAPTURE_RECORD_HEADER_SIZE + CaptureRecordPayloadLength(header), bytes.size());
    }
}

}  // namespace
