#include "MainFrame.h"

#include "AboutDialog.h"
#include "CaptureControl.h"
#include "ColourSettingsDialog.h"
#include "HelpPage.h"
#include "ResourceText.h"
#include "Settings.h"
#include "Startup.h"
#include "SystemSettingsDialog.h"
#include "WideText.h"
#include "resource.h"

#include <commctrl.h>

#include <string.h>

#include <algorithm>
#include <vector>

namespace {

const wchar_t kMainFrameClass[] = L"VantrelMainFrame";
const UINT kToolBarCommands[] = {ID_CAPTURE_START, ID_CAPTURE_STOP, TOOLBAR_SEPARATOR, ID_ITEM_ADD,
                                 ID_ITEM_CHANGE,   ID_ITEM_DELETE,  TOOLBAR_SEPARATOR, ID_APP_ABOUT};
constexpr int kStatusFontPoints = 12;
// A stretching message pane and a clock pane of fixed width.
constexpr int kMessagePane = 0;
constexpr int kClockPane = 1;
constexpr int kMessagePaneMinWidth = 40;
constexpr int kClockPaneWidth = 140;

std::vector<int> MainFramePanes(int width)
{
    return {std::max(kMessagePaneMinWidth, width - kClockPaneWidth), -1};
}
constexpr int kDefaultSplitRow = 400;
constexpr int kDefaultSplitColumn = 200;
constexpr POINT kMinTrackSize = {300, 200};
constexpr POINT kMaxTrackSize = {1600, 1200};
// WM_COPYDATA tag of a log line.
constexpr ULONG_PTR kLogLineTag = 0;

// Commands that change the configuration wait until capture stops.
bool ChangesConfiguration(UINT id)
{
    switch (id) {
    case ID_CAPTURE_START:
    case ID_ITEM_ADD:
    case ID_ITEM_CHANGE:
    case ID_ITEM_DELETE:
    case ID_SETTINGS_COLOR:
    case ID_SETTINGS_SYSTEM: return true;
    default: return false;
    }
}

// A command's string holds the status-bar prompt, then after "\n" its tooltip.
std::wstring CommandPrompt(UINT id)
{
    std::wstring text = LoadResourceText(id);
    return text.substr(0, text.find(L'\n'));
}

std::wstring CommandTooltip(UINT id)
{
    std::wstring text = LoadResourceText(id);
    size_t split = text.find(L'\n');
    return split == std::wstring::npos ? std::wstring() : text.substr(split + 1);
}

int ReadSystemInt(const char* key, int defaultValue)
{
    return static_cast<int32_t>(ReadInt(SETTINGS_SYSTEM, key, static_cast<uint32_t>(defaultValue)));
}

// A stored 0 keeps what the system chose for that one coordinate.
int StoredOr(const char* key, int systemDefault)
{
    int stored = ReadSystemInt(key, 0);
    return stored != 0 ? stored : systemDefault;
}

}  // namespace

CMainFrame::CMainFrame(const char* serviceName) : service_(serviceName) {}

bool CMainFrame::Create()
{
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    WindowParams params;
    params.style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    if (!CreateFrame(kMainFrameClass, IDR_MAINFRAME, params)) {
        return false;
    }
    ApplyStoredPlacement();
    created_ = true;
    return true;
}

