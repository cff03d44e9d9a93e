// The capture buffer size that the item dialog accepts.
#pragma once

#include <stdint.h>

#include <string>

constexpr uint32_t BUFFER_SIZE_MIN = 10000;
constexpr uint32_t BUFFER_SIZE_MAX = 10000000;

enum class SizeCheck { Accepted, NotPositiveInteger, OutOfRange };

// Checks the text of the size field; on acceptance stores the size.
SizeCheck CheckBufferSizeText(const char* text, uint32_t* size);

// The message (UTF-8) shown for a refused size; empty when accepted.
std::string SizeCheckMessage(SizeCheck check);

// A stored size outside the accepted range opens the dialog as the minimum.
uint32_t SizeForDialog(uint32_t storedSize);
