// Basic window-system types (only the handles non-window code meets).
#pragma once

#include <winnt.h>

typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct HWND__* HWND;
typedef struct HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef LONG_PTR LPARAM;
typedef ULONG_PTR WPARAM;
typedef LONG_PTR LRESULT;
typedef int(WINAPI* FARPROC)();

#define MAX_PATH 260
