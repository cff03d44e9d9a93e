// The registry calls as Windows defines them; runs on the simulation and
// under Wine. Everything lives below one test key that is removed again.
#include "TestMachine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

const char* const kTestKey = "Software\\VantrelSimsysTest";

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeleteTree(HKEY_CURRENT_USER, kTestKey);
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kTestKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                                 KEY_ALL_ACCESS, nullptr, &root, nullptr));
    }
    void TearDown() override
    {
        RegCloseKey(root);
        DeleteTree(HKEY_CURRENT_USER, kTestKey);
    }

    // Windows NT deletes only keys without subkeys.
    static void DeleteTree(HKEY parent, const char* name)
    {
        HKEY key;
        if (RegOpenKeyExA(parent, name, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
            return;
        char child[256];
        DWORD length = sizeof child;
        while (RegEnumKeyExA(key, 0, child, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
            DeleteTree(key, child);
            length = sizeof child;
        }
        RegCloseKey(key);
        RegDeleteKeyA(parent, name);
    }

    HKEY Create(const char* path, DWORD* disposition = nullptr)
    {
        HKEY key = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                                 nullptr, &key, disposition));
        return key;
    }
    static void SetString(HKEY key, const char* name, const char* text, DWORD length)
    {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), length));
    }
    static LONG Query(HKEY key, const char* name, void* data, DWORD* size, DWORD* type = nullptr)
    {
        return RegQueryValueExA(key, name, nullptr, type, static_cast<BYTE*>(data), size);
    }

    HKEY root = nullptr;
    TestMachine machine;
};

TEST_F(RegistryTest, CreateMakesMissingParentsAndReportsWhetherTheKeyWasNew)
{
    DWORD disposition = 0;
    HKEY key = Create("Parameters\\Obj1", &disposition);
    EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
    RegCloseKey(key);
    key = Create("PARAMETERS\\obj1", &disposition);
    EXPECT_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), disposition);
    RegCloseKey(key);
    HKEY opened;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyA(root, "parameters", &opened));
    RegCloseKey(opened);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(root, "Parameters\\Obj2", 0, KEY_READ, &opened));
}

TEST_F(RegistryTest, StringsKeepTheirLengthUnlessAZeroFollowsIt)
{
    const char unterminated[] = {'Z', 'r', 'V', 'l', 'O', 'b', 'j', '1', 'x'};
    SetString(root, "Bare", unterminated, 8);
    SetString(root, "BaseName", "ZrVlObj1", 8);  // NT counts the zero that follows
    DWORD type = 0;
    DWORD size = 0;
    ASSERT_EQ(ERROR_SUCCESS, Query(root, "bare", nullptr, &size, &type));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(8u, size);
    char buffer[16];
    std::memset(buffer, 'x', sizeof buffer);
    size = sizeof buffer;
    ASSERT_EQ(ERROR_SUCCESS, Query(root, "Bare", buffer, &size));
    EXPECT_EQ(8u, size);
    EXPECT_STREQ("ZrVlObj1", buffer) << "a terminator is added in the caller's buffer where there is room";
    size = sizeof buffer;
    ASSERT_EQ(ERROR_SUCCESS, Query(root, "BaseName", buffer, &size));
    EXPECT_EQ(9u, size);
}

TEST_F(RegistryTest, SmallBuffersGetMoreDataAndTheNeededSize)
{
    SetString(root, "Port", "\\Device\\Serial0", 16);
    char buffer[8];
    DWORD size = sizeof buffer;
    EXPECT_EQ(ERROR_MORE_DATA, Query(root, "Port", buffer, &size));
    EXPECT_EQ(16u, size);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Query(root, "Missing", nullptr, &size));
}

TEST_F(RegistryTest, DwordsAndMultiStringsRoundTrip)
{
    DWORD value = 20000;
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(root, "MaxByte", 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), 4));
    const char multi[] = "one\0two\0";
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(root, "List", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multi), 9));
    DWORD read = 0;
    DWORD type = 0;
    DWORD size = sizeof read;
    ASSERT_EQ(ERROR_SUCCESS, Query(root, "MAXBYTE", &read, &size, &type));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    EXPECT_EQ(20000u, read);
    char list[16];
    size = sizeof list;
    ASSERT_EQ(ERROR_SUCCESS, Query(root, "List", list, &size, &type));
    EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), type);
    EXPECT_EQ(std::string(multi, 9), std::string(list, size));
}

