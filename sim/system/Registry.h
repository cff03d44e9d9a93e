// The one registry of a simulated machine, shared by the user-side Reg* calls
// and the kernel Zw* calls. Names and string data are kept in UTF-16 as
// Windows keeps them; names compare without regard to case.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

struct RegistryValue {
    std::u16string name;
    uint32_t type = 0;
    std::vector<uint8_t> data;
};

struct RegistryKey;
using RegistryKeyPtr = std::shared_ptr<RegistryKey>;

struct RegistryKey {
    std::u16string name;
    std::vector<RegistryValue> values;    // in creation order, as Windows enumerates them
    std::vector<RegistryKeyPtr> subkeys;  // sorted by upper-cased name, as Windows enumerates them
    RegistryKey* parent = nullptr;
    bool deleted = false;  // an open handle outlives the deletion of its key
};

enum class RegistryResult { Ok, NotFound, KeyDeleted, HasSubkeys, AccessDenied, InvalidHandle };

struct RegistryKeyInfo {
    uint32_t subkeys = 0;
    uint32_t maxSubkeyNameLength = 0;  // characters, without terminator
    uint32_t values = 0;
    uint32_t maxValueNameLength = 0;
    uint32_t maxValueDataLength = 0;  // bytes, as stored
};

int CompareRegistryNames(const std::u16string& left, const std::u16string& right);
std::vector<std::u16string> SplitRegistryPath(const std::u16string& path);

class Registry {
public:
    // MAXIMUM_ALLOWED grants KEY_ALL_ACCESS: the simulated user is an administrator.
    static constexpr uint32_t kMaximumAllowed = 0x02000000;
    static constexpr uint32_t kAllAccess = 0x000F003F;

    Registry();
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    // "\Registry"; below it "Machine" (with SYSTEM\CurrentControlSet\Services,
    // HARDWARE\DEVICEMAP and SOFTWARE) and "User\.Default".
    RegistryKeyPtr Root() const { return root_; }
    RegistryKeyPtr KeyAt(const std::u16string& absolutePath);

    RegistryResult Open(const RegistryKeyPtr& base, const std::u16string& path, RegistryKeyPtr& key);
    // Creates missing keys along the path when `createParents`, else only the last one.
    RegistryResult Create(const RegistryKeyPtr& base, const std::u16string& path, bool createParents,
                          RegistryKeyPtr& key, bool& created);
    RegistryResult DeleteKey(const RegistryKeyPtr& key);
    // The key with everything below it.
    RegistryResult DeleteTree(const RegistryKeyPtr& key);

    RegistryResult SetValue(const RegistryKeyPtr& key, const std::u16string& name, uint32_t type, const uint8_t* data,
                            size_t length);
    RegistryResult QueryValue(const RegistryKeyPtr& key, const std::u16string& name, RegistryValue& value);
    RegistryResult DeleteValue(const RegistryKeyPtr& key, const std::u16string& name);
    // NotFound past the last entry.
    RegistryResult EnumerateKey(const RegistryKeyPtr& key, uint32_t index, std::u16string& name);
    RegistryResult EnumerateValue(const RegistryKeyPtr& key, uint32_t index, RegistryValue& value);
    RegistryResult QueryInfo(const RegistryKeyPtr& key, RegistryKeyInfo& info);

    // Handles shared by both sides: RegCloseKey and ZwClose release them.
    uintptr_t AddHandle(const RegistryKeyPtr& key, uint32_t access);
    RegistryResult LookupHandle(uintptr_t handle, uint32_t requiredAccess, RegistryKeyPtr& key);
    bool CloseHandle(uintptr_t handle);
    size_t OpenHandleCount();

private:
    struct HandleEntry {
        RegistryKeyPtr key;
        uint32_t access;
    };

    RegistryKeyPtr FindChild(const RegistryKey& parent, const std::u16string& name) const;
    RegistryKeyPtr AddChild(RegistryKey& parent, const std::u16string& name);
    RegistryResult Walk(RegistryKeyPtr key, const std::vector<std::u16string>& parts, RegistryKeyPtr& found) const;
    RegistryValue* FindValue(RegistryKey& key, const std::u16string& name);
    RegistryResult DeleteLocked(const RegistryKeyPtr& key);
    RegistryResult DeleteTreeLocked(const RegistryKeyPtr& key);

    std::mutex lock_;
    RegistryKeyPtr root_;
    std::map<uintptr_t, HandleEntry> handles_;
    uintptr_t nextHandle_;
};

}  // namespace sim
