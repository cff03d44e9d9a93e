#include "SystemRoutines.h"

PVOID FindSystemRoutine(PCWSTR name)
{
#ifdef VANTREL_SYSTEM_ROUTINE_LOOKUP
    UNICODE_STRING text;
    RtlInitUnicodeString(&text, name);
    return MmGetSystemRoutineAddress(&text);
#else
    (void)name;
    return nullptr;
#endif
}
