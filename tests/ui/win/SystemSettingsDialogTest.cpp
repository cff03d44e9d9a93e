// The system settings dialog in a real modal loop, a thread of the test
// playing the user, each test with a settings file of its own.
#include "SystemSettingsDialog.h"

#include "DialogUser.h"
#include "SettingsDirectory.h"
#include "UnwritableSettings.h"
#include "WindowPicture.h"
#include "resource.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

using SystemSettingsDialogTest = SettingsDirectory;

ModalRun RunDialog(std::function<void(HWND)> act)
{
    SystemSettingsDialog dialog;
    return RunModalAsUser(dialog, DialogWithControl(IDC_TIME_LIMIT_SPIN), std::move(act));
}

std::wstring FieldText(HWND dialog, int id)
{
    return WindowText(GetDlgItem(dialog, id));
}

std::pair<int, int> SpinRange(HWND dialog, int id)
{
    int low = -1, high = -1;
    SendDlgItemMessageW(dialog, id, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&low), reinterpret_cast<LPARAM>(&high));
    return {low, high};
}

void SetFields(HWND dialog, const wchar_t* timer, const wchar_t* limit)
{
    SetDlgItemTextW(dialog, IDC_REFRESH_PERIOD, timer);
    SetDlgItemTextW(dialog, IDC_TIME_LIMIT, limit);
}

void Press(HWND dialog, int button)
{
    PostMessageW(dialog, WM_COMMAND, static_cast<WPARAM>(button), 0);
}

TEST_F(SystemSettingsDialogTest, WithoutAFileShowsTheDefaultsAndOkStoresThem)
{
    std::wstring title, timer, limit;
    std::pair<int, int> timerRange, limitRange;
    WindowPicture picture;
    ModalRun run = RunDialog([&](HWND dialog) {
        title = WindowText(dialog);
        timer = FieldText(dialog, IDC_REFRESH_PERIOD);
        limit = FieldText(dialog, IDC_TIME_LIMIT);
        timerRange = SpinRange(dialog, IDC_REFRESH_PERIOD_SPIN);
        limitRange = SpinRange(dialog, IDC_TIME_LIMIT_SPIN);
        picture = TakeSettledPicture(dialog);
        Press(dialog, IDOK);
    });
    ASSERT_TRUE(run.shown);
    EXPECT_EQ(IDOK, run.result);
    EXPECT_EQ(L"システム設定", title);
    EXPECT_EQ(L"100", timer);
    EXPECT_EQ(L"1", limit);
    EXPECT_EQ(std::make_pair(10, 1000), timerRange);
    EXPECT_EQ(std::make_pair(0, 999999), limitRange);
    EXPECT_EQ("[System]\r\nTimer=100\r\nLimit=1\r\n", FileText());
    EXPECT_TRUE(WriteBmp(picture, (original_ + "/vantrel-system-settings.bmp").c_str()));
}

TEST_F(SystemSettingsDialogTest, StoredValuesOutsideTheirRangesShowAsTheDefaults)
{
    WriteFileText("[System]\r\nTimer=5\r\nLimit=1000000\r\n");
    std::wstring timer, limit;
    ModalRun run = RunDialog([&](HWND dialog) {
        timer = FieldText(dialog, IDC_REFRESH_PERIOD);
        limit = FieldText(dialog, IDC_TIME_LIMIT);
        Press(dialog, IDCANCEL);
    });
    ASSERT_TRUE(run.shown);
    EXPECT_EQ(L"100", timer);
    EXPECT_EQ(L"1", limit);
}

TEST_F(SystemSettingsDialogTest, RefusedValuesKeepTheDialogOpenAtTheirField)
{
    Refusal below, above, letters, limitAbove;
    ModalRun run = RunDialog([&](HWND dialog) {
        below = TryOkWithFieldText(dialog, IDC_REFRESH_PERIOD, L"9");
        above = TryOkWithFieldText(dialog, IDC_REFRESH_PERIOD, L"1001");
        letters = TryOkWithFieldText(dialog, IDC_REFRESH_PERIOD, L"abc");
        SetDlgItemTextW(dialog, IDC_REFRESH_PERIOD, L"10");
        limitAbove = TryOkWithFieldText(dialog, IDC_TIME_LIMIT, L"1000000");
        SetDlgItemTextW(dialog, IDC_TIME_LIMIT, L"0");
        Press(dialog, IDOK);
    });
    ASSERT_TRUE(run.shown);
    for (const Refusal* refusal : {&below, &above}) {
        EXPECT_EQ(L"10 から 1000 までの整数を入力してください。", refusal->message);
        EXPECT_TRUE(refusal->dialogOpen);
        EXPECT_TRUE(refusal->focusInField);
    }
    EXPECT_EQ(L"整数を入力してください。", letters.message);
    EXPECT_EQ(L"0 から 999999 までの整数を入力してください。", limitAbove.message);
    EXPECT_TRUE(limitAbove.focusInField);
    EXPECT_EQ(IDOK, run.result);
    EXPECT_EQ("[System]\r\nTimer=10\r\nLimit=0\r\n", FileText());

    ModalRun upper = RunDialog([&](HWND dialog) {
        SetFields(dialog, L"1000", L"999999");
        Press(dialog, IDOK);
    });
    EXPECT_EQ(IDOK, upper.result);
    EXPECT_EQ("[System]\r\nTimer=1000\r\nLimit=999999\r\n", FileText());
}

TEST_F(SystemSettingsDialogTest, CancelLeavesTheFileAsItWas)
{
    const std::string before = "; mine\r\n[System]\r\nTimer=250\r\nLimit=0\r\n[Data0]\r\nCOM=COM4\r\n";
    WriteFileText(before);
    ModalRun run = RunDialog([&](HWND dialog) {
        SetFields(dialog, L"500", L"7");
        Press(dialog, IDCANCEL);
    });
    ASSERT_TRUE(run.shown);
    EXPECT_EQ(IDCANCEL, run.result);
    EXPECT_EQ(before, FileText());
}

TEST_F(SystemSettingsDialogTest, AFileThatCannotBeWrittenIsReportedAndTheDialogStaysOpen)
{
    BlockSettingsFile();
    ExpectOkToReportTheUnwritableFile(RunDialog);
}

}  // namespace
