#include "CaptureCommands.h"

#include "StopProgressDialog.h"
#include "WideText.h"

#include <utility>

namespace {

void ShowMessage(HWND owner, const char* text, const char* caption, UINT type)
{
    MessageBoxW(owner, WideFromUtf8(text).c_str(), WideFromUtf8(caption).c_str(), type);
}

}  // namespace

CaptureCommands::CaptureCommands(CaptureItemRows& items, LogLine log) : items_(items), log_(std::move(log)) {}

bool CaptureCommands::OnStartCapture(HWND mainFrame)
{
    CloseMonitorWindows();
    FilterService service;
    DosDeviceTable devices(DOS_DEVICE_LISTING_SIZE);
    CaptureStart start = StartCapture(items_, service, devices, log_);
    if (start.result != CaptureStartResult::Started) {
        ShowMessage(mainFrame, CaptureStartMessage(start.result), START_CHECK_CAPTION, MB_OK);
        return false;
    }
    for (const MonitorToOpen& monitor : start.monitors) {
        OpenMonitor(monitor, mainFrame);
    }
    log_(CAPTURE_STARTED_TEXT);
    return true;
}

bool CaptureCommands::OnStopCapture(HWND mainFrame)
{
    if (!OutputPortsAreFree(items_, log_)) {
        ShowMessage(mainFrame, CLOSE_PORT_USERS_TEXT, STOP_CHECK_CAPTION, MB_OK | MB_ICONWARNING);
        return false;
    }
    NotifyMonitorsOfStop(mainFrame);
    if (!FinishCaptureStop(StopServiceWithProgress(mainFrame), log_)) {
        ShowMessage(mainFrame, STOP_FAILED_TEXT, STOP_CHECK_CAPTION, MB_OK | MB_ICONERROR);
        return false;
    }
    return true;
}

void CaptureCommands::CloseMonitorWindows()
{
    for (const std::unique_ptr<CLogFrame>& monitor : monitorWindows_) {
        if (monitor->Handle() != nullptr) {
            SendMessageW(monitor->Handle(), WM_CLOSE, 0, 0);
        }
    }
    monitorWindows_.clear();
}

// A monitor that cannot be made is skipped; the others still open.
void CaptureCommands::OpenMonitor(const MonitorToOpen& monitor, HWND mainFrame)
{
    auto frame = std::make_unique<CLogFrame>(monitor.devicePath.c_str(), monitor.port.c_str(), monitor.bufferSize,
                                             mainFrame);
    if (!frame->Create()) {
        return;
    }
    SetWindowTextW(frame->Handle(), WideFromUtf8(monitor.title).c_str());
    SetWindowPos(frame->Handle(), nullptr, monitor.left, monitor.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ShowWindow(frame->Handle(), SW_SHOW);
    monitorWindows_.push_back(std::move(frame));
}

void CaptureCommands::NotifyMonitorsOfStop(HWND mainFrame)
{
    COPYDATASTRUCT stop = {MONITOR_STOP_NOTIFICATION, 0, nullptr};
    for (const std::unique_ptr<CLogFrame>& monitor : monitorWindows_) {
        if (monitor->Handle() != nullptr) {
            SendMessageW(monitor->Handle(), WM_COPYDATA, reinterpret_cast<WPARAM>(mainFrame),
                         reinterpret_cast<LPARAM>(&stop));
        }
    }
}

int CaptureCommands::StopServiceWithProgress(HWND mainFrame)
{
    if (!stopWorker_.Start()) {
        return 0;
    }
    StopProgressDialog progress(stopWorker_.Thread());
    progress.RunModal(mainFrame);
    // The box closes only when the worker has ended; wait all the same should
    // it fail to show, so the result is never read early.
    WaitForSingleObject(stopWorker_.Thread(), INFINITE);
    return stopWorker_.Result();
}
