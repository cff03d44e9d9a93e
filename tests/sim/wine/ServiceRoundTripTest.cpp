// The life of a kernel service whose driver the test brings: install, start,
// talk to its device through the DOS name, stop, delete. Under Wine the real
// .sys runs inside winedevice.exe; natively the same source runs on the
// simulation.
#include <windows.h>
#include <winioctl.h>

#include "EchoDevice.h"
#include "KernelService.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class ServiceRoundTripTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(nullptr, manager) << GetLastError();
        RemoveLeftoverService(manager, ECHO_SERVICE_NAME);
        InstallDriverImage(machine, ECHO_IMAGE_NAME);
    }
    void TearDown() override
    {
        if (manager)
            CloseServiceHandle(manager);
    }

    TestMachine machine;
    SC_HANDLE manager = nullptr;
};

TEST_F(ServiceRoundTripTest, AKernelServiceRunsItsDeviceAndGoesAway)
{
    SC_HANDLE service = CreateServiceA(
        manager, ECHO_SERVICE_NAME, ECHO_SERVICE_NAME, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
        SERVICE_ERROR_NORMAL, KernelImagePath(ECHO_IMAGE_NAME).c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, service) << GetLastError();
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), ServiceState(service));
    ASSERT_TRUE(StartServiceA(service, 0, nullptr)) << GetLastError();
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), WaitForServiceState(service, SERVICE_RUNNING));

    HANDLE device = CreateFileA(ECHO_DOS_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, device) << GetLastError();
    char buffer[8] = {'a', 'b', 'c', 'd', 'e'};
    DWORD returned = 0;
    EXPECT_TRUE(DeviceIoControl(device, IOCTL_ECHO_REVERSE, buffer, 5, buffer, sizeof buffer, &returned, nullptr));
    EXPECT_EQ(5u, returned);
    EXPECT_EQ("edcba", std::string(buffer, 5));
    EXPECT_FALSE(DeviceIoControl(device, IOCTL_ECHO_REVERSE, buffer, 5, buffer, 4, &returned, nullptr))
        << "an output buffer shorter than the input is refused";
    EXPECT_TRUE(CloseHandle(device));

    SERVICE_STATUS status{};
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status)) << GetLastError();
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), WaitForServiceState(service, SERVICE_STOPPED));
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              CreateFileA(ECHO_DOS_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));

    EXPECT_TRUE(DeleteService(service)) << GetLastError();
    EXPECT_TRUE(CloseServiceHandle(service));
    EXPECT_EQ(nullptr, OpenServiceA(manager, ECHO_SERVICE_NAME, SERVICE_QUERY_STATUS));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), GetLastError());
}

}  // namespace
