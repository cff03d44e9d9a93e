#include "HighlightPattern.h"

#include "Cp932.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>

namespace {

std::optional<uint8_t> HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return static_cast<uint8_t>(c - '0');
    if (c >= 'A' && c <= 'F')
        return static_cast<uint8_t>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f')
        return static_cast<uint8_t>(c - 'a' + 10);
    return std::nullopt;
}

PatternEntry ReadBinary(std::string digits)
{
    PatternEntry entry;
    if (digits.size() % 2 != 0)
        digits += '0';
    for (size_t i = 0; i < digits.size(); i += 2) {
        const std::optional<uint8_t> high = HexDigit(digits[i]);
        const std::optional<uint8_t> low = HexDigit(digits[i + 1]);
        if (!high || !low) {
            entry.refusal = PatternRefusal::NotHexadecimal;
            return entry;
        }
        entry.condition.pattern[i / 2] = static_cast<uint8_t>(*high << 4 | *low);
    }
    entry.condition.length = static_cast<uint32_t>(digits.size() / 2);
    entry.condition.kind = HighlightKind_Binary;
    entry.displayText = std::move(digits);
    return entry;
}

PatternEntry ReadAscii(std::string_view text)
{
    PatternEntry entry;
    std::memcpy(entry.condition.pattern, text.data(), text.size());
    entry.condition.length = static_cast<uint32_t>(text.size());
    entry.condition.kind = HighlightKind_Ascii;
    entry.displayText = std::string(text);
    return entry;
}

}  // namespace

size_t PatternTextFit(std::string_view text)
{
    size_t fit = 0;
    while (fit < text.size()) {
        const size_t width = Cp932IsLeadByte(static_cast<uint8_t>(text[fit])) && fit + 1 < text.size() ? 2 : 1;
        if (fit + width > PATTERN_TEXT_LIMIT)
            break;
        fit += width;
    }
    return fit;
}

PatternEntry ReadPattern(std::string_view text, HighlightKind kind)
{
    text = text.substr(0, PatternTextFit(text));
    if (text.empty()) {
        PatternEntry entry;
        entry.refusal = PatternRefusal::Empty;
        return entry;
    }
    return kind == HighlightKind_Binary ? ReadBinary(std::string(text)) : ReadAscii(text);
}

std::string ConditionText(const HighlightCondition& condition)
{
    const size_t length = std::min<size_t>(condition.length, HIGHLIGHT_PATTERN_SIZE);
    const auto* bytes = reinterpret_cast<const char*>(condition.pattern);
    if (condition.kind != HighlightKind_Binary)
        return std::string(bytes, length);
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", condition.pattern[i]);
        text += pair;
    }
    return text;
}
