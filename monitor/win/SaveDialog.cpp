#include "SaveDialog.h"

#include "ResourceText.h"
#include "resource.h"

#include <commdlg.h>

namespace {

constexpr DWORD kCsvFilterIndex = 2;

struct RangeChoice {
    bool hasSelection;
    bool selectionOnly;
};

const wchar_t* ExtensionFor(DWORD filterIndex)
{
    return filterIndex == kCsvFilterIndex ? L"csv" : L"txt";
}

UINT_PTR CALLBACK RangePartProc(HWND part, UINT message, WPARAM, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* choice = reinterpret_cast<RangeChoice*>(reinterpret_cast<OPENFILENAMEW*>(lParam)->lCustData);
        SetWindowLongPtrW(part, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(choice));
        CheckRadioButton(part, IDC_SAVE_ALL, IDC_SAVE_SELECTION, IDC_SAVE_ALL);
        EnableWindow(GetDlgItem(part, IDC_SAVE_SELECTION), choice->hasSelection);
        return TRUE;
    }
    if (message != WM_NOTIFY)
        return 0;
    const auto* notice = reinterpret_cast<const OFNOTIFYW*>(lParam);
    auto* choice = reinterpret_cast<RangeChoice*>(GetWindowLongPtrW(part, GWLP_USERDATA));
    if (notice->hdr.code == CDN_FILEOK && choice != nullptr)
        choice->selectionOnly = IsDlgButtonChecked(part, IDC_SAVE_SELECTION) == BST_CHECKED;
    else if (notice->hdr.code == CDN_TYPECHANGE)
        SendMessageW(GetParent(part), CDM_SETDEFEXT, 0,
                     reinterpret_cast<LPARAM>(ExtensionFor(notice->lpOFN->nFilterIndex)));
    return 0;
}

// The string table keeps the pairs ended by "|"; the dialog wants them ended by NUL.
std::wstring FileTypes()
{
    std::wstring types = LoadResourceText(IDS_SAVE_FILE_TYPES);
    for (wchar_t& c : types) {
        if (c == L'|')
            c = L'\0';
    }
    return types + L'\0';
}

}  // namespace

std::optional<SaveTarget> AskSaveTarget(HWND owner, bool hasSelection)
{
    const std::wstring types = FileTypes();
    const std::wstring caption = LoadResourceText(IDS_SAVE_CAPTION);
    wchar_t path[MAX_PATH] = {};
    RangeChoice choice{hasSelection, false};
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.hInstance = GetModuleHandleW(nullptr);
    dialog.lpstrFilter = types.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = path;
    dialog.nMaxFile = MAX_PATH;
    dialog.lpstrTitle = caption.c_str();
    dialog.lpstrDefExt = ExtensionFor(1);
    dialog.Flags = OFN_EXPLORER | OFN_ENABLEHOOK | OFN_ENABLETEMPLATE | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST |
                   OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    dialog.lpfnHook = RangePartProc;
    dialog.lpTemplateName = MAKEINTRESOURCEW(IDD_SAVE_RANGE);
    dialog.lCustData = reinterpret_cast<LPARAM>(&choice);
    if (!GetSaveFileNameW(&dialog))
        return std::nullopt;
    const ExportFormat format = dialog.nFilterIndex == kCsvFilterIndex ? ExportFormat::Csv : ExportFormat::Text;
    return SaveTarget{path, format, choice.selectionOnly};
}
