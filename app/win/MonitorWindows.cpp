#include "MonitorWindows.h"

#include "HighlightConditionsDialog.h"
#include "ResourceText.h"
#include "WideText.h"
#include "resource.h"

namespace {

// The monitor title of the string table, then " - <port>".
std::wstring MonitorTitle(const std::string& port)
{
    return LoadResourceText(IDS_MONITOR_TITLE) + L" - " + WideFromUtf8(port);
}

void RunHighlightConditionsDialog(HWND owner, HighlightConditionList& conditions, uint32_t limit)
{
    HighlightConditionsDialog dialog(conditions, limit);
    dialog.RunModal(owner);
}

}  // namespace

void MonitorWindows::CloseAll()
{
    for (const std::unique_ptr<MonitorFrame>& monitor : windows_) {
        if (monitor->Handle() != nullptr) {
            SendMessageW(monitor->Handle(), WM_CLOSE, 0, 0);
        }
    }
    windows_.clear();
}

void MonitorWindows::Open(const MonitorToOpen& monitor, HWND owner)
{
    auto frame =
        std::make_unique<MonitorFrame>(monitor.devicePath.c_str(), monitor.port.c_str(), monitor.bufferSize, owner);
    if (!frame->Create()) {
        return;
    }
    frame->SetHighlightSettingsDialog(RunHighlightConditionsDialog);
    SetWindowTextW(frame->Handle(), MonitorTitle(monitor.port).c_str());
    SetWindowPos(frame->Handle(), nullptr, monitor.left, monitor.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ShowWindow(frame->Handle(), SW_SHOW);
    windows_.push_back(std::move(frame));
}

void MonitorWindows::NotifyStop(HWND mainFrame)
{
    COPYDATASTRUCT stop = {MONITOR_STOP_NOTIFICATION, 0, nullptr};
    for (const std::unique_ptr<MonitorFrame>& monitor : windows_) {
        if (monitor->Handle() != nullptr) {
            SendMessageW(monitor->Handle(), WM_COPYDATA, reinterpret_cast<WPARAM>(mainFrame),
                         reinterpret_cast<LPARAM>(&stop));
        }
    }
}
