// The colour dialog in a real modal loop, a thread of the test playing the
// user through the dialog, the system's colour chooser and the screen.
#include "ColourSettingsDialog.h"

#include "Color.h"
#include "ColourChooserIds.h"
#include "DialogUser.h"
#include "SettingsDirectory.h"
#include "UnwritableSettings.h"
#include "WindowPicture.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using ColourSettingsDialogTest = SettingsDirectory;

ModalRun RunDialog(std::function<void(HWND)> act)
{
    ColourSettingsDialog dialog;
    return RunModalAsUser(dialog, DialogWithControl(IDC_COLOR_SELECTION), std::move(act));
}

HWND Button(HWND dialog, int number)
{
    return GetDlgItem(dialog, IDC_COLOR_RECEIVED + number - 1);
}

// Button `number` on the screen: the bevel in the face's shades, the inside
// mostly face, the caption in the contrast colour.
void ExpectButtonLooks(const WindowPicture& picture, HWND dialog, int number, COLORREF face)
{
    SCOPED_TRACE("button " + std::to_string(number));
    HWND button = Button(dialog, number);
    const POINT origin = ClientOriginInWindow(button, dialog);
    RECT client;
    GetClientRect(button, &client);
    const int middle = origin.y + client.bottom / 2;
    EXPECT_EQ(Lighten(face), picture.ColorAt(origin.x, middle));
    EXPECT_EQ(DarkShade(face), picture.ColorAt(origin.x + client.right - 1, middle));
    const RECT inside = {origin.x + 2, origin.y + 2, origin.x + client.right - 2, origin.y + client.bottom - 2};
    EXPECT_GT(picture.CountColor(inside, face), (inside.right - inside.left) * (inside.bottom - inside.top) / 2);
    EXPECT_GT(picture.CountColor(inside, ContrastCaption(face)), 10);
}

// The colour chooser that button `number` opens, its fields as shown.
struct Chooser {
    HWND window = nullptr;
    std::wstring red, green, blue;
    bool fullyOpen = false;
};

Chooser OpenChooser(HWND dialog, int number)
{
    PostMessageW(Button(dialog, number), BM_CLICK, 0, 0);
    Chooser chooser;
    chooser.window = WaitForThreadWindow(GetWindowThreadProcessId(dialog, nullptr), MessageBoxOwnedBy(dialog));
    if (chooser.window != nullptr) {
        chooser.red = WindowText(GetDlgItem(chooser.window, kChooserRed));
        chooser.green = WindowText(GetDlgItem(chooser.window, kChooserGreen));
        chooser.blue = WindowText(GetDlgItem(chooser.window, kChooserBlue));
        // Fully open: the custom colour fields show and cannot be opened again.
        chooser.fullyOpen = IsWindowVisible(GetDlgItem(chooser.window, kChooserRed)) &&
                            !IsWindowEnabled(GetDlgItem(chooser.window, kChooserDefineCustom));
    }
    return chooser;
}

// Types the colour into the chooser's fields, as the user would, and confirms it.
void ChooseColour(const Chooser& chooser, int red, int green, int blue)
{
    SetDlgItemInt(chooser.window, kChooserRed, static_cast<UINT>(red), FALSE);
    SetDlgItemInt(chooser.window, kChooserGreen, static_cast<UINT>(green), FALSE);
    SetDlgItemInt(chooser.window, kChooserBlue, static_cast<UINT>(blue), FALSE);
    PostMessageW(chooser.window, WM_COMMAND, IDOK, 0);
    WaitUntilGone(chooser.window);
}

void ConfirmUnchanged(const Chooser& chooser)
{
    PostMessageW(chooser.window, WM_COMMAND, IDOK, 0);
    WaitUntilGone(chooser.window);
}

void Press(HWND dialog, int button)
{
    PostMessageW(dialog, WM_COMMAND, static_cast<WPARAM>(button), 0);
}

// The eight keys as OK writes them.
std::string ColourKeys(const std::vector<COLORREF>& colours)
{
    std::string text = "[System]\r\n";
    for (size_t i = 0; i < colours.size(); ++i) {
        text += "Color" + std::to_string(i + 1) + "=" + std::to_string(colours[i]) + "\r\n";
    }
    return text;
}

std::vector<COLORREF> Defaults()
{
    std::vector<COLORREF> colours;
    for (int number = 1; number <= SYSTEM_COLOR_COUNT; ++number) {
        colours.push_back(DefaultColor(number));
    }
    return colours;
}

