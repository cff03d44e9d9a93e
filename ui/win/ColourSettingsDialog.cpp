#include "ColourSettingsDialog.h"

#include "Color.h"
#include "DisplaySettings.h"
#include "ResourceText.h"
#include "resource.h"

#include <commdlg.h>

namespace {

constexpr COLORREF kUnusedCustomColour = 0xFFFFFF;

}  // namespace

ColourSettingsDialog::ColourSettingsDialog() : Dialog(IDD_COLOUR_SETTINGS)
{
    customColours_.fill(kUnusedCustomColour);
}

bool ColourSettingsDialog::OnInitDialog()
{
    const MonitorColours colours = ReadColoursForDialog();
    for (size_t i = 0; i < buttons_.size(); ++i) {
        if (!buttons_[i].Create(IDC_COLOR_RECEIVED + i, Handle(), colours[i], ContrastCaption(colours[i]))) {
            return false;
        }
    }
    return true;
}

ColourButton* ColourSettingsDialog::ButtonOf(UINT id)
{
    const UINT index = id - IDC_COLOR_RECEIVED;
    return index < buttons_.size() ? &buttons_[index] : nullptr;
}

void ColourSettingsDialog::OnCommand(UINT id)
{
    if (ColourButton* button = ButtonOf(id)) {
        ChooseColour(*button);
    } else if (id == IDOK) {
        Save();
    } else {
        Dialog::OnCommand(id);
    }
}

bool ColourSettingsDialog::OnDrawItem(const DRAWITEMSTRUCT& item)
{
    const ColourButton* button = ButtonOf(item.CtlID);
    if (button == nullptr) {
        return false;
    }
    button->Draw(item);
    return true;
}

void ColourSettingsDialog::ChooseColour(ColourButton& button)
{
    CHOOSECOLORW chooser = {};
    chooser.lStructSize = sizeof chooser;
    chooser.hwndOwner = Handle();
    chooser.rgbResult = button.Face();
    chooser.lpCustColors = customColours_.data();
    chooser.Flags = CC_FULLOPEN | CC_RGBINIT;
    if (ChooseColorW(&chooser) && chooser.rgbResult != button.Face()) {
        button.SetColours(chooser.rgbResult, ContrastCaption(chooser.rgbResult), true);
    }
}

// A file that cannot be written keeps the dialog open, so that nothing
// claims a change that was not stored.
void ColourSettingsDialog::Save()
{
    MonitorColours colours{};
    for (size_t i = 0; i < buttons_.size(); ++i) {
        colours[i] = buttons_[i].Face();
    }
    if (WriteColours(colours)) {
        End(IDOK);
    } else {
        ShowResourceMessage(Handle(), IDS_SETTINGS_NOT_SAVED, IDS_APP_TITLE, MB_OK | MB_ICONEXCLAMATION);
    }
}
