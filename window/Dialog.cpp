#include "Dialog.h"

#include <commctrl.h>

namespace {

// A button's notifications other than its click are no commands: a double
// click on an owner-drawn button sends BN_DOUBLECLICKED after the click.
bool IsButtonNotification(WPARAM wParam, LPARAM lParam)
{
    if (lParam == 0 || HIWORD(wParam) == BN_CLICKED)
        return false;
    wchar_t className[16] = {};
    GetClassNameW(reinterpret_cast<HWND>(lParam), className, 16);
    return lstrcmpiW(className, WC_BUTTONW) == 0;
}

}  // namespace

INT_PTR Dialog::RunModal(HWND owner)
{
    return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId_), owner, DialogProcThunk,
                           reinterpret_cast<LPARAM>(this));
}

std::string Dialog::ControlText(int id) const
{
    HWND control = GetDlgItem(hwnd_, id);
    std::string text(static_cast<size_t>(GetWindowTextLengthA(control)) + 1, '\0');
    text.resize(static_cast<size_t>(GetWindowTextA(control, &text[0], static_cast<int>(text.size()))));
    return text;
}

void Dialog::ShowNumber(int edit, int spin, UINT value, UINT min, UINT max) const
{
    SetDlgItemInt(hwnd_, edit, value, FALSE);
    SendDlgItemMessageW(hwnd_, spin, UDM_SETRANGE32, min, max);
    SendDlgItemMessageW(hwnd_, spin, UDM_SETPOS32, 0, static_cast<LPARAM>(value));
}

void Dialog::RefuseField(int id, const std::wstring& message, const std::wstring& caption) const
{
    MessageBoxW(hwnd_, message.c_str(), caption.c_str(), MB_OK | MB_ICONEXCLAMATION);
    HWND field = GetDlgItem(hwnd_, id);
    SendMessageW(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(field), TRUE);
    SendMessageW(field, EM_SETSEL, 0, -1);
}

void Dialog::OnCommand(UINT id)
{
    if (id == IDOK || id == IDCANCEL) {
        End(id);
    }
}

INT_PTR CALLBACK Dialog::DialogProcThunk(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<Dialog*>(lParam);
        dialog->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
    }
    auto* dialog = reinterpret_cast<Dialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (dialog == nullptr) {
        return FALSE;
    }
    INT_PTR handled = dialog->HandleMessage(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        dialog->hwnd_ = nullptr;
    }
    return handled;
}

INT_PTR Dialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        if (!OnInitDialog()) {
            End(-1);
        }
        return TRUE;
    case WM_COMMAND:
        if (HIWORD(wParam) == EN_CHANGE && lParam != 0) {
            OnEditChange(LOWORD(wParam));
        } else if (!IsButtonNotification(wParam, lParam)) {
            OnCommand(LOWORD(wParam));
        }
        return TRUE;
    case WM_DESTROY: OnDestroy(); return FALSE;
    case WM_CLOSE: OnClose(); return TRUE;
    case WM_TIMER: return OnTimer(wParam) ? TRUE : FALSE;
    case WM_DRAWITEM: return OnDrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)) ? TRUE : FALSE;
    default: return FALSE;
    }
}
