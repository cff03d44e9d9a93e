// Wide-string literals for kernel code that builds with the Windows DDK
// (wchar_t is 16 bits) and natively against the simulation (WCHAR is char16_t).
#pragma once

#ifdef _WIN32
#define KTEXT(text) L##text
#else
#define KTEXT(text) u##text
#endif
