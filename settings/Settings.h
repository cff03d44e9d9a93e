// The settings file ".\Vantrel.ini" in the current directory. Every call
// opens, reads or rewrites and closes the file itself: nothing is cached, and
// each component writes its own keys at its own moments.
#pragma once

#include <stdint.h>

#include <string>

constexpr const char* SETTINGS_FILE = ".\\Vantrel.ini";
constexpr const char* SETTINGS_SYSTEM = "System";
// Text keys hold at most 259 characters.
constexpr uint32_t SETTINGS_TEXT_CAPACITY = 260;

// The value's leading decimal digits (negative "%d" text reads back as its
// two's complement), or the default when the file, section or key is absent.
uint32_t ReadInt(const char* section, const char* key, uint32_t defaultValue);

// The value, or the default when absent, cut to capacity - 1 characters.
std::string ReadString(const char* section, const char* key, const char* defaultValue,
                       uint32_t capacity = SETTINGS_TEXT_CAPACITY);

// Creates the file and the section when absent. A failed write is ignored by
// callers; the result says whether it happened.
bool WriteString(const char* section, const char* key, const char* text);
bool WriteInt(const char* section, const char* key, int32_t value);

bool DeleteSection(const char* section);

// "Data%d", "Tab%d", "Color%d", "Column%d": names made with one number.
std::string NumberedName(const char* prefix, int number);
