// A drawing surface for benchmarks of the layout pass: drawing does nothing.
#pragma once

#include "Surface.h"

#include <benchmark/benchmark.h>

#include <string_view>

class NullSurface : public Surface {
public:
    void FillRect(const Rect&, Color) override {}
    void DrawText(int, int, Font, Color, Color, std::string_view text) override
    {
        benchmark::DoNotOptimize(text.data());
    }
    void DrawLine(int, int, int, int, int, Color) override {}
    int TextWidth(Font, std::string_view text) override { return 8 * static_cast<int>(text.size()); }
    void FillGlyphBox(Color) override {}
    void DrawGlyphBoxText(int, int, Color, Color, std::string_view) override {}
    void CopyFromGlyphBox(const Rect&, int, int) override {}
};
