// The object namespace: \Device\ names, \??\ (\DosDevices\) links and \Driver\ names.
#include "Kernel.h"

namespace sim {

namespace {
const std::string DosPrefix = "\\??\\";

bool StartsWithNoCase(const std::string& text, const std::string& prefix)
{
    return text.size() >= prefix.size() && UpperAscii(text.substr(0, prefix.size())) == UpperAscii(prefix);
}
}  // namespace

std::string ObjectNamespace::Normalize(const std::string& name)
{
    for (const char* alias : {"\\DosDevices\\", "\\GLOBAL??\\"}) {
        if (StartsWithNoCase(name, alias))
            return DosPrefix + name.substr(std::string(alias).size());
    }
    return name;
}

NTSTATUS ObjectNamespace::InsertDevice(const std::string& name, PDEVICE_OBJECT device)
{
    std::string normalized = Normalize(name);
    std::lock_guard<std::mutex> guard(lock_);
    Entry& entry = entries_[UpperAscii(normalized)];
    if (entry.device != nullptr || entry.driver != nullptr || entry.linkTarget)
        return STATUS_OBJECT_NAME_COLLISION;
    entry.displayName = normalized;
    entry.device = device;
    return STATUS_SUCCESS;
}

void ObjectNamespace::RemoveDevice(const std::string& name)
{
    std::lock_guard<std::mutex> guard(lock_);
    entries_.erase(UpperAscii(Normalize(name)));
}

NTSTATUS ObjectNamespace::InsertDriver(const std::string& name, PDRIVER_OBJECT driver)
{
    std::lock_guard<std::mutex> guard(lock_);
    Entry& entry = entries_[UpperAscii(name)];
    if (entry.device != nullptr || entry.driver != nullptr || entry.linkTarget)
        return STATUS_OBJECT_NAME_COLLISION;
    entry.displayName = name;
    entry.driver = driver;
    return STATUS_SUCCESS;
}

void ObjectNamespace::RemoveDriver(const std::string& name)
{
    std::lock_guard<std::mutex> guard(lock_);
    entries_.erase(UpperAscii(name));
}

NTSTATUS ObjectNamespace::InsertLink(const std::string& name, const std::string& target)
{
    std::string normalized = Normalize(name);
    if (normalized.empty() || normalized[0] != '\\')
        return STATUS_OBJECT_NAME_INVALID;
    std::lock_guard<std::mutex> guard(lock_);
    Entry& entry = entries_[UpperAscii(normalized)];
    if (entry.device != nullptr || entry.driver != nullptr || entry.linkTarget)
        return STATUS_OBJECT_NAME_COLLISION;
    entry.displayName = normalized;
    entry.linkTarget = target;
    return STATUS_SUCCESS;
}

NTSTATUS ObjectNamespace::RemoveLink(const std::string& name)
{
    std::lock_guard<std::mutex> guard(lock_);
    auto found = entries_.find(UpperAscii(Normalize(name)));
    if (found == entries_.end() || !found->second.linkTarget)
        return STATUS_OBJECT_NAME_NOT_FOUND;
    entries_.erase(found);
    return STATUS_SUCCESS;
}

PDEVICE_OBJECT ObjectNamespace::ResolveDevice(const std::string& name)
{
    std::lock_guard<std::mutex> guard(lock_);
    std::string current = Normalize(name);
    for (int depth = 0; depth < 16; ++depth) {
        auto found = entries_.find(UpperAscii(current));
        if (found == entries_.end())
            return nullptr;
        if (found->second.device != nullptr)
            return found->second.device;
        if (!found->second.linkTarget)
            return nullptr;
        current = Normalize(*found->second.linkTarget);
    }
    return nullptr;
}

PDRIVER_OBJECT ObjectNamespace::FindDriver(const std::string& name)
{
    std::lock_guard<std::mutex> guard(lock_);
    auto found = entries_.find(UpperAscii(name));
    return found == entries_.end() ? nullptr : found->second.driver;
}

std::optional<std::string> ObjectNamespace::DeviceName(PDEVICE_OBJECT device)
{
    std::lock_guard<std::mutex> guard(lock_);
    for (const auto& entry : entries_) {
        if (entry.second.device == device)
            return entry.second.displayName;
    }
    return std::nullopt;
}

std::optional<std::string> ObjectNamespace::LinkTarget(const std::string& name)
{
    std::lock_guard<std::mutex> guard(lock_);
    auto found = entries_.find(UpperAscii(Normalize(name)));
    if (found == entries_.end())
        return std::nullopt;
    return found->second.linkTarget;
}

std::vector<ObjectNamespace::Link> ObjectNamespace::DosLinks()
{
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<Link> links;
    for (const auto& entry : entries_) {
        if (entry.second.linkTarget && StartsWithNoCase(entry.second.displayName, DosPrefix))
            links.push_back(Link{entry.second.displayName.substr(DosPrefix.size()), *entry.second.linkTarget});
    }
    return links;
}

}  // namespace sim
