// The virtual port with the real-time clock: a terminal thread keeps reads
// queued and cancels them while records arrive from another thread and the
// tick timer runs its worker on the DPC threads.
#include "FilterTestSupport.h"

#include <ntddser.h>

#include <atomic>
#include <string>
#include <thread>

using namespace filtertest;

namespace {

class VirtualPortThreadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetString(kServicesKey + TESTPORT_SERVICE_NAME "\\" TESTPORT_PARAMETERS_KEY, "Pair0", "COM11,COM12");
        machine.RegisterDriverImage(TESTPORT_IMAGE_NAME, DriverEntry);
        ASSERT_EQ(STATUS_SUCCESS, machine.LoadDriver(TESTPORT_SERVICE_NAME, TESTPORT_IMAGE_NAME));
        machine.RegisterDriverImage("ZrVtrlFlt.sys", ZrVtrlFltDriverEntry);
        std::string key = ObjectKey(1);
        SetString(key, CAPTURE_VALUE_BASE_NAME_A, "COM21");
        SetString(key, "COM11", kPort0Path);
        SetDword(key, CAPTURE_VALUE_FORM_A, CAPTURE_FORM_WRITTEN_DATA);
        ASSERT_EQ(STATUS_SUCCESS, machine.LoadDriver(kFilterService, "ZrVtrlFlt.sys"));
    }
    void TearDown() override
    {
        EXPECT_TRUE(machine.UnloadDriver(kFilterService));
        EXPECT_TRUE(machine.UnloadDriver(TESTPORT_SERVICE_NAME));
    }

    sim::Machine machine{sim::ClockMode::RealTime};
};

TEST_F(VirtualPortThreadTest, CancellingQueuedReadsWhileRecordsArriveLosesNoByteTwice)
{
    HANDLE reader = Open("COM21", FILE_FLAG_OVERLAPPED);
    ASSERT_NE(INVALID_HANDLE_VALUE, reader);
    // A total timeout keeps the tick timer re-arming the read worker.
    SERIAL_TIMEOUTS t = {0, 0, 30, 0, 0};
    DWORD returned = 0;
    OVERLAPPED set{};
    ASSERT_TRUE(DeviceIoControl(reader, IOCTL_SERIAL_SET_TIMEOUTS, &t, sizeof t, nullptr, 0, &returned, &set));

    std::atomic<bool> writing{true};
    constexpr int kWrites = 400;
    std::thread writer([&] {
        HANDLE port = Open("COM11");
        ASSERT_NE(INVALID_HANDLE_VALUE, port);
        for (int i = 0; i < kWrites; ++i) {
            char byte = static_cast<char>('a' + i % 26);
            DWORD done = 0;
            ASSERT_TRUE(WriteFile(port, &byte, 1, &done, nullptr));
        }
        CloseHandle(port);
        writing = false;
    });

    std::string received;
    int reads = 0;
    bool lastGotData = true;
    // More bytes than were written end the loop as well: the check below fails.
    while ((writing || lastGotData) && received.size() <= static_cast<size_t>(kWrites)) {
        char buffer[7];
        OVERLAPPED read{};
        DWORD done = 0;
        lastGotData = false;
        if (!ReadFile(reader, buffer, sizeof buffer, &done, &read)) {
            ASSERT_EQ(static_cast<DWORD>(ERROR_IO_PENDING), GetLastError());
            if (++reads % 3 == 0)
                CancelIo(reader);
            if (!GetOverlappedResult(reader, &read, &done, TRUE))
                done = 0;
        }
        received.append(buffer, done);
        lastGotData = done != 0;
    }
    writer.join();
    CloseHandle(reader);
    // Cancelled reads may have taken bytes with them, but what arrived is in order.
    ASSERT_LE(received.size(), static_cast<size_t>(kWrites));
    for (size_t i = 1; i < received.size(); ++i) {
        int step = (received[i] - received[i - 1] + 26) % 26;
        EXPECT_NE(0, step) << "no byte delivered twice, at " << i;
        EXPECT_TRUE(received[i] >= 'a' && received[i] <= 'z') << "only written bytes, at " << i;
    }
}

}  // namespace
