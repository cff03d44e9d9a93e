// The capture settings dialog in a real modal loop: a second thread plays
// the user while the test thread runs the dialog.
#include "CaptureSettingsDialog.h"

#include "DialogUser.h"
#include "DosDeviceTable.h"
#include "resource.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

std::vector<std::wstring> ComboEntries(HWND dialog, int id)
{
    std::vector<std::wstring> entries;
    HWND combo = GetDlgItem(dialog, id);
    int count = static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        wchar_t text[64] = {};
        SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        entries.push_back(text);
    }
    return entries;
}

int Selection(HWND dialog, int id)
{
    return static_cast<int>(SendDlgItemMessageW(dialog, id, CB_GETCURSEL, 0, 0));
}

// As the user's choice arrives: a new selection, then its notification.
void ChooseForm(HWND dialog, int form)
{
    HWND combo = GetDlgItem(dialog, IDC_OUTPUT_FORM);
    SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(form), 0);
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_OUTPUT_FORM, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
}

std::wstring SizeText(HWND dialog)
{
    return WindowText(GetDlgItem(dialog, IDC_BUFFER_SIZE));
}

std::vector<std::wstring> SystemCapturePorts()
{
    DosDeviceTable table(DOS_DEVICE_LISTING_SIZE);
    std::vector<std::wstring> ports;
    for (const std::string& port : ListCapturePorts(table)) {
        ports.push_back(std::wstring(port.begin(), port.end()));
    }
    return ports;
}

struct Opened {
    INT_PTR result = 0;
    bool shown = false;
    CaptureSettingsData data;
};

// Runs the dialog with `data`; `act` sees it open and must end it.
Opened RunDialog(const CaptureSettingsData& data, std::function<void(HWND)> act)
{
    CaptureSettingsDialog dialog(data);
    ModalRun run = RunModalAsUser(dialog, DialogWithControl(IDC_CAPTURE_PORT), std::move(act));
    return Opened{run.result, run.shown, dialog.Data()};
}

void Cancel(HWND dialog)
{
    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
}

TEST(CaptureSettingsDialogTest, NewItemOffersTheSystemPortsTheFormsAndEveryOtherComNameAsOutput)
{
    std::vector<std::wstring> capture, forms, output;
    std::wstring size;
    bool outputEnabled = true;
    int formSelected = -1, outputSelected = -1;
    int low = 0, high = 0;
    Opened opened = RunDialog(CaptureSettingsData(), [&](HWND dialog) {
        capture = ComboEntries(dialog, IDC_CAPTURE_PORT);
        forms = ComboEntries(dialog, IDC_OUTPUT_FORM);
        output = ComboEntries(dialog, IDC_OUTPUT_PORT);
        formSelected = Selection(dialog, IDC_OUTPUT_FORM);
        outputSelected = Selection(dialog, IDC_OUTPUT_PORT);
        outputEnabled = IsWindowEnabled(GetDlgItem(dialog, IDC_OUTPUT_PORT));
        size = SizeText(dialog);
        SendDlgItemMessageW(dialog, IDC_BUFFER_SIZE_SPIN, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&low),
                            reinterpret_cast<LPARAM>(&high));
        Cancel(dialog);
    });
    ASSERT_TRUE(opened.shown);
    EXPECT_EQ(IDCANCEL, opened.result);

    EXPECT_EQ(SystemCapturePorts(), capture);
    // Together the two lists name COM1..COM255 once each.
    std::set<std::wstring> names(capture.begin(), capture.end());
    names.insert(output.begin(), output.end());
    EXPECT_EQ(capture.size() + output.size(), names.size()) << "a capture port is offered as output port";
    for (int n = 1; n <= 255; ++n) {
        EXPECT_EQ(1u, names.count(L"COM" + std::to_wstring(n))) << n;
    }
    EXPECT_EQ(255u, names.size());
    EXPECT_EQ(0, outputSelected);

    const std::vector<std::wstring> formTexts = {L"標準のキャプチャモニタ", L"ポートへ出力(Format)",
                                                 L"ポートへ出力(WriteFile)", L"ポートへ出力(ReadFile)",
                                                 L"ポートへ出力(信号選択)"};
    EXPECT_EQ(formTexts, forms);
    EXPECT_EQ(0, formSelected);
    EXPECT_FALSE(outputEnabled);
    EXPECT_EQ(L"10000", size);
    EXPECT_EQ(10000, low);
    EXPECT_EQ(10000000, high);
}

TEST(CaptureSettingsDialogTest, StoredSizeOutsideTheRangeOpensAsTheMinimum)
{
    const struct {
        uint32_t stored;
        const wchar_t* shown;
    } cases[] = {{0, L"10000"}, {9999, L"10000"}, {20000000, L"10000"}, {10000000, L"10000000"}, {123456, L"123456"}};
    for (const auto& c : cases) {
        CaptureSettingsData data;
        data.size = c.stored;
        std::wstring shown;
        Opened opened = RunDialog(data, [&](HWND dialog) {
            shown = SizeText(dialog);
            Cancel(dialog);
        });
        ASSERT_TRUE(opened.shown);
        EXPECT_EQ(c.shown, shown) << c.stored;
    }
}

