// The advapi32 service control calls over the machine's service manager.
#include <windows.h>

#include "SystemState.h"

#include <cstring>

namespace sim {
namespace {

// Runs one service manager operation: its error becomes the last error.
BOOL Report(uint32_t error)
{
    if (error) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

SC_HANDLE ReportHandle(uint32_t error, uintptr_t handle)
{
    return Report(error) ? reinterpret_cast<SC_HANDLE>(handle) : nullptr;
}

uintptr_t Value(SC_HANDLE handle)
{
    return reinterpret_cast<uintptr_t>(handle);
}

void FillStatus(const ServiceStatusInfo& info, LPSERVICE_STATUS status)
{
    if (!status)
        return;
    std::memset(status, 0, sizeof *status);
    status->dwServiceType = info.type;
    status->dwCurrentState = info.state;
    status->dwControlsAccepted = info.controlsAccepted;
    status->dwWin32ExitCode = info.exitCode;
}

std::string TextOrEmpty(LPCSTR text)
{
    return text ? text : "";
}

}  // namespace
}  // namespace sim

using namespace sim;

SC_HANDLE WINAPI OpenSCManagerA(LPCSTR lpMachineName, LPCSTR lpDatabaseName, DWORD dwDesiredAccess)
{
    if (lpMachineName && *lpMachineName) {
        SetLastError(ERROR_INVALID_NAME);  // only the local machine exists
        return nullptr;
    }
    uintptr_t handle = 0;
    uint32_t error = CurrentSystem().services.OpenManager(lpDatabaseName, dwDesiredAccess, handle);
    return ReportHandle(error, handle);
}

SC_HANDLE WINAPI OpenServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, DWORD dwDesiredAccess)
{
    if (!lpServiceName)
        return ReportHandle(ERROR_INVALID_ADDRESS, 0);
    uintptr_t handle = 0;
    uint32_t error = CurrentSystem().services.OpenService(Value(hSCManager), lpServiceName, dwDesiredAccess, handle);
    return ReportHandle(error, handle);
}

SC_HANDLE WINAPI CreateServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, LPCSTR lpDisplayName, DWORD dwDesiredAccess,
                                DWORD dwServiceType, DWORD dwStartType, DWORD dwErrorControl, LPCSTR lpBinaryPathName,
                                LPCSTR lpLoadOrderGroup, LPDWORD lpdwTagId, LPCSTR, LPCSTR, LPCSTR)
{
    if (!lpServiceName || !lpBinaryPathName)
        return ReportHandle(ERROR_INVALID_ADDRESS, 0);
    // Only kernel drivers run here; a tag is given to boot and system drivers only.
    if (!(dwServiceType & SERVICE_DRIVER) || dwStartType > SERVICE_DISABLED ||
        dwErrorControl > SERVICE_ERROR_CRITICAL || (lpdwTagId && dwStartType > SERVICE_SYSTEM_START))
        return ReportHandle(ERROR_INVALID_PARAMETER, 0);
    ServiceConfig config{lpServiceName,    TextOrEmpty(lpDisplayName),   dwServiceType, dwStartType, dwErrorControl,
                         lpBinaryPathName, TextOrEmpty(lpLoadOrderGroup)};
    if (lpdwTagId)
        *lpdwTagId = 0;
    uintptr_t handle = 0;
    uint32_t error = CurrentSystem().services.CreateService(Value(hSCManager), config, dwDesiredAccess, handle);
    return ReportHandle(error, handle);
}

BOOL WINAPI StartServiceA(SC_HANDLE hService, DWORD, LPCSTR*)
{
    return Report(CurrentSystem().services.Start(Value(hService)));
}

BOOL WINAPI ControlService(SC_HANDLE hService, DWORD dwControl, LPSERVICE_STATUS lpServiceStatus)
{
    if (!lpServiceStatus)
        return Report(ERROR_INVALID_ADDRESS);
    ServiceStatusInfo info;
    uint32_t error = ERROR_INVALID_SERVICE_CONTROL;
    if (dwControl == SERVICE_CONTROL_STOP) {
        error = CurrentSystem().services.Stop(Value(hService), info);
    } else if (dwControl == SERVICE_CONTROL_INTERROGATE) {
        error = CurrentSystem().services.Query(Value(hService), info);
    }
    if (error != ERROR_INVALID_HANDLE && error != ERROR_ACCESS_DENIED)
        FillStatus(info, lpServiceStatus);
    return Report(error);
}

BOOL WINAPI QueryServiceStatus(SC_HANDLE hService, LPSERVICE_STATUS lpServiceStatus)
{
    if (!lpServiceStatus)
        return Report(ERROR_INVALID_ADDRESS);
    ServiceStatusInfo info;
    if (!Report(CurrentSystem().services.Query(Value(hService), info)))
        return FALSE;
    FillStatus(info, lpServiceStatus);
    return TRUE;
}

BOOL WINAPI DeleteService(SC_HANDLE hService)
{
    return Report(CurrentSystem().services.Delete(Value(hService)));
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE hSCObject)
{
    return Report(CurrentSystem().services.CloseHandle(Value(hSCObject)));
}
