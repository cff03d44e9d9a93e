#include "ColourChooser.h"

#include <commdlg.h>

std::optional<COLORREF> ChooseColour(HWND owner, COLORREF current, CustomColours& custom)
{
    CHOOSECOLORW chooser = {};
    chooser.lStructSize = sizeof chooser;
    chooser.hwndOwner = owner;
    chooser.rgbResult = current;
    chooser.lpCustColors = custom.data();
    chooser.Flags = CC_FULLOPEN | CC_RGBINIT;
    if (!ChooseColorW(&chooser))
        return std::nullopt;
    return chooser.rgbResult;
}
