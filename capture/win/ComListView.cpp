#include "ComListView.h"

#include "CaptureItemStore.h"
#include "CaptureSettingsDialog.h"
#include "ResourceText.h"
#include "WideText.h"
#include "resource.h"

#include <commctrl.h>

#include <string>
#include <utility>
#include <vector>

namespace {

const UINT kColumnTitles[CaptureItemColumnCount] = {IDS_COLUMN_PORT, IDS_COLUMN_FORM, IDS_COLUMN_BUFFER_SIZE};

std::wstring FormColumnText(const CaptureItem& item)
{
    return WideFromUtf8(FormColumnPort(item)) + LoadResourceText(OutputFormTextId(item.form));
}

}  // namespace

bool CComListView::Create(HWND parent, LogLine log)
{
    log_ = std::move(log);
    return CzrListView::Create(parent, LVS_SINGLESEL);
}

bool CComListView::OnCreate()
{
    if (!CzrListView::OnCreate()) {
        return false;
    }
    SetExtendedStyle(LVS_EX_FULLROWSELECT);
    if (!InsertColumns()) {
        return false;
    }
    file_.Load(rows_);
    for (int index = 0; index < rows_.ItemCount(); ++index) {
        if (AppendRow(rows_.Item(index)) == -1) {
            return false;
        }
    }
    return true;
}

bool CComListView::InsertColumns()
{
    for (int column = 0; column < CaptureItemColumnCount; ++column) {
        if (InsertColumn(column, LoadResourceText(kColumnTitles[column]), LVCFMT_LEFT, ReadColumnWidth(column)) !=
            column) {
            return false;
        }
    }
    return true;
}

int CComListView::AppendRow(CaptureItem* item)
{
    const int row = InsertRow(RowCount(), WideFromUtf8(item->port));
    if (row != -1) {
        SetRowData(row, item);
        ShowItem(row, *item);
    }
    return row;
}

void CComListView::ShowItem(int row, const CaptureItem& item)
{
    SetCellText(row, ColumnPort, WideFromUtf8(item.port));
    SetCellText(row, ColumnForm, FormColumnText(item));
    SetCellText(row, ColumnSize, WideFromUtf8(SizeText(item)));
}

void CComListView::ReadColumnWidths(int (&widths)[CaptureItemColumnCount]) const
{
    for (int column = 0; column < CaptureItemColumnCount; ++column) {
        widths[column] = static_cast<int>(SendMessageW(List(), LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0));
    }
}

void CComListView::SaveChangedItems() const
{
    int widths[CaptureItemColumnCount];
    ReadColumnWidths(widths);
    if (!file_.Save(rows_, widths)) {
        log_(ITEMS_NOT_SAVED_TEXT);
    }
}

// The rows go before their records, so no row ever shows a freed one.
void CComListView::OnDestroy()
{
    int widths[CaptureItemColumnCount];
    ReadColumnWidths(widths);
    DeleteAllRows();
    if (!file_.SaveAndClear(rows_, widths)) {
        log_(ITEMS_NOT_SAVED_TEXT);
    }
    CzrListView::OnDestroy();
}

// The records follow the rows' new order: capture start walks them and the
// settings file keeps them as the user sees them.
void CComListView::SortByColumn(int column)
{
    CzrListView::SortByColumn(column);
    std::vector<const CaptureItem*> shown;
    for (int row = 0; row < RowCount(); ++row) {
        shown.push_back(ItemAt(row));
    }
    if (rows_.FollowOrder(shown)) {
        SaveChangedItems();
    }
}

LRESULT CComListView::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NOTIFY) {
        const auto& header = *reinterpret_cast<const NMHDR*>(lParam);
        if (header.hwndFrom == List() && header.code == NM_RCLICK) {
            ShowContextMenu();
            return 0;
        }
        // A double click on a row changes its item, by the frame's command and its rules.
        if (header.hwndFrom == List() && header.code == NM_DBLCLK &&
            reinterpret_cast<const NMITEMACTIVATE&>(header).iItem >= 0) {
            PostMessageW(MainWindow(), WM_COMMAND, ID_ITEM_CHANGE, 0);
            return 0;
        }
    }
    return CzrListView::HandleMessage(message, wParam, lParam);
}

bool CComListView::EditItem(int row)
{
    CaptureSettingsData data;
    CaptureItem* item = nullptr;
    if (row == -1) {
        if (!rows_.CanAdd()) {
            log_("アイテム数が上限に達しています");
            return false;
        }
    } else {
        item = ItemAt(row);
        if (item == nullptr) {
            return false;
        }
        data.port = item->port;
        data.form = item->form;
        data.outputPort = item->form != StandardMonitor ? item->outputPort : "";
        data.size = item->bufferSize;
    }
    CaptureSettingsDialog dialog(data);
    if (dialog.RunModal(MainWindow()) != IDOK) {
        return false;
    }
    std::unique_ptr<CaptureItem> added;
    if (item == nullptr) {
        added = NewCaptureItem();
        item = added.get();
    }
    // The whole record is made anew: run-time marks wait for the next capture start.
    *item = CaptureItem{};
    CopyItemText(item->port, sizeof item->port, dialog.Data().port.c_str());
    item->form = dialog.Data().form;
    CopyItemText(item->outputPort, sizeof item->outputPort, dialog.Data().outputPort.c_str());
    item->bufferSize = dialog.Data().size;
    if (added != nullptr) {
        rows_.InsertOrUpdateRow(std::move(added), -1);
        const int shown = AppendRow(item);
        if (shown == -1) {
            rows_.Remove(item);
            return false;
        }
        SelectRow(shown);
    } else {
        ShowItem(row, *item);
    }
    LogItemSaved(*item, row == -1);
    SaveChangedItems();
    return true;
}

void CComListView::LogItemSaved(const CaptureItem& item, bool added) const
{
    log_(std::string(added ? "キャプチャアイテム作成 " : "キャプチャアイテム変更 ") + item.port + " " +
         Utf8FromWide(FormColumnText(item)) + " バッファ:" + SizeText(item) + "Byte");
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
    const int row = SelectedRow();
    const CaptureItem* item = ItemAt(row);
    if (item == nullptr) {
        return false;
    }
    const std::string port = item->port;
    DeleteRow(row);
    rows_.Remove(item);
    log_("キャプチャアイテム削除 " + port);
    SaveChangedItems();
    return true;
}

int CComListView::SelectedRow() const
{
    return static_cast<int>(SendMessageW(List(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
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
    ScreenToClient(List(), &hit.pt);
    int row = static_cast<int>(SendMessageW(List(), LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
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
