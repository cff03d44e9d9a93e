// The 32-bit Vantrel.exe starts on Windows NT 4.0, but the static runtime
// (winpthreads) and the print dialog call what later Windows added. Their
// import slots are filled here: the system's own routine where it has one,
// looked up at each call, else a stand-in that does the same job with the
// calls Windows NT 4.0 has. The linker takes these slots instead of the
// import library's, so the program imports none of the newer calls. Nothing
// is cached in a guarded static: winpthreads calls some of these while the
// runtime that guards statics is itself starting.
#include <windows.h>

namespace {

template <typename Routine>
Routine SystemRoutine(const char* module, const char* name)
{
    HMODULE handle = GetModuleHandleA(module);
    if (handle == nullptr)
        handle = LoadLibraryA(module);
    return handle == nullptr ? nullptr
                             : reinterpret_cast<Routine>(reinterpret_cast<void*>(GetProcAddress(handle, name)));
}

// Milliseconds from the performance counter, which never wraps as
// GetTickCount does.
ULONGLONG WINAPI TickCount64(VOID)
{
    using Routine = ULONGLONG(WINAPI*)(VOID);
    const Routine system = SystemRoutine<Routine>("kernel32.dll", "GetTickCount64");
    if (system != nullptr)
        return system();
    LARGE_INTEGER frequency;
    LARGE_INTEGER now;
    if (!QueryPerformanceFrequency(&frequency) || !QueryPerformanceCounter(&now) || frequency.QuadPart == 0)
        return GetTickCount();
    return static_cast<ULONGLONG>(now.QuadPart / frequency.QuadPart * 1000 +
                                  now.QuadPart % frequency.QuadPart * 1000 / frequency.QuadPart);
}

// Before Windows XP no vectored handler exists: none is added (winpthreads
// only names threads for a debugger with one).
PVOID WINAPI AddVectoredHandler(ULONG first, PVECTORED_EXCEPTION_HANDLER handler)
{
    using Routine = PVOID(WINAPI*)(ULONG, PVECTORED_EXCEPTION_HANDLER);
    const Routine system = SystemRoutine<Routine>("kernel32.dll", "AddVectoredExceptionHandler");
    return system != nullptr ? system(first, handler) : nullptr;
}

ULONG WINAPI RemoveVectoredHandler(PVOID handle)
{
    using Routine = ULONG(WINAPI*)(PVOID);
    const Routine system = SystemRoutine<Routine>("kernel32.dll", "RemoveVectoredExceptionHandler");
    return system != nullptr && handle != nullptr ? system(handle) : 0;
}

}  // namespace

// Windows NT 4.0 keeps the default printer as "name,driver,port" under
// [windows] device of win.ini. The print dialog calls GetDefaultPrinterA
// directly, not through an import slot: this routine takes the call's name.
extern "C" BOOL WINAPI DefaultPrinterA(LPSTR buffer, LPDWORD size) __asm__("_GetDefaultPrinterA@8");
BOOL WINAPI DefaultPrinterA(LPSTR buffer, LPDWORD size)
{
    using Routine = BOOL(WINAPI*)(LPSTR, LPDWORD);
    const Routine system = SystemRoutine<Routine>("winspool.drv", "GetDefaultPrinterA");
    if (system != nullptr)
        return system(buffer, size);
    char device[MAX_PATH];
    DWORD length = GetProfileStringA("windows", "device", "", device, sizeof device);
    DWORD nameLength = 0;
    while (nameLength < length && device[nameLength] != ',')
        ++nameLength;
    if (nameLength == 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    if (buffer == nullptr || *size <= nameLength) {
        *size = nameLength + 1;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    CopyMemory(buffer, device, nameLength);
    buffer[nameLength] = 0;
    *size = nameLength + 1;
    return TRUE;
}

// The import slots, under the names the x86 import libraries give them.
extern "C" {
void* ImportGetTickCount64 __asm__("__imp__GetTickCount64@0") = reinterpret_cast<void*>(&TickCount64);
void* ImportAddVectoredExceptionHandler __asm__("__imp__AddVectoredExceptionHandler@8") =
    reinterpret_cast<void*>(&AddVectoredHandler);
void* ImportRemoveVectoredExceptionHandler __asm__("__imp__RemoveVectoredExceptionHandler@4") =
    reinterpret_cast<void*>(&RemoveVectoredHandler);
}
