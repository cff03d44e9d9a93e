// OK in a settings dialog whose settings file cannot be written: the user is
// told, and the dialog stays open to be cancelled.
#pragma once

#include "DialogUser.h"

#include <gtest/gtest.h>

#include <functional>

using DialogRun = std::function<ModalRun(std::function<void(HWND)>)>;

inline void ExpectOkToReportTheUnwritableFile(const DialogRun& runDialog)
{
    MessageBoxSeen box;
    bool stayedOpen = false;
    ModalRun run = runDialog([&](HWND dialog) {
        box = OkAnsweredByMessageBox(dialog);
        stayedOpen = IsWindowVisible(dialog) != FALSE;
        PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    ASSERT_TRUE(run.shown);
    EXPECT_EQ(L"Vantrel", box.caption);
    EXPECT_EQ(L"設定ファイルに保存できませんでした。", box.text);
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(IDCANCEL, run.result);
}
