// Answers every message box that one thread shows with OK, from a thread of
// its own, and keeps what the boxes said. Other dialogs are left alone.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct MessageBoxSeen {
    std::wstring caption;
    std::wstring text;
};

class MessageBoxAnswerer {
public:
    explicit MessageBoxAnswerer(DWORD threadId) : threadId_(threadId), worker_([this] { Run(); }) {}
    ~MessageBoxAnswerer()
    {
        stop_ = true;
        worker_.join();
    }

    std::vector<MessageBoxSeen> Seen()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return seen_;
    }

private:
    // A message box is a dialog whose text control has the id 0xFFFF.
    static constexpr int kMessageTextId = 0xFFFF;

    static BOOL CALLBACK MatchMessageBox(HWND hwnd, LPARAM param)
    {
        wchar_t className[16] = {};
        GetClassNameW(hwnd, className, 16);
        if (std::wstring(className) == L"#32770" && IsWindowVisible(hwnd) &&
            GetDlgItem(hwnd, kMessageTextId) != nullptr) {
            *reinterpret_cast<HWND*>(param) = hwnd;
            return FALSE;
        }
        return TRUE;
    }

    void Run()
    {
        while (!stop_) {
            HWND box = nullptr;
            EnumThreadWindows(threadId_, MatchMessageBox, reinterpret_cast<LPARAM>(&box));
            if (box != nullptr) {
                Answer(box);
            }
            Sleep(10);
        }
    }

    void Answer(HWND box)
    {
        wchar_t caption[128] = {};
        wchar_t text[256] = {};
        GetWindowTextW(box, caption, 128);
        GetDlgItemTextW(box, kMessageTextId, text, 256);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            seen_.push_back({caption, text});
        }
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        while (IsWindow(box) && !stop_) {
            Sleep(10);
        }
    }

    DWORD threadId_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<MessageBoxSeen> seen_;
    std::thread worker_;
};
