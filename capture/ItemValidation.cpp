#include "ItemValidation.h"

std::string SizeCheckMessage(RangeCheck check)
{
    return RefusalMessage(check, BUFFER_SIZE_RANGE, "正の整数を入力してください。");
}

uint32_t SizeForDialog(uint32_t storedSize)
{
    return BUFFER_SIZE_RANGE.ValueOr(storedSize, BUFFER_SIZE_RANGE.min);
}
