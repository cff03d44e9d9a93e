// The highlight conditions of one monitor, in the order they were appended:
// one list node per condition holding its 276-byte block.
#pragma once

#include "HighlightCondition.h"
#include "LockedList.h"

#include <cstdint>
#include <optional>
#include <vector>

// Most conditions a monitor offers to its user.
constexpr uint32_t HIGHLIGHT_CONDITION_LIMIT = 16;

class HighlightConditionList {
public:
    // Condition n, or none past the end.
    std::optional<HighlightCondition> Get(uint32_t n) const;
    // False when memory ran out.
    bool Append(const HighlightCondition& condition);
    void Clear() { list_.Clear(); }
    // The conditions a layout pass matches: those with a possible length, in order.
    std::vector<HighlightCondition> Matchable() const;

private:
    LockedList list_;
};
