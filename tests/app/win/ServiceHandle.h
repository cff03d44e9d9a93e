// Service manager handles that close themselves.
#pragma once

#include <windows.h>

#include <memory>

struct ServiceHandleCloser {
    void operator()(SC_HANDLE handle) const { CloseServiceHandle(handle); }
};
using ServiceHandle = std::unique_ptr<SC_HANDLE__, ServiceHandleCloser>;

inline ServiceHandle OpenNamedService(const char* name, DWORD access)
{
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager)
        return ServiceHandle();
    return ServiceHandle(OpenServiceA(manager.get(), name, access));
}
