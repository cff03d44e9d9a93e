// One highlight condition of a monitor: a byte pattern, the data direction
// it applies to and its colour. Kept as a 276-byte block in the monitor's
// condition list.
#pragma once

#include "Surface.h"

#include <cstdint>

constexpr uint32_t HIGHLIGHT_PATTERN_SIZE = 260;

enum HighlightTarget : uint32_t {
    HighlightTarget_Sent = 1,
    HighlightTarget_Received = 2,
    HighlightTarget_Both = 3,
};

enum HighlightKind : uint32_t {
    HighlightKind_Ascii = 0,   // entered as text
    HighlightKind_Binary = 1,  // entered as hexadecimal digits
};

struct HighlightCondition {
    uint8_t pattern[HIGHLIGHT_PATTERN_SIZE];  // only the first `length` bytes count
    uint32_t length;
    uint32_t target;  // HighlightTarget bits
    uint32_t kind;    // HighlightKind
    Color color;
};

static_assert(sizeof(HighlightCondition) == 276, "condition block is 276 bytes");
