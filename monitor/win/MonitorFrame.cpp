#include "MonitorFrame.h"

#include "ReplacingFile.h"
#include "ResourceText.h"
#include "SaveDialog.h"
#include "Settings.h"
#include "SystemSettings.h"
#include "WideText.h"
#include "resource.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <vector>

namespace {

const wchar_t kMonitorFrameClass[] = L"VantrelMonitorFrame";
constexpr int SCROLL_BAR_WIDTH = 16;
constexpr int PAGE_LINES = 10;
// Line settings, sent and received totals, the count of losses.
constexpr int LINE_SETTINGS_PANE = 0;
constexpr int SENT_PANE = 1;
constexpr int RECEIVED_PANE = 2;
constexpr int LOSS_PANE = 3;
// The copy-data tag of a line for the main frame's activity log.
constexpr ULONG_PTR LOG_LINE_COPY_DATA_TAG = 0;

std::vector<int> MonitorPanes(int width)
{
    const int third = width / 3;
    return {third, 2 * third - 60, width - 120, -1};
}

uint32_t LimitOfSettings()
{
    return ReadSystemSettings().Limit;
}

MonitorColors ColorsOf(const SystemSettings& settings)
{
    return MonitorColors{settings.Color[0], settings.Color[1], settings.Color[2], settings.Color[3],
                         settings.Color[4], settings.Color[5], settings.Color[6], settings.Color[7]};
}

// Byte totals wrap at 32 bits; shown unsigned so that a wrapped total never
// reads as a negative count.
std::wstring TotalText(UINT labelId, uint32_t total)
{
    wchar_t text[64];
    swprintf(text, 64, L"%ls%u(%x)", LoadResourceText(labelId).c_str(), total, total);
    return text;
}

std::wstring CountText(UINT labelId, uint32_t count)
{
    wchar_t text[64];
    swprintf(text, 64, L"%ls%u", LoadResourceText(labelId).c_str(), count);
    return text;
}

bool ShiftHeld()
{
    return GetAsyncKeyState(VK_SHIFT) < 0;
}

struct StringSink : ExportSink {
    bool Write(std::string_view bytes) override
    {
        text.append(bytes);
        return true;
    }
    std::string text;
};

// Local time minus UTC now, in 100-ns units.
int64_t LocalTimeOffset()
{
    FILETIME utc = {};
    FILETIME local = {};
    GetSystemTimeAsFileTime(&utc);
    FileTimeToLocalFileTime(&utc, &local);
    auto units = [](const FILETIME& time) {
        return static_cast<int64_t>((uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime);
    };
    return units(local) - units(utc);
}

std::string LocalTimeText()
{
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    char text[32];
    snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", now.wYear, now.wMonth, now.wDay, now.wHour,
             now.wMinute, now.wSecond);
    return text;
}

std::wstring SystemErrorText(DWORD error)
{
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   error, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::wstring result = text != nullptr ? text : L"";
    LocalFree(text);
    return result;
}

// Unicode text for the clipboard, owned by it once set.
bool PutOnClipboard(HWND owner, const std::wstring& text)
{
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (block == nullptr)
        return false;
    void* target = GlobalLock(block);
    if (target == nullptr) {
        GlobalFree(block);
        return false;
    }
    memcpy(target, text.c_str(), bytes);
    GlobalUnlock(block);
    if (!OpenClipboard(owner)) {
        GlobalFree(block);
        return false;
    }
    EmptyClipboard();
    const bool set = SetClipboardData(CF_UNICODETEXT, block) != nullptr;
    CloseClipboard();
    if (!set)
        GlobalFree(block);
    return set;
}

}  // namespace

MonitorFrame::MonitorFrame() : MonitorFrame(nullptr, "", MONITOR_DEFAULT_CAPACITY, nullptr) {}

MonitorFrame::MonitorFrame(const char* devicePath, const char* portName, uint32_t capacity, HWND owner)
    : owner_(owner), store_(capacity, LimitOfSettings()),
      stream_(store_, GetTickCount(), [this](uint32_t ms) { OnIdle(ms); })
{
    if (devicePath != nullptr && stream_.Open(devicePath))
        portName_ = portName;
    store_.SetMemoryShortListener([this] { LogMemoryShort(); });
}

// Once per shortage: the store itself marks where it took records again.
void MonitorFrame::LogMemoryShort()
{
    if (owner_ == nullptr)
        return;
    std::string line = "メモリ不足のため" + portName_ + "のキャプチャデータを破棄しました";
    COPYDATASTRUCT data = {MONITOR_LOG_LINE, static_cast<DWORD>(line.size() + 1), &line[0]};
    SendMessageW(owner_, WM_COPYDATA, reinterpret_cast<WPARAM>(Handle()), reinterpret_cast<LPARAM>(&data));
}

