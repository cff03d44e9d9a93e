// QueryDosDeviceA over the \??\ links of the object namespace.
#include "User.h"

#include "../Machine.h"

#include <cstring>

namespace {

// Copies a list of zero-terminated names ended by an empty one.
DWORD StoreMultiString(const std::vector<std::string>& names, LPSTR target, DWORD size)
{
    size_t needed = 1;
    for (const auto& name : names)
        needed += name.size() + 1;
    if (needed > size) {
        sim::FailWithError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    char* out = target;
    for (const auto& name : names) {
        memcpy(out, name.c_str(), name.size() + 1);
        out += name.size() + 1;
    }
    *out = 0;
    return static_cast<DWORD>(needed);
}

}  // namespace

DWORD WINAPI QueryDosDeviceA(LPCSTR lpDeviceName, LPSTR lpTargetPath, DWORD ucchMax)
{
    sim::ObjectNamespace& names = sim::Machine::Current().names();
    std::vector<std::string> result;
    if (lpDeviceName == nullptr) {
        for (const auto& link : names.DosLinks())
            result.push_back(link.name);
    } else {
        auto target = names.LinkTarget(std::string("\\??\\") + lpDeviceName);
        if (!target) {
            sim::FailWithError(ERROR_FILE_NOT_FOUND);
            return 0;
        }
        result.push_back(*target);
    }
    return StoreMultiString(result, lpTargetPath, ucchMax);
}
