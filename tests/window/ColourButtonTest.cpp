// The colour button draws its face, and a bevel of the face's light and dark
// shades that changes sides while the button is held down.
#include "Color.h"
#include "ColourButton.h"
#include "ControlFrame.h"
#include "WindowPicture.h"

#include <gtest/gtest.h>

namespace {

const UINT kButtonId = 1018;
const COLORREF kFace = 0xFFC0C0;
const int kWidth = 120;
const int kHeight = 40;

struct ButtonColours {
    COLORREF topLeft;
    COLORREF bottomRight;
    COLORREF centre;
};

// As the screen shows the button now.
ButtonColours Shown(HWND frame, HWND button)
{
    const WindowPicture picture = TakeWindowPicture(frame);
    const POINT origin = ClientOriginInWindow(button, frame);
    return {picture.ColorAt(origin.x + 1, origin.y + 1), picture.ColorAt(origin.x + kWidth - 2, origin.y + kHeight - 2),
            picture.ColorAt(origin.x + kWidth / 2, origin.y + kHeight / 2)};
}

}  // namespace

TEST(ColourButton, BevelIsLightTopLeftAndDarkBottomRightSwappedWhilePressed)
{
    ControlFrame frame;
    ASSERT_TRUE(frame.Create());
    // No caption: the centre shows the face.
    HWND child =
        CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 20, 20, kWidth, kHeight,
                        frame.Handle(), reinterpret_cast<HMENU>(static_cast<UINT_PTR>(kButtonId)), nullptr, nullptr);
    ColourButton button;
    frame.button = &button;
    ASSERT_TRUE(button.Create(kButtonId, frame.Handle(), kFace, ContrastCaption(kFace)));
    UpdateWindow(frame.Handle());

    const ButtonColours up = Shown(frame.Handle(), child);
    EXPECT_EQ(Lighten(kFace), up.topLeft);
    EXPECT_EQ(DarkShade(kFace), up.bottomRight);
    EXPECT_EQ(kFace, up.centre);

    SendMessageW(child, BM_SETSTATE, TRUE, 0);
    UpdateWindow(child);
    const ButtonColours down = Shown(frame.Handle(), child);
    EXPECT_EQ(DarkShade(kFace), down.topLeft);
    EXPECT_EQ(Lighten(kFace), down.bottomRight);
    EXPECT_EQ(kFace, down.centre);

    // -1 keeps the caption colour; the new face shows at once.
    button.SetColours(0x004080, CLR_INVALID, true);
    EXPECT_EQ(ContrastCaption(kFace), button.Caption());
    EXPECT_EQ(0x004080u, Shown(frame.Handle(), child).centre);
}
