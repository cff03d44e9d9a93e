// The print dialog on the printers Wine takes from CUPS, a thread of the test
// playing the user.
#include "PrintDialog.h"

#include "DialogUser.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <winspool.h>

#include <string>
#include <vector>

namespace {

struct Shown {
    bool selectionEnabled = true;
    bool allChecked = false;
    bool queueListed = false;
    int selectedPrinter = -1;
};

Shown ReadShown(HWND dialog, const char* queue)
{
    Shown shown;
    shown.selectionEnabled = IsWindowEnabled(GetDlgItem(dialog, IDC_PRINT_SELECTION)) != FALSE;
    shown.allChecked = IsDlgButtonChecked(dialog, IDC_PRINT_ALL) == BST_CHECKED;
    shown.queueListed = SendDlgItemMessageA(dialog, IDC_PRINTER, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                            reinterpret_cast<LPARAM>(queue)) != CB_ERR;
    shown.selectedPrinter = static_cast<int>(SendDlgItemMessageA(dialog, IDC_PRINTER, CB_GETCURSEL, 0, 0));
    return shown;
}

void SelectPrinter(HWND dialog, const char* queue)
{
    const LRESULT index = SendDlgItemMessageA(dialog, IDC_PRINTER, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                              reinterpret_cast<LPARAM>(queue));
    SendDlgItemMessageA(dialog, IDC_PRINTER, CB_SETCURSEL, index, 0);
}

TEST(PrintDialogTest, MarginsAreCheckedAndOkHandsOverPrinterSettingsAndLayout)
{
    const char* queue = getenv("VANTREL_PRINT_QUEUE");
    ASSERT_NE(queue, nullptr);
    PrintJob job;
    job.range = PrintRange::AllWithoutSelection;
    job.margins = PrintMargins{1, 2, 3, 4};
    PrintDialog dialog(job);
    Shown shown;
    Refusal above, letters, narrow;
    std::wstring top;
    ModalRun run = RunModalAsUser(dialog, DialogWithControl(IDC_PRINTER_SETTINGS), [&](HWND window) {
        shown = ReadShown(window, queue);
        top = WindowText(GetDlgItem(window, IDC_MARGIN_TOP));
        above = TryOkWithFieldText(window, IDC_MARGIN_BOTTOM, L"101");
        SetDlgItemTextW(window, IDC_MARGIN_BOTTOM, L"100");
        letters = TryOkWithFieldText(window, IDC_MARGIN_LEFT, L"x");
        SelectPrinter(window, queue);
        SetDlgItemTextW(window, IDC_MARGIN_RIGHT, L"100");
        narrow = TryOkWithFieldText(window, IDC_MARGIN_LEFT, L"100");
        SetDlgItemTextW(window, IDC_MARGIN_RIGHT, L"4");
        SetDlgItemTextW(window, IDC_MARGIN_LEFT, L"0");
        CheckDlgButton(window, IDC_SOFT_LAYOUT, BST_CHECKED);
        PostMessageW(window, WM_COMMAND, IDOK, 0);
    });
    ASSERT_TRUE(run.shown);
    EXPECT_FALSE(shown.selectionEnabled);
    EXPECT_TRUE(shown.allChecked);
    EXPECT_TRUE(shown.queueListed);
    EXPECT_GE(shown.selectedPrinter, 0);
    EXPECT_EQ(L"1", top);
    EXPECT_EQ(L"0 から 100 までの整数を入力してください。", above.message);
    EXPECT_TRUE(above.dialogOpen && above.focusInField);
    EXPECT_EQ(L"整数を入力してください。", letters.message);
    EXPECT_TRUE(letters.focusInField);
    // The queue's A4 paper is 209 mm wide, and a page at least 50 mm.
    EXPECT_EQ(L"左右の余白が大きすぎて、印刷する幅が狭すぎます。左端と右端の余白を合わせて 159 mm 以下にしてください。",
              narrow.message);
    EXPECT_TRUE(narrow.dialogOpen && narrow.focusInField);

    EXPECT_EQ(IDOK, run.result);
    EXPECT_EQ(job.printer, queue);
    EXPECT_GE(job.deviceMode.size(), sizeof(DEVMODEA));
    EXPECT_EQ(job.range, PrintRange::All);
    EXPECT_TRUE(job.softLayout);
    EXPECT_EQ(job.margins.top, 1u);
    EXPECT_EQ(job.margins.bottom, 100u);
    EXPECT_EQ(job.margins.left, 0u);
    EXPECT_EQ(job.margins.right, 4u);
}

// The driver's current settings of the queue, as the dialog reads them.
std::vector<unsigned char> CurrentDeviceMode(const char* queue)
{
    HANDLE printer = nullptr;
    if (!OpenPrinterA(const_cast<char*>(queue), &printer, nullptr))
        return {};
    const LONG size = DocumentPropertiesA(nullptr, printer, const_cast<char*>(queue), nullptr, nullptr, 0);
    std::vector<unsigned char> block(size > 0 ? static_cast<size_t>(size) : 0);
    if (!block.empty())
        DocumentPropertiesA(nullptr, printer, const_cast<char*>(queue), reinterpret_cast<DEVMODEA*>(block.data()),
                            nullptr, DM_OUT_BUFFER);
    ClosePrinter(printer);
    return block;
}

// A visible dialog of the thread other than `dialog`, owned by it.
WindowMatch DialogOwnedBy(HWND dialog)
{
    return
        [dialog](HWND hwnd) { return hwnd != dialog && IsDialogWindow(hwnd) && GetWindow(hwnd, GW_OWNER) == dialog; };
}

TEST(PrintDialogTest, PrinterSettingsOpenTheDriversDialogAndASelectionCanBePrinted)
{
    const char* queue = getenv("VANTREL_PRINT_QUEUE");
    ASSERT_NE(queue, nullptr);
    const std::vector<unsigned char> before = CurrentDeviceMode(queue);
    ASSERT_GE(before.size(), sizeof(DEVMODEA));
    PrintJob job;
    job.range = PrintRange::All;  // the monitor has a selection
    PrintDialog dialog(job);
    bool selectionEnabled = false, settingsShown = false, enabledAfterSettings = false;
    ModalRun run = RunModalAsUser(dialog, DialogWithControl(IDC_PRINTER_SETTINGS), [&](HWND window) {
        selectionEnabled = IsWindowEnabled(GetDlgItem(window, IDC_PRINT_SELECTION)) != FALSE;
        SelectPrinter(window, queue);
        PostMessageW(window, WM_COMMAND, IDC_PRINTER_SETTINGS, 0);
        HWND settings = WaitForThreadWindow(GetWindowThreadProcessId(window, nullptr), DialogOwnedBy(window));
        settingsShown = settings != nullptr;
        if (settings != nullptr) {
            PostMessageW(settings, WM_COMMAND, IDOK, 0);
            WaitUntilGone(settings);
        }
        for (int tries = 0; tries < 100 && !enabledAfterSettings; ++tries, Sleep(10))
            enabledAfterSettings = IsWindowEnabled(window) != FALSE;
        SendDlgItemMessageW(window, IDC_PRINT_SELECTION, BM_CLICK, 0, 0);
        PostMessageW(window, WM_COMMAND, IDOK, 0);
    });
    ASSERT_TRUE(run.shown);
    EXPECT_TRUE(selectionEnabled);
    EXPECT_TRUE(settingsShown) << "no settings dialog of the printer's driver";
    EXPECT_TRUE(enabledAfterSettings);
    EXPECT_EQ(IDOK, run.result);
    EXPECT_EQ(job.range, PrintRange::Selection);
    EXPECT_EQ(before, job.deviceMode) << "the settings confirmed unchanged keep the device mode";
}

}  // namespace
