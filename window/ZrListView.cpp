#include "ZrListView.h"

#include "CellLayout.h"
#include "GdiPaint.h"

#include <commctrl.h>

#include <algorithm>
#include <string_view>
#include <unordered_map>

namespace {

const wchar_t kViewClass[] = L"VantrelListView";
// Longer texts are drawn and sorted by their beginning.
constexpr int kMaxCellText = 512;
constexpr COLORREF kText = 0x000000;
constexpr COLORREF kBackground = 0xFFFFFF;
constexpr COLORREF kSelectedText = 0xFFFFFF;
constexpr COLORREF kSelectedBackground = 0x800000;
// Distance of the row image below the row's top.
constexpr int kImageTop = 1;

// One sort of the rows: the sorted column's text of each row by its record,
// the direction, and how often a comparison found the first text greater.
struct SortPass {
    std::unordered_map<LPARAM, std::wstring> texts;
    bool descending = false;
    int foundGreater = 0;
};

wchar_t Folded(wchar_t c)
{
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

// Letters A to Z equal a to z; everything else compares by code unit.
int CompareCaseless(const std::wstring& first, const std::wstring& second)
{
    const auto differ = std::mismatch(first.begin(), first.end(), second.begin(), second.end(),
                                      [](wchar_t a, wchar_t b) { return Folded(a) == Folded(b); });
    if (differ.first == first.end()) {
        return differ.second == second.end() ? 0 : -1;
    }
    if (differ.second == second.end()) {
        return 1;
    }
    return Folded(*differ.first) < Folded(*differ.second) ? -1 : 1;
}

int CALLBACK CompareRows(LPARAM first, LPARAM second, LPARAM passParam)
{
    auto& pass = *reinterpret_cast<SortPass*>(passParam);
    const int order = CompareCaseless(pass.texts[first], pass.texts[second]);
    if (order > 0) {
        ++pass.foundGreater;
    }
    return pass.descending ? -order : order;
}

CellAlign AlignOf(int format)
{
    switch (format & LVCFMT_JUSTIFYMASK) {
    case LVCFMT_RIGHT: return CellAlign::Right;
    case LVCFMT_CENTER: return CellAlign::Centre;
    default: return CellAlign::Left;
    }
}

// wchar_t is UTF-16 on Windows; the layout works on char16_t.
std::u16string Utf16Of(const std::wstring& text)
{
    return std::u16string(text.begin(), text.end());
}

std::wstring WideOf(std::u16string_view text)
{
    return std::wstring(text.begin(), text.end());
}

int TextWidthIn(HDC dc, std::u16string_view text)
{
    const std::wstring wide = WideOf(text);
    SIZE size = {};
    GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
    return size.cx;
}

}  // namespace

CzrListView::~CzrListView()
{
    ReleaseList();
}

bool CzrListView::Create(HWND parent, DWORD listStyle)
{
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    listStyle_ = listStyle;
    return CreateChildWindow(kViewClass, nullptr, parent);
}

bool CzrListView::OnCreate()
{
    const DWORD style = WS_CHILD | WS_VISIBLE | WS_BORDER | LVS_REPORT | LVS_OWNERDRAWFIXED | listStyle_;
    list_ =
        CreateWindowExW(0, WC_LISTVIEWW, L"", style, 0, 0, 0, 0, Handle(), nullptr, GetModuleHandleW(nullptr), nullptr);
    return list_ != nullptr;
}

void CzrListView::OnDestroy()
{
    ReleaseList();
}

// The list would destroy its image lists with it; they are the caller's.
void CzrListView::ReleaseList()
{
    if (list_ == nullptr) {
        return;
    }
    for (WPARAM type : {LVSIL_NORMAL, LVSIL_SMALL, LVSIL_STATE}) {
        SendMessageW(list_, LVM_SETIMAGELIST, type, 0);
    }
    DestroyWindow(list_);
    list_ = nullptr;
    records_.clear();
}

LRESULT CzrListView::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SIZE: MoveWindow(list_, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE); return 0;
    case WM_DRAWITEM:
        if (OnDrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam))) {
            return TRUE;
        }
        break;
    case WM_NOTIFY: {
        const auto& header = *reinterpret_cast<const NMHDR*>(lParam);
        if (header.hwndFrom == list_ && header.code == LVN_COLUMNCLICK) {
            SortByColumn(reinterpret_cast<const NMLISTVIEW*>(lParam)->iSubItem);
            return 0;
        }
        break;
    }
    default: break;
    }
    return Window::HandleMessage(message, wParam, lParam);
}

