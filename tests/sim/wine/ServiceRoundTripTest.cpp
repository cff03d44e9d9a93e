// The life of a kernel service whose driver the test brings: install, start,
// talk to its device through the DOS name, stop, delete. Under Wine the real
// .sys runs inside winedevice.exe; natively the same source runs on the
// simulation.
#include <windows.h>
#include <winioctl.h>

#include "EchoDevice.h"
#include "TestMachine.h"

#include <gtest/gtest.h>

#include <string>

#ifndef _WIN32
extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);
#endif

namespace {

// Wine loads a kernel service only from an image path of this form.
const char* const kImagePath = "\\SystemRoot\\System32\\drivers\\" ECHO_IMAGE_NAME;

// Under Wine the image built beside the test goes into the system's drivers
// folder; natively the driver linked into the test is registered under its name.
#ifdef _WIN32
std::string FolderOf(const std::string& path) { return path.substr(0, path.find_last_of('\\') + 1); }

void InstallDriverImage(TestMachine&) {
    char module[MAX_PATH];
    ASSERT_NE(0u, GetModuleFileNameA(nullptr, module, MAX_PATH));
    char system[MAX_PATH];
    ASSERT_NE(0u, GetSystemDirectoryA(system, MAX_PATH));
    std::string source = FolderOf(module) + ECHO_IMAGE_NAME;
    std::string target = std::string(system) + "\\drivers\\" ECHO_IMAGE_NAME;
    ASSERT_TRUE(CopyFileA(source.c_str(), target.c_str(), FALSE)) << source << ": " << GetLastError();
}
#else
void InstallDriverImage(TestMachine& machine) { machine.RegisterDriverImage(ECHO_IMAGE_NAME, DriverEntry); }
#endif

DWORD State(SC_HANDLE service) {
    SERVICE_STATUS status{};
    EXPECT_TRUE(QueryServiceStatus(service, &status)) << GetLastError();
    return status.dwCurrentState;
}

// Wine's service manager reports a state change of winedevice.exe a little later.
DWORD WaitForState(SC_HANDLE service, DWORD wanted) {
    DWORD state = State(service);
    for (int tries = 0; state != wanted && tries < 200; ++tries) {
        Sleep(50);
        state = State(service);
    }
    return state;
}

// A service left by an interrupted earlier run in the same Wine prefix.
void RemoveLeftoverService(SC_HANDLE manager) {
    SC_HANDLE service = OpenServiceA(manager, ECHO_SERVICE_NAME, SERVICE_ALL_ACCESS);
    if (!service)
        return;
    SERVICE_STATUS status;
    if (ControlService(service, SERVICE_CONTROL_STOP, &status))
        WaitForState(service, SERVICE_STOPPED);
    DeleteService(service);
    CloseServiceHandle(service);
}

class ServiceRoundTripTest : public ::testing::Test {
protected:
    void SetUp() override {
        manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(nullptr, manager) << GetLastError();
        RemoveLeftoverService(manager);
        InstallDriverImage(machine);
    }
    void TearDown() override {
        if (manager)
            CloseServiceHandle(manager);
    }

    TestMachine machine;
    SC_HANDLE manager = nullptr;
};

TEST_F(ServiceRoundTripTest, AKernelServiceRunsItsDeviceAndGoesAway) {
    SC_HANDLE service = CreateServiceA(manager, ECHO_SERVICE_NAME, ECHO_SERVICE_NAME, SERVICE_ALL_ACCESS,
                                       SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, kImagePath,
                                       nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, service) << GetLastError();
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), State(service));
    ASSERT_TRUE(StartServiceA(service, 0, nullptr)) << GetLastError();
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), WaitForState(service, SERVICE_RUNNING));

    HANDLE device =
        CreateFileA(ECHO_DOS_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
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
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), WaitForState(service, SERVICE_STOPPED));
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              CreateFileA(ECHO_DOS_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));

    EXPECT_TRUE(DeleteService(service)) << GetLastError();
    EXPECT_TRUE(CloseServiceHandle(service));
    EXPECT_EQ(nullptr, OpenServiceA(manager, ECHO_SERVICE_NAME, SERVICE_QUERY_STATUS));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), GetLastError());
}

}  // namespace
