#include "ColourSettingsDialog.h"

#include "Color.h"
#include "DisplaySettings.h"
#include "ResourceText.h"
#include "resource.h"

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
        ChooseButtonColour(*button);
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

void ColourSettingsDialog::ChooseButtonColour(ColourButton& button)
{
    const std::optional<COLORREF> chosen = ChooseColour(Handle(), button.Face(), customColours_);
    if (chosen && *chosen != button.Face()) {
        button.SetColours(*chosen, ContrastCaption(*chosen), true);
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