int CzrListView::InsertColumn(int column, const std::wstring& heading, int format, int width)
{
    LVCOLUMNW info = {};
    info.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    info.fmt = format;
    info.cx = width;
    info.pszText = const_cast<wchar_t*>(heading.c_str());
    info.iSubItem = column;
    return static_cast<int>(
        SendMessageW(list_, LVM_INSERTCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&info)));
}

int CzrListView::InsertRow(int index, const std::wstring& text, int image)
{
    auto record = std::make_unique<RowRecord>();
    record->image = image;
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = index;
    item.pszText = const_cast<wchar_t*>(text.c_str());
    item.lParam = reinterpret_cast<LPARAM>(record.get());
    const int row = static_cast<int>(SendMessageW(list_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (row != -1) {
        records_.push_back(std::move(record));
    }
    return row;
}

bool CzrListView::SetCellText(int row, int column, const std::wstring& text)
{
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = const_cast<wchar_t*>(text.c_str());
    return SendMessageW(list_, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item)) != 0;
}

bool CzrListView::SetRowData(int row, void* data)
{
    RowRecord* record = RecordOf(row);
    if (record == nullptr) {
        return false;
    }
    record->data = data;
    return true;
}

void* CzrListView::GetRowData(int row) const
{
    const RowRecord* record = RecordOf(row);
    return record != nullptr ? record->data : nullptr;
}

bool CzrListView::DeleteRow(int row)
{
    const RowRecord* record = RecordOf(row);
    if (SendMessageW(list_, LVM_DELETEITEM, static_cast<WPARAM>(row), 0) == 0) {
        return false;
    }
    records_.erase(std::remove_if(records_.begin(), records_.end(),
                                  [record](const std::unique_ptr<RowRecord>& kept) { return kept.get() == record; }),
                   records_.end());
    return true;
}

void CzrListView::DeleteAllRows()
{
    SendMessageW(list_, LVM_DELETEALLITEMS, 0, 0);
    records_.clear();
}

void CzrListView::SetExtendedStyle(DWORD exStyle)
{
    SendMessageW(list_, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, exStyle);
    wholeRow_ = exStyle == LVS_EX_FULLROWSELECT;
}

CzrListView::RowRecord* CzrListView::RecordOf(int row) const
{
    LVITEMW item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    if (SendMessageW(list_, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)) == 0) {
        return nullptr;
    }
    return reinterpret_cast<RowRecord*>(item.lParam);
}

