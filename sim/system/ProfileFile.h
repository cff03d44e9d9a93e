// One initialization file held as its lines, so that an edit leaves every
// other line (comments, unknown keys, spacing) exactly as it was.
#pragma once

#include <string>
#include <vector>

namespace sim {

class ProfileFile {
public:
    // A missing or unreadable file reads as an empty one.
    static ProfileFile Load(const std::string& hostPath);
    // Returns 0 on success, else the errno of the failed write.
    int Save(const std::string& hostPath) const;

    bool Exists() const { return exists_; }
    // A key line without '=' is found but has no value (returns false).
    bool FindValue(const std::string& section, const std::string& key, std::string& value) const;
    std::vector<std::string> SectionNames() const;
    // Empty when the section is missing or has no keys.
    std::vector<std::string> KeyNames(const std::string& section) const;
    // "key=value" (or the bare key of a line without '=') for each key line.
    std::vector<std::string> SectionEntries(const std::string& section) const;

    void SetValue(const std::string& section, const std::string& key, const std::string& value);
    void DeleteKey(const std::string& section, const std::string& key);
    void DeleteSection(const std::string& section);
    // The section's keys become the "key=value" entries; an entry without '='
    // is left out, as Wine does.
    void ReplaceSection(const std::string& section, const std::vector<std::string>& entries);

private:
    // Lines [header, end) of the first section of that name; header == end of file when missing.
    struct SectionSpan {
        size_t header;
        size_t end;
    };
    SectionSpan FindSection(const std::string& section) const;
    size_t FindKeyLine(const SectionSpan& span, const std::string& key) const;
    // Past the section's last non-blank line, so the blank line before the next section stays.
    size_t EndOfKeys(const SectionSpan& span) const;
    void AppendSection(const std::string& section, const std::vector<std::string>& keyLines);

    std::vector<std::string> lines_;
    bool exists_ = false;
};

}  // namespace sim