TEST_F(ColourSettingsDialogTest, WithoutAFileShowsTheEightDefaultsAndOkStoresAllEight)
{
    std::wstring title;
    std::vector<std::wstring> captions;
    WindowPicture picture;
    ModalRun run = RunDialog([&](HWND dialog) {
        title = WindowText(dialog);
        for (int number = 1; number <= SYSTEM_COLOR_COUNT; ++number) {
            captions.push_back(WindowText(Button(dialog, number)));
        }
        picture = TakeSettledPicture(dialog);
        for (int number = 1; number <= SYSTEM_COLOR_COUNT; ++number) {
            ExpectButtonLooks(picture, dialog, number, DefaultColor(number));
        }
        Press(dialog, IDOK);
    });
    ASSERT_TRUE(run.shown);
    EXPECT_EQ(IDOK, run.result);
    EXPECT_EQ(L"色設定", title);
    const std::vector<std::wstring> expected = {L"受信データの表示色を変更",
                                                L"送信データの表示色を変更",
                                                L"時間カウンタの表示色を変更",
                                                L"区切りラインの表示色を変更",
                                                L"エラー内容の表示色を変更",
                                                L"送受信タイトルの表示色を変更",
                                                L"背景色を変更",
                                                L"選択色を変更"};
    EXPECT_EQ(expected, captions);
    EXPECT_EQ(ColourKeys(Defaults()), FileText());
    EXPECT_TRUE(WriteBmp(picture, (original_ + "/vantrel-colour-settings.bmp").c_str()));
}

TEST_F(ColourSettingsDialogTest, AChosenColourRepaintsItsButtonAndOkStoresIt)
{
    Chooser chooser;
    ModalRun run = RunDialog([&](HWND dialog) {
        chooser = OpenChooser(dialog, 1);
        if (chooser.window == nullptr) {
            Press(dialog, IDCANCEL);
            return;
        }
        ChooseColour(chooser, 255, 192, 192);
        ExpectButtonLooks(TakeSettledPicture(dialog), dialog, 1, 0xC0C0FF);
        Press(dialog, IDOK);
    });
    ASSERT_TRUE(run.shown);
    ASSERT_NE(nullptr, chooser.window);
    EXPECT_EQ(L"128", chooser.red);
    EXPECT_EQ(L"64", chooser.green);
    EXPECT_EQ(L"0", chooser.blue);
    EXPECT_TRUE(chooser.fullyOpen);
    std::vector<COLORREF> stored = Defaults();
    stored[0] = 0xC0C0FF;
    EXPECT_EQ(ColourKeys(stored), FileText());
}

TEST_F(ColourSettingsDialogTest, TheSameColourChangesNothingAndCancelLeavesTheFileAsItWas)
{
    const std::string before = "; mine\r\n[System]\r\nTimer=250\r\nColor2=255\r\n";
    WriteFileText(before);
    ModalRun run = RunDialog([&](HWND dialog) {
        Chooser same = OpenChooser(dialog, 2);
        if (same.window != nullptr) {
            ConfirmUnchanged(same);
        }
        ExpectButtonLooks(TakeSettledPicture(dialog), dialog, 2, 0x0000FF);
        Chooser other = OpenChooser(dialog, 3);
        if (other.window != nullptr) {
            ChooseColour(other, 1, 2, 3);
        }
        Press(dialog, IDCANCEL);
    });
    ASSERT_TRUE(run.shown);
    EXPECT_EQ(IDCANCEL, run.result);
    EXPECT_EQ(before, FileText());
}

TEST_F(ColourSettingsDialogTest, AFileThatCannotBeWrittenIsReportedAndTheDialogStaysOpen)
{
    BlockSettingsFile();
    ExpectOkToReportTheUnwritableFile(RunDialog);
}

// The second click of a double click arrives as BN_DOUBLECLICKED.
TEST_F(ColourSettingsDialogTest, ADoubleClickOnAColourButtonOpensOneChooser)
{
    int choosers = 0;
    const ModalRun run = RunDialog([&](HWND dialog) {
        HWND button = Button(dialog, 1);
        for (UINT message : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP})
            PostMessageW(button, message, message == WM_LBUTTONUP ? 0 : MK_LBUTTON, MAKELPARAM(5, 5));
        const DWORD thread = GetWindowThreadProcessId(dialog, nullptr);
        for (HWND chooser; (chooser = WaitForThreadWindow(thread, MessageBoxOwnedBy(dialog))) != nullptr; ++choosers) {
            PostMessageW(chooser, WM_COMMAND, IDCANCEL, 0);
            WaitUntilGone(chooser);
        }
        PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_TRUE(run.shown);
    EXPECT_EQ(1, choosers);
}

}  // namespace
