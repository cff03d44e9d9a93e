// Capture with completions on several threads: on a real-time machine,
// writer threads share one captured end of a test-port pair, a reader drains
// the other end (its reads complete in the writers' threads or in the
// read-timeout DPC), and the monitor's record stream polls the control device
// all the while. Every byte must arrive exactly once, in order per writer.
#include "FilterTestSupport.h"

#include "RecordStore.h"
#include "RecordStream.h"
#include "StoredRecords.h"

#include <array>
#include <atomic>
#include <chrono>
#include <map>
#include <thread>

using namespace filtertest;

namespace {

constexpr int kWriters = 4;
constexpr int kMessagesPerWriter = 300;
constexpr uint32_t kMessageBytes = 4;
constexpr uint32_t kTotalBytes = kWriters * kMessagesPerWriter * kMessageBytes;
// Writers hold back while this much is unread, so the peer's 4096-byte
// receive queue never overflows.
constexpr uint32_t kMaxUnread = 2048;
// Far longer than a run takes: a lost byte fails the test instead of hanging it.
constexpr std::chrono::seconds kRunTime{20};

// A writer's message: its id, the sequence number and a check byte.
struct Message {
    uint8_t writer;
    uint16_t sequence;
};

std::array<uint8_t, kMessageBytes> Encode(const Message& message)
{
    uint8_t low = static_cast<uint8_t>(message.sequence & 0xFF);
    uint8_t high = static_cast<uint8_t>(message.sequence >> 8);
    return {message.writer, low, high, static_cast<uint8_t>(0x5A ^ message.writer ^ low ^ high)};
}

bool Decode(const uint8_t* bytes, Message* message)
{
    if (bytes[0] >= kWriters || bytes[3] != (0x5A ^ bytes[0] ^ bytes[1] ^ bytes[2]))
        return false;
    message->writer = bytes[0];
    message->sequence = static_cast<uint16_t>(bytes[1] | bytes[2] << 8);
    return true;
}

// Checks a byte stream of whole messages: each writer's sequence numbers
// must appear once each, in order, and all of them.
void ExpectEveryMessageOnceInOrder(const std::vector<uint8_t>& stream, const char* what)
{
    ASSERT_EQ(kTotalBytes, stream.size()) << what;
    std::map<uint8_t, uint16_t> next;
    for (size_t at = 0; at < stream.size(); at += kMessageBytes) {
        Message message{};
        ASSERT_TRUE(Decode(&stream[at], &message)) << what << ": torn or corrupted message at byte " << at;
        ASSERT_EQ(next[message.writer], message.sequence) << what << ": writer " << int(message.writer);
        ++next[message.writer];
    }
    for (int writer = 0; writer < kWriters; ++writer)
        EXPECT_EQ(kMessagesPerWriter, next[static_cast<uint8_t>(writer)]) << what;
}

class ThreadedCaptureTest : public FilterFixture {
protected:
    ThreadedCaptureTest() : FilterFixture(sim::ClockMode::RealTime) {}

    void WriteMessages(HANDLE port, uint8_t writer)
    {
        HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        for (uint16_t sequence = 0; sequence < kMessagesPerWriter; ++sequence) {
            while (static_cast<int64_t>(written.load()) - read.load() > kMaxUnread) {
                ASSERT_TRUE(InTime()) << "the reader stopped taking bytes";
                std::this_thread::yield();
            }
            auto bytes = Encode({writer, sequence});
            OVERLAPPED overlapped{};
            overlapped.hEvent = event;
            DWORD done = 0;
            if (!WriteFile(port, bytes.data(), kMessageBytes, nullptr, &overlapped)) {
                ASSERT_EQ(static_cast<DWORD>(ERROR_IO_PENDING), GetLastError());
            }
            ASSERT_TRUE(GetOverlappedResult(port, &overlapped, &done, TRUE));
            ASSERT_EQ(kMessageBytes, done);
            written += kMessageBytes;
        }
        CloseHandle(event);
    }

    // Returns as soon as one byte is there, or after 10 ms with nothing.
    void ReadEverything(HANDLE port)
    {
        COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, 10, 0, 0};
        ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
        uint8_t buffer[64];
        while (received.size() < kTotalBytes && InTime()) {
            DWORD done = 0;
            ASSERT_TRUE(ReadFile(port, buffer, sizeof buffer, &done, nullptr));
            received.insert(received.end(), buffer, buffer + done);
            read += done;
        }
    }

    bool InTime() const { return std::chrono::steady_clock::now() < deadline; }

    const std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::now() + kRunTime;
    std::atomic<uint32_t> written{0};
    std::atomic<uint32_t> read{0};
    std::vector<uint8_t> received;
};

std::vector<uint8_t> DataOfKind(const RecordStore& store, uint8_t kind)
{
    std::vector<uint8_t> bytes;
    for (const RecordView& record : StoredRecords(store)) {
        if (record.kind == kind)
            bytes.insert(bytes.end(), record.data, record.data + record.length);
    }
    return bytes;
}

TEST_F(ThreadedCaptureTest, EveryByteArrivesOnceAndInOrderPerWriter)
{
    std::string key = ObjectKey(1);
    SetString(key, CAPTURE_VALUE_BASE_NAME_A, MonitorObjectName(1));
    SetString(key, "COM11", kPort0Path);
    SetString(key, "COM12", "\\Device\\VtrlTestPort1");
    StartFilter();

    RecordStore store(10 * kTotalBytes, 1000000);
    RecordStream stream(store, GetTickCount(), [](uint32_t) {});
    ASSERT_TRUE(stream.Open(MonitorObjectPath(1).c_str()));
    HANDLE sender = Open("COM11", FILE_FLAG_OVERLAPPED);
    ASSERT_NE(INVALID_HANDLE_VALUE, sender);
    HANDLE receiver = Open("COM12");
    ASSERT_NE(INVALID_HANDLE_VALUE, receiver);

    std::thread reader([&] { ReadEverything(receiver); });
    std::vector<std::thread> writers;
    for (int writer = 0; writer < kWriters; ++writer)
        writers.emplace_back([&, writer] { WriteMessages(sender, static_cast<uint8_t>(writer)); });
    while (read.load() < kTotalBytes && !HasFatalFailure() && InTime())
        stream.PollDevice(GetTickCount());
    for (auto& writer : writers)
        writer.join();
    reader.join();
    EXPECT_TRUE(CloseHandle(sender));
    EXPECT_TRUE(CloseHandle(receiver));
    stream.PollDevice(GetTickCount());
    stream.Close();

    ExpectEveryMessageOnceInOrder(received, "bytes the reader got");
    ExpectEveryMessageOnceInOrder(DataOfKind(store, RecordKind_Write), "captured writes on COM11");
    std::vector<uint8_t> capturedReads = DataOfKind(store, RecordKind_Read);
    EXPECT_EQ(received, capturedReads) << "the captured reads are exactly what the reader got";
    EXPECT_EQ(kTotalBytes, stream.SentTotal());
    EXPECT_EQ(kTotalBytes, stream.ReceivedTotal());
    EXPECT_EQ(0u, stream.LostCount());
}

}  // namespace