Refusal TryOkWithSize(HWND dialog, const wchar_t* size)
{
    return TryOkWithFieldText(dialog, IDC_BUFFER_SIZE, size);
}

TEST(CaptureSettingsDialogTest, RefusedSizeKeepsTheDialogOpenWithTheFocusInTheSizeField)
{
    Refusal outOfRange, notAnInteger, tooLong;
    Opened opened = RunDialog(CaptureSettingsData(), [&](HWND dialog) {
        outOfRange = TryOkWithSize(dialog, L"9999");
        notAnInteger = TryOkWithSize(dialog, L"abc");
        tooLong = TryOkWithSize(dialog, L"10000000000000000000000000000000000000000x");
        SetDlgItemTextW(dialog, IDC_BUFFER_SIZE, L"10000000");
        PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    });
    ASSERT_TRUE(opened.shown);
    EXPECT_EQ(L"10000 から 10000000 までの整数を入力してください。", outOfRange.message);
    EXPECT_TRUE(outOfRange.dialogOpen);
    EXPECT_TRUE(outOfRange.focusInField);
    EXPECT_EQ(L"正の整数を入力してください。", notAnInteger.message);
    EXPECT_TRUE(notAnInteger.dialogOpen);
    EXPECT_TRUE(notAnInteger.focusInField);
    EXPECT_EQ(L"正の整数を入力してください。", tooLong.message) << "a long text is read whole";
    EXPECT_EQ(IDOK, opened.result);
    EXPECT_EQ(10000000u, opened.data.size);
}

TEST(CaptureSettingsDialogTest, OutputPortIsEnabledForThePortFormsAndOkReturnsTheChoice)
{
    std::vector<bool> enabledAfter;
    std::vector<std::wstring> capture, output;
    Opened opened = RunDialog(CaptureSettingsData(), [&](HWND dialog) {
        capture = ComboEntries(dialog, IDC_CAPTURE_PORT);
        output = ComboEntries(dialog, IDC_OUTPUT_PORT);
        HWND outputPort = GetDlgItem(dialog, IDC_OUTPUT_PORT);
        for (int form : {1, 0, 4, 3}) {
            ChooseForm(dialog, form);
            enabledAfter.push_back(IsWindowEnabled(outputPort) != FALSE);
        }
        SendMessageW(outputPort, CB_SETCURSEL, 2, 0);
        SetDlgItemTextW(dialog, IDC_BUFFER_SIZE, L"30000");
        PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    });
    ASSERT_TRUE(opened.shown);
    EXPECT_EQ((std::vector<bool>{true, false, true, true}), enabledAfter);
    EXPECT_EQ(IDOK, opened.result);
    EXPECT_EQ(capture.empty() ? std::string() : std::string(capture[0].begin(), capture[0].end()), opened.data.port);
    EXPECT_EQ(3, opened.data.form);
    ASSERT_GT(output.size(), 2u);
    EXPECT_EQ(std::string(output[2].begin(), output[2].end()), opened.data.outputPort);
    EXPECT_EQ(30000u, opened.data.size);
}

TEST(CaptureSettingsDialogTest, StoredChoicesAreSelectedAndUnknownOnesFallBackToTheFirstEntry)
{
    std::vector<std::wstring> capture, output;
    int formSelected = -1;
    std::wstring outputShown;
    CaptureSettingsData stored;
    stored.port = "COM999";  // no such name in the system's list
    stored.form = 9;         // shown as the last form
    stored.outputPort = "COM200";
    stored.size = 40000;
    Opened opened = RunDialog(stored, [&](HWND dialog) {
        capture = ComboEntries(dialog, IDC_CAPTURE_PORT);
        output = ComboEntries(dialog, IDC_OUTPUT_PORT);
        formSelected = Selection(dialog, IDC_OUTPUT_FORM);
        outputShown = WindowText(GetDlgItem(dialog, IDC_OUTPUT_PORT));
        PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    });
    ASSERT_TRUE(opened.shown);
    EXPECT_EQ(4, formSelected);
    EXPECT_EQ(L"COM200", outputShown);
    EXPECT_EQ(IDOK, opened.result);
    EXPECT_EQ(capture.empty() ? std::string() : std::string(capture[0].begin(), capture[0].end()), opened.data.port);
    EXPECT_EQ(4, opened.data.form) << "never the list's -1";
    EXPECT_EQ("COM200", opened.data.outputPort);
    EXPECT_EQ(40000u, opened.data.size);
}

}  // namespace
