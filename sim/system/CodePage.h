// Conversion between the ANSI code page of the simulated machine (932, as a
// Japanese Windows) and UTF-16, which the registry and the kernel keep.
#pragma once

#include <cstddef>
#include <string>

namespace sim {

// Exactly `length` bytes are converted; a zero byte is converted like any other.
std::u16string AnsiToWide(const char* text, size_t length);
std::u16string AnsiToWide(const std::string& text);
std::string WideToAnsi(const char16_t* text, size_t length);
std::string WideToAnsi(const std::u16string& text);

}  // namespace sim
