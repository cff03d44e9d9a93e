// Capture start and stop for all items at once, as the main frame's two
// commands carry them out: the message boxes, the capture monitor windows of
// the monitor items and the progress box while the service stops.
#pragma once

#include "CaptureControl.h"
#include "LogFrame.h"

#include <windows.h>

#include <memory>
#include <vector>

class CaptureCommands {
public:
    CaptureCommands(CaptureItemRows& items, LogLine log);

    // True when capture now runs; a failure has been shown and logged.
    bool OnStartCapture(HWND mainFrame);
    // True when capture has ended; otherwise it still runs.
    bool OnStopCapture(HWND mainFrame);

    // The monitor windows of the last start, in creation order; a window the
    // user closed stays in the list until the next start.
    const std::vector<std::unique_ptr<CLogFrame>>& MonitorWindows() const { return monitorWindows_; }

private:
    void CloseMonitorWindows();
    void OpenMonitor(const MonitorToOpen& monitor, HWND mainFrame);
    void NotifyMonitorsOfStop(HWND mainFrame);
    // The stop's result; 0 when no worker could be started.
    int StopServiceWithProgress(HWND mainFrame);

    CaptureItemRows& items_;
    LogLine log_;
    std::vector<std::unique_ptr<CLogFrame>> monitorWindows_;
    CaptureStopWorker stopWorker_;
};
