// The service control calls: a missing service on both platforms; the life
// of a kernel service whose driver the test links in, on the simulation.
#include "TestMachine.h"

#include <gtest/gtest.h>

namespace {

class ServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        manager = OpenSCManagerA(nullptr, SERVICES_ACTIVE_DATABASEA, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(nullptr, manager) << GetLastError();
    }
    void TearDown() override { CloseServiceHandle(manager); }

    TestMachine machine;
    SC_HANDLE manager = nullptr;
};

TEST_F(ServiceTest, AMissingServiceDoesNotExist)
{
    EXPECT_EQ(nullptr, OpenServiceA(manager, "VantrelSimsysMissing", SERVICE_ALL_ACCESS));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), GetLastError());
}

#ifndef _WIN32
int g_loads = 0;
int g_unloads = 0;

void ProbeUnload(PDRIVER_OBJECT)
{
    ++g_unloads;
}

NTSTATUS ProbeEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    ++g_loads;
    driver->DriverUnload = ProbeUnload;
    return STATUS_SUCCESS;
}

NTSTATUS FailingEntry(PDRIVER_OBJECT, PUNICODE_STRING)
{
    return STATUS_UNSUCCESSFUL;
}

DWORD State(SC_HANDLE service)
{
    SERVICE_STATUS status{};
    EXPECT_TRUE(QueryServiceStatus(service, &status));
    return status.dwCurrentState;
}

SC_HANDLE CreateKernelService(SC_HANDLE manager, const char* name, const char* image)
{
    return CreateServiceA(manager, name, name, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                          SERVICE_ERROR_NORMAL, image, nullptr, nullptr, nullptr, nullptr, nullptr);
}

TEST_F(ServiceTest, AKernelServiceStartsStopsAndWritesItsKey)
{
    machine.RegisterDriverImage("SimsysProbe.sys", ProbeEntry);
    SC_HANDLE service = CreateKernelService(manager, "SimsysProbe", "System32\\Drivers\\SimsysProbe.sys");
    ASSERT_NE(nullptr, service);
    EXPECT_EQ(nullptr, CreateKernelService(manager, "simsysprobe", "x.sys"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_EXISTS), GetLastError());

    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\SimsysProbe", 0, KEY_READ, &key));
    DWORD start = 0, size = sizeof start;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Start", nullptr, nullptr, reinterpret_cast<BYTE*>(&start), &size));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_DEMAND_START), start);
    RegCloseKey(key);

    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), State(service));
    SERVICE_STATUS status;
    EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE), GetLastError());
    ASSERT_TRUE(StartServiceA(service, 0, nullptr));
    EXPECT_EQ(1, g_loads);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), State(service));
    EXPECT_FALSE(StartServiceA(service, 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING), GetLastError());
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), status.dwCurrentState);
    EXPECT_EQ(1, g_unloads);
    CloseServiceHandle(service);
}

TEST_F(ServiceTest, AFailingDriverEntryFailsTheStart)
{
    machine.RegisterDriverImage("SimsysFail.sys", FailingEntry);
    SC_HANDLE service = CreateKernelService(manager, "SimsysFail", "\\SystemRoot\\System32\\Drivers\\SimsysFail.sys");
    ASSERT_NE(nullptr, service);
    EXPECT_FALSE(StartServiceA(service, 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_GEN_FAILURE), GetLastError());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), State(service));
    CloseServiceHandle(service);
}

TEST_F(ServiceTest, NetStopStopsTheNamedService)
{
    machine.RegisterDriverImage("SimsysNet.sys", ProbeEntry);
    SC_HANDLE service = CreateKernelService(manager, "SimsysNet", "System32\\Drivers\\SimsysNet.sys");
    ASSERT_NE(nullptr, service);
    ASSERT_TRUE(StartServiceA(service, 0, nullptr));
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    char commandLine[] = "net stop SimsysNet";
    ASSERT_TRUE(CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(process.hProcess, 1000));
    DWORD exitCode = 99;
    EXPECT_TRUE(GetExitCodeProcess(process.hProcess, &exitCode));
    EXPECT_EQ(0u, exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), State(service));
    CloseServiceHandle(service);
}
#endif

}  // namespace
