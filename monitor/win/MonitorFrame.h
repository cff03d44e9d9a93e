// The capture monitor window: polls one capture device on its refresh timer,
// shows the records in its view, and carries the monitor's commands (clear,
// pause, two-byte display), scrolling and line selection while paused.
#pragma once

#include "FrameWindow.h"
#include "GdiSurface.h"
#include "MonitorExport.h"
#include "MonitorView.h"
#include "MonitorViewWindow.h"
#include "RecordStore.h"
#include "RecordStream.h"
#include "StatusBar.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// WM_COPYDATA tag of the capture stop notification.
constexpr ULONG_PTR MONITOR_STOP_NOTIFICATION = 1;
// WM_COPYDATA tag of a line the owner adds to its activity log.
constexpr ULONG_PTR MONITOR_LOG_LINE = 0;
constexpr UINT_PTR MONITOR_REFRESH_TIMER = 1;
constexpr uint32_t MONITOR_DEFAULT_CAPACITY = 10000;
constexpr int MONITOR_WINDOW_WIDTH = 640;
constexpr int MONITOR_MIN_HEIGHT = 240;

// Runs the highlight conditions dialog modally on a monitor's conditions;
// the dialogs are not this folder's, so the owner of the monitors hands it in.
using HighlightSettingsDialog = std::function<void(HWND owner, HighlightConditionList& conditions, uint32_t limit)>;

class MonitorFrame;

// Work on a paused monitor, on a thread of its own; it stops early once
// `shouldContinue` says so.
using MonitorBackgroundWork = std::function<void(const std::function<bool()>& shouldContinue)>;

// The print command, carried out above the monitor's layer: it reads the
// paused monitor from a thread of its own and returns when that has ended.
class MonitorPrintCommand {
public:
    virtual void Print(MonitorFrame& monitor) = 0;
    // Also while RunInBackground runs.
    virtual bool Printing(const MonitorFrame& monitor) const = 0;
    // Runs `work` with the progress box that printing shows, its text the
    // string `activity`, and returns when the work has ended.
    virtual void RunInBackground(MonitorFrame& monitor, UINT activity, const MonitorBackgroundWork& work) = 0;

protected:
    ~MonitorPrintCommand() = default;
};

class MonitorFrame : public FrameWindow {
public:
    // No device: an empty monitor that can only pause.
    MonitorFrame();
    // Opens the capture device; a device that does not open leaves the monitor empty.
    MonitorFrame(const char* devicePath, const char* portName, uint32_t capacity, HWND owner);
    ~MonitorFrame() override;

    // Builds the window, its status bar, view and scroll bar and starts the
    // refresh timer; the caller titles and shows it.
    bool Create();

    void SetHighlightSettingsDialog(HighlightSettingsDialog dialog) { highlightSettings_ = std::move(dialog); }
    // Without one the print command does nothing.
    void SetPrintCommand(MonitorPrintCommand* command) { printCommand_ = command; }
    const std::string& PortName() const { return portName_; }
    // The first pane of the status bar, cp932.
    std::string LineSettings() const { return stream_.LineSettings(); }
    bool Running() const { return stream_.Running(); }
    // A dialog of the monitor (highlight, print) runs its own message loop
    // with the monitor's code below it: the monitor must outlive it.
    bool InDialog() const { return dialogs_ > 0; }
    // For the tests, which read them while the monitor is paused.
    RecordStore& Store() { return store_; }
    MonitorView* View() { return view_.get(); }
    HWND ViewWindow() const { return viewWindow_.Handle(); }
    const GdiSurface* OffscreenSurface() const { return surface_.get(); }

protected:
    bool OnCreate() override;
    void OnDestroy() override;
    bool OnTimer(UINT_PTR id) override;
    bool OnCommand(UINT id) override;
    CommandState OnUpdateCommand(UINT id) override;
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    // The print thread reads the store: the monitor stays while it runs.
    bool ConfirmClose() override { return !Printing(); }

private:
    bool Printing() const { return printCommand_ != nullptr && printCommand_->Printing(*this); }
    void Print();
    void Save();
    void CopySelection();
    // Without a print command the work runs at once on this thread.
    void RunInBackground(UINT activity, const MonitorBackgroundWork& work);
    ExportRequest RequestFor(ExportFormat format, LineRange lines, bool asFile) const;
    void ShowError(UINT text, const std::wstring& detail) const;
    void RunDialog(const std::function<void()>& dialog);
    bool CreateStatusBar();
    bool CreateView();
    bool CreateScrollBar();
    void Layout(int clientWidth, int clientHeight);
    void ShowTotals();
    void ShowLineSettings();
    void LogPortEvent(const char* text);
    void Tick();
    void UpdateScroll();
    void Scroll(WORD code);
    void TogglePause();
    void ToggleDoubleByte();
    void EditHighlightConditions();
    void OnViewClick(int y);
    bool OnViewKey(WPARAM key);
    void OnStopNotification();
    void OnIdle(uint32_t ms);
    void LogMemoryShort();
    void ApplyPlacement(int savedHeight);
    void SaveWindowSize();
    void LimitTracking(MINMAXINFO& info) const;

    std::string portName_;
    HWND owner_ = nullptr;
    HighlightSettingsDialog highlightSettings_;
    MonitorPrintCommand* printCommand_ = nullptr;
    RecordStore store_;
    RecordStream stream_;
    std::unique_ptr<GdiSurface> surface_;
    std::unique_ptr<MonitorView> view_;
    MonitorViewWindow viewWindow_;
    StatusBar statusBar_;
    HWND scrollBar_ = nullptr;
    bool clearRequested_ = false;
    bool stopped_ = false;
    bool built_ = false;
    int dialogs_ = 0;
};
