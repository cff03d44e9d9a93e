// Reads CSV text as RFC 4180 writes it: fields separated by commas, records
// by CRLF, quoted fields with doubled quotes and line breaks inside.
#pragma once

#include <string>
#include <string_view>
#include <vector>

using CsvRecord = std::vector<std::string>;

// Empty when the text is not well-formed CSV (a quote inside an unquoted
// field, an unterminated quoted field, a record not ended by CRLF).
inline std::vector<CsvRecord> ReadCsv(std::string_view text)
{
    std::vector<CsvRecord> records;
    CsvRecord record;
    std::string field;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '"' && field.empty()) {
            for (++i;; ++i) {
                if (i >= text.size())
                    return {};
                if (text[i] == '"' && (i + 1 >= text.size() || text[i + 1] != '"'))
                    break;
                if (text[i] == '"')
                    ++i;
                field += text[i];
            }
            ++i;
        }
        if (i < text.size() && text[i] == ',') {
            record.push_back(std::move(field));
            field.clear();
            ++i;
        } else if (text.compare(i, 2, "\r\n") == 0) {
            record.push_back(std::move(field));
            field.clear();
            records.push_back(std::move(record));
            record.clear();
            i += 2;
        } else if (i < text.size()) {
            if (text[i] == '"' || text[i] == '\r' || text[i] == '\n')
                return {};
            field += text[i++];
        }
    }
    if (!record.empty() || !field.empty())
        return {};
    return records;
}
