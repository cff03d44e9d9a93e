// Whole files as bytes, for the tests of the built program under Wine.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// Empty when the file cannot be read.
inline Bytes ReadFileBytes(const std::wstring& path)
{
    Bytes bytes;
    if (FILE* file = _wfopen(path.c_str(), L"rb")) {
        uint8_t chunk[4096];
        size_t got;
        while ((got = fread(chunk, 1, sizeof chunk, file)) > 0)
            bytes.insert(bytes.end(), chunk, chunk + got);
        fclose(file);
    }
    return bytes;
}

inline bool WriteFileBytes(const std::wstring& path, const Bytes& bytes)
{
    FILE* file = _wfopen(path.c_str(), L"wb");
    if (!file)
        return false;
    bool written = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && written;
}
