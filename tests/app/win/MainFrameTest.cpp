// The main frame inside the test process: its live menu, the enable rules
// of its commands with and without capture, and the exit command.
#include "MainFrame.h"
#include "MenuReader.h"
#include "MessageBoxAnswerer.h"
#include "MessagePump.h"

#include <gtest/gtest.h>

#include <string>
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
