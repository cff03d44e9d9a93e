// Demo traffic for the test port pair: a terminal session on COM11 that its
// peer on COM12 answers, as a device on the other end of a cable would.
// Usage: VtrlDemo [rounds] [--start-capture] [--stop-capture] [--print QUEUE]
//   --start-capture  first asks the running Vantrel to start capture (as the
//                    toolbar button does) and waits for its monitor window;
//   --stop-capture   afterwards asks it to stop capture and waits until the
//                    monitor shows that it stopped;
//   --print QUEUE    then runs the stopped monitor's print command and answers
//                    its print dialog with printer QUEUE and all lines; the
//                    pages go to the queue once the dialog has closed.
#include <windows.h>
#include <winioctl.h>

#include "SerialIoctl.h"
#include "TestPortIoctl.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr UINT kStartCaptureCommand = 26000;
constexpr UINT kStopCaptureCommand = 26001;
constexpr UINT kPrintCommand = 25002;
constexpr int kPrinterList = 1021;
constexpr int kPrintAll = 1032;
constexpr const wchar_t* kStoppedMonitorTitle = L"キャプチャモニタ - COM11(停止中)";
constexpr const wchar_t* kPrintDialogTitle = L"印刷";
constexpr DWORD kWaitForMonitorMs = 30000;
constexpr DWORD kRoundPauseMs = 200;
constexpr int kErrorEveryRounds = 8;

HANDLE OpenPort(const char* name)
{
    HANDLE port = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE)
        fprintf(stderr, "VtrlDemo: cannot open %s (error %lu)\n", name, GetLastError());
    return port;
}

bool SetLine(HANDLE port)
{
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb))
        return false;
    dcb.BaudRate = 9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    COMMTIMEOUTS timeouts = {0, 0, 1000, 0, 0};
    return SetCommState(port, &dcb) && SetCommTimeouts(port, &timeouts);
}

bool Send(HANDLE port, const std::string& text)
{
    DWORD done = 0;
    return WriteFile(port, text.data(), static_cast<DWORD>(text.size()), &done, nullptr) && done == text.size();
}

std::string Receive(HANDLE port, size_t length)
{
    std::string text(length, '\0');
    DWORD done = 0;
    if (!ReadFile(port, &text[0], static_cast<DWORD>(length), &done, nullptr))
        done = 0;
    text.resize(done);
    return text;
}

// The line shows a framing error; the terminal's status query reports it.
void ShowLineError(HANDLE terminal)
{
    ULONG errors = SERIAL_ERROR_FRAMING;
    DWORD returned = 0;
    DeviceIoControl(terminal, IOCTL_TESTPORT_REPORT_ERRORS, &errors, sizeof errors, nullptr, 0, &returned, nullptr);
    DWORD reported = 0;
    COMSTAT status;
    ClearCommError(terminal, &reported, &status);
}

bool PlayRound(HANDLE terminal, HANDLE device, int round)
{
    std::string command = "AT+DEMO=" + std::to_string(round) + "\r\n";
    std::string answer = "OK " + std::to_string(round) + "\r\n";
    if (!Send(terminal, command) || Receive(device, command.size()) != command)
        return false;
    if (!Send(device, answer) || Receive(terminal, answer.size()) != answer)
        return false;
    if (round % kErrorEveryRounds == 0)
        ShowLineError(terminal);
    return true;
}

struct WindowSearch {
    const wchar_t* title;
    HWND found;
};

BOOL CALLBACK FindWindowTitled(HWND hwnd, LPARAM context)
{
    auto* search = reinterpret_cast<WindowSearch*>(context);
    wchar_t title[100] = {};
    GetWindowTextW(hwnd, title, 100);
    if (wcscmp(title, search->title) == 0) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND FindTopLevelTitled(const wchar_t* title)
{
    WindowSearch search = {title, nullptr};
    EnumWindows(FindWindowTitled, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Null when no such window showed in time.
HWND WaitForWindowTitled(const wchar_t* title)
{
    for (DWORD waited = 0; waited < kWaitForMonitorMs; waited += 100) {
        if (HWND found = FindTopLevelTitled(title))
            return found;
        Sleep(100);
    }
    return nullptr;
}

// Posts a command to a window of the running Vantrel, then waits for a
// window with the given title.
HWND CommandAndWaitFor(HWND target, UINT command, const wchar_t* title)
{
    if (target == nullptr) {
        fprintf(stderr, "VtrlDemo: no Vantrel window for command %u\n", command);
        return nullptr;
    }
    PostMessageW(target, WM_COMMAND, command, 0);
    HWND shown = WaitForWindowTitled(title);
    if (shown == nullptr)
        fprintf(stderr, "VtrlDemo: Vantrel did not carry out command %u\n", command);
    return shown;
}

HWND MainFrame()
{
    return FindWindowW(L"VantrelMainFrame", nullptr);
}

// Chooses the queue and all lines in the print dialog and presses 印刷.
bool AnswerPrintDialog(HWND dialog, const char* queue)
{
    HWND printers = GetDlgItem(dialog, kPrinterList);
    if (SendMessageA(printers, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(queue)) == CB_ERR) {
        fprintf(stderr, "VtrlDemo: the print dialog does not list printer %s\n", queue);
        PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        return false;
    }
    SendMessageW(GetDlgItem(dialog, kPrintAll), BM_CLICK, 0, 0);
    PostMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    for (DWORD waited = 0; waited < kWaitForMonitorMs && IsWindow(dialog); waited += 100)
        Sleep(100);
    return !IsWindow(dialog);
}

bool PrintStoppedMonitor(const char* queue)
{
    HWND dialog = CommandAndWaitFor(FindTopLevelTitled(kStoppedMonitorTitle), kPrintCommand, kPrintDialogTitle);
    return dialog != nullptr && AnswerPrintDialog(dialog, queue);
}

}  // namespace

int main(int argc, char** argv)
{
    int rounds = 20;
    bool startCapture = false;
    bool stopCapture = false;
    const char* printQueue = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--start-capture") == 0)
            startCapture = true;
        else if (strcmp(argv[i], "--stop-capture") == 0)
            stopCapture = true;
        else if (strcmp(argv[i], "--print") == 0 && i + 1 < argc)
            printQueue = argv[++i];
        else
            rounds = atoi(argv[i]);
    }
    if (startCapture && !CommandAndWaitFor(MainFrame(), kStartCaptureCommand, L"キャプチャモニタ - COM11"))
        return 1;
    HANDLE device = OpenPort("\\\\.\\COM12");
    HANDLE terminal = OpenPort("\\\\.\\COM11");
    int played = 0;
    if (device != INVALID_HANDLE_VALUE && terminal != INVALID_HANDLE_VALUE && SetLine(terminal) && SetLine(device)) {
        while (played < rounds && PlayRound(terminal, device, played + 1)) {
            ++played;
            Sleep(kRoundPauseMs);
        }
    }
    for (HANDLE port : {terminal, device}) {
        if (port != INVALID_HANDLE_VALUE)
            CloseHandle(port);
    }
    printf("VtrlDemo: %d of %d rounds played\n", played, rounds);
    if (stopCapture && !CommandAndWaitFor(MainFrame(), kStopCaptureCommand, kStoppedMonitorTitle))
        return 1;
    if (printQueue != nullptr && !PrintStoppedMonitor(printQueue))
        return 1;
    return played == rounds ? 0 : 1;
}
