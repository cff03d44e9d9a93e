#include "VantrelProcess.h"

#include <commctrl.h>

#include <functional>
#include <vector>

namespace {

// The first start in a fresh prefix is slow under Wine.
const DWORD kWindowTimeoutMs = 30000;
const DWORD kCloseTimeoutMs = 10000;
const wchar_t kMainFrameClass[] = L"VantrelMainFrame";
const UINT kStartCaptureCommand = 26000;

struct WindowList {
    DWORD processId;  // 0: every process
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM param)
{
    auto* list = reinterpret_cast<WindowList*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    if (list->processId == 0 || owner == list->processId) {
        list->windows.push_back(hwnd);
    }
    return TRUE;
}

// Top-level windows of a process, in z-order.
std::vector<HWND> TopLevelWindows(DWORD processId)
{
    WindowList list = {processId, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&list));
    return list.windows;
}

std::wstring ClassOf(HWND hwnd)
{
    wchar_t className[64] = {};
    GetClassNameW(hwnd, className, 64);
    return className;
}

std::wstring TitleOf(HWND hwnd)
{
    wchar_t title[128] = {};
    GetWindowTextW(hwnd, title, 128);
    return title;
}

struct MainFrameSearch {
    HWND last = nullptr;
    int count = 0;
};

MainFrameSearch FindMainFrames(DWORD processId)
{
    MainFrameSearch search;
    for (HWND hwnd : TopLevelWindows(processId)) {
        if (IsWindowVisible(hwnd) && ClassOf(hwnd) == kMainFrameClass) {
            search.last = hwnd;
            ++search.count;
        }
    }
    return search;
}

HWND FindWindowWhere(DWORD processId, const std::function<bool(HWND)>& match)
{
    for (HWND hwnd : TopLevelWindows(processId)) {
        if (match(hwnd)) {
            return hwnd;
        }
    }
    return nullptr;
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

bool WaitForStartEnabled(HWND mainFrame, DWORD timeoutMs)
{
    HWND toolBar = FindWindowExW(mainFrame, nullptr, TOOLBARCLASSNAMEW, nullptr);
    for (DWORD waited = 0; toolBar != nullptr && waited < timeoutMs; waited += 50) {
        if (SendMessageW(toolBar, TB_ISBUTTONENABLED, kStartCaptureCommand, 0) != 0)
            return true;
        Sleep(50);
    }
    return false;
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

HWND VantrelProcess::WaitForWindowTitled(const std::wstring& title) const
{
    return WaitForWindow([&title](HWND hwnd) { return TitleOf(hwnd) == title; });
}

HWND VantrelProcess::WaitForWindow(const std::function<bool(HWND)>& match) const
{
    DWORD start = GetTickCount();
    do {
        if (HWND hwnd = FindWindowWhere(process_.dwProcessId, match)) {
            return hwnd;
        }
    } while (WaitForSingleObject(process_.hProcess, 20) == WAIT_TIMEOUT && GetTickCount() - start < kWindowTimeoutMs);
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