TEST_F(RegistryTest, ValuesEnumerateInCreationOrderAndEndWithNoMoreItems)
{
    SetString(root, "BaseName", "COM5", 4);
    SetString(root, "COM3", "\\Device\\Serial2", 15);
    SetString(root, "COM1", "\\Device\\Serial0", 15);
#ifdef _WIN32
    // Wine 8 keeps values sorted by name; Windows enumerates them in creation
    // order, which the driver relies on and the simulation follows.
    const char* expected[] = {"BaseName", "COM1", "COM3"};
#else
    const char* expected[] = {"BaseName", "COM3", "COM1"};
#endif
    for (DWORD index = 0; index < 3; ++index) {
        char name[32];
        DWORD nameLength = sizeof name;
        DWORD type = 0;
        ASSERT_EQ(ERROR_SUCCESS, RegEnumValueA(root, index, name, &nameLength, nullptr, &type, nullptr, nullptr));
        EXPECT_STREQ(expected[index], name);
        EXPECT_EQ(std::strlen(expected[index]), nameLength);
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    }
    char name[32];
    DWORD nameLength = sizeof name;
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumValueA(root, 3, name, &nameLength, nullptr, nullptr, nullptr, nullptr));
    nameLength = 3;
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueA(root, 0, name, &nameLength, nullptr, nullptr, nullptr, nullptr));
}

TEST_F(RegistryTest, QueryInfoCountsSubkeysAndLongestNames)
{
    RegCloseKey(Create("Obj2"));
    RegCloseKey(Create("Obj10"));
    RegCloseKey(Create("Obj1"));
    SetString(root, "LongerValueName", "x", 1);
    DWORD subkeys = 0, maxSubkey = 0, values = 0, maxValueName = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(root, nullptr, nullptr, nullptr, &subkeys, &maxSubkey, nullptr, &values,
                                              &maxValueName, nullptr, nullptr, nullptr));
    EXPECT_EQ(3u, subkeys);
    EXPECT_EQ(5u, maxSubkey);
    EXPECT_EQ(1u, values);
    EXPECT_EQ(15u, maxValueName);
    char name[16];
    DWORD length = sizeof name;
    ASSERT_EQ(ERROR_SUCCESS, RegEnumKeyExA(root, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
    EXPECT_STREQ("Obj1", name) << "subkeys enumerate in name order";
    length = sizeof name;
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumKeyExA(root, 3, name, &length, nullptr, nullptr, nullptr, nullptr));
}

TEST_F(RegistryTest, DeletingSubkeysAtIndexZeroLeavesTheParentsValues)
{
    HKEY parameters = Create("Parameters");
    SetString(parameters, "Keep", "x", 1);
    for (const char* name : {"Obj1", "Obj2", "Obj3"}) {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(parameters, name, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr));
        RegCloseKey(key);
    }
    for (int i = 0; i < 3; ++i) {
        char name[16];
        DWORD length = sizeof name;
        ASSERT_EQ(ERROR_SUCCESS, RegEnumKeyExA(parameters, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
        ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(parameters, name));
    }
    DWORD subkeys = 9, values = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(parameters, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                              &values, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(0u, subkeys);
    EXPECT_EQ(1u, values);
    RegCloseKey(parameters);
}

TEST_F(RegistryTest, KeysWithSubkeysAndMissingKeysCannotBeDeleted)
{
    RegCloseKey(Create("Parent\\Child"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(root, "Parent"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyA(root, "Nothing"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(root, "Parent\\Child"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(root, "Parent"));
}

TEST_F(RegistryTest, AReadOnlyHandleCannotSetValues)
{
    HKEY readOnly;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, kTestKey, 0, KEY_READ, &readOnly));
    DWORD value = 1;
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegSetValueExA(readOnly, "X", 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), 4));
    RegCloseKey(readOnly);
}

TEST_F(RegistryTest, DeleteValueRemovesOnlyThatValue)
{
    SetString(root, "A", "1", 1);
    SetString(root, "B", "2", 1);
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(root, "a"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueA(root, "A"));
    DWORD size = 0;
    EXPECT_EQ(ERROR_SUCCESS, Query(root, "B", nullptr, &size));
}

}  // namespace
