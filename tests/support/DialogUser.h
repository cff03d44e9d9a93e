// Plays the user of the modal windows that one thread shows: from a thread
// of its own it waits for a window of that thread and acts on it while the
// other thread sits in the modal loop.
#pragma once

#include "MessageBoxAnswerer.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

using WindowMatch = std::function<bool(HWND)>;

inline bool IsDialogWindow(HWND hwnd)
{
    wchar_t className[16] = {};
    GetClassNameW(hwnd, className, 16);
    return std::wstring(className) == L"#32770" && IsWindowVisible(hwnd);
}

// A visible dialog of the thread that holds the control `id`.
inline WindowMatch DialogWithControl(int id)
{
    return [id](HWND hwnd) { return IsDialogWindow(hwnd) && GetDlgItem(hwnd, id) != nullptr; };
}

// A message box (a dialog) owned by `owner`.
inline WindowMatch MessageBoxOwnedBy(HWND owner)
{
    return [owner](HWND hwnd) { return IsDialogWindow(hwnd) && GetWindow(hwnd, GW_OWNER) == owner; };
}

// Null when no such window shows within five seconds or `stop` is set.
inline HWND WaitForThreadWindow(DWORD thread, const WindowMatch& match, const std::atomic<bool>* stop = nullptr)
{
    struct Search {
        const WindowMatch* match;
        HWND found;
    };
    for (int tries = 0; tries < 500 && !(stop != nullptr && *stop); ++tries) {
        Search search = {&match, nullptr};
        EnumThreadWindows(
            thread,
            [](HWND hwnd, LPARAM param) -> BOOL {
                auto* s = reinterpret_cast<Search*>(param);
                if ((*s->match)(hwnd)) {
                    s->found = hwnd;
                    return FALSE;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr) {
            return search.found;
        }
        Sleep(10);
    }
    return nullptr;
}

inline bool WaitUntilGone(HWND hwnd)
{
    for (int tries = 0; tries < 500 && IsWindow(hwnd); ++tries) {
        Sleep(10);
    }
    return !IsWindow(hwnd);
}

// The text of a message box.
inline std::wstring MessageBoxText(HWND box)
{
    wchar_t text[256] = {};
    GetDlgItemTextW(box, 0xFFFF, text, 256);
    return text;
}

inline std::wstring WindowText(HWND hwnd)
{
    wchar_t text[256] = {};
    GetWindowTextW(hwnd, text, 256);
    return text;
}

// The focus of the thread that runs `window`.
inline HWND ThreadFocus(HWND window)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
    return info.hwndFocus;
}

// Presses OK in the dialog and answers the message box it shows; empty
// when none shows.
inline MessageBoxSeen OkAnsweredByMessageBox(HWND dialog)
{
    MessageBoxSeen seen;
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    HWND box = WaitForThreadWindow(GetWindowThreadProcessId(dialog, nullptr), MessageBoxOwnedBy(dialog));
    if (box != nullptr) {
        seen = {WindowText(box), MessageBoxText(box)};
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        WaitUntilGone(box);
    }
    return seen;
}

// What OK with a refused field text did: the message box's text, and
// whether the dialog stayed open with the focus in the field.
struct Refusal {
    std::wstring message;
    bool dialogOpen = false;
    bool focusInField = false;
};

inline Refusal TryOkWithFieldText(HWND dialog, int field, const wchar_t* text)
{
    Refusal refusal;
    SetDlgItemTextW(dialog, field, text);
    refusal.message = OkAnsweredByMessageBox(dialog).text;
    HWND control = GetDlgItem(dialog, field);
    for (int tries = 0; tries < 100 && ThreadFocus(dialog) != control; ++tries) {
        Sleep(10);
    }
    refusal.dialogOpen = IsWindow(dialog) && IsWindowVisible(dialog);
    refusal.focusInField = ThreadFocus(dialog) == control;
    return refusal;
}

// Runs `act` on the first window of `thread` that matches, once it shows.
class DialogUser {
public:
    DialogUser(DWORD thread, WindowMatch match, std::function<void(HWND)> act)
        : worker_([=] {
              HWND window = WaitForThreadWindow(thread, match, &stop_);
              if (window != nullptr) {
                  found_ = true;
                  act(window);
              }
          })
    {}
    ~DialogUser() { Join(); }
    // Gives up waiting: for a window that must not show.
    void Stop() { stop_ = true; }
    void Join()
    {
        if (worker_.joinable()) {
            worker_.join();
        }
    }
    // Valid after Join.
    bool Found() const { return found_; }

private:
    std::atomic<bool> stop_{false};
    bool found_ = false;
    std::thread worker_;
};

struct ModalRun {
    INT_PTR result = 0;
    bool shown = false;
};

// Runs the modal `dialog` on this thread while `act`, from a thread of its
// own, plays the user of the window that matches; `act` must end it.
template <typename ModalDialog>
ModalRun RunModalAsUser(ModalDialog& dialog, const WindowMatch& match, std::function<void(HWND)> act)
{
    DialogUser user(GetCurrentThreadId(), match, std::move(act));
    ModalRun run;
    run.result = dialog.RunModal(nullptr);
    user.Join();
    run.shown = user.Found();
    return run;
}
