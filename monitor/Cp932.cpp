#include "Cp932.h"

#include <algorithm>
#include <iterator>

namespace {

struct CodeRange {
    uint16_t first;
    uint16_t last;
    Cp932Class type;
};

// Assigned two-byte code points by class, ascending; trail byte validity is
// checked before the lookup, so a range may span a row's invalid trails.
// Left out on purpose: the ideographic space 0x8140 and the full-width
// digits 0x824F-0x8258, which the Windows character-type query marks
// neither as letters nor as symbols; the user-defined rows 0xF040-0xF9FC.
constexpr CodeRange kRanges[] = {
    {0x8141, 0x8151, Cp932Class::Symbol}, {0x8152, 0x8155, Cp932Class::Letter},  // kana iteration marks
    {0x8156, 0x8156, Cp932Class::Symbol}, {0x8157, 0x815B, Cp932Class::Letter},  // kanji marks, prolonged sound mark
    {0x815C, 0x81AC, Cp932Class::Symbol}, {0x81B8, 0x81BF, Cp932Class::Symbol}, {0x81C8, 0x81CE, Cp932Class::Symbol},
    {0x81DA, 0x81E8, Cp932Class::Symbol}, {0x81F0, 0x81F7, Cp932Class::Symbol}, {0x81FC, 0x81FC, Cp932Class::Symbol},
    {0x8260, 0x8279, Cp932Class::Letter},                                        // Latin capitals
    {0x8281, 0x829A, Cp932Class::Letter},                                        // Latin small letters
    {0x829F, 0x82F1, Cp932Class::Letter},                                        // hiragana
    {0x8340, 0x8396, Cp932Class::Letter},                                        // katakana
    {0x839F, 0x83B6, Cp932Class::Letter},                                        // Greek
    {0x83BF, 0x83D6, Cp932Class::Letter}, {0x8440, 0x8460, Cp932Class::Letter},  // Cyrillic
    {0x8470, 0x8491, Cp932Class::Letter}, {0x849F, 0x84BE, Cp932Class::Symbol},  // box drawing
    {0x8740, 0x875D, Cp932Class::Symbol},                                        // circled and Roman numerals
    {0x875F, 0x8775, Cp932Class::Symbol}, {0x877E, 0x877E, Cp932Class::Symbol}, {0x8780, 0x879C, Cp932Class::Symbol},
    {0x889F, 0x9872, Cp932Class::Letter},  // kanji, level 1
    {0x989F, 0xEAA4, Cp932Class::Letter},  // kanji, level 2
    {0xED40, 0xEEEC, Cp932Class::Letter},  // extension kanji
    {0xEEEF, 0xEEFC, Cp932Class::Symbol}, {0xFA40, 0xFA5B, Cp932Class::Symbol}, {0xFA5C, 0xFC4B, Cp932Class::Letter},
};

}  // namespace

bool Cp932IsLeadByte(uint8_t byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

bool Cp932IsTrailByte(uint8_t byte)
{
    return (byte >= 0x40 && byte <= 0x7E) || (byte >= 0x80 && byte <= 0xFC);
}

Cp932Class Cp932Classify(uint8_t lead, uint8_t trail)
{
    if (!Cp932IsLeadByte(lead) || !Cp932IsTrailByte(trail))
        return Cp932Class::None;
    const uint16_t code = static_cast<uint16_t>(lead << 8 | trail);
    const auto* range = std::upper_bound(std::begin(kRanges), std::end(kRanges), code,
                                         [](uint16_t c, const CodeRange& r) { return c < r.first; });
    if (range == std::begin(kRanges))
        return Cp932Class::None;
    --range;
    return code <= range->last ? range->type : Cp932Class::None;
}

bool Cp932IsDisplayablePair(uint8_t lead, uint8_t trail)
{
    return Cp932Classify(lead, trail) != Cp932Class::None;
}
