#include "FilterService.h"

#include "CaptureItem.h"

#include <string.h>

namespace {

constexpr const char* SERVICES_KEY = "SYSTEM\\CurrentControlSet\\Services";
constexpr DWORD STOP_POLL_MS = 100;

// The manager and the service, both with full access, closed together.
class OpenedService {
public:
    explicit OpenedService(const char* name)
    {
        manager_ = OpenSCManagerA(nullptr, SERVICES_ACTIVE_DATABASEA, SC_MANAGER_ALL_ACCESS);
        if (manager_)
            service_ = OpenServiceA(manager_, name, SERVICE_ALL_ACCESS);
    }
    ~OpenedService()
    {
        if (service_)
            CloseServiceHandle(service_);
        if (manager_)
            CloseServiceHandle(manager_);
    }
    OpenedService(const OpenedService&) = delete;
    OpenedService& operator=(const OpenedService&) = delete;

    SC_HANDLE Manager() const { return manager_; }
    SC_HANDLE Service() const { return service_; }
    void Adopt(SC_HANDLE service) { service_ = service; }

private:
    SC_HANDLE manager_ = nullptr;
    SC_HANDLE service_ = nullptr;
};

bool QueryState(SC_HANDLE service, DWORD* state)
{
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(service, &status))
        return false;
    *state = status.dwCurrentState;
    return true;
}

bool WaitUntilStopped(SC_HANDLE service, DWORD timeoutMs)
{
    DWORD started = GetTickCount();
    // Unsigned difference: the tick count may wrap while we wait.
    while (GetTickCount() - started < timeoutMs) {
        DWORD state = 0;
        if (QueryState(service, &state) && state == SERVICE_STOPPED)
            return true;
        Sleep(STOP_POLL_MS);
    }
    return false;
}

class RegistryKey {
public:
    RegistryKey() = default;
    ~RegistryKey()
    {
        if (key_)
            RegCloseKey(key_);
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    bool Create(const std::string& path)
    {
        return RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                               nullptr, &key_, nullptr) == ERROR_SUCCESS;
    }
    bool Open(const std::string& path) { return RegOpenKeyA(HKEY_LOCAL_MACHINE, path.c_str(), &key_) == ERROR_SUCCESS; }
    bool OpenForDeletion(const std::string& path)
    {
        return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, &key_) == ERROR_SUCCESS;
    }
    HKEY Get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

bool IsTextType(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ;
}

}  // namespace

FilterService::FilterService(const char* serviceName)
{
    CopyItemText(name_, sizeof name_, serviceName);
}

std::string FilterService::KeyPath(const char* subkey) const
{
    std::string path = std::string(SERVICES_KEY) + "\\" + name_;
    if (subkey && subkey[0] != '\0')
        path += std::string("\\") + subkey;
    return path;
}

bool FilterService::Install(const char* displayName, const char* imagePath, int startFlag)
{
    OpenedService opened(name_);
    if (!opened.Manager())
        return false;
    if (!opened.Service()) {
        if (GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST)
            return false;
        opened.Adopt(CreateServiceA(opened.Manager(), name_, displayName, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                    SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, imagePath, nullptr, nullptr, nullptr,
                                    nullptr, nullptr));
        if (!opened.Service())
            return false;
    }
    if (startFlag == 1)
        StartServiceA(opened.Service(), 0, nullptr);
    return true;
}

bool FilterService::Start()
{
    OpenedService opened(name_);
    if (!opened.Service())
        return false;
    return StartServiceA(opened.Service(), 0, nullptr) != FALSE;
}

bool FilterService::StopAndWait(DWORD timeoutMs)
{
    OpenedService opened(name_);
    if (!opened.Service())
        return false;
    DWORD state = 0;
    if (!QueryState(opened.Service(), &state))
        return false;
    if (state == SERVICE_STOPPED)
        return true;
    SERVICE_STATUS status{};
    ControlService(opened.Service(), SERVICE_CONTROL_STOP, &status);
    return WaitUntilStopped(opened.Service(), timeoutMs);
}

bool FilterService::SetString(const char* subkey, const char* valueName, const char* text)
{
    RegistryKey key;
    if (!key.Create(KeyPath(subkey)))
        return false;
    // Stored with the character count, without the terminator.
    DWORD length = static_cast<DWORD>(strlen(text));
    return RegSetValueExA(key.Get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), length) ==
           ERROR_SUCCESS;
}

bool FilterService::SetDword(const char* subkey, const char* valueName, DWORD value)
{
    RegistryKey key;
    if (!key.Create(KeyPath(subkey)))
        return false;
    return RegSetValueExA(key.Get(), valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
           ERROR_SUCCESS;
}

bool FilterService::GetString(const char* subkey, const char* valueName, char* buffer, DWORD bufferSize)
{
    if (!buffer || bufferSize == 0)
        return false;
    buffer[0] = '\0';
    RegistryKey key;
    if (!key.Open(KeyPath(subkey)))
        return false;
    // A text stored with or without its terminator: one spare byte holds
    // either, and the text must then fit the caller's buffer with one.
    std::string data(static_cast<size_t>(bufferSize) + 1, '\0');
    DWORD type = 0;
    DWORD size = bufferSize + 1;
    if (RegQueryValueExA(key.Get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size) !=
            ERROR_SUCCESS ||
        !IsTextType(type))
        return false;
    size_t length = strnlen(data.c_str(), size);
    if (length >= bufferSize)
        return false;
    memcpy(buffer, data.c_str(), length + 1);
    return true;
}

bool FilterService::DeleteSubkeys(const char* subkey)
{
    RegistryKey key;
    if (!key.OpenForDeletion(KeyPath(subkey)))
        return false;
    DWORD count = 0;
    DWORD longest = 0;
    if (RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    std::string name(static_cast<size_t>(longest) + 16, '\0');
    // Always index 0: each deletion moves the next subkey to the front.
    for (DWORD i = 0; i < count; ++i) {
        DWORD length = static_cast<DWORD>(name.size());
        if (RegEnumKeyExA(key.Get(), 0, &name[0], &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
            RegDeleteKeyA(key.Get(), name.c_str()) != ERROR_SUCCESS)
            return false;
    }
    return true;
}
