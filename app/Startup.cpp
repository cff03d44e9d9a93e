#include "Startup.h"

#include <limits.h>
#include <stdio.h>
#include <string.h>

#include <memory>

namespace {

constexpr size_t COPY_CHUNK_SIZE = 64 * 1024;

struct FileCloser {
    void operator()(FILE* file) const { fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// Natively the simulated machine's folders are host folders, reached with '/'.
File OpenFile(std::string path, const char* mode)
{
#ifndef _WIN32
    for (char& c : path)
        if (c == '\\')
            c = '/';
#endif
    return File(fopen(path.c_str(), mode));
}

std::string ModuleFileName()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return std::string();
    return std::string(path, length);
}

bool CopyRange(FILE* source, uint32_t length, FILE* target)
{
    std::unique_ptr<uint8_t[]> chunk(new uint8_t[COPY_CHUNK_SIZE]);
    uint64_t left = length == DRIVER_IMAGE_TO_END ? UINT64_MAX : length;
    while (left > 0) {
        size_t wanted = left < COPY_CHUNK_SIZE ? static_cast<size_t>(left) : COPY_CHUNK_SIZE;
        size_t got = fread(chunk.get(), 1, wanted, source);
        if (got > 0 && fwrite(chunk.get(), 1, got, target) != got)
            return false;
        if (got < wanted)
            return ferror(source) == 0;
        left -= got;
    }
    return true;
}

#ifdef _WIN32
template <typename Call>
void FindCall(HMODULE module, const char* name, Call* call)
{
    *call = reinterpret_cast<Call>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}
#endif

// Turns the WOW64 file system redirection off for this thread while it
// lives: the system folder is then the 64-bit system's own.
class NativeSystemFolder {
public:
    NativeSystemFolder(const Wow64Calls& calls, bool wow64) : calls_(calls)
    {
        redirectionOff_ = wow64 && calls.disableRedirection && calls.revertRedirection &&
                          calls.disableRedirection(&state_);
        reached_ = !wow64 || redirectionOff_;
    }
    ~NativeSystemFolder()
    {
        if (redirectionOff_)
            calls_.revertRedirection(state_);
    }
    NativeSystemFolder(const NativeSystemFolder&) = delete;
    NativeSystemFolder& operator=(const NativeSystemFolder&) = delete;

    bool Reached() const { return reached_; }

private:
    const Wow64Calls& calls_;
    PVOID state_ = nullptr;
    bool reached_ = false;
    bool redirectionOff_ = false;
};

// A missing driver file is created empty and forces a rewrite.
uint16_t DriverFileChecksum(const std::string& path)
{
    uint16_t checksum = 0;
    if (ComputeFileChecksum(path.c_str(), &checksum))
        return checksum;
    OpenFile(path, "wb");
    return UNREADABLE_FILE_CHECKSUM;
}

}  // namespace

void WordChecksum::Add(const uint8_t* bytes, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        if (pendingHigh_)
            value_ ^= static_cast<uint16_t>(high_ << 8 | bytes[i]);
        else
            high_ = bytes[i];
        pendingHigh_ = !pendingHigh_;
    }
}

uint16_t WordChecksum::Value() const
{
    return pendingHigh_ ? static_cast<uint16_t>(value_ ^ (high_ << 8)) : value_;
}

HANDLE CreateSingleInstanceMutex()
{
    HANDLE mutex = CreateMutexA(nullptr, TRUE, SINGLE_INSTANCE_MUTEX_NAME);
    if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return nullptr;
    }
    return mutex;
}

bool ComputeFileChecksum(const char* path, uint16_t* checksum)
{
    File file = OpenFile(path, "rb");
    if (!file)
        return false;
    WordChecksum sum;
    uint8_t chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file.get())) > 0)
        sum.Add(chunk, got);
    if (ferror(file.get()))
        return false;
    *checksum = sum.Value();
    return true;
}

bool IsWindowsNT4()
{
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version))
        return false;
    return version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion == 4;
}

const DriverImage& ChooseDriverImage(const DriverImages& images, bool wow64)
{
    if (IsWindowsNT4())
        return images.a;
    return wow64 ? images.wow64 : images.b;
}

