// Capture start and stop for all items at once, as the main frame's two
// commands carry them out: the message boxes, the capture monitor windows of
// the monitor items and the progress box while the service stops.
#pragma once

#include "CaptureControl.h"

#include <windows.h>

// The capture monitor windows that a start opens and a stop notifies. The
// main frame keeps them: the monitor's windows are not this folder's.
class MonitorWindowSet {
public:
    virtual ~MonitorWindowSet() = default;
    virtual void CloseAll() = 0;
    // A monitor that cannot be made is skipped; the others still open.
    virtual void Open(const MonitorToOpen& monitor, HWND owner) = 0;
    // The stop notification to every open monitor.
    virtual void NotifyStop(HWND mainFrame) = 0;
    // While the stop's progress box runs, the monitors take no input: a
    // command such as a print would otherwise run inside the box's loop.
    // Resuming enables only the monitors that holding disabled.
    virtual void HoldInput() = 0;
    virtual void ResumeInput() = 0;
};

class CaptureCommands {
public:
    CaptureCommands(CaptureItemRows& items, LogLine log, MonitorWindowSet& monitors);

    // True when capture now runs; a failure has been shown and logged.
    bool OnStartCapture(HWND mainFrame);
    // The driver file the service would load could not be checked (64-bit
    // Windows with the driver folder out of reach): every start fails as a
    // service that does not start.
    void RefuseStart() { startRefused_ = true; }
    // True when capture has ended; otherwise it still runs.
    bool OnStopCapture(HWND mainFrame);

private:
    // Whether the service stopped; false when no worker could be started.
    bool StopServiceWithProgress(HWND mainFrame);

    CaptureItemRows& items_;
    LogLine log_;
    MonitorWindowSet& monitors_;
    CaptureStopWorker stopWorker_;
    bool startRefused_ = false;
};
