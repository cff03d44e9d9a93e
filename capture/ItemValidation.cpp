#include "ItemValidation.h"

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

SizeCheck CheckBufferSizeText(const char* text, uint32_t* size)
{
    uint64_t value = 0;
    if (!text || !ReadUnsigned(text, &value))
        return SizeCheck::NotPositiveInteger;
    if (value < BUFFER_SIZE_MIN || value > BUFFER_SIZE_MAX)
        return SizeCheck::OutOfRange;
    *size = static_cast<uint32_t>(value);
    return SizeCheck::Accepted;
}

std::string SizeCheckMessage(SizeCheck check)
{
    switch (check) {
    case SizeCheck::NotPositiveInteger: return "正の整数を入力してください。";
    case SizeCheck::OutOfRange: {
        char message[128];
        snprintf(message, sizeof message, "%u から %u までの整数を入力してください。", BUFFER_SIZE_MIN,
                 BUFFER_SIZE_MAX);
        return message;
    }
    case SizeCheck::Accepted: break;
    }
    return std::string();
}

uint32_t SizeForDialog(uint32_t storedSize)
{
    return storedSize < BUFFER_SIZE_MIN || storedSize > BUFFER_SIZE_MAX ? BUFFER_SIZE_MIN : storedSize;
}
