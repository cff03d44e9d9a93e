#include "VantrelProcess.h"

namespace {

// The first start in a fresh prefix is slow under Wine.
const DWORD kWindowTimeoutMs = 30000;
const DWORD kCloseTimeoutMs = 10000;
const wchar_t kMainFrameClass[] = L"VantrelMainFrame";

struct MainFrameSearch {
    DWORD processId;
    HWND last;
    int count;
};

BOOL CALLBACK CountMainFrame(HWND hwnd, LPARAM param)
{
    auto* search = reinterpret_cast<MainFrameSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    wchar_t className[64] = {};
    GetClassNameW(hwnd, className, 64);
    if ((search->processId == 0 || owner == search->processId) && IsWindowVisible(hwnd) &&
        std::wstring(className) == kMainFrameClass) {
        search->last = hwnd;
        ++search->count;
    }
    return TRUE;
}

MainFrameSearch FindMainFrames(DWORD processId)
{
    MainFrameSearch search = {processId, nullptr, 0};
    EnumWindows(CountMainFrame, reinterpret_cast<LPARAM>(&search));
    return search;
}

}  // namespace

std::wstring BuildOutputPath(const wchar_t* relativePath)
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path = self;
    path.erase(path.find_last_of(L"\\/") + 1);
    return path + relativePath;
}

std::wstring VantrelExePath()
{
    return BuildOutputPath(VANTREL_EXE_RELATIVE_PATH);
}

int CountMainFrames(DWORD processId)
{
    return FindMainFrames(processId).count;
}

VantrelProcess::~VantrelProcess()
{
    if (!started_) {
        return;
    }
    if (IsRunning()) {
        TerminateProcess(process_.hProcess, 99);
        WaitForSingleObject(process_.hProcess, kCloseTimeoutMs);
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
}

bool VantrelProcess::Start()
{
    std::wstring path = VantrelExePath();
    std::wstring commandLine = L"\"" + path + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    started_ = CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                   &process_) != 0;
    return started_;
}

HWND VantrelProcess::WaitForMainFrame() const
{
    DWORD start = GetTickCount();
    do {
        HWND hwnd = FindMainFrames(process_.dwProcessId).last;
        if (hwnd != nullptr) {
            return hwnd;
        }
    } while (WaitForSingleObject(process_.hProcess, 50) == WAIT_TIMEOUT && GetTickCount() - start < kWindowTimeoutMs);
    return nullptr;
}

bool VantrelProcess::WaitForExit(DWORD timeoutMs, DWORD* exitCode) const
{
    if (WaitForSingleObject(process_.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        return false;
    }
    return GetExitCodeProcess(process_.hProcess, exitCode) != 0;
}

bool VantrelProcess::Close(DWORD* exitCode) const
{
    HWND hwnd = FindMainFrames(process_.dwProcessId).last;
    return hwnd != nullptr && PostMessageW(hwnd, WM_CLOSE, 0, 0) && WaitForExit(kCloseTimeoutMs, exitCode);
}

bool VantrelProcess::IsRunning() const
{
    return started_ && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}
