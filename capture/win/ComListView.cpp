#include "ComListView.h"

#include "CaptureItemStore.h"
#include "CaptureSettingsDialog.h"
#include "ResourceText.h"
#include "WideText.h"
#include "resource.h"

#include <commctrl.h>

#include <string>
#include <utility>

namespace {

const wchar_t kItemsViewClass[] = L"VantrelCaptureItems";
const UINT kColumnTitles[CaptureItemColumnCount] = {IDS_COLUMN_PORT, IDS_COLUMN_FORM, IDS_COLUMN_BUFFER_SIZE};

std::wstring FormColumnText(const CaptureItem& item)
{
    return WideFromUtf8(FormColumnPort(item)) + LoadResourceText(OutputFormTextId(item.form));
}

}  // namespace

bool CComListView::Create(HWND parent, LogLine log)
{
    log_ = std::move(log);
    return CreateChildWindow(kItemsViewClass, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1), parent);
}

bool CComListView::OnCreate()
{
    list_ = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SINGLESEL, 0,
                            0, 0, 0, Handle(), nullptr, GetModuleHandleW(nullptr), nullptr);
    if (list_ == nullptr) {
        return false;
    }
    SendMessageW(list_, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT);
    if (!InsertColumns()) {
        return false;
    }
    LoadItems(rows_);
    for (int row = 0; row < rows_.ItemCount(); ++row) {
        ShowRow(row, true);
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
        if (SendMessageW(list_, LVM_INSERTCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&info)) !=
            column) {
            return false;
        }
    }
    return true;
}

std::wstring CComListView::CellText(int row, CaptureItemColumn column) const
{
    if (column == ColumnPort) {
        return WideFromUtf8(rows_.PortText(row));
    }
    if (column == ColumnForm) {
        return FormColumnText(*rows_.Item(row));
    }
    return WideFromUtf8(rows_.SizeText(row));
}

void CComListView::ShowRow(int row, bool newRow)
{
    for (int column = 0; column < CaptureItemColumnCount; ++column) {
        std::wstring text = CellText(row, static_cast<CaptureItemColumn>(column));
        LVITEMW item = {};
        item.mask = LVIF_TEXT;
        item.iItem = row;
        item.iSubItem = column;
        item.pszText = &text[0];
        bool inserting = newRow && column == 0;
        SendMessageW(list_, inserting ? LVM_INSERTITEMW : LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
}

void CComListView::OnDestroy()
{
    int widths[CaptureItemColumnCount];
    for (int column = 0; column < CaptureItemColumnCount; ++column) {
        widths[column] = static_cast<int>(SendMessageW(list_, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0));
    }
    if (!SaveItems(rows_, widths)) {
        log_(ITEMS_NOT_SAVED_TEXT);
    }
}

LRESULT CComListView::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SIZE) {
        MoveWindow(list_, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        return 0;
    }
    if (message == WM_NOTIFY) {
        const auto& header = *reinterpret_cast<const NMHDR*>(lParam);
        if (header.hwndFrom == list_ && header.code == NM_RCLICK) {
            ShowContextMenu();
            return 0;
        }
    }
    return Window::HandleMessage(message, wParam, lParam);
}

bool CComListView::EditItem(int row)
{
    CaptureSettingsData data;
    if (row == -1) {
        if (!rows_.CanAdd()) {
            log_("アイテム数が上限に達しています");
            return false;
        }
    } else {
        const CaptureItem* current = rows_.Item(row);
        if (current == nullptr) {
            return false;
        }
        data.port = rows_.PortText(row);
        data.form = current->form;
        data.outputPort = current->form != StandardMonitor ? current->outputPort : "";
        data.size = current->bufferSize;
    }
    CaptureSettingsDialog dialog(data);
    if (dialog.RunModal(MainWindow()) != IDOK) {
        return false;
    }
    // The whole record is made anew: run-time marks wait for the next capture start.
    std::unique_ptr<CaptureItem> item = NewCaptureItem();
    CopyItemText(item->port, sizeof item->port, dialog.Data().port.c_str());
    item->form = dialog.Data().form;
    CopyItemText(item->outputPort, sizeof item->outputPort, dialog.Data().outputPort.c_str());
    item->bufferSize = dialog.Data().size;
    int shown = rows_.InsertOrUpdateRow(std::move(item), row);
    ShowRow(shown, row == -1);
    LogItemSaved(shown, row == -1);
    return true;
}

void CComListView::LogItemSaved(int row, bool added) const
{
    log_(std::string(added ? "キャプチャアイテム作成 " : "キャプチャアイテム変更 ") + rows_.PortText(row) + " " +
         Utf8FromWide(FormColumnText(*rows_.Item(row))) + " バッファ:" + rows_.SizeText(row) + "Byte");
}

bool CComListView::ChangeSelectedItem()
{
    if (WarnIfNothingSelected()) {
        return false;
    }
    return EditItem(SelectedRow());
}

bool CComListView::DeleteSelectedItem()
{
    if (WarnIfNothingSelected()) {
        return false;
    }
    if (ShowResourceMessage(MainWindow(), IDS_DELETE_ITEM, IDS_DELETE_CAPTION, MB_OKCANCEL) != IDOK) {
        return false;
    }
    int row = SelectedRow();
    std::string port = rows_.PortText(row);
    rows_.DeleteRow(row);
    SendMessageW(list_, LVM_DELETEITEM, static_cast<WPARAM>(row), 0);
    log_("キャプチャアイテム削除 " + port);
    return true;
}

int CComListView::SelectedRow() const
{
    return static_cast<int>(SendMessageW(list_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

bool CComListView::WarnIfNothingSelected() const
{
    if (SelectedRow() >= 0) {
        return false;
    }
    ShowResourceMessage(MainWindow(), IDS_NO_ITEM_SELECTED, IDS_CONFIRM_CAPTION, MB_OK);
    return true;
}

int CComListView::ContextMenuPopupAt(POINT screen) const
{
    LVHITTESTINFO hit = {};
    hit.pt = screen;
    ScreenToClient(list_, &hit.pt);
    int row = static_cast<int>(SendMessageW(list_, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    return row >= 0 ? 1 : 0;
}

// Owned by the main window, so the chosen command takes the frame's routing
// and its enable rules (nothing is enabled during capture).
void CComListView::ShowContextMenu()
{
    HMENU menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_ITEMS_MENU));
    if (menu == nullptr) {
        return;
    }
    POINT cursor;
    GetCursorPos(&cursor);
    HMENU popup = GetSubMenu(menu, ContextMenuPopupAt(cursor));
    SetForegroundWindow(Handle());
    TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, MainWindow(), nullptr);
    DestroyMenu(menu);
}
