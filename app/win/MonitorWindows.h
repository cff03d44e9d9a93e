// The capture monitor windows of the last capture start. The main frame
// owns them; they are owned windows of the frame.
#pragma once

#include "CaptureCommands.h"
#include "MonitorFrame.h"
#include "PrintLayout.h"

#include <map>

#include <memory>
#include <vector>

class MonitorWindows : public MonitorWindowSet, public MonitorPrintCommand {
public:
    void CloseAll() override;
    void Open(const MonitorToOpen& monitor, HWND owner) override;
    void NotifyStop(HWND mainFrame) override;
    void HoldInput() override;
    void ResumeInput() override;

    void Print(MonitorFrame& monitor) override;
    bool Printing(const MonitorFrame& monitor) const override;
    void RunInBackground(MonitorFrame& monitor, UINT activity, const MonitorBackgroundWork& work) override;
    // Capture start closes the monitors: not while one is printed, nor while
    // one runs a dialog. The message that tells the user why, or 0.
    UINT BusyMessage() const;
    // In creation order; a window the user closed stays until the next start.
    const std::vector<std::unique_ptr<MonitorFrame>>& Windows() const { return windows_; }

private:
    PrintRun& RunOf(const MonitorFrame& monitor);

    std::vector<std::unique_ptr<MonitorFrame>> windows_;
    std::vector<MonitorToOpen> opened_;  // what each of windows_ was opened for
    std::map<const MonitorFrame*, std::unique_ptr<PrintRun>> printRuns_;
    // Disabled by HoldInput; a monitor its own dialog had disabled is not here.
    std::vector<HWND> held_;
};
