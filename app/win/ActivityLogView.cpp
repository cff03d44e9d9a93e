#include "ActivityLogView.h"

#include "WideText.h"
#include "resource.h"

namespace {

const wchar_t kActivityLogClass[] = L"VantrelActivityLog";
constexpr int kListBoxInset = 4;

class ListBoxLines : public LogLines {
public:
    explicit ListBoxLines(HWND listBox) : listBox_(listBox) {}
    void InsertAtTop(const std::string& line) override
    {
        SendMessageW(listBox_, LB_INSERTSTRING, 0, reinterpret_cast<LPARAM>(WideFromUtf8(line).c_str()));
    }
    int Count() const override { return static_cast<int>(SendMessageW(listBox_, LB_GETCOUNT, 0, 0)); }
    void DeleteAt(int index) override { SendMessageW(listBox_, LB_DELETESTRING, static_cast<WPARAM>(index), 0); }

private:
    HWND listBox_;
};

}  // namespace

LogTime CurrentLogTime()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    return LogTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

bool ActivityLogView::Create(HWND parent)
{
    return CreateChildWindow(kActivityLogClass, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1), parent);
}

bool ActivityLogView::OnCreate()
{
    listBox_ = CreateWindowExW(
        0, L"LISTBOX", L"", WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | LBS_NOINTEGRALHEIGHT, 0, 0, 0, 0, Handle(),
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_ACTIVITY_LOG)), GetModuleHandleW(nullptr), nullptr);
    if (listBox_ == nullptr) {
        return false;
    }
    SendMessageW(listBox_, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    return true;
}

void ActivityLogView::AddLogLine(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string message = FormatLogMessage(format, args);
    va_end(args);
    AddLogText(message);
}

void ActivityLogView::AddLogText(const std::string& message)
{
    ListBoxLines lines(listBox_);
    AddNewestLine(lines, ActivityLogLine(CurrentLogTime(), message));
}

void ActivityLogView::FitListBox()
{
    RECT client;
    GetClientRect(Handle(), &client);
    InflateRect(&client, -kListBoxInset, -kListBoxInset);
    MoveWindow(listBox_, client.left, client.top, client.right > client.left ? client.right - client.left : 0,
               client.bottom > client.top ? client.bottom - client.top : 0, TRUE);
}

LRESULT ActivityLogView::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SIZE) {
        FitListBox();
        return 0;
    }
    return Window::HandleMessage(message, wParam, lParam);
}
