#include "ProfileFile.h"

#include "AnsiText.h"

#include <cerrno>
#include <cstdio>
#include <fstream>

namespace sim {
namespace {

const char* const kBlanks = " \t";

std::string Trim(const std::string& text)
{
    size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string::npos)
        return std::string();
    size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

// "[name]" (the closing bracket may be missing, as Windows tolerates).
bool ParseSectionHeader(const std::string& line, std::string& name)
{
    std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] != '[')
        return false;
    size_t close = trimmed.find(']');
    name = Trim(trimmed.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    return true;
}

struct KeyLineParts {
    std::string key;
    std::string value;
    bool hasValue = false;
};

// "key=value" or a bare "key"; blank lines and ';' comments hold no key.
bool ParseKeyLine(const std::string& line, KeyLineParts& parts)
{
    std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == ';' || trimmed[0] == '[')
        return false;
    size_t equals = trimmed.find('=');
    parts.key = Trim(trimmed.substr(0, equals));
    parts.hasValue = equals != std::string::npos;
    parts.value = parts.hasValue ? Trim(trimmed.substr(equals + 1)) : std::string();
    return true;
}

std::string KeyLine(const std::string& key, const std::string& value)
{
    return key + "=" + value;
}

}  // namespace

ProfileFile ProfileFile::Load(const std::string& hostPath)
{
    ProfileFile file;
    std::ifstream in(hostPath, std::ios::binary);
    if (!in)
        return file;
    file.exists_ = true;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        file.lines_.push_back(line);
    }
    return file;
}

int ProfileFile::Save(const std::string& hostPath) const
{
    std::FILE* out = std::fopen(hostPath.c_str(), "wb");
    if (!out)
        return errno;
    for (const std::string& line : lines_) {
        std::fwrite(line.data(), 1, line.size(), out);
        std::fwrite("\r\n", 1, 2, out);
    }
    int failed = std::ferror(out);
    if (std::fclose(out) != 0 || failed)
        return EIO;
    return 0;
}

ProfileFile::SectionSpan ProfileFile::FindSection(const std::string& section) const
{
    std::string name;
    size_t header = 0;
    for (; header < lines_.size(); ++header)
        if (ParseSectionHeader(lines_[header], name) && EqualsIgnoreCaseAnsi(name, section))
            break;
    if (header == lines_.size())
        return {header, header};
    size_t end = header + 1;
    while (end < lines_.size() && !ParseSectionHeader(lines_[end], name))
        ++end;
    return {header, end};
}

size_t ProfileFile::FindKeyLine(const SectionSpan& span, const std::string& key) const
{
    KeyLineParts parts;
    for (size_t i = span.header + 1; i < span.end; ++i)
        if (ParseKeyLine(lines_[i], parts) && EqualsIgnoreCaseAnsi(parts.key, key))
            return i;
    return span.end;
}

bool ProfileFile::FindValue(const std::string& section, const std::string& key, std::string& value) const
{
    SectionSpan span = FindSection(section);
    size_t line = FindKeyLine(span, key);
    if (line == span.end)
        return false;
    KeyLineParts parts;
    ParseKeyLine(lines_[line], parts);
    value = parts.value;
    return parts.hasValue;
}

std::vector<std::string> ProfileFile::SectionNames() const
{
    std::vector<std::string> names;
    std::string name;
    for (const std::string& line : lines_)
        if (ParseSectionHeader(line, name))
            names.push_back(name);
    return names;
}

std::vector<std::string> ProfileFile::KeyNames(const std::string& section) const
{
    std::vector<std::string> names;
    SectionSpan span = FindSection(section);
    KeyLineParts parts;
    for (size_t i = span.header + 1; i < span.end; ++i)
        if (ParseKeyLine(lines_[i], parts))
            names.push_back(parts.key);
    return names;
}

std::vector<std::string> ProfileFile::SectionEntries(const std::string& section) const
{
    std::vector<std::string> entries;
    SectionSpan span = FindSection(section);
    KeyLineParts parts;
    for (size_t i = span.header + 1; i < span.end; ++i)
        if (ParseKeyLine(lines_[i], parts))
            entries.push_back(parts.hasValue ? KeyLine(parts.key, parts.value) : parts.key);
    return entries;
}

size_t ProfileFile::EndOfKeys(const SectionSpan& span) const
{
    size_t end = span.end;
    while (end > span.header + 1 && Trim(lines_[end - 1]).empty())
        --end;
    return end;
}

void ProfileFile::AppendSection(const std::string& section, const std::vector<std::string>& keyLines)
{
    if (!lines_.empty() && !Trim(lines_.back()).empty())
        lines_.push_back(std::string());
    lines_.push_back("[" + section + "]");
    lines_.insert(lines_.end(), keyLines.begin(), keyLines.end());
}

void ProfileFile::SetValue(const std::string& section, const std::string& key, const std::string& value)
{
    SectionSpan span = FindSection(section);
    if (span.header == lines_.size()) {
        AppendSection(section, {KeyLine(key, value)});
        return;
    }
    size_t line = FindKeyLine(span, key);
    if (line != span.end) {
        KeyLineParts existing;
        ParseKeyLine(lines_[line], existing);
        lines_[line] = KeyLine(existing.key, value);
        return;
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(EndOfKeys(span)), KeyLine(key, value));
}

void ProfileFile::ReplaceSection(const std::string& section, const std::vector<std::string>& entries)
{
    std::vector<std::string> keyLines;
    KeyLineParts parts;
    for (const std::string& entry : entries)
        if (ParseKeyLine(entry, parts) && parts.hasValue)
            keyLines.push_back(KeyLine(parts.key, parts.value));
    SectionSpan span = FindSection(section);
    if (span.header == lines_.size()) {
        AppendSection(section, keyLines);
        return;
    }
    auto first = lines_.begin() + static_cast<std::ptrdiff_t>(span.header + 1);
    first = lines_.erase(first, lines_.begin() + static_cast<std::ptrdiff_t>(EndOfKeys(span)));
    lines_.insert(first, keyLines.begin(), keyLines.end());
}

void ProfileFile::DeleteKey(const std::string& section, const std::string& key)
{
    SectionSpan span = FindSection(section);
    size_t line = FindKeyLine(span, key);
    if (line != span.end)
        lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(line));
}

void ProfileFile::DeleteSection(const std::string& section)
{
    SectionSpan span = FindSection(section);
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(span.header),
                 lines_.begin() + static_cast<std::ptrdiff_t>(span.end));
}

}  // namespace sim
