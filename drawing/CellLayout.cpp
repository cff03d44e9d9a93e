#include "CellLayout.h"

#include <algorithm>
#include <iterator>
#include <vector>

namespace {

constexpr std::u16string_view kEllipsis = u"...";
// Space kept free on either side of a text.
constexpr int kMargin = 2;

bool IsLeadSurrogate(char16_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsTrailSurrogate(char16_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Where each character of the text ends; a surrogate pair is one character.
std::vector<size_t> CharacterEnds(std::u16string_view text)
{
    std::vector<size_t> ends;
    for (size_t at = 0; at < text.size();) {
        const bool pair = IsLeadSurrogate(text[at]) && at + 1 < text.size() && IsTrailSurrogate(text[at + 1]);
        at += pair ? 2 : 1;
        ends.push_back(at);
    }
    return ends;
}

int AlignedX(int cellWidth, int textWidth, CellAlign align)
{
    switch (align) {
    case CellAlign::Right: return cellWidth - kMargin - textWidth;
    case CellAlign::Centre: return (cellWidth - textWidth - 2 * kMargin) / 2 + kMargin;
    case CellAlign::Left: break;
    }
    return kMargin;
}

// The longest leading part, of one character at least, that leaves room for
// "..." inside the margins. Widths grow with the part, so a binary search
// over the character ends finds it.
std::u16string Shortened(int cellWidth, std::u16string_view text, const TextWidth& width)
{
    const int room = cellWidth - 2 * kMargin - width(kEllipsis);
    const std::vector<size_t> ends = CharacterEnds(text);
    const auto firstTooWide =
        std::partition_point(ends.begin(), ends.end(), [&](size_t end) { return width(text.substr(0, end)) < room; });
    const size_t kept = firstTooWide == ends.begin() ? ends.front() : *std::prev(firstTooWide);
    return std::u16string(text.substr(0, kept)) + std::u16string(kEllipsis);
}

}  // namespace

CellText LayOutCell(int cellWidth, CellAlign align, std::u16string_view text, const TextWidth& width)
{
    const int textWidth = width(text);
    if (textWidth + 2 * kMargin < cellWidth) {
        return {std::u16string(text), AlignedX(cellWidth, textWidth, align)};
    }
    if (text.empty() || cellWidth < width(kEllipsis)) {
        return {std::u16string(text), kMargin};
    }
    return {Shortened(cellWidth, text, width), kMargin};
}
