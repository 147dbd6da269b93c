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

// A format whose only conversion is one plain "%d" ("softfont%d", "%d"):
// the text before and after it, which fit into the 1024 bytes with any
// number. Such formats are written for every soft font, and the general
// formatter costs more than all the rest of that step.
bool SplitAtPlainInteger(const char *format, std::size_t *before, const char **after)
{
    const char *percent = std::strchr(format, '%');
    if (!percent || percent[1] != 'd' || std::strchr(percent + 2, '%')) return false;
    *before = static_cast<std::size_t>(percent - format);
    *after = percent + 2;
    return *before + std::strlen(*after) + 11 <= 1024;
}

int FormatPlainInteger(char *dst, const char *format, std::size_t before, const char *after, int value)
{
    char digits[12];
    unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (value < 0) digits[n++] = '-';
    std::memmove(dst, format, before);
    char *p = dst + before;
    while (n) *p++ = digits[--n];
    std::size_t rest = std::strlen(after);
    std::memmove(p, after, rest + 1);
    return static_cast<int>(p - dst + static_cast<std::ptrdiff_t>(rest));
}

}  // namespace

int wsprintfA(LPSTR dst, LPCSTR format, ...)
{
    // The platform's formatter writes at most 1024 bytes.
    va_list args;
    va_start(args, format);
    std::size_t before;
    const char *after;
    if (dst && format && SplitAtPlainInteger(format, &before, &after)) {
        int n = FormatPlainInteger(dst, format, before, after, va_arg(args, int));
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
