// Drawing steps shared by the controls that paint themselves.
#pragma once

#include <windows.h>

void FillSolid(HDC dc, const RECT& rect, COLORREF color);
