#include "SettingRange.h"

#include <ctype.h>
#include <stdio.h>

namespace {

const char* SkipSpaces(const char* text)
{
    while (isspace(static_cast<unsigned char>(*text)))
        ++text;
    return text;
}

// Digits only, with surrounding blanks; a value beyond 32 bits saturates so
// that it still counts as an integer out of range.
bool ReadUnsigned(const char* text, uint64_t* value)
{
    const char* digit = SkipSpaces(text);
    if (!isdigit(static_cast<unsigned char>(*digit)))
        return false;
    uint64_t number = 0;
    for (; isdigit(static_cast<unsigned char>(*digit)); ++digit) {
        number = number * 10 + static_cast<uint64_t>(*digit - '0');
        if (number > UINT32_MAX)
            number = uint64_t(UINT32_MAX) + 1;
    }
    *value = number;
    return *SkipSpaces(digit) == '\0';
}

}  // namespace

RangeCheck CheckRangeText(const char* text, SettingRange range, uint32_t* value)
{
    uint64_t number = 0;
    if (!text || !ReadUnsigned(text, &number))
        return RangeCheck::NotInteger;
    if (number > UINT32_MAX || !range.Holds(static_cast<uint32_t>(number)))
        return RangeCheck::OutOfRange;
    *value = static_cast<uint32_t>(number);
    return RangeCheck::Accepted;
}

std::string RefusalMessage(RangeCheck check, SettingRange range, const char* notInteger)
{
    switch (check) {
    case RangeCheck::NotInteger: return notInteger;
    case RangeCheck::OutOfRange: {
        char message[128];
        snprintf(message, sizeof message, "%u から %u までの整数を入力してください。", range.min, range.max);
        return message;
    }
    case RangeCheck::Accepted: break;
    }
    return std::string();
}