// The window goes while the object is whole, so that its destruction
// saves the size like a close does.
MonitorFrame::~MonitorFrame()
{
    if (Handle() != nullptr)
        DestroyWindow(Handle());
}

bool MonitorFrame::Create()
{
    WindowParams placement;
    placement.style = WS_OVERLAPPEDWINDOW & ~WS_MAXIMIZEBOX;
    placement.parent = owner_;
    if (!CreateFrame(kMonitorFrameClass, IDR_MONITOR, placement))
        return false;
    ApplyPlacement(ReadSystemSettings().CapWinSizeY);
    return true;
}

// The tracking limits hold the width at 640 and the height on screen.
void MonitorFrame::ApplyPlacement(int savedHeight)
{
    RECT window = {};
    GetWindowRect(Handle(), &window);
    const int height = savedHeight != 0 ? savedHeight : window.bottom - window.top;
    SetWindowPos(Handle(), nullptr, 0, 0, MONITOR_WINDOW_WIDTH, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool MonitorFrame::OnCreate()
{
    const SystemSettings settings = ReadSystemSettings();
    if (!CreateStatusBar())
        return false;
    surface_ = GdiSurface::Create();
    if (surface_ == nullptr)
        return false;
    view_ = std::make_unique<MonitorView>(store_, *surface_, ColorsOf(settings));
    if (!CreateView() || !CreateScrollBar())
        return false;
    stream_.RestartIdle(GetTickCount());
    if (!StartTimer(MONITOR_REFRESH_TIMER, settings.Timer))
        return false;
    HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_MONITOR));
    SendMessageW(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    EnableMenuItem(GetSystemMenu(Handle(), FALSE), SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);
    built_ = true;
    RECT client = {};
    GetClientRect(Handle(), &client);
    Layout(client.right, client.bottom);
    return true;
}

bool MonitorFrame::CreateStatusBar()
{
    if (!statusBar_.Create(Handle(), IDC_MONITOR_STATUS_BAR, MonitorPanes))
        return false;
    ShowLineSettings();
    ShowTotals();
    return true;
}

bool MonitorFrame::CreateView()
{
    MonitorViewWindow::Input input;
    input.click = [this](int y) { OnViewClick(y); };
    input.key = [this](WPARAM key) { return OnViewKey(key); };
    return viewWindow_.Create(Handle(), *surface_, input);
}

bool MonitorFrame::CreateScrollBar()
{
    scrollBar_ = CreateWindowExW(0, L"SCROLLBAR", L"", WS_CHILD | WS_VISIBLE | SBS_VERT, 0, 0, 0, 0, Handle(),
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_MONITOR_SCROLL_BAR)),
                                 GetModuleHandleW(nullptr), nullptr);
    return scrollBar_ != nullptr;
}

void MonitorFrame::ShowTotals()
{
    statusBar_.SetPaneText(SENT_PANE, TotalText(IDS_SENT_LABEL, stream_.SentTotal()));
    statusBar_.SetPaneText(RECEIVED_PANE, TotalText(IDS_RECEIVED_LABEL, stream_.ReceivedTotal()));
    statusBar_.SetPaneText(LOSS_PANE, CountText(IDS_ERROR_LABEL, stream_.LostCount()));
}

// The activity log of the window that opened the monitor tells that the
// captured port went away or came back, as it tells the other capture events.
void MonitorFrame::LogPortEvent(const char* text)
{
    std::string line = text + ("(" + portName_ + ")");
    COPYDATASTRUCT data = {LOG_LINE_COPY_DATA_TAG, static_cast<DWORD>(line.size() + 1), &line[0]};
    SendMessageW(owner_, WM_COPYDATA, reinterpret_cast<WPARAM>(Handle()), reinterpret_cast<LPARAM>(&data));
}

void MonitorFrame::ShowLineSettings()
{
    statusBar_.SetPaneText(LINE_SETTINGS_PANE, Cp932ToWide(stream_.LineSettings()));
}

void MonitorFrame::Layout(int clientWidth, int clientHeight)
{
    if (statusBar_.Handle() == nullptr || scrollBar_ == nullptr || view_ == nullptr)
        return;  // WM_SIZE of the creation, before the children exist
    statusBar_.FitToParent();
    const int height = clientHeight - statusBar_.Height();
    MoveWindow(viewWindow_.Handle(), 0, 0, clientWidth - SCROLL_BAR_WIDTH, height, TRUE);
    MoveWindow(scrollBar_, clientWidth - SCROLL_BAR_WIDTH, 0, SCROLL_BAR_WIDTH, height, TRUE);
    view_->SetViewHeight(viewWindow_.ClientHeight());
    UpdateScroll();
}

