// The capture items pane in a window of the test, its list control refused
// as a system short of window resources refuses it.
#include "ComListView.h"

#include "SettingsDirectory.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

LRESULT CALLBACK RefuseListControls(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND) {
        wchar_t className[32] = {};
        GetClassNameW(reinterpret_cast<HWND>(wParam), className, 32);
        if (std::wstring(className) == WC_LISTVIEWW) {
            return 1;
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Windows destroys a window whose WM_CREATE failed as any other, WM_DESTROY
// first (CreateWindowEx, WM_CREATE: "the window is destroyed"); Wine sends
// only WM_NCDESTROY. This sends the WM_DESTROY that Windows would.
std::set<HWND> created, destroyed;
LRESULT CALLBACK DestroyAsWindowsDoes(int code, WPARAM wParam, LPARAM lParam)
{
    const auto& sent = *reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION) {
        if (sent.message == WM_CREATE) {
            created.insert(sent.hwnd);
        } else if (sent.message == WM_DESTROY) {
            destroyed.insert(sent.hwnd);
        } else if (sent.message == WM_NCDESTROY && created.count(sent.hwnd) != 0 && destroyed.count(sent.hwnd) == 0) {
            SendMessageW(sent.hwnd, WM_DESTROY, 0, 0);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

using ItemsPane = SettingsDirectory;

TEST_F(ItemsPane, APaneWhoseListCouldNotBeMadeLeavesTheStoredItems)
{
    const std::string stored = "[System]\r\nDataCount=2\r\n[Data0]\r\nCOM=COM4\r\nSize=10000\r\nType=0\r\nPort=\r\n"
                               "[Data1]\r\nCOM=COM5\r\nSize=20000\r\nType=1\r\nPort=COM21\r\n";
    WriteFileText(stored);
    HWND parent = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(nullptr, parent);
    HHOOK refuse = SetWindowsHookExW(WH_CBT, RefuseListControls, nullptr, GetCurrentThreadId());
    HHOOK destroy = SetWindowsHookExW(WH_CALLWNDPROC, DestroyAsWindowsDoes, nullptr, GetCurrentThreadId());
    ASSERT_NE(nullptr, refuse);
    ASSERT_NE(nullptr, destroy);
    CComListView pane;
    EXPECT_FALSE(pane.Create(parent, [](const std::string&) {}));
    UnhookWindowsHookEx(refuse);
    UnhookWindowsHookEx(destroy);
    DestroyWindow(parent);
    EXPECT_EQ(1u, destroyed.size()) << "the pane is destroyed, the list never made";
    EXPECT_EQ(stored, FileText());
}

}  // namespace
