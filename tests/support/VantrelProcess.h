// The built Vantrel.exe as a process of its own, seen from a test program
// under Wine: start it, find its main window, close it as the user would.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// Beside this test program, as the build tells; both paths are Windows paths.
std::wstring BuildOutputPath(const wchar_t* relativePath);
std::wstring VantrelExePath();

// Visible main frames of a process; 0 names every process.
int CountMainFrames(DWORD processId);
// Waits until the toolbar's capture start button of a main frame is enabled,
// as it is again once a capture stop has finished.
bool WaitForStartEnabled(HWND mainFrame, DWORD timeoutMs);

class VantrelProcess {
public:
    VantrelProcess() = default;
    VantrelProcess(const VantrelProcess&) = delete;
    VantrelProcess& operator=(const VantrelProcess&) = delete;
    // Ends a process that the test could not close the ordinary way.
    ~VantrelProcess();

    // In the test's current directory, without arguments.
    bool Start();
    // Null when no main window showed in time.
    HWND WaitForMainFrame() const;
    // A top-level window of the process with exactly this title; null when
    // none showed in time.
    HWND WaitForWindowTitled(const std::wstring& title) const;
    // A top-level window of the process that matches; null when none showed
    // in time.
    HWND WaitForWindow(const std::function<bool(HWND)>& match) const;
    // False when the process still runs after the timeout.
    bool WaitForExit(DWORD timeoutMs, DWORD* exitCode) const;
    // WM_CLOSE to the main frame, then the wait for the exit.
    bool Close(DWORD* exitCode) const;
    bool IsRunning() const;
    DWORD Id() const { return process_.dwProcessId; }

private:
    PROCESS_INFORMATION process_ = {};
    bool started_ = false;
};
