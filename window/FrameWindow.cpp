#include "FrameWindow.h"

bool FrameWindow::CreateFrame(const wchar_t* className, UINT menuId, const WindowParams& placement)
{
    if (!RegisterWindowClass(className, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1))) {
        return false;
    }
    HMENU menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(menuId));
    if (menu == nullptr) {
        return false;
    }
    WindowParams params = placement;
    params.className = className;
    params.menu = menu;
    if (!CreateFromParams(params)) {
        // A window that was made and then refused took its menu with it.
        if (IsMenu(menu)) {
            DestroyMenu(menu);
        }
        return false;
    }
    if (HACCEL keys = LoadAcceleratorsW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(menuId))) {
        SetWindowAccelerators(Handle(), keys);
    }
    return true;
}

CommandState FrameWindow::OnUpdateCommand(UINT)
{
    return CommandState{};
}

LRESULT FrameWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        // Menus and accelerators carry no control window; toolbar buttons
        // send clicks. Other notifications of child controls are not commands.
        if ((lParam == 0 || HIWORD(wParam) == BN_CLICKED) && RouteCommand(LOWORD(wParam))) {
            return 0;
        }
        break;
    case WM_CLOSE:  // the window menu's close arrives here too
        if (!ConfirmClose()) {
            return 0;
        }
        break;
    case WM_INITMENUPOPUP:
        if (HIWORD(lParam) == 0) {  // not the window menu
            UpdateMenuCommands(reinterpret_cast<HMENU>(wParam));
            return 0;
        }
        break;
    default: break;
    }
    return Window::HandleMessage(message, wParam, lParam);
}

bool FrameWindow::RouteCommand(UINT id)
{
    if (!OnUpdateCommand(id).enabled) {
        return true;
    }
    return OnCommand(id);
}

void FrameWindow::UpdateMenuCommands(HMENU popup)
{
    int count = GetMenuItemCount(popup);
    for (int i = 0; i < count; ++i) {
        UINT id = GetMenuItemID(popup, i);
        if (id == 0 || id == static_cast<UINT>(-1)) {  // separator or sub-menu
            continue;
        }
        CommandState state = OnUpdateCommand(id);
        EnableMenuItem(popup, i, MF_BYPOSITION | (state.enabled ? MF_ENABLED : MF_GRAYED));
        CheckMenuItem(popup, i, MF_BYPOSITION | (state.checked ? MF_CHECKED : MF_UNCHECKED));
    }
}
