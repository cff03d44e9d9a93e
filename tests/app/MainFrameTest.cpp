// The main frame inside the test process: its live menu, the enable rules
// of its commands with and without capture, its title, and the exit command.
#include "MainFrame.h"
#include "MenuReader.h"
#include "MessagePump.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

const UINT kConfigurationCommands[] = {26000, 26002, 26005, 26006, 26003, 26007};
const UINT kAlwaysEnabledCommands[] = {57665, 59392, 59393, 57664, 57670};
const UINT kStopCommand = 26001;
const UINT kExitCommand = 57665;

void OpenEveryPopup(HWND hwnd)
{
    HMENU bar = GetMenu(hwnd);
    for (int i = 0; i < GetMenuItemCount(bar); ++i) {
        SendMessageW(hwnd, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(GetSubMenu(bar, i)), MAKELPARAM(i, 0));
    }
}

bool IsEnabled(HWND hwnd, UINT id)
{
    return (GetMenuState(GetMenu(hwnd), id, MF_BYCOMMAND) & MF_GRAYED) == 0;
}

struct MessageBoxSeen {
    std::wstring caption;
    std::wstring text;
};

// Answers every message box that the given thread shows with OK, from a
// thread of its own, and keeps what the boxes said.
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
    static BOOL CALLBACK MatchDialog(HWND hwnd, LPARAM param)
    {
        wchar_t className[16] = {};
        GetClassNameW(hwnd, className, 16);
        if (std::wstring(className) == L"#32770" && IsWindowVisible(hwnd)) {
            *reinterpret_cast<HWND*>(param) = hwnd;
            return FALSE;
        }
        return TRUE;
    }

    void Run()
    {
        while (!stop_) {
            HWND box = nullptr;
            EnumThreadWindows(threadId_, MatchDialog, reinterpret_cast<LPARAM>(&box));
            if (box != nullptr) {
                Answer(box);
            }
            Sleep(10);
        }
    }

    void Answer(HWND box)
    {
        const int kMessageTextId = 0xFFFF;
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

void ExpectOneExitRefusal(const std::vector<MessageBoxSeen>& seen)
{
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(L"終了確認", seen[0].caption);
    EXPECT_EQ(L"キャプチャ中は終了できません", seen[0].text);
}

}  // namespace

TEST(MainFrame, LiveMenuIsMenu128)
{
    CMainFrame frame;
    ASSERT_TRUE(frame.Create());
    ExpectMainMenuLayout(ReadMenu(GetMenu(frame.Handle())));
}

TEST(MainFrame, IdleEnablesEverythingButStop)
{
    CMainFrame frame;
    ASSERT_TRUE(frame.Create());
    OpenEveryPopup(frame.Handle());

    EXPECT_FALSE(IsEnabled(frame.Handle(), kStopCommand));
    for (UINT id : kConfigurationCommands) {
        EXPECT_TRUE(IsEnabled(frame.Handle(), id)) << id;
    }
    for (UINT id : kAlwaysEnabledCommands) {
        EXPECT_TRUE(IsEnabled(frame.Handle(), id)) << id;
    }
}

TEST(MainFrame, CapturingEnablesOnlyStopAmongCaptureCommands)
{
    CMainFrame frame;
    ASSERT_TRUE(frame.Create());
    frame.SetCapturing(true);
    OpenEveryPopup(frame.Handle());

    EXPECT_TRUE(IsEnabled(frame.Handle(), kStopCommand));
    for (UINT id : kConfigurationCommands) {
        EXPECT_FALSE(IsEnabled(frame.Handle(), id)) << id;
    }
    for (UINT id : kAlwaysEnabledCommands) {
        EXPECT_TRUE(IsEnabled(frame.Handle(), id)) << id;
    }

    frame.SetCapturing(false);
    OpenEveryPopup(frame.Handle());
    EXPECT_FALSE(IsEnabled(frame.Handle(), kStopCommand));
    EXPECT_TRUE(IsEnabled(frame.Handle(), 26000));
}

TEST(MainFrame, StartupTitlesTheWindowVantrel)
{
    CMainFrame frame;
    ASSERT_TRUE(frame.Create());
    frame.MainFrameStartup();

    wchar_t title[64] = {};
    GetWindowTextW(frame.Handle(), title, 64);
    EXPECT_STREQ(L"Vantrel", title);
}

TEST(MainFrame, ExitClosesTheWindowAndEndsTheMessageLoop)
{
    CMainFrame frame;
    ASSERT_TRUE(frame.Create());
    HWND hwnd = frame.Handle();

    SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(kExitCommand, 0), 0);
    PumpResult pumped = PumpMessagesUntil([&] { return !IsWindow(hwnd); }, 5000);

    EXPECT_TRUE(pumped.conditionMet);
    EXPECT_TRUE(pumped.quitPosted);
    EXPECT_EQ(nullptr, frame.Handle());
}

TEST(MainFrame, EveryWayOfClosingIsRefusedWhileCapturing)
{
    CMainFrame frame;
    ASSERT_TRUE(frame.Create());
    HWND hwnd = frame.Handle();
    frame.SetCapturing(true);

    {
        SCOPED_TRACE("close request");
        MessageBoxAnswerer answerer(GetCurrentThreadId());
        SendMessageW(hwnd, WM_CLOSE, 0, 0);
        ExpectOneExitRefusal(answerer.Seen());
    }
    {
        SCOPED_TRACE("exit command");
        MessageBoxAnswerer answerer(GetCurrentThreadId());
        SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(kExitCommand, 0), 0);
        PumpMessagesUntil([&] { return !answerer.Seen().empty(); }, 5000);
        PumpMessagesFor(100);
        ExpectOneExitRefusal(answerer.Seen());
    }
    {
        SCOPED_TRACE("window menu close");
        MessageBoxAnswerer answerer(GetCurrentThreadId());
        SendMessageW(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
        ExpectOneExitRefusal(answerer.Seen());
    }
    EXPECT_TRUE(IsWindow(hwnd));

    frame.SetCapturing(false);
    SendMessageW(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_FALSE(IsWindow(hwnd));
    PumpMessagesFor(10);  // takes the quit request that the closed frame posts
}
