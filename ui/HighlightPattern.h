// The pattern of a highlight condition as the user types it: hexadecimal
// digits (Binary) or text (Ascii), the text in the Japanese code page (cp932).
#pragma once

#include "HighlightCondition.h"

#include <cstddef>
#include <string>
#include <string_view>

// Longest pattern text, in cp932 bytes: 129 Binary bytes as 258 digits, or
// 258 Ascii bytes, which keeps room in the 260-byte pattern.
constexpr size_t PATTERN_TEXT_LIMIT = 258;

// Bytes of text that fit the limit without splitting a two-byte character.
size_t PatternTextFit(std::string_view text);

enum class PatternRefusal {
    None,
    Empty,
    NotHexadecimal,  // a Binary text with a character that is no hexadecimal digit
};

struct PatternEntry {
    PatternRefusal refusal = PatternRefusal::None;
    // Pattern, length and kind; the caller adds target and colour.
    HighlightCondition condition{};
    // The row text: as typed, with the "0" that completes an odd Binary text.
    std::string displayText;
};

// The text is cut to the limit first, as the pattern box holds no more.
PatternEntry ReadPattern(std::string_view text, HighlightKind kind);

// The row text of a stored condition: Binary bytes as upper-case digit
// pairs, Ascii bytes as text.
std::string ConditionText(const HighlightCondition& condition);
