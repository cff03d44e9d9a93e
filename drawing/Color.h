// Windows colour values and the shades a control derives from its colour.
#pragma once

#include <cstdint>

// Windows colour value 0x00BBGGRR (red in the lowest byte).
using Color = uint32_t;

// The light edge of a bevel: every component raised by a quarter of the
// largest one (at least 1), limited to 255.
Color Lighten(Color color);
// The dark edge of a bevel: every component halved.
Color DarkShade(Color color);
// A caption colour that reads on `face`: white on dark faces, near black on
// light ones.
Color ContrastCaption(Color face);
