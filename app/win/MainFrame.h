// The application's top-level window: menu and toolbar 128, the status bar
// with its clock, and a splitter with the capture items above the log.
#pragma once

#include "ActivityLogView.h"
#include "CaptureCommands.h"
#include "ComListView.h"
#include "FilterService.h"
#include "FrameWindow.h"
#include "MonitorWindows.h"
#include "Splitter.h"
#include "StatusBar.h"
#include "ToolBar.h"
#include "VantrelVersion.h"

#include <memory>
#include <string>

class Dialog;

constexpr UINT_PTR MAIN_FRAME_CLOCK_TIMER = 2;
constexpr UINT MAIN_FRAME_CLOCK_PERIOD_MS = 1000;

class CMainFrame : public FrameWindow {
public:
    // Tests name a service of their own; the application uses the filter's.
    explicit CMainFrame(const char* serviceName = FILTER_SERVICE_NAME);

    bool Create();
    // Runs once after the window is first shown.
    void MainFrameStartup();
    // Capture start fails from now on; the log has said why.
    void RefuseCaptureStart();

    // Capture start and stop set this; it decides which commands are enabled.
    void SetCapturing(bool on);

    // Log entry for code that holds the frame; dropped before the log exists.
    void AddLogLine(const char* format, ...) VANTREL_PRINTF_FORMAT(2, 3);

    CComListView* ItemsView() const { return itemsView_.get(); }
    ActivityLogView* ActivityLog() const { return activityLog_.get(); }
    HWND ToolBarWindow() const { return toolBar_.Handle(); }
    HWND StatusBarWindow() const { return statusBar_.Handle(); }
    const Splitter* Panes() const { return splitter_.get(); }

protected:
    bool OnCommand(UINT id) override;
    CommandState OnUpdateCommand(UINT id) override;
    bool ConfirmClose() override;
    bool OnCreate() override;
    void OnDestroy() override;
    bool OnTimer(UINT_PTR id) override;
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    bool CreatePanes();
    void ApplyStoredPlacement();
    void SavePlacement();
    void RecalcLayout();
    void ToggleBar(HWND bar);
    void UpdateToolBarButtons();
    void UpdateClock();
    void ShowPrompt(UINT command);
    void RunSettingsDialog(Dialog&& dialog, const char* changedLine);
    bool RefuseWhileMonitorsBusy();
    void OpenHelp();
    LRESULT OnNotify(NMHDR& header);
    bool OnCopyData(const COPYDATASTRUCT& data);

    bool capturing = false;
    bool created_ = false;
    FilterService service_;
    ToolBar toolBar_;
    StatusBar statusBar_;
    std::unique_ptr<Splitter> splitter_;
    std::unique_ptr<CComListView> itemsView_;
    std::unique_ptr<ActivityLogView> activityLog_;
    // Owned windows of the frame: released first, after the commands that use them.
    MonitorWindows monitorWindows_;
    std::unique_ptr<CaptureCommands> capture_;
    std::wstring tooltip_;  // the toolbar reads it after the notification returns
};

// Log entry for code that does not hold the main frame: hands the formatted
// message to the main window and returns once it is in the log. Safe from
// any thread of the process whose main window pumps messages.
void PostLogLine(HWND mainWindow, const char* format, ...) VANTREL_PRINTF_FORMAT(2, 3);
