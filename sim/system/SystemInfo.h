// What a program learns about the system it runs on: version, folders, its
// own file name, the time zone. Settable by tests.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace sim {

struct WindowsVersion {
    uint32_t platformId;  // 2: NT
    uint32_t major;
    uint32_t minor;
    uint32_t build;
    const char* servicePack;
};

constexpr WindowsVersion kWindowsNT4{2, 4, 0, 1381, "Service Pack 6"};
constexpr WindowsVersion kWindows2000{2, 5, 0, 2195, "Service Pack 4"};
constexpr WindowsVersion kWindowsXP{2, 5, 1, 2600, "Service Pack 3"};
constexpr WindowsVersion kWindows7{2, 6, 1, 7601, "Service Pack 1"};
constexpr WindowsVersion kWindows8{2, 6, 2, 9200, ""};
constexpr WindowsVersion kWindows10{2, 10, 0, 19045, ""};

class SystemInfo {
public:
    // Folders live below `rootFolder` (host path): windows, windows/system32,
    // windows/system32/drivers; they are created here.
    explicit SystemInfo(const std::string& rootFolder);

    void SetVersion(const WindowsVersion& version);
    WindowsVersion Version();
    // Host paths, without trailing separator.
    std::string WindowsDirectory() const { return windowsDirectory_; }
    std::string SystemDirectory() const { return systemDirectory_; }
    std::string DriversDirectory() const { return systemDirectory_ + "/drivers"; }
    // The program's own file; by default the running test program.
    void SetModuleFileName(const std::string& path);
    std::string ModuleFileName();

private:
    std::mutex lock_;
    WindowsVersion version_;
    std::string windowsDirectory_;
    std::string systemDirectory_;
    std::string moduleFileName_;
};

}  // namespace sim
