// Name comparison of the simulated Windows: ANSI text in code page 932,
// case folded for single-byte letters only (the second byte of a double-byte
// character is never folded, so different characters never compare equal).
#pragma once

#include <string>

namespace sim {

bool IsCp932LeadByte(unsigned char byte);
int CompareIgnoreCaseAnsi(const std::string& left, const std::string& right);
bool EqualsIgnoreCaseAnsi(const std::string& left, const std::string& right);

}  // namespace sim
