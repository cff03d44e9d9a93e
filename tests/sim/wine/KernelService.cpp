#include "KernelService.h"

#include <gtest/gtest.h>

#ifndef _WIN32
extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);
#endif

namespace {

#ifdef _WIN32
std::string FolderOf(const std::string& path)
{
    return path.substr(0, path.find_last_of('\\') + 1);
}
#endif

}  // namespace

#ifdef _WIN32
void InstallDriverImage(TestMachine&, const char* imageName)
{
    char module[MAX_PATH];
    ASSERT_NE(0u, GetModuleFileNameA(nullptr, module, MAX_PATH));
    char system[MAX_PATH];
    ASSERT_NE(0u, GetSystemDirectoryA(system, MAX_PATH));
    std::string source = FolderOf(module) + imageName;
    std::string target = std::string(system) + "\\drivers\\" + imageName;
    ASSERT_TRUE(CopyFileA(source.c_str(), target.c_str(), FALSE)) << source << ": " << GetLastError();
}
#else
void InstallDriverImage(TestMachine& machine, const char* imageName)
{
    machine.RegisterDriverImage(imageName, DriverEntry);
}
#endif

std::string KernelImagePath(const char* imageName)
{
    return std::string("\\SystemRoot\\System32\\drivers\\") + imageName;
}

DWORD ServiceState(SC_HANDLE service)
{
    SERVICE_STATUS status{};
    EXPECT_TRUE(QueryServiceStatus(service, &status)) << GetLastError();
    return status.dwCurrentState;
}

DWORD WaitForServiceState(SC_HANDLE service, DWORD wanted)
{
    DWORD state = ServiceState(service);
    for (int tries = 0; state != wanted && tries < 200; ++tries) {
        Sleep(50);
        state = ServiceState(service);
    }
    return state;
}

void RemoveLeftoverService(SC_HANDLE manager, const char* serviceName)
{
    SC_HANDLE service = OpenServiceA(manager, serviceName, SERVICE_ALL_ACCESS);
    if (!service)
        return;
    SERVICE_STATUS status;
    if (ControlService(service, SERVICE_CONTROL_STOP, &status))
        WaitForServiceState(service, SERVICE_STOPPED);
    DeleteService(service);
    CloseServiceHandle(service);
}

SC_HANDLE CreateAndStartKernelService(SC_HANDLE manager, const char* serviceName, const char* imageName)
{
    SC_HANDLE service = CreateServiceA(manager, serviceName, serviceName, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                       SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, KernelImagePath(imageName).c_str(),
                                       nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_NE(nullptr, service) << GetLastError();
    if (!service)
        return nullptr;
    EXPECT_TRUE(StartServiceA(service, 0, nullptr)) << GetLastError();
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), WaitForServiceState(service, SERVICE_RUNNING));
    return service;
}

void StopAndDeleteService(SC_HANDLE service)
{
    SERVICE_STATUS status{};
    EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status)) << GetLastError();
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), WaitForServiceState(service, SERVICE_STOPPED));
    EXPECT_TRUE(DeleteService(service)) << GetLastError();
    EXPECT_TRUE(CloseServiceHandle(service));
}

bool RunningUnderWine()
{
#ifdef _WIN32
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}
