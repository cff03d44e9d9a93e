// The activity log pane: a list box of timestamped lines, newest first.
#pragma once

#include "ActivityLogText.h"
#include "Window.h"

#include <string>

// The local time as the log and the clock show it.
LogTime CurrentLogTime();

class ActivityLogView : public Window {
public:
    bool Create(HWND parent);
    HWND ListBox() const { return listBox_; }

    void AddLogLine(const char* format, ...) VANTREL_PRINTF_FORMAT(2, 3);
    // A message already formatted, UTF-8.
    void AddLogText(const std::string& message);

protected:
    bool OnCreate() override;
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void FitListBox();

    HWND listBox_ = nullptr;
};
