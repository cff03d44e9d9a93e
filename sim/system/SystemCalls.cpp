// Version, folders, module file name and time of the simulated machine.
#include <windows.h>

#include "../Clock.h"
#include "../Machine.h"
#include "../kernel/Kernel.h"
#include "SystemState.h"

#include <cstring>
#include <ctime>

namespace sim {
namespace {

// Copies a folder or file name: the length without terminator when it fits,
// else the buffer size it needs (with terminator) and nothing copied.
UINT CopyPath(const std::string& path, LPSTR buffer, UINT size)
{
    UINT needed = static_cast<UINT>(path.size() + 1);
    if (!buffer || size < needed)
        return needed;
    std::memcpy(buffer, path.c_str(), needed);
    return needed - 1;
}

constexpr uint64_t kUnitsPerSecond = 10000000;
constexpr int64_t kSecondsFrom1601To1970 = 11644473600;

void ToSystemTime(uint64_t time, LPSYSTEMTIME result)
{
    time_t seconds = static_cast<time_t>(static_cast<int64_t>(time / kUnitsPerSecond) - kSecondsFrom1601To1970);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    result->wYear = static_cast<WORD>(parts.tm_year + 1900);
    result->wMonth = static_cast<WORD>(parts.tm_mon + 1);
    result->wDayOfWeek = static_cast<WORD>(parts.tm_wday);
    result->wDay = static_cast<WORD>(parts.tm_mday);
    result->wHour = static_cast<WORD>(parts.tm_hour);
    result->wMinute = static_cast<WORD>(parts.tm_min);
    result->wSecond = static_cast<WORD>(parts.tm_sec);
    result->wMilliseconds = static_cast<WORD>(time % kUnitsPerSecond / 10000);
}

}  // namespace
}  // namespace sim

using namespace sim;

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA lpVersionInformation)
{
    DWORD size = lpVersionInformation ? lpVersionInformation->dwOSVersionInfoSize : 0;
    if (size != sizeof(OSVERSIONINFOA) && size != sizeof(OSVERSIONINFOEXA)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    WindowsVersion version = CurrentSystem().info.Version();
    lpVersionInformation->dwMajorVersion = version.major;
    lpVersionInformation->dwMinorVersion = version.minor;
    lpVersionInformation->dwBuildNumber = version.build;
    lpVersionInformation->dwPlatformId = version.platformId;
    std::strncpy(lpVersionInformation->szCSDVersion, version.servicePack,
                 sizeof lpVersionInformation->szCSDVersion - 1);
    lpVersionInformation->szCSDVersion[sizeof lpVersionInformation->szCSDVersion - 1] = 0;
    if (size == sizeof(OSVERSIONINFOEXA)) {
        auto* extended = reinterpret_cast<LPOSVERSIONINFOEXA>(lpVersionInformation);
        extended->wServicePackMajor = 0;
        extended->wServicePackMinor = 0;
        extended->wSuiteMask = 0;
        extended->wProductType = 1;  // workstation
        extended->wReserved = 0;
    }
    return TRUE;
}

UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize)
{
    return CopyPath(CurrentSystem().info.SystemDirectory(), lpBuffer, uSize);
}

UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize)
{
    return CopyPath(CurrentSystem().info.WindowsDirectory(), lpBuffer, uSize);
}

// The program is the only module: every module handle names its file.
// Too small a buffer gets the name cut, with terminator, the size as result
// and ERROR_INSUFFICIENT_BUFFER (Vista and later; XP left it unterminated).
DWORD WINAPI GetModuleFileNameA(HMODULE, LPSTR lpFilename, DWORD nSize)
{
    if (!lpFilename || nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::string path = CurrentSystem().info.ModuleFileName();
    if (path.size() >= nSize) {
        std::memcpy(lpFilename, path.data(), nSize - 1);
        lpFilename[nSize - 1] = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    std::memcpy(lpFilename, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
}

// The simulated machine's time zone is UTC: local time equals system time.
void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime)
{
    ToSystemTime(Machine::Current().clock().Now(), lpSystemTime);
}

void WINAPI GetSystemTime(LPSYSTEMTIME lpSystemTime)
{
    ToSystemTime(Machine::Current().clock().Now(), lpSystemTime);
}

namespace sim {

bool SystemHasNoExecuteMemory()
{
    WindowsVersion version = Machine::Current().system().info.Version();
    return version.major > 6 || (version.major == 6 && version.minor >= 2);
}

}  // namespace sim

BOOLEAN PsGetVersion(PULONG MajorVersion, PULONG MinorVersion, PULONG BuildNumber, PUNICODE_STRING CSDVersion)
{
    sim::WindowsVersion version = sim::Machine::Current().system().info.Version();
    if (MajorVersion != nullptr)
        *MajorVersion = version.major;
    if (MinorVersion != nullptr)
        *MinorVersion = version.minor;
    if (BuildNumber != nullptr)
        *BuildNumber = version.build;
    if (CSDVersion != nullptr)
        CSDVersion->Length = 0;
    return FALSE;
}
