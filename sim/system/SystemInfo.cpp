#include "SystemInfo.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>

namespace sim {
namespace {

std::string RunningProgram()
{
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string();
}

}  // namespace

SystemInfo::SystemInfo(const std::string& rootFolder)
    : version_(kWindowsXP), windowsDirectory_(rootFolder + "/windows"),
      systemDirectory_(windowsDirectory_ + "/system32"), moduleFileName_(RunningProgram())
{
    for (const std::string& folder : {rootFolder, windowsDirectory_, systemDirectory_, DriversDirectory()})
        mkdir(folder.c_str(), 0755);
    // Windows names are case-blind: the "Drivers" that programs write reaches the same folder.
    symlink("drivers", (systemDirectory_ + "/Drivers").c_str());
}

void SystemInfo::SetVersion(const WindowsVersion& version)
{
    std::lock_guard<std::mutex> guard(lock_);
    version_ = version;
}

WindowsVersion SystemInfo::Version()
{
    std::lock_guard<std::mutex> guard(lock_);
    return version_;
}

void SystemInfo::SetModuleFileName(const std::string& path)
{
    std::lock_guard<std::mutex> guard(lock_);
    moduleFileName_ = path;
}

std::string SystemInfo::ModuleFileName()
{
    std::lock_guard<std::mutex> guard(lock_);
    return moduleFileName_;
}

}  // namespace sim
