// Placeholder translation unit until the user side lands.
#include <windows.h>
