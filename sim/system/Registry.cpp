#include "Registry.h"

#include <algorithm>

namespace sim {
namespace {

char16_t UpperCase(char16_t c)
{
    if (c >= u'a' && c <= u'z')
        return static_cast<char16_t>(c - u'a' + u'A');
    if (c >= u'\xFF41' && c <= u'\xFF5A')
        return static_cast<char16_t>(c - 0x20);  // full-width letters
    return c;
}

// Handle values stay apart from the predefined keys and from small integers.
constexpr uintptr_t kFirstHandle = 0x7E0004;

}  // namespace

int CompareRegistryNames(const std::u16string& left, const std::u16string& right)
{
    size_t common = std::min(left.size(), right.size());
    for (size_t i = 0; i < common; ++i) {
        char16_t a = UpperCase(left[i]);
        char16_t b = UpperCase(right[i]);
        if (a != b)
            return a < b ? -1 : 1;
    }
    if (left.size() == right.size())
        return 0;
    return left.size() < right.size() ? -1 : 1;
}

std::vector<std::u16string> SplitRegistryPath(const std::u16string& path)
{
    std::vector<std::u16string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(u'\\', start);
        if (end == std::u16string::npos)
            end = path.size();
        if (end > start)
            parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

Registry::Registry() : root_(std::make_shared<RegistryKey>()), nextHandle_(kFirstHandle)
{
    root_->name = u"Registry";
    bool created = false;
    RegistryKeyPtr ignored;
    for (const char16_t* path : {u"Machine\\SYSTEM\\CurrentControlSet\\Services", u"Machine\\HARDWARE\\DEVICEMAP",
                                 u"Machine\\SOFTWARE\\Classes", u"User\\.Default\\Software"})
        Create(root_, path, true, ignored, created);
}

RegistryKeyPtr Registry::KeyAt(const std::u16string& absolutePath)
{
    RegistryKeyPtr key;
    std::vector<std::u16string> parts = SplitRegistryPath(absolutePath);
    if (parts.empty() || CompareRegistryNames(parts.front(), root_->name) != 0)
        return nullptr;
    parts.erase(parts.begin());
    std::lock_guard<std::mutex> guard(lock_);
    return Walk(root_, parts, key) == RegistryResult::Ok ? key : nullptr;
}

RegistryKeyPtr Registry::FindChild(const RegistryKey& parent, const std::u16string& name) const
{
    auto it = std::lower_bound(parent.subkeys.begin(), parent.subkeys.end(), name,
                               [](const RegistryKeyPtr& key, const std::u16string& wanted) {
                                   return CompareRegistryNames(key->name, wanted) < 0;
                               });
    if (it == parent.subkeys.end() || CompareRegistryNames((*it)->name, name) != 0)
        return nullptr;
    return *it;
}

RegistryKeyPtr Registry::AddChild(RegistryKey& parent, const std::u16string& name)
{
    auto child = std::make_shared<RegistryKey>();
    child->name = name;
    child->parent = &parent;
    auto it = std::lower_bound(parent.subkeys.begin(), parent.subkeys.end(), name,
                               [](const RegistryKeyPtr& key, const std::u16string& wanted) {
                                   return CompareRegistryNames(key->name, wanted) < 0;
                               });
    parent.subkeys.insert(it, child);
    return child;
}

RegistryResult Registry::Walk(RegistryKeyPtr key, const std::vector<std::u16string>& parts, RegistryKeyPtr& found) const
{
    if (key->deleted)
        return RegistryResult::KeyDeleted;
    for (const std::u16string& part : parts) {
        key = FindChild(*key, part);
        if (!key)
            return RegistryResult::NotFound;
    }
    found = key;
    return RegistryResult::Ok;
}

RegistryResult Registry::Open(const RegistryKeyPtr& base, const std::u16string& path, RegistryKeyPtr& key)
{
    std::lock_guard<std::mutex> guard(lock_);
    return Walk(base, SplitRegistryPath(path), key);
}

RegistryResult Registry::Create(const RegistryKeyPtr& base, const std::u16string& path, bool createParents,
                                RegistryKeyPtr& key, bool& created)
{
    std::lock_guard<std::mutex> guard(lock_);
    created = false;
    if (base->deleted)
        return RegistryResult::KeyDeleted;
    std::vector<std::u16string> parts = SplitRegistryPath(path);
    RegistryKeyPtr current = base;
    for (size_t i = 0; i < parts.size(); ++i) {
        RegistryKeyPtr child = FindChild(*current, parts[i]);
        if (!child) {
            if (!createParents && i + 1 < parts.size())
                return RegistryResult::NotFound;
            child = AddChild(*current, parts[i]);
            created = true;
        }
        current = child;
    }
    key = current;
    return RegistryResult::Ok;
}

RegistryResult Registry::DeleteKey(const RegistryKeyPtr& key)
{
    std::lock_guard<std::mutex> guard(lock_);
    return DeleteLocked(key);
}

RegistryResult Registry::DeleteTree(const RegistryKeyPtr& key)
{
    std::lock_guard<std::mutex> guard(lock_);
    return DeleteTreeLocked(key);
}

RegistryResult Registry::DeleteTreeLocked(const RegistryKeyPtr& key)
{
    while (!key->subkeys.empty()) {
        RegistryResult result = DeleteTreeLocked(key->subkeys.back());
        if (result != RegistryResult::Ok)
            return result;
    }
    return DeleteLocked(key);
}

RegistryResult Registry::DeleteLocked(const RegistryKeyPtr& key)
{
    if (key->deleted)
        return RegistryResult::KeyDeleted;
    // The root and the hive keys below it (Machine, User) stay.
    if (!key->parent || key->parent == root_.get())
        return RegistryResult::AccessDenied;
    if (!key->subkeys.empty())
        return RegistryResult::HasSubkeys;
    // `key` may be the parent's own entry, which the erase destroys.
    RegistryKeyPtr kept = key;
    auto& siblings = kept->parent->subkeys;
    siblings.erase(std::find(siblings.begin(), siblings.end(), kept));
    kept->parent = nullptr;
    kept->deleted = true;
    kept->values.clear();
    return RegistryResult::Ok;
}

RegistryValue* Registry::FindValue(RegistryKey& key, const std::u16string& name)
{
    for (RegistryValue& value : key.values)
        if (CompareRegistryNames(value.name, name) == 0)
            return &value;
    return nullptr;
}

RegistryResult Registry::SetValue(const RegistryKeyPtr& key, const std::u16string& name, uint32_t type,
                                  const uint8_t* data, size_t length)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (key->deleted)
        return RegistryResult::KeyDeleted;
    RegistryValue* value = FindValue(*key, name);
    if (!value) {
        key->values.push_back(RegistryValue{name, 0, {}});
        value = &key->values.back();
    }
    value->type = type;
    value->data.assign(data, data + length);
    return RegistryResult::Ok;
}

RegistryResult Registry::QueryValue(const RegistryKeyPtr& key, const std::u16string& name, RegistryValue& value)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (key->deleted)
        return RegistryResult::KeyDeleted;
    const RegistryValue* found = FindValue(*key, name);
    if (!found)
        return RegistryResult::NotFound;
    value = *found;
    return RegistryResult::Ok;
}

