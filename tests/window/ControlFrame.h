// A top-level window at the screen's top left to hold the controls under
// test; it hands the owner-draw requests of its colour button to it.
#pragma once

#include "ColourButton.h"
#include "Window.h"

class ControlFrame : public Window {
public:
    bool Create()
    {
        const wchar_t className[] = L"VantrelControlFrame";
        if (!RegisterWindowClass(className, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1))) {
            return false;
        }
        WindowParams params;
        params.className = className;
        params.style = WS_OVERLAPPEDWINDOW | WS_VISIBLE;
        params.x = params.y = 0;
        params.width = 480;
        params.height = 300;
        return CreateFromParams(params);
    }

    ColourButton* button = nullptr;

protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (message == WM_DRAWITEM && button != nullptr && item->hwndItem == button->Handle()) {
            button->Draw(*item);
            return TRUE;
        }
        return Window::HandleMessage(message, wParam, lParam);
    }
};
