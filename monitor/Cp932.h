// Classification of two-byte characters of the Japanese code page (cp932),
// without asking the operating system, so that captured bytes are shown the
// same way whatever the system locale.
#pragma once

#include <cstdint>

enum class Cp932Class : uint8_t {
    None,    // not a character drawn as one glyph: unassigned, digits, space
    Letter,  // kanji, kana, full-width Latin, Greek and Cyrillic letters
    Symbol,  // full-width punctuation, signs, box drawing, circled numbers
};

bool Cp932IsLeadByte(uint8_t byte);
bool Cp932IsTrailByte(uint8_t byte);
Cp932Class Cp932Classify(uint8_t lead, uint8_t trail);

// Whether lead, trail draw as one two-byte character in the text column.
bool Cp932IsDisplayablePair(uint8_t lead, uint8_t trail);
