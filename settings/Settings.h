// The settings file ".\Vantrel.ini" in the current directory. Every call
// opens, reads or rewrites and closes the file itself: nothing is cached, and
// each component writes its own keys at its own moments.
#pragma once

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

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

// The names of all sections, in file order.
std::vector<std::string> ReadSectionNames();

// The section's "key=value" entries, in file order; empty when it is missing.
std::vector<std::string> ReadSection(const char* section);

// Creates the file and the section when absent; the result says whether the
// write happened. The writes go to the settings file, or to the draft that
// ChangeSettingsAsOne hands out.
bool WriteString(const char* section, const char* key, const char* text, const char* file = SETTINGS_FILE);
bool WriteInt(const char* section, const char* key, int32_t value, const char* file = SETTINGS_FILE);
// The section's keys become the "key=value" entries, in one write.
bool WriteSection(const char* section, const std::vector<std::string>& entries, const char* file = SETTINGS_FILE);

bool DeleteSection(const char* section, const char* file = SETTINGS_FILE);

// Where ChangeSettingsAsOne keeps its draft.
constexpr const char* SETTINGS_DRAFT_FILE = ".\\Vantrel.ini.new";

// Runs `write` on a draft: a copy of the settings file beside it (an empty
// one when there is no settings file). When every write succeeded the draft
// takes the file's place in one step, so that whenever the program ends the
// file holds all of the changes or none. False, with the file as it was and
// the draft deleted, when any step failed or the file is read-only.
bool ChangeSettingsAsOne(const std::function<bool(const char* file)>& write);

// "Data%d", "Tab%d", "Color%d", "Column%d": names made with one number.
std::string NumberedName(const char* prefix, int number);
