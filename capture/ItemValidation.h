// The capture buffer size that the item dialog accepts.
#pragma once

#include "SettingRange.h"

#include <stdint.h>

#include <string>

constexpr SettingRange BUFFER_SIZE_RANGE = {10000, 10000000};

// The message (UTF-8) shown for a refused size text; empty when accepted.
std::string SizeCheckMessage(RangeCheck check);

// A stored size outside the accepted range opens the dialog as the minimum.
uint32_t SizeForDialog(uint32_t storedSize);
