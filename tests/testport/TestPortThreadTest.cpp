// The pair under real time with completions on several threads: a writer and
// a reader thread exchange chunks with acknowledgements while a third thread
// waits on events, and the read timeouts run from the timer's own context.
#include "TestPortFixture.h"

#include <atomic>
#include <string>
#include <thread>

namespace testport {
namespace {

// Blocking calls on an overlapped handle, so that several threads can use one.
DWORD ReadSome(HANDLE port, char* buffer, DWORD size)
{
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD got = 0;
    if (!ReadFile(port, buffer, size, nullptr, &overlapped) && GetLastError() != ERROR_IO_PENDING)
        ADD_FAILURE() << GetLastError();
    GetOverlappedResult(port, &overlapped, &got, TRUE);
    CloseHandle(overlapped.hEvent);
    return got;
}

void WriteAll(HANDLE port, const std::string& bytes)
{
    OVERLAPPED overlapped{};
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(port, bytes.data(), static_cast<DWORD>(bytes.size()), &written, &overlapped));
    EXPECT_EQ(bytes.size(), written);
}

std::string ChunkOf(int index)
{
    std::string chunk(1 + (index * 37) % 300, '\0');
    for (size_t i = 0; i < chunk.size(); ++i)
        chunk[i] = static_cast<char>(index + i);
    return chunk;
}

class TestPortThreadTest : public TestPortFixture {
protected:
    TestPortThreadTest() : TestPortFixture(sim::ClockMode::RealTime) {}
};

TEST_F(TestPortThreadTest, ChunksCrossInOrderWhileEventsAndTimeoutsRunOnOtherThreads)
{
    OpenBoth(FILE_FLAG_OVERLAPPED);
    COMMTIMEOUTS interval{10, 0, 0, 0, 0};
    ASSERT_TRUE(SetCommTimeouts(b, &interval));
    ASSERT_TRUE(SetCommMask(a, EV_RXCHAR | EV_CTS));
    const int chunks = 40;

    std::atomic<int> eventsSeen{0};
    std::thread waiter([&] {
        for (;;) {
            OVERLAPPED overlapped{};
            overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
            DWORD events = 0;
            DWORD size = 0;
            WaitCommEvent(a, &events, &overlapped);
            BOOL ok = GetOverlappedResult(a, &overlapped, &size, TRUE);
            CloseHandle(overlapped.hEvent);
            if (!ok || events == 0)
                return;  // the mask was cleared
            ++eventsSeen;
        }
    });
    std::thread reader([&] {
        for (int i = 0; i < chunks; ++i) {
            std::string expected = ChunkOf(i);
            std::string received;
            char buffer[512];
            // A chunk takes a few reads; empty reads without end fail the test.
            for (int reads = 0; received.size() < expected.size() && reads < 100; ++reads)
                received.append(buffer, ReadSome(b, buffer, sizeof buffer));
            EXPECT_EQ(expected, received) << "chunk " << i;
            WriteAll(b, "k");
            EscapeCommFunction(b, (i % 2) ? SETRTS : CLRRTS);
        }
    });
    for (int i = 0; i < chunks; ++i) {
        WriteAll(a, ChunkOf(i));
        char ack = 0;
        COMMTIMEOUTS whole{0, 0, 0, 0, 0};
        ASSERT_TRUE(SetCommTimeouts(a, &whole));
        ASSERT_EQ(1u, ReadSome(a, &ack, 1));
        EXPECT_EQ('k', ack);
    }
    reader.join();
    ASSERT_TRUE(SetCommMask(a, 0));
    waiter.join();
    EXPECT_GT(eventsSeen.load(), 0);
    DWORD errors = 0;
    ASSERT_TRUE(ClearCommError(b, &errors, nullptr));
    EXPECT_EQ(0u, errors) << "nothing was lost";
}

}  // namespace
}  // namespace testport
