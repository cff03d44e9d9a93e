// The system's colour chooser, as the colour dialogs open it.
#pragma once

#include <windows.h>

#include <array>
#include <optional>

using CustomColours = std::array<COLORREF, 16>;

// Opens fully expanded, with the custom colours, starting from `current`.
// The chosen colour, or none when the user cancelled.
std::optional<COLORREF> ChooseColour(HWND owner, COLORREF current, CustomColours& custom);