std::wstring CzrListView::TextAt(int row, int column) const
{
    wchar_t buffer[kMaxCellText + 1] = {};
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = buffer;
    item.cchTextMax = kMaxCellText + 1;
    const LRESULT length =
        SendMessageW(list_, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return std::wstring(item.pszText, static_cast<size_t>(length));
}

int CzrListView::RowCount() const
{
    return static_cast<int>(SendMessageW(list_, LVM_GETITEMCOUNT, 0, 0));
}

void CzrListView::SelectRow(int row)
{
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(list_, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    SendMessageW(list_, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
}

// Ascending; when no comparison found a pair out of order the rows were
// ascending already, and the second pass turns them round.
void CzrListView::SortByColumn(int column)
{
    SortPass pass;
    for (int row = 0; row < RowCount(); ++row) {
        pass.texts[reinterpret_cast<LPARAM>(RecordOf(row))] = TextAt(row, column);
    }
    const auto sort = [&] {
        SendMessageW(list_, LVM_SORTITEMS, reinterpret_cast<WPARAM>(&pass), reinterpret_cast<LPARAM>(&CompareRows));
    };
    sort();
    if (pass.foundGreater == 0) {
        pass.descending = true;
        sort();
    }
}

bool CzrListView::OnDrawItem(const DRAWITEMSTRUCT& item) const
{
    if (item.CtlType != ODT_LISTVIEW || item.hwndItem != list_) {
        return false;
    }
    UINT state = item.itemState;
    // Wine reports a focus change without the row's selection.
    if (item.itemAction == ODA_FOCUS && SendMessageW(list_, LVM_GETITEMSTATE, item.itemID, LVIS_SELECTED) != 0) {
        state |= ODS_SELECTED;
    }
    DrawRow(item.hDC, static_cast<int>(item.itemID), state, item.rcItem);
    return true;
}

HIMAGELIST CzrListView::RowImages(const RowRecord* record) const
{
    if (record == nullptr || record->image == -1) {
        return nullptr;
    }
    auto images = reinterpret_cast<HIMAGELIST>(SendMessageW(list_, LVM_GETIMAGELIST, LVSIL_SMALL, 0));
    return images != nullptr && ImageList_GetImageCount(images) > 0 ? images : nullptr;
}

void CzrListView::DrawRow(HDC dc, int row, UINT state, const RECT& rect) const
{
    const RowRecord* record = RecordOf(row);
    HIMAGELIST images = RowImages(record);
    int imageWidth = 0;
    int imageHeight = 0;
    if (images != nullptr) {
        ImageList_GetIconSize(images, &imageWidth, &imageHeight);
    }
    const int oldMode = SetBkMode(dc, TRANSPARENT);
    DrawCells(dc, row, rect, imageWidth, (state & ODS_SELECTED) != 0);
    if (images != nullptr) {
        ImageList_Draw(images, record->image, dc, rect.left, rect.top + kImageTop, ILD_TRANSPARENT);
    }
    if ((state & ODS_FOCUS) != 0) {
        RECT focus = rect;
        if (!wholeRow_) {
            focus.right = rect.left + static_cast<int>(SendMessageW(list_, LVM_GETCOLUMNWIDTH, 0, 0));
        }
        DrawFocusRect(dc, &focus);
    }
    SetBkMode(dc, oldMode);
}

void CzrListView::DrawCells(HDC dc, int row, const RECT& rect, int imageWidth, bool selected) const
{
    LVCOLUMNW column = {};
    column.mask = LVCF_FMT | LVCF_WIDTH;
    int left = rect.left;
    for (int index = 0; left < rect.right; ++index) {
        if (SendMessageW(list_, LVM_GETCOLUMNW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&column)) == 0) {
            break;
        }
        const RECT cell = {left + (index == 0 ? imageWidth : 0), rect.top, left + column.cx, rect.bottom};
        DrawCell(dc, row, index, cell, column.fmt, selected && (wholeRow_ || index == 0));
        left += column.cx;
    }
}

void CzrListView::DrawCell(HDC dc, int row, int column, const RECT& cell, int format, bool selected) const
{
    const CellText shown = LayOutCell(cell.right - cell.left, AlignOf(format), Utf16Of(TextAt(row, column)),
                                      [dc](std::u16string_view text) { return TextWidthIn(dc, text); });
    const std::wstring text = WideOf(shown.text);
    const int saved = SaveDC(dc);
    IntersectClipRect(dc, cell.left, cell.top, cell.right, cell.bottom);
    FillSolid(dc, cell, selected ? kSelectedBackground : kBackground);
    SetTextColor(dc, selected ? kSelectedText : kText);
    TextOutW(dc, cell.left + shown.x, cell.top, text.c_str(), static_cast<int>(text.size()));
    RestoreDC(dc, saved);
}
