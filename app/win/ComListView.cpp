#include "ComListView.h"

#include "CaptureItemStore.h"
#include "ResourceText.h"
#include "WideText.h"
#include "resource.h"

#include <commctrl.h>

namespace {

const wchar_t kItemsViewClass[] = L"VantrelCaptureItems";
const UINT kColumnTitles[CaptureItemColumnCount] = {IDS_COLUMN_PORT, IDS_COLUMN_FORM, IDS_COLUMN_BUFFER_SIZE};

}  // namespace

bool CComListView::Create(HWND parent)
{
    return CreateChildWindow(kItemsViewClass, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1), parent);
}

bool CComListView::OnCreate()
{
    list_ = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SINGLESEL,
        0, 0, 0, 0, Handle(), nullptr, GetModuleHandleW(nullptr), nullptr);
    if (list_ == nullptr) {
        return false;
    }
    SendMessageW(list_, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT);
    if (!InsertColumns()) {
        return false;
    }
    LoadItems(rows_);
    for (int row = 0; row < rows_.ItemCount(); ++row) {
        ShowRow(row);
    }
    return true;
}

bool CComListView::InsertColumns()
{
    for (int column = 0; column < CaptureItemColumnCount; ++column) {
        std::wstring title = LoadResourceText(kColumnTitles[column]);
        LVCOLUMNW info = {};
        info.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        info.fmt = LVCFMT_LEFT;
        info.cx = ReadColumnWidth(column);
        info.pszText = &title[0];
        info.iSubItem = column;
        if (SendMessageW(list_, LVM_INSERTCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&info)) != column) {
            return false;
        }
    }
    return true;
}

void CComListView::ShowRow(int row)
{
    for (int column = 0; column < CaptureItemColumnCount; ++column) {
        std::wstring text = WideFromUtf8(rows_.RowText(row, static_cast<CaptureItemColumn>(column)));
        LVITEMW item = {};
        item.mask = LVIF_TEXT;
        item.iItem = row;
        item.iSubItem = column;
        item.pszText = &text[0];
        SendMessageW(list_, column == 0 ? LVM_INSERTITEMW : LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
}

void CComListView::OnDestroy()
{
    int widths[CaptureItemColumnCount];
    for (int column = 0; column < CaptureItemColumnCount; ++column) {
        widths[column] = static_cast<int>(SendMessageW(list_, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0));
    }
    SaveItems(rows_, widths);
}

LRESULT CComListView::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SIZE) {
        MoveWindow(list_, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        return 0;
    }
    return Window::HandleMessage(message, wParam, lParam);
}
