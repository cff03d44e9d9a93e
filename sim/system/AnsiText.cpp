#include "AnsiText.h"

namespace sim {

bool IsCp932LeadByte(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

static unsigned char UpperAscii(unsigned char byte)
{
    return (byte >= 'a' && byte <= 'z') ? static_cast<unsigned char>(byte - 'a' + 'A') : byte;
}

int CompareIgnoreCaseAnsi(const std::string& left, const std::string& right)
{
    size_t i = 0;
    bool trailByte = false;
    for (; i < left.size() && i < right.size(); ++i) {
        unsigned char a = static_cast<unsigned char>(left[i]);
        unsigned char b = static_cast<unsigned char>(right[i]);
        if (!trailByte) {
            a = UpperAscii(a);
            b = UpperAscii(b);
        }
        if (a != b)
            return a < b ? -1 : 1;
        trailByte = !trailByte && IsCp932LeadByte(a);
    }
    if (left.size() == right.size())
        return 0;
    return left.size() < right.size() ? -1 : 1;
}

bool EqualsIgnoreCaseAnsi(const std::string& left, const std::string& right)
{
    return left.size() == right.size() && CompareIgnoreCaseAnsi(left, right) == 0;
}

}  // namespace sim
