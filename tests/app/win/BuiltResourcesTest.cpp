// What Windows shows of the built files before running them: the version
// resource of Vantrel.exe and of every driver image it carries, and the program's
// manifest asking for elevation.
#include "VantrelProcess.h"
#include "VantrelVersion.h"

#include <gtest/gtest.h>

#include <string.h>
#include <wchar.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

// The value of a "StringFileInfo" entry in the U.S. English, Unicode block.
std::wstring VersionText(const std::wstring& path, const wchar_t* name)
{
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
    std::vector<BYTE> info(size);
    if (size == 0 || !GetFileVersionInfoW(path.c_str(), 0, size, info.data()))
        return L"(no version resource)";
    wchar_t* value = nullptr;
    UINT length = 0;
    std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueW(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) || length == 0)
        return L"(no " + std::wstring(name) + L")";
    return std::wstring(value, wcsnlen(value, length));
}

std::wstring Wide(const char* text)
{
    return std::wstring(text, text + strlen(text));
}

TEST(BuiltResourcesTest, EveryFileNamesTheProductAndTheOneVersion)
{
    std::vector<std::wstring> files = {VantrelExePath(), BuildOutputPath(DRIVER_IMAGE_A_RELATIVE_PATH),
                                       BuildOutputPath(DRIVER_IMAGE_B_RELATIVE_PATH)};
#ifdef DRIVER_IMAGE_WOW64_RELATIVE_PATH
    files.push_back(BuildOutputPath(DRIVER_IMAGE_WOW64_RELATIVE_PATH));
#endif
    for (const std::wstring& path : files) {
        SCOPED_TRACE(std::string(path.begin(), path.end()));
        EXPECT_EQ(VersionText(path, L"ProductName"), L"Vantrel");
        EXPECT_EQ(VersionText(path, L"ProductVersion"), Wide(VANTREL_VERSION));
        EXPECT_EQ(VersionText(path, L"FileVersion"), Wide(VANTREL_VERSION));
        EXPECT_NE(VersionText(path, L"FileDescription").find(L"Vantrel"), std::wstring::npos);
    }
}

TEST(BuiltResourcesTest, TheProgramAsksForAdministratorRights)
{
    HMODULE program = LoadLibraryExW(VantrelExePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(program, nullptr);
    HRSRC found = FindResourceW(program, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // RT_MANIFEST
    ASSERT_NE(found, nullptr);
    const char* text = static_cast<const char*>(LockResource(LoadResource(program, found)));
    std::string manifest(text, SizeofResource(program, found));
    FreeLibrary(program);
    EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos);
    EXPECT_EQ(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos) << "classic controls look";
}

}  // namespace
