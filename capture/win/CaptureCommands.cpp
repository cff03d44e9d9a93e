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

CaptureCommands::CaptureCommands(CaptureItemRows& items, LogLine log, MonitorWindowSet& monitors)
    : items_(items), log_(std::move(log)), monitors_(monitors)
{}

bool CaptureCommands::OnStartCapture(HWND mainFrame)
{
    monitors_.CloseAll();
    FilterService service;
    DosDeviceTable devices(DOS_DEVICE_LISTING_SIZE);
    CaptureStart start{CaptureStartResult::PortBusy, {}};
    if (startRefused_)
        log_(CaptureStartMessage(start.result));
    else
        start = StartCapture(items_, service, devices, log_);
    if (start.result != CaptureStartResult::Started) {
        ShowMessage(mainFrame, CaptureStartMessage(start.result), START_CHECK_CAPTION, MB_OK);
        return false;
    }
    for (const MonitorToOpen& monitor : start.monitors) {
        monitors_.Open(monitor, mainFrame);
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
    monitors_.NotifyStop(mainFrame);
    if (!FinishCaptureStop(StopServiceWithProgress(mainFrame), log_)) {
        ShowMessage(mainFrame, STOP_FAILED_TEXT, STOP_CHECK_CAPTION, MB_OK | MB_ICONERROR);
        return false;
    }
    return true;
}

bool CaptureCommands::StopServiceWithProgress(HWND mainFrame)
{
    if (!stopWorker_.Start()) {
        return false;
    }
    StopProgressDialog progress(stopWorker_.Thread());
    monitors_.HoldInput();
    progress.RunModal(mainFrame);
    // The box closes only when the worker has ended; wait all the same should
    // it fail to show, so the result is never read early.
    WaitForSingleObject(stopWorker_.Thread(), INFINITE);
    monitors_.ResumeInput();
    return stopWorker_.Result();
}
