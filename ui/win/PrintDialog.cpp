#include "PrintDialog.h"

#include "ResourceText.h"
#include "WideText.h"
#include "resource.h"

#include <commctrl.h>
#include <winspool.h>

#include <wchar.h>

namespace {

constexpr uint32_t kFirstEnumerationSize = 84;

// The driver's current settings, or empty when the printer cannot be opened
// or its driver reports no size.
std::vector<unsigned char> CurrentDeviceMode(HWND owner, const std::string& name)
{
    HANDLE printer = nullptr;
    if (!OpenPrinterA(const_cast<char*>(name.c_str()), &printer, nullptr))
        return {};
    std::vector<unsigned char> block;
    char* printerName = const_cast<char*>(name.c_str());
    const LONG size = DocumentPropertiesA(owner, printer, printerName, nullptr, nullptr, 0);
    if (size > 0) {
        block.assign(static_cast<size_t>(size), 0);
        auto* mode = reinterpret_cast<DEVMODEA*>(block.data());
        if (DocumentPropertiesA(owner, printer, printerName, mode, nullptr, DM_OUT_BUFFER) != IDOK)
            block.clear();
    }
    ClosePrinter(printer);
    return block;
}

// What the left and right margins may take together, or that no margins help.
std::wstring NarrowPageText(const PrinterMetrics& printer, bool softLayout)
{
    const int most = MaxSideMargins(printer, softLayout);
    if (most < 0)
        return LoadResourceText(IDS_PRINT_PAPER_TOO_NARROW);
    wchar_t text[256];
    swprintf(text, 256, LoadResourceText(IDS_PRINT_TOO_NARROW).c_str(), most);
    return text;
}

}  // namespace

PrintDialog::PrintDialog(PrintJob& job) : Dialog(IDD_PRINT), job_(job)
{
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&controls);
}

bool PrintDialog::OnInitDialog()
{
    AddPrinters(PRINTER_ENUM_CONNECTIONS);
    AddPrinters(PRINTER_ENUM_LOCAL);
    SelectDefaultPrinter();
    const bool selection = job_.range == PrintRange::Selection;
    CheckDlgButton(Handle(), selection ? IDC_PRINT_SELECTION : IDC_PRINT_ALL, BST_CHECKED);
    EnableWindow(GetDlgItem(Handle(), IDC_PRINT_SELECTION), job_.range != PrintRange::AllWithoutSelection);
    CheckDlgButton(Handle(), IDC_SOFT_LAYOUT, job_.softLayout ? BST_CHECKED : BST_UNCHECKED);
    ShowNumber(IDC_MARGIN_TOP, IDC_MARGIN_TOP_SPIN, job_.margins.top, MARGIN_RANGE.min, MARGIN_RANGE.max);
    ShowNumber(IDC_MARGIN_BOTTOM, IDC_MARGIN_BOTTOM_SPIN, job_.margins.bottom, MARGIN_RANGE.min, MARGIN_RANGE.max);
    ShowNumber(IDC_MARGIN_LEFT, IDC_MARGIN_LEFT_SPIN, job_.margins.left, MARGIN_RANGE.min, MARGIN_RANGE.max);
    ShowNumber(IDC_MARGIN_RIGHT, IDC_MARGIN_RIGHT_SPIN, job_.margins.right, MARGIN_RANGE.min, MARGIN_RANGE.max);
    EnableWindow(GetDlgItem(Handle(), IDOK), !printers_.empty());
    return true;
}

void PrintDialog::AddPrinters(DWORD kind)
{
    DWORD count = 0;
    auto listed = EnumerateWithGrowingBuffer(
        [&](unsigned char* buffer, uint32_t size, uint32_t* needed) {
            DWORD bytes = 0;
            const BOOL done = EnumPrintersA(kind, nullptr, 2, buffer, size, &bytes, &count);
            *needed = bytes;
            return done != FALSE;
        },
        kFirstEnumerationSize);
    if (!listed)
        return;
    const auto* info = reinterpret_cast<const PRINTER_INFO_2A*>(listed->data());
    for (DWORD i = 0; i < count; ++i) {
        if (info[i].pPrinterName == nullptr)
            continue;
        printers_.push_back(PrinterEntry{info[i].pPrinterName, CurrentDeviceMode(Handle(), info[i].pPrinterName)});
        SendDlgItemMessageA(Handle(), IDC_PRINTER, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(info[i].pPrinterName));
    }
}

