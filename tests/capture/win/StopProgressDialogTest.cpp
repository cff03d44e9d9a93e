// The stop progress box in a real modal loop: a second thread plays the user
// and the stop worker while the test thread runs the dialog.
#include "StopProgressDialog.h"

#include "resource.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>

namespace {

struct Worker {
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = nullptr;

    Worker() { thread = CreateThread(nullptr, 0, Run, this, 0, nullptr); }
    ~Worker()
    {
        SetEvent(release);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        CloseHandle(release);
    }
    static DWORD WINAPI Run(LPVOID self)
    {
        WaitForSingleObject(static_cast<Worker*>(self)->release, INFINITE);
        return 0;
    }
};

// What the user's side saw of the dialog while the worker still ran.
struct Observation {
    DWORD dialogThread = 0;
    Worker* worker = nullptr;
    HWND dialog = nullptr;
    std::wstring text;
    PBRANGE range = {};
    int positionAfterATick = -1;
    bool openAfterEnter = false;
    bool openAfterEscAndClose = false;
};

BOOL CALLBACK FindDialog(HWND hwnd, LPARAM found)
{
    if (GetDlgItem(hwnd, IDC_STOP_PROGRESS) != nullptr) {
        *reinterpret_cast<HWND*>(found) = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND WaitForDialog(DWORD thread)
{
    HWND dialog = nullptr;
    for (int tries = 0; tries < 500 && dialog == nullptr; ++tries) {
        EnumThreadWindows(thread, FindDialog, reinterpret_cast<LPARAM>(&dialog));
        if (dialog == nullptr || !IsWindowVisible(dialog)) {
            dialog = nullptr;
            Sleep(10);
        }
    }
    return dialog;
}

DWORD WINAPI PlayTheUser(LPVOID context)
{
    auto* seen = static_cast<Observation*>(context);
    seen->dialog = WaitForDialog(seen->dialogThread);
    if (seen->dialog != nullptr) {
        wchar_t text[200] = {};
        GetWindowTextW(GetDlgItem(seen->dialog, IDC_STOP_TEXT), text, 200);
        seen->text = text;
        HWND bar = GetDlgItem(seen->dialog, IDC_STOP_PROGRESS);
        SendMessageW(bar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&seen->range));
        SendMessageW(seen->dialog, WM_COMMAND, IDOK, 0);
        seen->openAfterEnter = IsWindow(seen->dialog) && IsWindowVisible(seen->dialog);
        SendMessageW(seen->dialog, WM_COMMAND, IDCANCEL, 0);
        SendMessageW(seen->dialog, WM_CLOSE, 0, 0);
        seen->openAfterEscAndClose = IsWindow(seen->dialog) && IsWindowVisible(seen->dialog);
        Sleep(700);  // at least one 500-ms tick
        seen->positionAfterATick = static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0));
    }
    SetEvent(seen->worker->release);
    return 0;
}

TEST(StopProgressDialogTest, StaysUntilTheWorkerEndsThenClosesItself)
{
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    ASSERT_TRUE(InitCommonControlsEx(&controls));
    Worker worker;
    Observation seen;
    seen.dialogThread = GetCurrentThreadId();
    seen.worker = &worker;
    HANDLE user = CreateThread(nullptr, 0, PlayTheUser, &seen, 0, nullptr);
    StopProgressDialog dialog(worker.thread);
    INT_PTR result = dialog.RunModal(nullptr);
    WaitForSingleObject(user, INFINITE);
    CloseHandle(user);

    EXPECT_EQ(IDOK, result);
    ASSERT_NE(nullptr, seen.dialog) << "the dialog never showed";
    EXPECT_FALSE(IsWindow(seen.dialog));
    EXPECT_EQ(WaitForSingleObject(worker.thread, 0), static_cast<DWORD>(WAIT_OBJECT_0))
        << "the dialog ended only after the worker";
    EXPECT_EQ(
        L"キャプチャ停止処理中です。\nキャプチャ対象ポートを使用しているアプリケーションは全て終了させてください。",
        seen.text);
    EXPECT_EQ(0, seen.range.iLow);
    EXPECT_EQ(100, seen.range.iHigh);
    EXPECT_TRUE(seen.openAfterEnter) << "Enter must not end the box";
    EXPECT_TRUE(seen.openAfterEscAndClose) << "the stop's result is not ready yet";
    EXPECT_GE(seen.positionAfterATick, 1);
    EXPECT_GE(dialog.TickCount(), 1);
}

}  // namespace
