// Dialog 136: the eight monitor colours Color1..Color8, one colour button
// each. A button opens the system's colour chooser; OK stores all eight.
#pragma once

#include "ColourButton.h"
#include "ColourChooser.h"
#include "Dialog.h"
#include "SystemSettings.h"

#include <array>

class ColourSettingsDialog : public Dialog {
public:
    ColourSettingsDialog();

protected:
    bool OnInitDialog() override;
    void OnCommand(UINT id) override;
    bool OnDrawItem(const DRAWITEMSTRUCT& item) override;

private:
    ColourButton* ButtonOf(UINT id);
    void ChooseButtonColour(ColourButton& button);
    void Save();

    std::array<ColourButton, SYSTEM_COLOR_COUNT> buttons_;
    // The chooser's custom colours, kept while the dialog is open.
    CustomColours customColours_;
};
