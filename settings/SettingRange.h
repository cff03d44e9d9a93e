// The range of an integer setting that a dialog accepts: the check of the
// text typed into its field and the message that refuses it.
#pragma once

#include <stdint.h>

#include <string>

struct SettingRange {
    uint32_t min;
    uint32_t max;

    bool Holds(uint32_t value) const { return value >= min && value <= max; }
    // A stored value outside the range opens the dialog as `fallback`.
    uint32_t ValueOr(uint32_t value, uint32_t fallback) const { return Holds(value) ? value : fallback; }
};

enum class RangeCheck { Accepted, NotInteger, OutOfRange };

// Digits only, with surrounding blanks; on acceptance stores the value.
RangeCheck CheckRangeText(const char* text, SettingRange range, uint32_t* value);

// The message (UTF-8) for a refused text, empty when accepted: `notInteger`
// for a text that is no integer, else the range with its bounds.
std::string RefusalMessage(RangeCheck check, SettingRange range, const char* notInteger);
