// The capture stop while a terminal keeps waiting for an event on a captured
// port that stays quiet: the service stops within the application's stop
// time, the terminal's wait ends normally when a byte comes later, and the
// port still carries data. Under Wine with the real .sys images, natively on
// the simulation. Overlapped WaitCommEvent fails under Wine, so the terminal
// waits synchronously on a thread of its own. (A port's Plug and Play removal
// is checked on the simulation only: Wine has none for a legacy port.)
#include "FilterServiceFixture.h"

#include "FilterService.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using StopServiceTest = FilterServiceTest;

void ExpectByteArrives(HANDLE from, HANDLE to)
{
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(from, "s", 1, &done, nullptr)) << GetLastError();
    char byte = 0;
    ASSERT_TRUE(ReadFile(to, &byte, 1, &done, nullptr)) << GetLastError();
    EXPECT_EQ(1u, done);
    EXPECT_EQ('s', byte);
}

TEST_F(StopServiceTest, TheStopEndsWhileATerminalWaitsOnAQuietCapturedPort)
{
    items.InsertOrUpdateRow(NewItem("COM11", StandardMonitor), -1);
    StartFilter();
    HANDLE port = OpenPort("\\\\.\\COM11");
    ASSERT_NE(INVALID_HANDLE_VALUE, port) << GetLastError();
    ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
    std::atomic<bool> waiting{false};
    DWORD events = 0;
    BOOL waited = FALSE;
    std::thread terminal([&] {
        waiting = true;
        waited = WaitCommEvent(port, &events, nullptr);
    });
    while (!waiting)
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // into the port driver

    FilterService service;
    EXPECT_TRUE(service.StopAndWait(FILTER_STOP_TIMEOUT_MS)) << "the stop does not wait for the terminal";

    HANDLE peer = OpenPort("\\\\.\\COM12");
    ASSERT_NE(INVALID_HANDLE_VALUE, peer) << GetLastError();
    ExpectByteArrives(peer, port);
    terminal.join();
    EXPECT_TRUE(waited) << "the wait ends normally";
    EXPECT_EQ(static_cast<DWORD>(EV_RXCHAR), events);
    ExpectByteArrives(port, peer);
    CloseHandle(peer);
    CloseHandle(port);
}

}  // namespace
