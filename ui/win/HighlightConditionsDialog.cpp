#include "HighlightConditionsDialog.h"

#include "HighlightConditionEditor.h"
#include "HighlightPattern.h"
#include "ResourceText.h"
#include "WideText.h"
#include "resource.h"

#include <iterator>

namespace {

constexpr int SWATCH_SIZE = 16;

struct Column {
    UINT heading;
    int width;
};
constexpr Column kColumns[] = {
    {IDS_COLUMN_COLOUR, 28},
    {IDS_COLUMN_TARGET, 40},
    {IDS_COLUMN_KIND, 50},
    {IDS_COLUMN_DATA, 256},
};

std::wstring TargetText(uint32_t target)
{
    switch (target) {
    case HighlightTarget_Both: return LoadResourceText(IDS_TARGET_BOTH);
    case HighlightTarget_Sent: return LoadResourceText(IDS_TARGET_SENT);
    case HighlightTarget_Received: return LoadResourceText(IDS_TARGET_RECEIVED);
    default: return std::wstring();
    }
}

std::wstring KindText(uint32_t kind)
{
    return LoadResourceText(kind == HighlightKind_Binary ? IDS_KIND_BINARY : IDS_KIND_ASCII);
}

void SetCellText(HWND list, int row, int column, const std::wstring& text)
{
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = const_cast<wchar_t*>(text.c_str());
    SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

// The black swatch bitmap with black mapped to the colour: a solid square.
int AddSwatch(HIMAGELIST swatches, COLORREF colour)
{
    COLORMAP black = {RGB(0, 0, 0), colour};
    HBITMAP bitmap = CreateMappedBitmap(GetModuleHandleW(nullptr), IDB_HIGHLIGHT_SWATCH, 0, &black, 1);
    if (bitmap == nullptr)
        return -1;
    const int image = ImageList_Add(swatches, bitmap, nullptr);
    DeleteObject(bitmap);
    return image;
}

}  // namespace

HighlightConditionsDialog::HighlightConditionsDialog(HighlightConditionList& conditions, uint32_t limit)
    : Dialog(IDD_HIGHLIGHT_CONDITIONS), conditions_(conditions), limit_(limit)
{
    // The template holds a list control, whose class must exist first.
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
}

HWND HighlightConditionsDialog::List() const
{
    return GetDlgItem(Handle(), IDC_CONDITION_LIST);
}

bool HighlightConditionsDialog::OnInitDialog()
{
    if (!SetUpList())
        return false;
    for (uint32_t n = 0;; ++n) {
        const std::optional<HighlightCondition> condition = conditions_.Get(n);
        if (!condition)
            break;
        if (!AddRow(Row{*condition, ConditionText(*condition)}))
            return false;
    }
    loaded_ = true;
    return true;
}

bool HighlightConditionsDialog::SetUpList()
{
    HWND list = List();
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    for (int i = 0; i < static_cast<int>(std::size(kColumns)); ++i) {
        const std::wstring heading = LoadResourceText(kColumns[i].heading);
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        column.fmt = LVCFMT_LEFT;
        column.cx = kColumns[i].width;
        column.pszText = const_cast<wchar_t*>(heading.c_str());
        SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column));
    }
    swatches_ = ImageList_Create(SWATCH_SIZE, SWATCH_SIZE, ILC_COLOR24, 0, static_cast<int>(limit_));
    if (swatches_ == nullptr)
        return false;
    SendMessageW(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(swatches_));
    return true;
}

bool HighlightConditionsDialog::AddRow(Row row)
{
    HWND list = List();
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = static_cast<int>(rows_.size());
    item.pszText = const_cast<wchar_t*>(L"");
    item.iImage = AddSwatch(swatches_, row.condition.color);
    const int index = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (index < 0)
        return false;
    SetCellText(list, index, 1, TargetText(row.condition.target));
    SetCellText(list, index, 2, KindText(row.condition.kind));
    SetCellText(list, index, 3, Cp932ToWide(row.text));
    rows_.push_back(std::move(row));
    return true;
}

void HighlightConditionsDialog::AddFromEditor()
{
    if (rows_.size() >= limit_)
        return;
    HighlightConditionEditor editor;
    if (editor.RunModal(Handle()) == IDOK)
        AddRow(Row{editor.Condition(), editor.DisplayText()});
}

void HighlightConditionsDialog::DeleteSelected()
{
    HWND list = List();
    const int selected = static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    if (selected < 0 || static_cast<size_t>(selected) >= rows_.size()) {
        ShowResourceMessage(Handle(), IDS_NO_ITEM_SELECTED, IDS_CONFIRM_CAPTION, MB_OK);
        return;
    }
    if (ShowResourceMessage(Handle(), IDS_DELETE_CONDITION, IDS_DELETE_CAPTION, MB_OKCANCEL) != IDOK)
        return;
    SendMessageW(list, LVM_DELETEITEM, static_cast<WPARAM>(selected), 0);
    rows_.erase(rows_.begin() + selected);
}

void HighlightConditionsDialog::OnCommand(UINT id)
{
    switch (id) {
    case IDC_CONDITION_ADD: AddFromEditor(); break;
    case IDC_CONDITION_DELETE: DeleteSelected(); break;
    default: Dialog::OnCommand(id); break;
    }
}

// A dialog that could not show the monitor's conditions leaves them alone.
void HighlightConditionsDialog::OnDestroy()
{
    if (!loaded_)
        return;
    conditions_.Clear();
    for (const Row& row : rows_)
        conditions_.Append(row.condition);
}
