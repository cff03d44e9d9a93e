// Controls of the system's colour chooser (Windows' colordlg.h).
#pragma once

constexpr int kChooserRed = 706;
constexpr int kChooserGreen = 707;
constexpr int kChooserBlue = 708;
constexpr int kChooserDefineCustom = 719;
