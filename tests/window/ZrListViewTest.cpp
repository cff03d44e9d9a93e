// The owner-drawn list: header clicks sort and reverse, row data and images
// stay with their rows, deleting rows keeps the others' data, and the
// selection colours cover the first cell or, with whole-row selection, the
// whole row.
#include "ControlFrame.h"
#include "ListViewText.h"
#include "WindowPicture.h"
#include "ZrListView.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

const int kColumnWidth = 100;
const COLORREF kSelectedBackground = 0x800000;
const COLORREF kBackground = 0xFFFFFF;
const COLORREF kImageColour = 0x0000FF;  // red

class ZrListViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(frame.Create());
        ASSERT_TRUE(view.Create(frame.Handle()));
        MoveWindow(view.Handle(), 0, 0, 400, 200, TRUE);
        ASSERT_EQ(0, view.InsertColumn(0, L"ポート", LVCFMT_LEFT, kColumnWidth));
        ASSERT_EQ(1, view.InsertColumn(1, L"形式", LVCFMT_LEFT, kColumnWidth));
        // Sorted by code unit the order would differ: "B" < "Z" < "a".
        AddRow(0, L"B", L"x");
        AddRow(1, L"a", L"Z");
        AddRow(2, L"c", L"y");
    }

    void AddRow(int index, const wchar_t* first, const wchar_t* second)
    {
        names[index] = first;
        ASSERT_EQ(index, view.InsertRow(index, first));
        ASSERT_TRUE(view.SetCellText(index, 1, second));
        ASSERT_TRUE(view.SetRowData(index, &names[index]));
    }

    std::vector<std::wstring> Column(int column) const
    {
        std::vector<std::wstring> texts;
        const int rows = static_cast<int>(SendMessageW(view.List(), LVM_GETITEMCOUNT, 0, 0));
        for (int row = 0; row < rows; ++row) {
            texts.push_back(ListViewCell(view.List(), row, column));
        }
        return texts;
    }

    // The name that the row's data points to, for every row.
    std::vector<std::wstring> DataNames() const
    {
        std::vector<std::wstring> texts;
        for (size_t row = 0; row < Column(0).size(); ++row) {
            texts.push_back(*static_cast<const std::wstring*>(view.GetRowData(static_cast<int>(row))));
        }
        return texts;
    }

    // Down and up on the header item, as the mouse would.
    void ClickHeader(int column) const
    {
        HWND header = reinterpret_cast<HWND>(SendMessageW(view.List(), LVM_GETHEADER, 0, 0));
        RECT rect = {};
        SendMessageW(header, HDM_GETITEMRECT, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&rect));
        const LPARAM at = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
        SendMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageW(header, WM_LBUTTONUP, 0, at);
    }

    void Select(int row) const
    {
        SetFocus(view.List());
        LVITEMW item = {};
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        item.state = item.stateMask;
        SendMessageW(view.List(), LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    }

    void Repaint() const { RedrawWindow(view.List(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW); }

    // The colour at a point of a row in the list's client area, as the
    // screen shows it now.
    COLORREF ShownInRow(int row, int x, int yBelowTop) const
    {
        RECT rect = {};
        rect.left = LVIR_BOUNDS;
        SendMessageW(view.List(), LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&rect));
        const POINT origin = ClientOriginInWindow(view.List(), frame.Handle());
        return TakeWindowPicture(frame.Handle()).ColorAt(origin.x + rect.left + x, origin.y + rect.top + yBelowTop);
    }

    // Right of the short texts, inside the focus rectangle.
    COLORREF CellBackground(int row, int column) const { return ShownInRow(row, (column + 1) * kColumnWidth - 6, 5); }

    ControlFrame frame;
    CzrListView view;
    std::wstring names[3];
};

// One 16 x 16 image in kImageColour.
HIMAGELIST OneImageList()
{
    std::vector<uint32_t> pixels(16 * 16, 0x00FF0000);  // 0x00RRGGBB
    HBITMAP bitmap = CreateBitmap(16, 16, 1, 32, pixels.data());
    HIMAGELIST images = ImageList_Create(16, 16, ILC_COLOR24, 1, 0);
    ImageList_Add(images, bitmap, nullptr);
    DeleteObject(bitmap);
    return images;
}

}  // namespace

TEST_F(ZrListViewTest, HeaderClickSortsAscendingThenReversesAndAnotherColumnSortsAscending)
{
    ClickHeader(0);
    EXPECT_EQ((std::vector<std::wstring>{L"a", L"B", L"c"}), Column(0));
    EXPECT_EQ(Column(0), DataNames());

    ClickHeader(0);
    EXPECT_EQ((std::vector<std::wstring>{L"c", L"B", L"a"}), Column(0));
    EXPECT_EQ(Column(0), DataNames());

    ClickHeader(1);
    EXPECT_EQ((std::vector<std::wstring>{L"x", L"y", L"Z"}), Column(1));
    EXPECT_EQ((std::vector<std::wstring>{L"B", L"c", L"a"}), DataNames());
}

TEST_F(ZrListViewTest, DeletedRowsGoAndTheOthersKeepTheirData)
{
    ASSERT_TRUE(view.DeleteRow(1));
    EXPECT_EQ((std::vector<std::wstring>{L"B", L"c"}), Column(0));
    EXPECT_EQ(Column(0), DataNames());
    EXPECT_EQ(nullptr, view.GetRowData(2));
    EXPECT_FALSE(view.DeleteRow(2));

    view.DeleteAllRows();
    EXPECT_TRUE(Column(0).empty());
    EXPECT_EQ(nullptr, view.GetRowData(0));
}

TEST_F(ZrListViewTest, WholeRowSelectionOnlyForExactlyFullRowSelect)
{
    EXPECT_FALSE(view.WholeRowSelection());
    view.SetExtendedStyle(LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    EXPECT_FALSE(view.WholeRowSelection());
    view.SetExtendedStyle(LVS_EX_FULLROWSELECT);
    EXPECT_TRUE(view.WholeRowSelection());
    EXPECT_EQ(static_cast<LRESULT>(LVS_EX_FULLROWSELECT),
              SendMessageW(view.List(), LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
}

TEST_F(ZrListViewTest, SelectionColoursCoverTheFirstCellOrWithWholeRowSelectionTheRow)
{
    Select(1);
    Repaint();
    EXPECT_EQ(kSelectedBackground, CellBackground(1, 0));
    EXPECT_EQ(kBackground, CellBackground(1, 1));
    EXPECT_EQ(kBackground, CellBackground(0, 0));

    // Only the focus changes: the row stays selected.
    SetFocus(frame.Handle());
    EXPECT_EQ(kSelectedBackground, CellBackground(1, 0));

    view.SetExtendedStyle(LVS_EX_FULLROWSELECT);
    Repaint();
    EXPECT_EQ(kSelectedBackground, CellBackground(1, 0));
    EXPECT_EQ(kSelectedBackground, CellBackground(1, 1));
}

TEST_F(ZrListViewTest, RowImageIsDrawnAtTheRowsLeftAndStaysTheCallersAfterTheView)
{
    HIMAGELIST images = OneImageList();
    SendMessageW(view.List(), LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images));
    ASSERT_EQ(3, view.InsertRow(3, L"d", 0));

    Repaint();
    EXPECT_EQ(kImageColour, ShownInRow(3, 8, 2));

    DestroyWindow(view.Handle());
    EXPECT_EQ(1, ImageList_GetImageCount(images));
    EXPECT_TRUE(ImageList_Destroy(images));
}
