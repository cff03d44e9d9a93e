// The full round trip with the sample driver, in both clock modes: open, a
// control request, a read completed by a timer, cancellation, close, unload.
#include "SampleDriver.h"

#include <windows.h>

#include <Machine.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

class SampleDriverTest : public ::testing::TestWithParam<sim::ClockMode> {
protected:
    SampleDriverTest() : machine(GetParam()) {}

    void SetUp() override { ASSERT_EQ(STATUS_SUCCESS, machine.StartDriver("Sample", DriverEntry)); }

    HANDLE OpenOverlapped()
    {
        return CreateFileA(SAMPLE_DOS_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    }

    void SetDelay(HANDLE device, ULONG ms)
    {
        OVERLAPPED overlapped{};
        DWORD returned = 0;
        ASSERT_TRUE(
            DeviceIoControl(device, IOCTL_SAMPLE_SET_DELAY, &ms, sizeof(ms), nullptr, 0, &returned, &overlapped));
    }

    // Waits for the request: the manual clock is advanced here by hand.
    BOOL Finish(HANDLE device, OVERLAPPED* overlapped, DWORD* transferred, uint32_t ticks)
    {
        if (machine.Mode() == sim::ClockMode::Manual)
            machine.AdvanceTicks(ticks);
        return GetOverlappedResult(device, overlapped, transferred, TRUE);
    }

    sim::Machine machine;
};

TEST_P(SampleDriverTest, ReadCompletedByTimerThenUnloadWithoutLeaks)
{
    HANDLE device = OpenOverlapped();
    ASSERT_NE(INVALID_HANDLE_VALUE, device);
    SetDelay(device, 50);
    std::vector<UCHAR> buffer(6, 0);
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_FALSE(ReadFile(device, buffer.data(), 6, nullptr, &overlapped));
    EXPECT_EQ(static_cast<DWORD>(ERROR_IO_PENDING), GetLastError());
    if (machine.Mode() == sim::ClockMode::Manual) {
        machine.AdvanceTicks(4);
        EXPECT_FALSE(HasOverlappedIoCompleted(&overlapped));
        EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(overlapped.hEvent, 0));
    }
    DWORD transferred = 0;
    ASSERT_TRUE(Finish(device, &overlapped, &transferred, 1));
    EXPECT_EQ(6u, transferred);
    EXPECT_EQ(std::vector<UCHAR>(6, SAMPLE_FILL_BYTE), buffer);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(overlapped.hEvent, 0));
    CloseHandle(overlapped.hEvent);
    CloseHandle(device);
    EXPECT_FALSE(machine.DriverHasOpenHandles("Sample"));
    EXPECT_TRUE(machine.UnloadDriver("Sample"));
    EXPECT_FALSE(machine.IsDriverLoaded("Sample"));
}

TEST_P(SampleDriverTest, CancelIoCancelsThePendingRead)
{
    HANDLE device = OpenOverlapped();
    ASSERT_NE(INVALID_HANDLE_VALUE, device);
    SetDelay(device, 100000);
    UCHAR buffer[4];
    OVERLAPPED overlapped{};
    EXPECT_FALSE(ReadFile(device, buffer, sizeof(buffer), nullptr, &overlapped));
    ASSERT_EQ(static_cast<DWORD>(ERROR_IO_PENDING), GetLastError());
    EXPECT_FALSE(GetOverlappedResult(device, &overlapped, nullptr, FALSE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_IO_INCOMPLETE), GetLastError());
    ASSERT_TRUE(CancelIo(device));
    DWORD transferred = 7;
    EXPECT_FALSE(GetOverlappedResult(device, &overlapped, &transferred, TRUE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_OPERATION_ABORTED), GetLastError());
    EXPECT_EQ(0u, transferred);
    // The device takes a new read after the cancellation.
    SetDelay(device, 10);
    EXPECT_FALSE(ReadFile(device, buffer, sizeof(buffer), nullptr, &overlapped));
    EXPECT_TRUE(Finish(device, &overlapped, &transferred, 1));
    EXPECT_EQ(4u, transferred);
    CloseHandle(device);
    EXPECT_TRUE(machine.UnloadDriver("Sample"));
}

TEST_P(SampleDriverTest, CloseHandleCancelsThePendingReadBeforeCleanup)
{
    HANDLE device = OpenOverlapped();
    ASSERT_NE(INVALID_HANDLE_VALUE, device);
    SetDelay(device, 100000);
    UCHAR buffer[4];
    OVERLAPPED overlapped{};
    EXPECT_FALSE(ReadFile(device, buffer, sizeof(buffer), nullptr, &overlapped));
    EXPECT_TRUE(machine.DriverHasOpenHandles("Sample"));
    ASSERT_TRUE(CloseHandle(device));
    EXPECT_EQ(static_cast<ULONG_PTR>(static_cast<ULONG>(STATUS_CANCELLED)), overlapped.Internal);
    EXPECT_FALSE(machine.DriverHasOpenHandles("Sample"));
    EXPECT_TRUE(machine.UnloadDriver("Sample"));
}

TEST_P(SampleDriverTest, SynchronousReadFromAnotherThreadWaitsForTheTimer)
{
    struct Job {
        HANDLE device;
        UCHAR buffer[3];
        DWORD transferred;
    } job{};
    job.device = CreateFileA(SAMPLE_DOS_PATH, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, job.device);
    HANDLE reader = CreateThread(
        nullptr, 0,
        [](LPVOID parameter) -> DWORD {
            auto* work = static_cast<Job*>(parameter);
            return ReadFile(work->device, work->buffer, 3, &work->transferred, nullptr);
        },
        &job, 0, nullptr);
    // Manual clock: time moves until the reader has been served.
    while (WaitForSingleObject(reader, machine.Mode() == sim::ClockMode::Manual ? 0 : 20) == WAIT_TIMEOUT) {
        if (machine.Mode() == sim::ClockMode::Manual)
            machine.AdvanceTicks(1);
    }
    DWORD result = 0;
    GetExitCodeThread(reader, &result);
    EXPECT_EQ(1u, result);
    EXPECT_EQ(3u, job.transferred);
    EXPECT_EQ(SAMPLE_FILL_BYTE, job.buffer[2]);
    CloseHandle(reader);
    CloseHandle(job.device);
    EXPECT_TRUE(machine.UnloadDriver("Sample"));
}

INSTANTIATE_TEST_SUITE_P(BothClocks, SampleDriverTest,
                         ::testing::Values(sim::ClockMode::Manual, sim::ClockMode::RealTime),
                         [](const ::testing::TestParamInfo<sim::ClockMode>& info) {
                             return info.param == sim::ClockMode::Manual ? "Manual" : "RealTime";
                         });

TEST(SampleDriverLeakTest, UnloadReportsTheLeakedBlockWithItsTagAndSize)
{
    EXPECT_DEATH(
        {
            sim::Machine machine;
            machine.StartDriver("Sample", LeakingSampleDriverEntry);
            machine.UnloadDriver("Sample");
        },
        "tag 'Smp ' size 64");
}

}  // namespace
