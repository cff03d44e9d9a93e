// The window layer: messages reach the owning object, commands are routed by
// id and obey their enable rules, menus show the rules when they open, timers
// tick, and the object and its window may go away in either order. Texts
// cross the UTF-16 boundary unchanged both ways.
#include "FrameWindow.h"
#include "MessagePump.h"
#include "WideText.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace {

const UINT kStartCommand = 26000;
const UINT kStopCommand = 26001;
const UINT kAddCommand = 26002;
const UINT kToolbarCommand = 59392;
const UINT kUnhandledCommand = 26003;

// A frame on the main menu resource that records what reaches it.
class ProbeFrame : public FrameWindow {
public:
    bool Create() { return CreateFrame(L"VantrelProbeFrame", 128, WindowParams{}); }

    bool refuseCreation = false;
    std::set<UINT> disabled;
    std::set<UINT> checked;

    std::vector<UINT> commandsRun;
    std::vector<UINT_PTR> ticks;
    int destroyed = 0;

protected:
    bool OnCreate() override { return !refuseCreation; }
    void OnDestroy() override { ++destroyed; }
    bool OnTimer(UINT_PTR id) override
    {
        ticks.push_back(id);
        return true;
    }
    bool OnCommand(UINT id) override
    {
        if (id == kUnhandledCommand) {
            return false;
        }
        commandsRun.push_back(id);
        return true;
    }
    CommandState OnUpdateCommand(UINT id) override
    {
        CommandState state;
        state.enabled = disabled.count(id) == 0;
        state.checked = checked.count(id) != 0;
        return state;
    }
};

void SendMenuCommand(HWND hwnd, UINT id)
{
    SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

HMENU PopupOf(HWND hwnd, int index)
{
    return GetSubMenu(GetMenu(hwnd), index);
}

void OpenPopup(HWND hwnd, int index)
{
    SendMessageW(hwnd, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(PopupOf(hwnd, index)), MAKELPARAM(index, 0));
}

bool IsGrayed(HWND hwnd, UINT id)
{
    return (GetMenuState(GetMenu(hwnd), id, MF_BYCOMMAND) & MF_GRAYED) != 0;
}

bool IsChecked(HWND hwnd, UINT id)
{
    return (GetMenuState(GetMenu(hwnd), id, MF_BYCOMMAND) & MF_CHECKED) != 0;
}

}  // namespace

TEST(WindowLayer, CommandsReachTheObjectThatOwnsTheWindow)
{
    ProbeFrame first;
    ProbeFrame second;
    ASSERT_TRUE(first.Create());
    ASSERT_TRUE(second.Create());
    ASSERT_NE(first.Handle(), second.Handle());

    SendMenuCommand(second.Handle(), kAddCommand);
    SendMenuCommand(first.Handle(), kStartCommand);

    EXPECT_EQ(std::vector<UINT>{kStartCommand}, first.commandsRun);
    EXPECT_EQ(std::vector<UINT>{kAddCommand}, second.commandsRun);
}

TEST(WindowLayer, RefusedCreationLeavesNoWindow)
{
    ProbeFrame frame;
    frame.refuseCreation = true;
    EXPECT_FALSE(frame.Create());
    EXPECT_EQ(nullptr, frame.Handle());
}

TEST(WindowLayer, DisabledCommandIsNotRun)
{
    ProbeFrame frame;
    ASSERT_TRUE(frame.Create());
    frame.disabled = {kStartCommand};

    SendMenuCommand(frame.Handle(), kStartCommand);
    SendMenuCommand(frame.Handle(), kStopCommand);

    EXPECT_EQ(std::vector<UINT>{kStopCommand}, frame.commandsRun);
}

