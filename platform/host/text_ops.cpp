// Text operations in the ANSI code page.
#include "collation.h"
#include "win32_api.h"

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>

int lstrcmpA(LPCSTR a, LPCSTR b)
{
    if (!a || !b) return a ? 1 : b ? -1 : 0;
    return host::CompareLocale(a, b);
}

LPSTR lstrcpyA(LPSTR dst, LPCSTR src)
{
    if (!dst || !src) return nullptr;
    return std::strcpy(dst, src);
}

LPSTR lstrcpynA(LPSTR dst, LPCSTR src, int size)
{
    if (!dst || size <= 0) return dst;
    int i = 0;
    if (src) {
        for (; i < size - 1 && src[i]; ++i) dst[i] = src[i];
    }
    dst[i] = '\0';
    return dst;
}

LPSTR lstrcatA(LPSTR dst, LPCSTR src)
{
    if (!dst || !src) return nullptr;
    return std::strcat(dst, src);
}

int lstrlenA(LPCSTR s)
{
    return s ? static_cast<int>(std::strlen(s)) : 0;
}

namespace {

// A format whose only conversion is one plain "%d" ("softfont%d", "%d"),
// and which fits into the platform's 1024 bytes with any number: such
// formats are written for every soft font, and the general formatter costs
// more than all the rest of that step. The place of the "%d" goes to
// *percent.
bool IsPlainIntegerFormat(const char *format, const char **percent)
{
    const char *f = format;
    while (*f && *f != '%') ++f;
    if (f[0] != '%' || f[1] != 'd') return false;
    *percent = f;
    for (f += 2; *f; ++f) {
        if (*f == '%') return false;
    }
    return (f - format) - 2 + 11 <= 1024;
}

int FormatPlainInteger(char *dst, const char *format, const char *percent, int value)
{
    std::size_t before = static_cast<std::size_t>(percent - format);
    std::memcpy(dst, format, before);
    char *p = dst + before;
    char digits[12];
    unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (value < 0) digits[n++] = '-';
    while (n) *p++ = digits[--n];
    for (const char *f = percent + 2; *f; ++f) *p++ = *f;
    *p = '\0';
    return static_cast<int>(p - dst);
}

}  // namespace

int wsprintfA(LPSTR dst, LPCSTR format, ...)
{
    // The platform's formatter writes at most 1024 bytes.
    va_list args;
    va_start(args, format);
    const char *percent;
    if (dst && format && IsPlainIntegerFormat(format, &percent)) {
        int n = FormatPlainInteger(dst, format, percent, va_arg(args, int));
        va_end(args);
        return n;
    }
    int n = std::vsnprintf(dst, 1025, format, args);
    va_end(args);
    if (n < 0) {
        dst[0] = '\0';
        return 0;
    }
    return n > 1024 ? 1024 : n;
}
