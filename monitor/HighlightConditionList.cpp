#include "HighlightConditionList.h"

#include <cstring>

namespace {

bool HasPossibleLength(const HighlightCondition& condition)
{
    return condition.length >= 1 && condition.length <= HIGHLIGHT_PATTERN_SIZE;
}

std::optional<HighlightCondition> ConditionOf(const ListNode* node)
{
    if (node == nullptr || node->data == nullptr || node->length < sizeof(HighlightCondition))
        return std::nullopt;
    HighlightCondition condition;
    std::memcpy(&condition, node->data, sizeof condition);
    return condition;
}

}  // namespace

std::optional<HighlightCondition> HighlightConditionList::Get(uint32_t n) const
{
    if (n > static_cast<uint32_t>(INT32_MAX))
        return std::nullopt;
    return ConditionOf(list_.Nth(static_cast<int32_t>(n)));
}

bool HighlightConditionList::Append(const HighlightCondition& condition)
{
    return list_.AppendCopy(0, sizeof condition, &condition);
}

std::vector<HighlightCondition> HighlightConditionList::Matchable() const
{
    std::vector<HighlightCondition> conditions;
    for (const ListNode* node = list_.Head(); node != nullptr; node = list_.Next(node)) {
        const std::optional<HighlightCondition> condition = ConditionOf(node);
        if (condition && HasPossibleLength(*condition))
            conditions.push_back(*condition);
    }
    return conditions;
}
