// CreateProcessA. The simulated machine has one program that can be started:
// "net stop <service>", which sends the stop control and ends at once with
// net.exe's exit code (0 stopped or stopping, 2 on any error). Its process
// handle is signalled from the start.
#include <windows.h>

#include "../Machine.h"
#include "../user/Handles.h"
#include "AnsiText.h"
#include "SystemState.h"

#include <sstream>
#include <string>
#include <vector>

namespace sim {
namespace {

class SimulatedProcess : public HandleObject {
public:
    explicit SimulatedProcess(DWORD exitCode) : exitCode_(exitCode)
    {
        header_.Type = ProcessObject;
        header_.SignalState = 1;
    }
    DISPATCHER_HEADER* WaitHeader() override { return &header_; }
    DWORD ExitCode() const { return exitCode_; }

private:
    DISPATCHER_HEADER header_{};
    DWORD exitCode_;
};

std::vector<std::string> Words(const std::string& commandLine)
{
    std::istringstream in(commandLine);
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

bool IsNetStop(const std::vector<std::string>& words)
{
    return words.size() == 3 && (EqualsIgnoreCaseAnsi(words[0], "net") || EqualsIgnoreCaseAnsi(words[0], "net.exe")) &&
           EqualsIgnoreCaseAnsi(words[1], "stop");
}

DWORD RunNetStop(const std::string& serviceName)
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceA(manager, serviceName.c_str(), SERVICE_STOP) : nullptr;
    SERVICE_STATUS status;
    BOOL stopped = service && ControlService(service, SERVICE_CONTROL_STOP, &status);
    if (service)
        CloseServiceHandle(service);
    if (manager)
        CloseServiceHandle(manager);
    return stopped ? 0 : 2;
}

}  // namespace
}  // namespace sim

using namespace sim;

BOOL WINAPI CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                           BOOL, DWORD, LPVOID, LPCSTR, LPSTARTUPINFOA, LPPROCESS_INFORMATION lpProcessInformation)
{
    std::vector<std::string> words =
        Words(lpCommandLine ? lpCommandLine : (lpApplicationName ? lpApplicationName : ""));
    if (!lpProcessInformation || !IsNetStop(words)) {
        SetLastError(lpProcessInformation ? ERROR_FILE_NOT_FOUND : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto process = std::make_shared<SimulatedProcess>(RunNetStop(words[2]));
    HandleTable& handles = Machine::Current().handles();
    lpProcessInformation->hProcess = handles.Insert(process);
    lpProcessInformation->hThread = handles.Insert(process);
    lpProcessInformation->dwProcessId = static_cast<DWORD>(reinterpret_cast<uintptr_t>(lpProcessInformation->hProcess));
    lpProcessInformation->dwThreadId = lpProcessInformation->dwProcessId + 1;
    return TRUE;
}

BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode)
{
    std::shared_ptr<SimulatedProcess> process = Machine::Current().handles().FindAs<SimulatedProcess>(hProcess);
    if (!process || !lpExitCode) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *lpExitCode = process->ExitCode();
    return TRUE;
}