// Without a default among the listed printers the first one is chosen, so
// that OK always has a printer.
void PrintDialog::SelectDefaultPrinter()
{
    if (printers_.empty())
        return;
    char name[MAX_PATH] = {};
    DWORD size = sizeof name;
    LRESULT index = CB_ERR;
    if (GetDefaultPrinterA(name, &size))
        index = SendDlgItemMessageA(Handle(), IDC_PRINTER, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                    reinterpret_cast<LPARAM>(name));
    SendDlgItemMessageA(Handle(), IDC_PRINTER, CB_SETCURSEL, index == CB_ERR ? 0 : index, 0);
}

int PrintDialog::SelectedPrinter() const
{
    const LRESULT index = SendDlgItemMessageA(Handle(), IDC_PRINTER, CB_GETCURSEL, 0, 0);
    return index >= 0 && static_cast<size_t>(index) < printers_.size() ? static_cast<int>(index) : -1;
}

void PrintDialog::OnCommand(UINT id)
{
    switch (id) {
    case IDC_PRINTER_SETTINGS: ShowPrinterSettings(); break;
    case IDOK: Accept(); break;
    default: Dialog::OnCommand(id); break;
    }
}

void PrintDialog::ShowPrinterSettings()
{
    const int index = SelectedPrinter();
    if (index < 0) {
        ShowResourceMessage(Handle(), IDS_NO_PRINTER, IDS_CONFIRM_CAPTION, MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    PrinterEntry& entry = printers_[index];
    if (entry.deviceMode.empty())
        entry.deviceMode = CurrentDeviceMode(Handle(), entry.name);
    HANDLE printer = nullptr;
    if (entry.deviceMode.empty() || !OpenPrinterA(const_cast<char*>(entry.name.c_str()), &printer, nullptr))
        return;
    auto* mode = reinterpret_cast<DEVMODEA*>(entry.deviceMode.data());
    DocumentPropertiesA(Handle(), printer, const_cast<char*>(entry.name.c_str()), mode, mode,
                        DM_IN_BUFFER | DM_IN_PROMPT | DM_OUT_BUFFER);
    ClosePrinter(printer);
}

bool PrintDialog::ReadMargin(int edit, uint32_t* value)
{
    const RangeCheck check = CheckRangeText(ControlText(edit).c_str(), MARGIN_RANGE, value);
    if (check != RangeCheck::Accepted)
        RefuseField(edit, WideFromUtf8(MarginRefusal(check)), LoadResourceText(IDS_PRINT_CAPTION));
    return check == RangeCheck::Accepted;
}

// A page too narrow would print the lines as an unreadable strip, and one
// that holds no line would print blank pages until cancelled.
bool PrintDialog::RefuseLayout(const PrinterMetrics& printer, const PrintMargins& margins, bool softLayout) const
{
    const std::wstring caption = LoadResourceText(IDS_PRINT_CAPTION);
    switch (CheckPageLayout(printer, margins, softLayout)) {
    case PageRefusal::None: return false;
    case PageRefusal::TooNarrow:
        RefuseField(IDC_MARGIN_LEFT, NarrowPageText(printer, softLayout), caption);
        return true;
    default: RefuseField(IDC_MARGIN_TOP, LoadResourceText(IDS_PRINT_NO_ROOM), caption); return true;
    }
}

void PrintDialog::Accept()
{
    PrintMargins margins{};
    if (!ReadMargin(IDC_MARGIN_TOP, &margins.top) || !ReadMargin(IDC_MARGIN_BOTTOM, &margins.bottom) ||
        !ReadMargin(IDC_MARGIN_LEFT, &margins.left) || !ReadMargin(IDC_MARGIN_RIGHT, &margins.right))
        return;
    const int index = SelectedPrinter();
    if (index < 0) {
        ShowResourceMessage(Handle(), IDS_NO_PRINTER, IDS_CONFIRM_CAPTION, MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    PrintJob chosen;
    chosen.printer = printers_[index].name;
    chosen.deviceMode = printers_[index].deviceMode;
    chosen.margins = margins;
    chosen.softLayout = IsDlgButtonChecked(Handle(), IDC_SOFT_LAYOUT) == BST_CHECKED;
    chosen.range = IsDlgButtonChecked(Handle(), IDC_PRINT_ALL) == BST_CHECKED ? PrintRange::All : PrintRange::Selection;
    const auto metrics = QueryPrinterMetrics(chosen);
    if (metrics && RefuseLayout(*metrics, margins, chosen.softLayout))
        return;
    job_ = std::move(chosen);
    End(IDOK);
}