RegistryResult Registry::DeleteValue(const RegistryKeyPtr& key, const std::u16string& name)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (key->deleted)
        return RegistryResult::KeyDeleted;
    const RegistryValue* found = FindValue(*key, name);
    if (!found)
        return RegistryResult::NotFound;
    key->values.erase(key->values.begin() + (found - key->values.data()));
    return RegistryResult::Ok;
}

RegistryResult Registry::EnumerateKey(const RegistryKeyPtr& key, uint32_t index, std::u16string& name)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (key->deleted)
        return RegistryResult::KeyDeleted;
    if (index >= key->subkeys.size())
        return RegistryResult::NotFound;
    name = key->subkeys[index]->name;
    return RegistryResult::Ok;
}

RegistryResult Registry::EnumerateValue(const RegistryKeyPtr& key, uint32_t index, RegistryValue& value)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (key->deleted)
        return RegistryResult::KeyDeleted;
    if (index >= key->values.size())
        return RegistryResult::NotFound;
    value = key->values[index];
    return RegistryResult::Ok;
}

RegistryResult Registry::QueryInfo(const RegistryKeyPtr& key, RegistryKeyInfo& info)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (key->deleted)
        return RegistryResult::KeyDeleted;
    info = RegistryKeyInfo{};
    info.subkeys = static_cast<uint32_t>(key->subkeys.size());
    info.values = static_cast<uint32_t>(key->values.size());
    for (const RegistryKeyPtr& subkey : key->subkeys)
        info.maxSubkeyNameLength = std::max(info.maxSubkeyNameLength, static_cast<uint32_t>(subkey->name.size()));
    for (const RegistryValue& value : key->values) {
        info.maxValueNameLength = std::max(info.maxValueNameLength, static_cast<uint32_t>(value.name.size()));
        info.maxValueDataLength = std::max(info.maxValueDataLength, static_cast<uint32_t>(value.data.size()));
    }
    return RegistryResult::Ok;
}

uintptr_t Registry::AddHandle(const RegistryKeyPtr& key, uint32_t access)
{
    if (access & kMaximumAllowed)
        access = kAllAccess;
    std::lock_guard<std::mutex> guard(lock_);
    uintptr_t handle = nextHandle_;
    nextHandle_ += 4;
    handles_[handle] = HandleEntry{key, access};
    return handle;
}

RegistryResult Registry::LookupHandle(uintptr_t handle, uint32_t requiredAccess, RegistryKeyPtr& key)
{
    std::lock_guard<std::mutex> guard(lock_);
    auto it = handles_.find(handle);
    if (it == handles_.end())
        return RegistryResult::InvalidHandle;
    if ((it->second.access & requiredAccess) != requiredAccess)
        return RegistryResult::AccessDenied;
    key = it->second.key;
    return RegistryResult::Ok;
}

bool Registry::CloseHandle(uintptr_t handle)
{
    std::lock_guard<std::mutex> guard(lock_);
    return handles_.erase(handle) == 1;
}

size_t Registry::OpenHandleCount()
{
    std::lock_guard<std::mutex> guard(lock_);
    return handles_.size();
}

}  // namespace sim