bool MonitorFrame::OnTimer(UINT_PTR id)
{
    if (id != MONITOR_REFRESH_TIMER)
        return false;
    Tick();
    return true;
}

void MonitorFrame::Tick()
{
    const uint32_t now = GetTickCount();
    const uint32_t sent = stream_.SentTotal();
    const uint32_t received = stream_.ReceivedTotal();
    const uint32_t lost = stream_.LostCount();
    const uint32_t removals = stream_.RemovalCount();
    const uint32_t returns = stream_.ReturnCount();
    const int32_t baudRate = stream_.BaudRate();
    const int32_t lineControl = stream_.LineControl();
    if (stream_.PollDevice(now))
        UpdateScroll();
    if (sent != stream_.SentTotal())
        statusBar_.SetPaneText(SENT_PANE, TotalText(IDS_SENT_LABEL, stream_.SentTotal()));
    if (received != stream_.ReceivedTotal())
        statusBar_.SetPaneText(RECEIVED_PANE, TotalText(IDS_RECEIVED_LABEL, stream_.ReceivedTotal()));
    if (lost != stream_.LostCount())
        statusBar_.SetPaneText(LOSS_PANE, CountText(IDS_ERROR_LABEL, stream_.LostCount()));
    if (baudRate != stream_.BaudRate() || lineControl != stream_.LineControl())
        ShowLineSettings();
    if (removals != stream_.RemovalCount())
        LogPortEvent("COMポートが取り外されました");
    if (returns != stream_.ReturnCount())
        LogPortEvent("COMポートが戻りました");
    // A clear asked for before a print started waits for its end.
    if (clearRequested_ && !Printing()) {
        clearRequested_ = false;
        store_.Reset();
        view_->SetFirstVisibleLine(0);
        UpdateScroll();
    }
}

void MonitorFrame::OnIdle(uint32_t ms)
{
    if (view_ == nullptr)
        return;
    view_->DrawIdleCounter(ms);
    InvalidateRect(viewWindow_.Handle(), nullptr, FALSE);
}

// Moves the scroll bar with the line count; the display follows new data
// only when the bar sat at its end.
void MonitorFrame::UpdateScroll()
{
    const int largest = static_cast<int>(view_->LargestFirstVisibleLine());
    if (largest != 0) {
        EnableScrollBar(scrollBar_, SB_CTL, ESB_ENABLE_BOTH);
        int minimum = 0;
        int maximum = 0;
        GetScrollRange(scrollBar_, SB_CTL, &minimum, &maximum);
        const int position = GetScrollPos(scrollBar_, SB_CTL);
        if (largest != maximum) {
            SetScrollRange(scrollBar_, SB_CTL, 0, largest, TRUE);
            if (position == maximum) {
                SetScrollPos(scrollBar_, SB_CTL, largest, TRUE);
                view_->SetFirstVisibleLine(static_cast<uint32_t>(largest));
            }
        }
    } else {
        view_->SetFirstVisibleLine(0);
        EnableScrollBar(scrollBar_, SB_CTL, ESB_DISABLE_BOTH);
    }
    view_->PaintScreen();
    InvalidateRect(viewWindow_.Handle(), nullptr, FALSE);
}

void MonitorFrame::Scroll(WORD code)
{
    SCROLLINFO info = {};
    info.cbSize = sizeof info;
    info.fMask = SIF_POS | SIF_TRACKPOS;
    GetScrollInfo(scrollBar_, SB_CTL, &info);
    int position;
    switch (code) {
    case SB_LINEUP: position = info.nPos - 1; break;
    case SB_LINEDOWN: position = info.nPos + 1; break;
    case SB_PAGEUP: position = info.nPos <= PAGE_LINES ? 0 : info.nPos - PAGE_LINES; break;
    case SB_PAGEDOWN: position = info.nPos + PAGE_LINES; break;
    case SB_THUMBTRACK: position = info.nTrackPos; break;
    default: return;
    }
    if (position == -1)
        return;
    SetScrollPos(scrollBar_, SB_CTL, position, TRUE);
    view_->SetFirstVisibleLine(static_cast<uint32_t>(GetScrollPos(scrollBar_, SB_CTL)));
    UpdateScroll();
}

void MonitorFrame::TogglePause()
{
    const bool wasRunning = stream_.Running();
    stream_.TogglePause();
    if (!wasRunning && stream_.Running())
        view_->SelectLine(std::nullopt, false);
    UpdateScroll();
}

