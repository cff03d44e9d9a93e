#include "Color.h"

#include <algorithm>

namespace {

constexpr int kRedShift = 0;
constexpr int kGreenShift = 8;
constexpr int kBlueShift = 16;
// Up to this sum of red, green and blue a face counts as dark.
constexpr int kDarkFaceSum = 500;
constexpr Color kWhite = 0xFFFFFF;
constexpr Color kNearBlack = 0x010101;

int Component(Color color, int shift)
{
    return static_cast<int>((color >> shift) & 0xFF);
}

Color FromComponents(int red, int green, int blue)
{
    return static_cast<Color>(red << kRedShift | green << kGreenShift | blue << kBlueShift);
}

}  // namespace

Color Lighten(Color color)
{
    const int red = Component(color, kRedShift);
    const int green = Component(color, kGreenShift);
    const int blue = Component(color, kBlueShift);
    const int largest = std::max({red, green, blue});
    const int step = largest < 4 ? 1 : largest / 4;
    return FromComponents(std::min(red + step, 255), std::min(green + step, 255), std::min(blue + step, 255));
}

Color DarkShade(Color color)
{
    return FromComponents(Component(color, kRedShift) / 2, Component(color, kGreenShift) / 2,
                          Component(color, kBlueShift) / 2);
}

Color ContrastCaption(Color face)
{
    const int sum = Component(face, kRedShift) + Component(face, kGreenShift) + Component(face, kBlueShift);
    return sum <= kDarkFaceSum ? kWhite : kNearBlack;
}
