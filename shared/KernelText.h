// Wide-string literals for kernel code that builds with the Windows DDK
// (wchar_t is 16 bits) and natively against the simulation (WCHAR is char16_t).
#pragma once

#ifdef _WIN32
#define KTEXT(text) L##text
#else
#define KTEXT(text) u##text
#endif

// The wide form of a narrow literal that a macro names: KTEXT alone would
// paste onto the macro's name instead of its text.
#define KTEXT_OF(name) KTEXT(name)