TEST(WindowLayer, ControlClicksAreCommandsButOtherNotificationsAreNot)
{
    ProbeFrame frame;
    ASSERT_TRUE(frame.Create());
    HWND button = CreateWindowExW(0, L"BUTTON", L"", WS_CHILD, 0, 0, 10, 10, frame.Handle(),
                                  reinterpret_cast<HMENU>(static_cast<UINT_PTR>(kAddCommand)), nullptr, nullptr);
    ASSERT_NE(nullptr, button);
    auto control = reinterpret_cast<LPARAM>(button);

    SendMessageW(frame.Handle(), WM_COMMAND, MAKEWPARAM(kStartCommand, EN_CHANGE), control);
    SendMessageW(frame.Handle(), WM_COMMAND, MAKEWPARAM(kStopCommand, 1), control);  // LBN_SELCHANGE
    SendMessageW(frame.Handle(), WM_COMMAND, MAKEWPARAM(kAddCommand, BN_CLICKED), control);
    SendMessageW(frame.Handle(), WM_COMMAND, MAKEWPARAM(kStopCommand, 1), 0);  // accelerator

    EXPECT_EQ((std::vector<UINT>{kAddCommand, kStopCommand}), frame.commandsRun);
}

TEST(WindowLayer, OpeningAPopupAppliesTheCurrentRules)
{
    ProbeFrame frame;
    ASSERT_TRUE(frame.Create());

    frame.disabled = {kStartCommand};
    frame.checked = {kToolbarCommand};
    OpenPopup(frame.Handle(), 0);
    OpenPopup(frame.Handle(), 1);
    EXPECT_TRUE(IsGrayed(frame.Handle(), kStartCommand));
    EXPECT_FALSE(IsGrayed(frame.Handle(), kStopCommand));
    EXPECT_TRUE(IsChecked(frame.Handle(), kToolbarCommand));

    frame.disabled = {kStopCommand};
    frame.checked.clear();
    OpenPopup(frame.Handle(), 0);
    OpenPopup(frame.Handle(), 1);
    EXPECT_FALSE(IsGrayed(frame.Handle(), kStartCommand));
    EXPECT_TRUE(IsGrayed(frame.Handle(), kStopCommand));
    EXPECT_FALSE(IsChecked(frame.Handle(), kToolbarCommand));
}

TEST(WindowLayer, TimerTicksUntilStopped)
{
    ProbeFrame frame;
    ASSERT_TRUE(frame.Create());
    ASSERT_TRUE(frame.StartTimer(7, 10));

    EXPECT_TRUE(PumpMessagesUntil([&] { return frame.ticks.size() >= 2; }, 5000).conditionMet);
    frame.StopTimer(7);
    size_t ticksAtStop = frame.ticks.size();
    PumpMessagesFor(100);

    EXPECT_EQ(ticksAtStop, frame.ticks.size());
    for (UINT_PTR id : frame.ticks) {
        EXPECT_EQ(7u, id);
    }
}

TEST(WindowLayer, DeletingTheObjectDestroysItsWindow)
{
    HWND hwnd = nullptr;
    {
        ProbeFrame frame;
        ASSERT_TRUE(frame.Create());
        hwnd = frame.Handle();
    }
    EXPECT_FALSE(IsWindow(hwnd));
}

TEST(WindowLayer, DestroyedWindowLeavesTheObjectWithoutHandle)
{
    ProbeFrame frame;
    ASSERT_TRUE(frame.Create());

    DestroyWindow(frame.Handle());

    EXPECT_EQ(1, frame.destroyed);
    EXPECT_EQ(nullptr, frame.Handle());
}

TEST(WideText, JapaneseTextsCrossBothWaysUnchanged)
{
    const std::wstring wide = L"\u30AD\u30E3\u30D7\u30C1\u30E3 COM1 \uFF8A\uFF9E";
    const std::string utf8 = "\xE3\x82\xAD\xE3\x83\xA3\xE3\x83\x97\xE3\x83\x81\xE3\x83\xA3"
                             " COM1 \xEF\xBE\x8A\xEF\xBE\x9E";
    EXPECT_EQ(utf8, Utf8FromWide(wide));
    EXPECT_EQ(wide, WideFromUtf8(utf8));
    EXPECT_EQ("", Utf8FromWide(L""));
}
