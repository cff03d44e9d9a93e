// Plays the user of the modal windows that one thread shows: from a thread
// of its own it waits for a window of that thread and acts on it while the
// other thread sits in the modal loop.
#pragma once

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