Wow64Calls FindWow64Calls()
{
    Wow64Calls calls{};
#ifdef _WIN32
    if (HMODULE kernel = GetModuleHandleA("kernel32.dll")) {
        FindCall(kernel, "IsWow64Process", &calls.isWow64Process);
        FindCall(kernel, "Wow64DisableWow64FsRedirection", &calls.disableRedirection);
        FindCall(kernel, "Wow64RevertWow64FsRedirection", &calls.revertRedirection);
    }
#endif
    return calls;
}

bool RunsUnderWow64(const Wow64Calls& calls)
{
#ifdef _WIN32
    HANDLE self = GetCurrentProcess();
#else
    HANDLE self = reinterpret_cast<HANDLE>(-1);  // the pseudo handle GetCurrentProcess gives
#endif
    BOOL wow64 = FALSE;
    return calls.isWow64Process && calls.isWow64Process(self, &wow64) && wow64;
}

std::string DriverFileProblemLine(DriverFileProblem problem)
{
    switch (problem) {
    case DriverFileProblem::None:
        return std::string();
    case DriverFileProblem::NotWritten: {
        std::string path = DriverFilePath();
        return "ドライバファイルを更新できませんでした" + (path.empty() ? std::string() : "(" + path + ")");
    }
    case DriverFileProblem::RedirectionStuck:
        return "64ビット版Windowsのドライバフォルダに書き込めないため、ドライバファイルを更新できませんでした";
    }
    return std::string();
}

std::string DriverFilePathIn(const char* systemDirectory)
{
    std::string path = systemDirectory;
    if (!path.empty() && path.back() == '\\')
        path.pop_back();
    return path + DRIVER_FILE_SUFFIX;
}

std::string DriverFilePath()
{
    char directory[SYSTEM_DIRECTORY_BUFFER_SIZE];
    UINT length = GetSystemDirectoryA(directory, sizeof directory);
    // Too long a folder reports the size it needs: unknown as well.
    if (length == 0 || length >= sizeof directory)
        return std::string();
    return DriverFilePathIn(directory);
}

bool ExtractDriverImage(uint32_t offset, uint32_t length)
{
    std::string target = DriverFilePath();
    std::string module = ModuleFileName();
    if (target.empty() || module.empty())
        return false;
    File source = OpenFile(module, "rb");
    if (!source)
        return false;
    File driver = OpenFile(target, "wb");
    if (!driver)
        return false;
    if (offset > static_cast<uint32_t>(LONG_MAX) || fseek(source.get(), static_cast<long>(offset), SEEK_SET) != 0)
        return false;
    bool copied = CopyRange(source.get(), length, driver.get());
    return fclose(driver.release()) == 0 && copied;
}

DriverFileProblem BringDriverFileUpToDate(const DriverImages& images, const Wow64Calls& calls)
{
    bool wow64 = RunsUnderWow64(calls);
    NativeSystemFolder folder(calls, wow64);
    if (!folder.Reached())
        return DriverFileProblem::RedirectionStuck;
    std::string path = DriverFilePath();
    if (path.empty())
        return DriverFileProblem::NotWritten;
    const DriverImage& image = ChooseDriverImage(images, wow64);
    for (int rewrites = 0;; ++rewrites) {
        uint16_t checksum = DriverFileChecksum(path);
        if (checksum == image.checksum)
            return DriverFileProblem::None;
        if (rewrites == DRIVER_FILE_REWRITE_LIMIT)
            return DriverFileProblem::NotWritten;
        // Every image by its length: more images or the signature follow.
        ExtractDriverImage(image.offset, image.length);
    }
}

bool UpdateDriverFile(const DriverImages& images)
{
    return BringDriverFileUpToDate(images, FindWow64Calls()) == DriverFileProblem::None;
}

bool PrepareStartup(const DriverImages& images, HANDLE* mutex, DriverFileProblem* problem)
{
    *mutex = CreateSingleInstanceMutex();
    if (!*mutex)
        return false;
    DriverFileProblem outcome = BringDriverFileUpToDate(images, FindWow64Calls());
    if (problem)
        *problem = outcome;
    return true;
}
