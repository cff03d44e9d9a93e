// The capture monitor windows of the last capture start. The main frame
// owns them; they are owned windows of the frame.
#pragma once

#include "CaptureCommands.h"
#include "MonitorFrame.h"

#include <memory>
#include <vector>

class MonitorWindows : public MonitorWindowSet {
public:
    void CloseAll() override;
    void Open(const MonitorToOpen& monitor, HWND owner) override;
    void NotifyStop(HWND mainFrame) override;

    // In creation order; a window the user closed stays until the next start.
    const std::vector<std::unique_ptr<MonitorFrame>>& Windows() const { return windows_; }

private:
    std::vector<std::unique_ptr<MonitorFrame>> windows_;
};