void MonitorFrame::ToggleDoubleByte()
{
    view_->SetDoubleByteDisplay(!view_->DoubleByteDisplay());
    UpdateScroll();
}

void MonitorFrame::OnViewClick(int y)
{
    if (stream_.Running())
        return;
    const bool extend = ShiftHeld();
    const std::optional<uint32_t> line = view_->LineFromY(y);
    if (!line) {
        if (!extend) {
            view_->SelectLine(std::nullopt, false);
            UpdateScroll();
        }
        return;
    }
    if (view_->SelectLine(line, extend))
        UpdateScroll();
}

bool MonitorFrame::OnViewKey(WPARAM key)
{
    const std::optional<uint32_t> caret = view_->Caret();
    if (stream_.Running() || !caret || (key != VK_UP && key != VK_DOWN))
        return false;
    const uint32_t line = key == VK_UP ? (*caret == 0 ? 0 : *caret - 1) : *caret + 1;
    if (view_->SelectLine(line, ShiftHeld()))
        UpdateScroll();
    return true;
}

// A stop that failed and is tried again notifies the monitors again: the
// title must not grow a second mark.
void MonitorFrame::OnStopNotification()
{
    if (stopped_) {
        return;
    }
    stopped_ = true;
    StopTimer(MONITOR_REFRESH_TIMER);
    stream_.Stop();
    EnableMenuItem(GetSystemMenu(Handle(), FALSE), SC_CLOSE, MF_BYCOMMAND | MF_ENABLED);
    const int length = GetWindowTextLengthW(Handle());
    std::wstring title(static_cast<size_t>(length) + 1, L'\0');
    GetWindowTextW(Handle(), title.data(), length + 1);
    title.resize(static_cast<size_t>(length));
    SetWindowTextW(Handle(), (title + LoadResourceText(IDS_MONITOR_STOPPED)).c_str());
    TogglePause();
}

// Only while paused: the running layout pass reads the conditions.
void MonitorFrame::EditHighlightConditions()
{
    if (stream_.Running() || view_ == nullptr || !highlightSettings_)
        return;
    RunDialog([this] { highlightSettings_(Handle(), view_->Conditions(), HIGHLIGHT_CONDITION_LIMIT); });
    UpdateScroll();
}

void MonitorFrame::RunDialog(const std::function<void()>& dialog)
{
    ++dialogs_;
    dialog();
    --dialogs_;
}

bool MonitorFrame::OnCommand(UINT id)
{
    switch (id) {
    // Clear and resume would change the store under the print thread.
    case ID_MONITOR_CLEAR:
        if (!Printing())
            clearRequested_ = true;
        return true;
    case ID_MONITOR_PAUSE:
        if (!Printing())
            TogglePause();
        return true;
    case ID_MONITOR_DOUBLE_BYTE: ToggleDoubleByte(); return true;
    case ID_MONITOR_HIGHLIGHT: EditHighlightConditions(); return true;
    case ID_MONITOR_PRINT: Print(); return true;
    case ID_MONITOR_SAVE: Save(); return true;
    case ID_MONITOR_COPY: CopySelection(); return true;
    // Help is the main frame's.
    case ID_HELP_FINDER:
        if (owner_ != nullptr)
            PostMessageW(owner_, WM_COMMAND, ID_HELP_FINDER, 0);
        return true;
    default:
        return false;
    }
}

void MonitorFrame::Print()
{
    if (printCommand_ != nullptr && view_ != nullptr && !stream_.Running() && !Printing())
        RunDialog([this] { printCommand_->Print(*this); });
}

ExportRequest MonitorFrame::RequestFor(ExportFormat format, LineRange lines, bool asFile) const
{
    ExportRequest request;
    request.format = format;
    request.lines = lines;
    request.asFile = asFile;
    request.portName = portName_;
    request.lineSettings = stream_.LineSettings();
    request.savedAt = LocalTimeText();
    request.localOffset = LocalTimeOffset();
    return request;
}

void MonitorFrame::ShowError(UINT text, const std::wstring& detail) const
{
    const std::wstring message = LoadResourceText(text) + (detail.empty() ? L"" : L"\n\n" + detail);
    MessageBoxW(Handle(), message.c_str(), LoadResourceText(IDS_SAVE_CAPTION).c_str(), MB_OK | MB_ICONERROR);
}

void MonitorFrame::RunInBackground(UINT activity, const MonitorBackgroundWork& work)
{
    if (printCommand_ != nullptr)
        printCommand_->RunInBackground(*this, activity, work);
    else
        work([] { return true; });
}

