#include "CaptureSettingsDialog.h"

#include "CaptureItem.h"
#include "DosDeviceTable.h"
#include "ItemValidation.h"
#include "ResourceText.h"
#include "WideText.h"
#include "resource.h"

#include <commctrl.h>

namespace {

constexpr int kFormCount = PortSignalSelect + 1;
const UDACCEL kSizeAcceleration[] = {{1, 10000}, {3, 50000}};

void AddEntries(HWND combo, const std::vector<std::string>& entries)
{
    for (const std::string& entry : entries) {
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(WideFromUtf8(entry).c_str()));
    }
}

// Entry 0, or the one equal to `wanted` when the list holds it.
void SelectEntry(HWND combo, const std::vector<std::string>& entries, const std::string& wanted)
{
    int selected = 0;
    for (size_t i = 0; i < entries.size() && !wanted.empty(); ++i) {
        if (entries[i] == wanted) {
            selected = static_cast<int>(i);
            break;
        }
    }
    SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

}  // namespace

CaptureSettingsDialog::CaptureSettingsDialog(const CaptureSettingsData& data)
    : Dialog(IDD_CAPTURE_SETTINGS), data_(data)
{
    // The template holds an up-down control, whose class must exist first.
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&controls);
}

bool CaptureSettingsDialog::OnInitDialog()
{
    FillCapturePorts();
    FillOutputForms();
    FillOutputPorts();
    InitBufferSize();
    EnableOutputPortByForm();
    return true;
}

void CaptureSettingsDialog::FillCapturePorts()
{
    DosDeviceTable table(DOS_DEVICE_LISTING_SIZE);
    capturePorts_ = ListCapturePorts(table);
    HWND combo = GetDlgItem(Handle(), IDC_CAPTURE_PORT);
    AddEntries(combo, capturePorts_);
    SelectEntry(combo, capturePorts_, data_.port);
}

void CaptureSettingsDialog::FillOutputForms()
{
    HWND combo = GetDlgItem(Handle(), IDC_OUTPUT_FORM);
    for (int form = 0; form < kFormCount; ++form) {
        SendMessageW(combo, CB_ADDSTRING, 0,
                     reinterpret_cast<LPARAM>(LoadResourceText(OutputFormTextId(form)).c_str()));
    }
    // A stored form beyond the list shows as the last one, as the items list
    // shows it; left unselected, OK would store -1, the "inactive" mark.
    int32_t shown = data_.form >= 0 && data_.form < kFormCount ? data_.form : PortSignalSelect;
    SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(shown), 0);
}

void CaptureSettingsDialog::FillOutputPorts()
{
    outputPorts_ = ListOutputPortOffer(capturePorts_);
    HWND combo = GetDlgItem(Handle(), IDC_OUTPUT_PORT);
    AddEntries(combo, outputPorts_);
    SelectEntry(combo, outputPorts_, data_.outputPort);
}

void CaptureSettingsDialog::InitBufferSize()
{
    data_.size = SizeForDialog(data_.size);
    ShowNumber(IDC_BUFFER_SIZE, IDC_BUFFER_SIZE_SPIN, data_.size, BUFFER_SIZE_RANGE.min, BUFFER_SIZE_RANGE.max);
    SendDlgItemMessageW(Handle(), IDC_BUFFER_SIZE_SPIN, UDM_SETACCEL,
                        sizeof kSizeAcceleration / sizeof kSizeAcceleration[0],
                        reinterpret_cast<LPARAM>(kSizeAcceleration));
}

void CaptureSettingsDialog::EnableOutputPortByForm()
{
    LRESULT form = SendDlgItemMessageW(Handle(), IDC_OUTPUT_FORM, CB_GETCURSEL, 0, 0);
    EnableWindow(GetDlgItem(Handle(), IDC_OUTPUT_PORT), form != StandardMonitor);
}

void CaptureSettingsDialog::OnCommand(UINT id)
{
    switch (id) {
    case IDC_OUTPUT_FORM:
        // Every notification of the form list: only a new selection changes anything.
        EnableOutputPortByForm();
        break;
    case IDOK:
        if (ReadBufferSize()) {
            data_.port = SelectedEntry(IDC_CAPTURE_PORT, capturePorts_);
            data_.form = static_cast<int32_t>(SendDlgItemMessageW(Handle(), IDC_OUTPUT_FORM, CB_GETCURSEL, 0, 0));
            // Taken even while the list is disabled.
            data_.outputPort = SelectedEntry(IDC_OUTPUT_PORT, outputPorts_);
            End(IDOK);
        }
        break;
    default: Dialog::OnCommand(id); break;
    }
}

// A refused size keeps the dialog open with the focus in the size field.
bool CaptureSettingsDialog::ReadBufferSize()
{
    RangeCheck check = CheckRangeText(ControlText(IDC_BUFFER_SIZE).c_str(), BUFFER_SIZE_RANGE, &data_.size);
    if (check != RangeCheck::Accepted) {
        RefuseField(IDC_BUFFER_SIZE, WideFromUtf8(SizeCheckMessage(check)), LoadResourceText(IDS_APP_TITLE));
    }
    return check == RangeCheck::Accepted;
}

std::string CaptureSettingsDialog::SelectedEntry(int control, const std::vector<std::string>& entries) const
{
    LRESULT selected = SendDlgItemMessageW(Handle(), control, CB_GETCURSEL, 0, 0);
    return selected >= 0 && static_cast<size_t>(selected) < entries.size() ? entries[static_cast<size_t>(selected)]
                                                                           : std::string();
}
