#include "ToolBar.h"

#include "Window.h"

#include <vector>

namespace {

constexpr int kImageWidth = 16;
constexpr int kImageHeight = 15;
constexpr COLORREF kTransparent = RGB(255, 0, 255);

}  // namespace

ToolBar::~ToolBar()
{
    if (hwnd_ != nullptr && IsWindow(hwnd_)) {
        DestroyWindow(hwnd_);
    }
    if (images_ != nullptr) {
        ImageList_Destroy(images_);
    }
}

bool ToolBar::Create(HWND parent, UINT bitmapId, const UINT* commands, size_t count)
{
    hwnd_ = CreateWindowExW(0, TOOLBARCLASSNAMEW, L"",
                            WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | CCS_TOP, 0, 0,
                            0, 0, parent, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (hwnd_ == nullptr) {
        return false;
    }
    SendMessageW(hwnd_, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    return AddImages(bitmapId) && AddButtons(commands, count);
}

bool ToolBar::AddImages(UINT bitmapId)
{
    HBITMAP strip = static_cast<HBITMAP>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(bitmapId), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (strip == nullptr) {
        return false;
    }
    images_ = ImageList_Create(kImageWidth, kImageHeight, ILC_COLOR24 | ILC_MASK, 8, 0);
    bool added = images_ != nullptr && ImageList_AddMasked(images_, strip, kTransparent) >= 0;
    DeleteObject(strip);
    if (added) {
        SendMessageW(hwnd_, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images_));
    }
    return added;
}

bool ToolBar::AddButtons(const UINT* commands, size_t count)
{
    std::vector<TBBUTTON> buttons(count);
    int image = 0;
    for (size_t i = 0; i < count; ++i) {
        TBBUTTON& button = buttons[i];
        if (commands[i] == TOOLBAR_SEPARATOR) {
            button.fsStyle = BTNS_SEP;
            continue;
        }
        button.iBitmap = image++;
        button.idCommand = static_cast<int>(commands[i]);
        button.fsState = TBSTATE_ENABLED;
        button.fsStyle = BTNS_BUTTON;
    }
    if (!SendMessageW(hwnd_, TB_ADDBUTTONSW, count, reinterpret_cast<LPARAM>(buttons.data()))) {
        return false;
    }
    FitToParent();
    return true;
}

int ToolBar::Height() const
{
    if (hwnd_ == nullptr || !HasVisibleStyle(hwnd_)) {
        return 0;
    }
    RECT rect;
    GetWindowRect(hwnd_, &rect);
    return rect.bottom - rect.top;
}

void ToolBar::FitToParent()
{
    SendMessageW(hwnd_, TB_AUTOSIZE, 0, 0);
}

void ToolBar::EnableButton(UINT command, bool enabled)
{
    SendMessageW(hwnd_, TB_ENABLEBUTTON, command, MAKELPARAM(enabled ? TRUE : FALSE, 0));
}
