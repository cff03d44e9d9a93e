#include "SystemRoutines.h"

#include "KernelText.h"

#ifdef VANTREL_SYSTEM_ROUTINE_LOOKUP
namespace {

PVOID LookUp(PCWSTR name)
{
    UNICODE_STRING text;
    RtlInitUnicodeString(&text, name);
    return MmGetSystemRoutineAddress(&text);
}

bool SameText(PCWSTR a, PCWSTR b)
{
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

// Wine 8 exports these only as stubs that end the driver's process when
// called. Its kernel is recognised by the loop it exports for its own host.
bool IsWineStub(PCWSTR name)
{
    static const WCHAR* const stubs[] = {
        KTEXT("IoAttachDeviceToDeviceStackSafe"),
        KTEXT("IoSetCompletionRoutineEx"),
    };
    bool listed = false;
    for (PCWSTR stub : stubs)
        listed = listed || SameText(name, stub);
    return listed && LookUp(KTEXT("wine_ntoskrnl_main_loop")) != nullptr;
}

}  // namespace
#endif

PVOID FindSystemRoutine(PCWSTR name)
{
#ifdef VANTREL_SYSTEM_ROUTINE_LOOKUP
    return IsWineStub(name) ? nullptr : LookUp(name);
#else
    (void)name;
    return nullptr;
#endif
}