void CMainFrame::ApplyStoredPlacement()
{
    RECT chosen;
    GetWindowRect(Handle(), &chosen);
    int left = StoredOr("WinPosX", chosen.left);
    int top = StoredOr("WinPosY", chosen.top);
    int width = StoredOr("WinSizeX", chosen.right - chosen.left);
    int height = StoredOr("WinSizeY", chosen.bottom - chosen.top);
    SetWindowPos(Handle(), nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

bool CMainFrame::OnCreate()
{
    HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));
    SendMessageW(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendMessageW(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    if (!toolBar_.Create(Handle(), IDR_MAINFRAME, kToolBarCommands,
                         sizeof kToolBarCommands / sizeof kToolBarCommands[0])) {
        return false;
    }
    if (!statusBar_.Create(Handle(), ID_VIEW_STATUS_BAR, MainFramePanes) ||
        !statusBar_.SetFont(LoadResourceText(IDS_STATUS_FONT), kStatusFontPoints)) {
        return false;
    }
    if (!CreatePanes()) {
        return false;
    }
    UpdateToolBarButtons();
    RecalcLayout();
    return true;
}

bool CMainFrame::CreatePanes()
{
    int topHeight = ReadSystemInt("Split1Row", kDefaultSplitRow);
    int columnWidth = ReadSystemInt("Split1Col", kDefaultSplitColumn);
    splitter_ = std::make_unique<Splitter>();
    if (!splitter_->Create(Handle(), topHeight)) {
        return false;
    }
    // The column fills the frame; the stored width only sizes the first layout.
    splitter_->MoveTo(RECT{0, 0, columnWidth, topHeight});
    itemsView_ = std::make_unique<CComListView>();
    activityLog_ = std::make_unique<ActivityLogView>();
    const LogLine log = [this](const std::string& line) { AddLogLine("%s", line.c_str()); };
    if (!itemsView_->Create(splitter_->Handle(), log) || !activityLog_->Create(splitter_->Handle())) {
        return false;
    }
    splitter_->SetPanes(itemsView_->Handle(), activityLog_->Handle());
    capture_ = std::make_unique<CaptureCommands>(itemsView_->Rows(), log, monitorWindows_);
    return true;
}

void CMainFrame::RecalcLayout()
{
    if (toolBar_.Handle() == nullptr || statusBar_.Handle() == nullptr || splitter_ == nullptr) {
        return;
    }
    toolBar_.FitToParent();
    statusBar_.FitToParent();
    RECT area;
    GetClientRect(Handle(), &area);
    area.top += toolBar_.Height();
    area.bottom -= statusBar_.Height();
    if (area.bottom < area.top) {
        area.bottom = area.top;
    }
    splitter_->MoveTo(area);
}

void CMainFrame::MainFrameStartup()
{
    SetWindowTextW(Handle(), LoadResourceText(IDS_APP_TITLE).c_str());
    AddLogLine("Program Start (Ver %s)", VANTREL_VERSION);
    PrepareServiceAtStartup(service_, IsWindowsNT4());
    StartTimer(MAIN_FRAME_CLOCK_TIMER, MAIN_FRAME_CLOCK_PERIOD_MS);
    UpdateClock();
}

void CMainFrame::SetCapturing(bool on)
{
    capturing = on;
    UpdateToolBarButtons();
}

void CMainFrame::RefuseCaptureStart()
{
    capture_->RefuseStart();
}

void CMainFrame::AddLogLine(const char* format, ...)
{
    if (activityLog_ == nullptr || activityLog_->Handle() == nullptr) {
        return;
    }
    va_list args;
    va_start(args, format);
    std::string message = FormatLogMessage(format, args);
    va_end(args);
    activityLog_->AddLogText(message);
}

bool CMainFrame::OnCommand(UINT id)
{
    switch (id) {
    case ID_APP_EXIT: PostMessageW(Handle(), WM_CLOSE, 0, 0); return true;
    case ID_HELP_FINDER: OpenHelp(); return true;
    case ID_VIEW_TOOLBAR: ToggleBar(toolBar_.Handle()); return true;
    case ID_VIEW_STATUS_BAR: ToggleBar(statusBar_.Handle()); return true;
    case ID_APP_ABOUT: {
        AboutDialog about;
        about.RunModal(Handle());
        return true;
    }
    case ID_CAPTURE_START:
        if (!RefuseWhileMonitorsBusy() && capture_->OnStartCapture(Handle())) {
            SetCapturing(true);
        }
        return true;
    case ID_CAPTURE_STOP:
        if (capture_->OnStopCapture(Handle())) {
            SetCapturing(false);
        }
        return true;
    case ID_ITEM_ADD: itemsView_->EditItem(-1); return true;
    case ID_ITEM_CHANGE: itemsView_->ChangeSelectedItem(); return true;
    case ID_ITEM_DELETE: itemsView_->DeleteSelectedItem(); return true;
    case ID_SETTINGS_COLOR: RunSettingsDialog(ColourSettingsDialog(), "色設定を変更しました"); return true;
    case ID_SETTINGS_SYSTEM: RunSettingsDialog(SystemSettingsDialog(), "システム設定を変更しました"); return true;
    default: return false;
    }
}

// Without a program for HTML files the user is told where the page is.
void CMainFrame::OpenHelp()
{
    if (OpenHelpPage(Handle()))
        return;
    const std::wstring text = LoadResourceText(IDS_HELP_NOT_OPENED) + L"\n" + HelpPagePath();
    MessageBoxW(Handle(), text.c_str(), LoadResourceText(IDS_CONFIRM_CAPTION).c_str(), MB_OK | MB_ICONEXCLAMATION);
}

// Only a change the dialog stored is logged.
void CMainFrame::RunSettingsDialog(Dialog&& dialog, const char* changedLine)
{
    if (dialog.RunModal(Handle()) == IDOK) {
        AddLogLine("%s", changedLine);
    }
}

CommandState CMainFrame::OnUpdateCommand(UINT id)
{
    CommandState state;
    if (id == ID_CAPTURE_STOP) {
        state.enabled = capturing;
    } else if (ChangesConfiguration(id)) {
        state.enabled = !capturing;
    } else if (id == ID_VIEW_TOOLBAR) {
        state.checked = HasVisibleStyle(toolBar_.Handle());
    } else if (id == ID_VIEW_STATUS_BAR) {
        state.checked = HasVisibleStyle(statusBar_.Handle());
    }
    return state;
}

void CMainFrame::ToggleBar(HWND bar)
{
    ShowWindow(bar, HasVisibleStyle(bar) ? SW_HIDE : SW_SHOW);
    RecalcLayout();
}

void CMainFrame::UpdateToolBarButtons()
{
    for (UINT id : kToolBarCommands) {
        if (id != TOOLBAR_SEPARATOR) {
            toolBar_.EnableButton(id, OnUpdateCommand(id).enabled);
        }
    }
}

bool CMainFrame::ConfirmClose()
{
    if (capturing) {
        ShowResourceMessage(Handle(), IDS_EXIT_WHILE_CAPTURING, IDS_EXIT_CAPTION, MB_OK | MB_ICONINFORMATION);
        return false;
    }
    return !RefuseWhileMonitorsBusy();
}

// Capture start and exit delete the monitors, which must not happen under
// the loop of a monitor's dialog or while its print thread reads it.
bool CMainFrame::RefuseWhileMonitorsBusy()
{
    const UINT message = monitorWindows_.BusyMessage();
    if (message != 0)
        ShowResourceMessage(Handle(), message, IDS_CONFIRM_CAPTION, MB_OK | MB_ICONINFORMATION);
    return message != 0;
}

void CMainFrame::OnDestroy()
{
    // A frame whose creation failed never had the placement worth keeping.
    if (created_) {
        SavePlacement();
    }
    PostQuitMessage(0);
}

void CMainFrame::SavePlacement()
{
    if (splitter_ != nullptr && splitter_->Handle() != nullptr) {
        WriteInt(SETTINGS_SYSTEM, "Split1Row", splitter_->TopHeight());
        WriteInt(SETTINGS_SYSTEM, "Split1Col", splitter_->ColumnWidth());
    }
    if (IsZoomed(Handle())) {
        WriteString(SETTINGS_SYSTEM, "WinType", "1");
        return;
    }
    if (IsIconic(Handle())) {
        return;
    }
    RECT window;
    GetWindowRect(Handle(), &window);
    WriteString(SETTINGS_SYSTEM, "WinType", "0");
    WriteInt(SETTINGS_SYSTEM, "WinPosX", window.left);
    WriteInt(SETTINGS_SYSTEM, "WinPosY", window.top);
    WriteInt(SETTINGS_SYSTEM, "WinSizeX", window.right - window.left);
    WriteInt(SETTINGS_SYSTEM, "WinSizeY", window.bottom - window.top);
}

bool CMainFrame::OnTimer(UINT_PTR id)
{
    if (id != MAIN_FRAME_CLOCK_TIMER) {
        return false;
    }
    UpdateClock();
    return true;
}

void CMainFrame::UpdateClock()
{
    statusBar_.SetPaneText(kClockPane, WideFromUtf8(ClockText(CurrentLogTime())));
}

void CMainFrame::ShowPrompt(UINT command)
{
    statusBar_.SetPaneText(kMessagePane, command == 0 ? std::wstring() : CommandPrompt(command));
}

LRESULT CMainFrame::OnNotify(NMHDR& header)
{
    if (header.code == TTN_GETDISPINFOW) {
        auto& info = reinterpret_cast<NMTTDISPINFOW&>(header);
        tooltip_ = CommandTooltip(static_cast<UINT>(header.idFrom));
        info.lpszText = &tooltip_[0];
    } else if (header.code == TBN_HOTITEMCHANGE && header.hwndFrom == toolBar_.Handle()) {
        const auto& hot = reinterpret_cast<const NMTBHOTITEM&>(header);
        ShowPrompt((hot.dwFlags & HICF_LEAVING) != 0 ? 0 : static_cast<UINT>(hot.idNew));
    }
    return 0;
}

bool CMainFrame::OnCopyData(const COPYDATASTRUCT& data)
{
    if (data.dwData != kLogLineTag) {
        return false;
    }
    // Only the bytes sent count, terminated or not.
    const char* text = static_cast<const char*>(data.lpData);
    size_t length = text == nullptr ? 0 : strnlen(text, data.cbData);
    if (activityLog_ != nullptr) {
        activityLog_->AddLogText(std::string(text == nullptr ? "" : text, length));
    }
    return true;
}

LRESULT CMainFrame::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SIZE:
        if (wParam != SIZE_MINIMIZED) {
            RecalcLayout();
        }
        return 0;
    case WM_GETMINMAXINFO: {
        auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
        limits->ptMinTrackSize = kMinTrackSize;
        limits->ptMaxTrackSize = kMaxTrackSize;
        return 0;
    }
    case WM_NOTIFY: return OnNotify(*reinterpret_cast<NMHDR*>(lParam));
    case WM_MENUSELECT:
        // Closing the menu, or a pop-up or separator under the mouse, clears the prompt.
        ShowPrompt((HIWORD(wParam) & (MF_POPUP | MF_SEPARATOR)) != 0 || HIWORD(wParam) == 0xFFFF ? 0 : LOWORD(wParam));
        return 0;
    case WM_COPYDATA:
        if (OnCopyData(*reinterpret_cast<const COPYDATASTRUCT*>(lParam))) {
            return TRUE;
        }
        break;
    case WM_QUERYENDSESSION: RunNetStop(service_); break;
    default: break;
    }
    return FrameWindow::HandleMessage(message, wParam, lParam);
}

void PostLogLine(HWND mainWindow, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string message = FormatLogMessage(format, args);
    va_end(args);
    COPYDATASTRUCT data = {kLogLineTag, static_cast<DWORD>(message.size() + 1), &message[0]};
    SendMessageW(mainWindow, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
}
