// The filter driver's kernel service and its registry values. Each operation
// opens and closes its own handles, so the capture-stop worker can use its
// own object while the user-interface thread waits for it.
#pragma once

#include <windows.h>

#include <string>

constexpr const char* FILTER_SERVICE_NAME = "VantrelFlt";
constexpr const char* FILTER_DISPLAY_NAME = "Vantrel Filter Driver";
constexpr const char* FILTER_IMAGE_PATH = "System32\\Drivers\\ZrVtrlFlt.sys";
constexpr const char* FILTER_PARAMETERS_KEY = "Parameters";
constexpr DWORD FILTER_STOP_TIMEOUT_MS = 10000;
constexpr size_t FILTER_SERVICE_NAME_SIZE = 260;

// Operations return true on success.
class FilterService {
public:
    // The name is cut to 259 characters.
    explicit FilterService(const char* serviceName = FILTER_SERVICE_NAME);

    // Registers the kernel driver service on demand start when it is missing;
    // an existing registration is left as it is. Start flag 1 also starts it.
    bool Install(const char* displayName, const char* imagePath, int startFlag);
    bool Start();
    // True when the service is stopped at the end, at the latest after `timeoutMs`.
    bool StopAndWait(DWORD timeoutMs);

    // Values under the service key, or under its `subkey` when one is given.
    bool SetString(const char* subkey, const char* valueName, const char* text);
    bool SetDword(const char* subkey, const char* valueName, DWORD value);
    // A text value, always terminated within `bufferSize`.
    bool GetString(const char* subkey, const char* valueName, char* buffer, DWORD bufferSize);
    // Deletes the direct subkeys of `subkey`; its own values stay.
    bool DeleteSubkeys(const char* subkey);

    const char* Name() const { return name_; }

private:
    std::string KeyPath(const char* subkey) const;

    char name_[FILTER_SERVICE_NAME_SIZE];
};
