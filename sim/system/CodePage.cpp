#include "CodePage.h"

#include <windows.h>

#include <iconv.h>

#include <cerrno>
#include <vector>

namespace sim {
namespace {

// Unconvertible input becomes '?' (one code unit per bad byte), as the
// Windows best-fit conversion does for bytes it cannot map.
template <typename Out>
Out Convert(const char* to, const char* from, const char* input, size_t inputBytes, size_t inputUnit)
{
    Out result;
    iconv_t converter = iconv_open(to, from);
    if (converter == reinterpret_cast<iconv_t>(-1))
        return result;
    std::vector<char> buffer(inputBytes * 4 + 16);
    char* in = const_cast<char*>(input);
    size_t inLeft = inputBytes;
    while (inLeft > 0) {
        char* out = buffer.data();
        size_t outLeft = buffer.size();
        size_t rc = iconv(converter, &in, &inLeft, &out, &outLeft);
        size_t produced = buffer.size() - outLeft;
        result.append(reinterpret_cast<const typename Out::value_type*>(buffer.data()),
                      produced / sizeof(typename Out::value_type));
        if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
            result.push_back(static_cast<typename Out::value_type>('?'));
            size_t skip = inLeft < inputUnit ? inLeft : inputUnit;
            in += skip;
            inLeft -= skip;
        }
    }
    iconv_close(converter);
    return result;
}

}  // namespace

std::u16string AnsiToWide(const char* text, size_t length)
{
    return Convert<std::u16string>("UTF-16LE", "CP932", text, length, 1);
}

std::u16string AnsiToWide(const std::string& text)
{
    return AnsiToWide(text.data(), text.size());
}

std::string WideToAnsi(const char16_t* text, size_t length)
{
    return Convert<std::string>("CP932", "UTF-16LE", reinterpret_cast<const char*>(text), length * 2, 2);
}

std::string WideToAnsi(const std::u16string& text)
{
    return WideToAnsi(text.data(), text.size());
}

}  // namespace sim

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar)
{
    if (CodePage != 932 || dwFlags != 0 || lpMultiByteStr == nullptr || cbMultiByte < 0 || cchWideChar < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::u16string wide = sim::AnsiToWide(lpMultiByteStr, static_cast<size_t>(cbMultiByte));
    if (cchWideChar == 0)
        return static_cast<int>(wide.size());
    if (wide.size() > static_cast<size_t>(cchWideChar)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    wide.copy(lpWideCharStr, wide.size());
    return static_cast<int>(wide.size());
}