// Only while paused: the save thread reads the store as printing does.
void MonitorFrame::Save()
{
    if (view_ == nullptr || stream_.Running() || Printing())
        return;
    const std::optional<LineRange> selection = view_->SelectionRange();
    std::optional<SaveTarget> target;
    RunDialog([&] { target = AskSaveTarget(Handle(), selection.has_value()); });
    if (!target)
        return;
    const LineRange lines = target->selectionOnly && selection ? *selection : LineRange{0, view_->LineCount()};
    ExportRequest request = RequestFor(target->format, lines, true);
    ReplacingFile file(target->path);
    ExportResult result = ExportResult::WriteFailed;
    RunDialog([&] {
        RunInBackground(IDS_SAVING, [&](const std::function<bool()>& shouldContinue) {
            request.shouldContinue = shouldContinue;
            if (!file.Open())
                return;
            result = ExportMonitor(*view_, request, file);
            if (result == ExportResult::Written && !file.Commit())
                result = ExportResult::WriteFailed;
        });
    });
    file.Discard();
    if (result == ExportResult::WriteFailed)
        ShowError(IDS_SAVE_FAILED, target->path + L"\n" + SystemErrorText(file.Error()));
}

void MonitorFrame::CopySelection()
{
    const std::optional<LineRange> selection = view_ != nullptr ? view_->SelectionRange() : std::nullopt;
    if (!selection || Printing())
        return;
    StringSink lines;
    ExportMonitor(*view_, RequestFor(ExportFormat::Text, *selection, false), lines);
    if (!PutOnClipboard(Handle(), WideFromUtf8(lines.text)))
        ShowError(IDS_COPY_FAILED, L"");
}

CommandState MonitorFrame::OnUpdateCommand(UINT id)
{
    CommandState state;
    switch (id) {
    case ID_MONITOR_CLEAR: state.enabled = !Printing(); break;
    case ID_MONITOR_PAUSE:
        state.checked = !stream_.Running();
        state.enabled = !Printing();
        break;
    case ID_MONITOR_PRINT:
    case ID_MONITOR_SAVE: state.enabled = !stream_.Running() && !Printing(); break;
    case ID_MONITOR_COPY: state.enabled = view_ != nullptr && view_->SelectionRange() && !Printing(); break;
    case ID_MONITOR_HIGHLIGHT: state.enabled = !stream_.Running(); break;
    case ID_MONITOR_DOUBLE_BYTE: state.checked = view_ != nullptr && view_->DoubleByteDisplay(); break;
    default: break;
    }
    return state;
}

void MonitorFrame::LimitTracking(MINMAXINFO& info) const
{
    info.ptMinTrackSize = POINT{MONITOR_WINDOW_WIDTH, MONITOR_MIN_HEIGHT};
    info.ptMaxTrackSize = POINT{MONITOR_WINDOW_WIDTH, GetSystemMetrics(SM_CYSCREEN)};
}

void MonitorFrame::SaveWindowSize()
{
    if (IsIconic(Handle()))
        return;
    RECT window = {};
    GetWindowRect(Handle(), &window);
    WriteInt(SETTINGS_SYSTEM, "CapWinSizeX", window.right - window.left);
    WriteInt(SETTINGS_SYSTEM, "CapWinSizeY", window.bottom - window.top);
}

void MonitorFrame::OnDestroy()
{
    StopTimer(MONITOR_REFRESH_TIMER);
    if (built_)  // a window whose creation failed has no size to keep
        SaveWindowSize();
    stream_.Close();
}

LRESULT MonitorFrame::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SIZE: Layout(LOWORD(lParam), HIWORD(lParam)); return 0;
    case WM_GETMINMAXINFO: LimitTracking(*reinterpret_cast<MINMAXINFO*>(lParam)); return 0;
    case WM_VSCROLL:
        if (scrollBar_ != nullptr && reinterpret_cast<HWND>(lParam) == scrollBar_) {
            Scroll(LOWORD(wParam));
            return 0;
        }
        break;
    case WM_SETFOCUS:
        if (viewWindow_.Handle() != nullptr)
            SetFocus(viewWindow_.Handle());
        return 0;
    case WM_SYSCOMMAND:
        // The window menu's close, however it arrives, waits for the capture
        // stop; a plain close request closes at once.
        if ((wParam & 0xFFF0) == SC_CLOSE && !stopped_)
            return 0;
        break;
    case WM_COPYDATA:
        if (lParam != 0 && reinterpret_cast<const COPYDATASTRUCT*>(lParam)->dwData == MONITOR_STOP_NOTIFICATION)
            OnStopNotification();
        return TRUE;
    default: break;
    }
    return FrameWindow::HandleMessage(message, wParam, lParam);
}
