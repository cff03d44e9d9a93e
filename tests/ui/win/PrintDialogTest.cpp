// The print dialog on the printers Wine takes from CUPS, a thread of the test
// playing the user.
#include "PrintDialog.h"

#include "DialogUser.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>

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
    Refusal above, letters;
    std::wstring top;
    ModalRun run = RunModalAsUser(dialog, DialogWithControl(IDC_PRINTER_SETTINGS), [&](HWND window) {
        shown = ReadShown(window, queue);
        top = WindowText(GetDlgItem(window, IDC_MARGIN_TOP));
        above = TryOkWithFieldText(window, IDC_MARGIN_BOTTOM, L"101");
        SetDlgItemTextW(window, IDC_MARGIN_BOTTOM, L"100");
        letters = TryOkWithFieldText(window, IDC_MARGIN_LEFT, L"x");
        SetDlgItemTextW(window, IDC_MARGIN_LEFT, L"0");
        SelectPrinter(window, queue);
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

}  // namespace
