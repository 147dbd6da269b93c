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
// written without the general formatter: such formats are written for
// every soft font, and the general formatter costs more than all the rest
// of that step. The argument is taken only once the format is known to be
// of that kind and to fit into the platform's 1024 bytes with any number;
// -1, with nothing taken, for any other format.
int FormatPlainInteger(char *dst, const char *format, va_list *args)
{
    const char *percent = std::strchr(format, '%');
    if (!percent || percent[1] != 'd') return -1;
    const char *after = percent + 2;
    std::size_t rest = std::strlen(after);
    if (std::memchr(after, '%', rest)) return -1;
    std::size_t before = static_cast<std::size_t>(percent - format);
    if (before + 11 + rest > 1024) return -1;

    int value = va_arg(*args, int);
    char digits[12];
    char *d = digits + sizeof digits;
    unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    do {
        *--d = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (value < 0) *--d = '-';
    std::size_t length = static_cast<std::size_t>(digits + sizeof digits - d);
    std::memcpy(dst, format, before);
    std::memcpy(dst + before, d, length);
    std::memcpy(dst + before + length, after, rest + 1);
    return static_cast<int>(before + length + rest);
}

}  // namespace

int wsprintfA(LPSTR dst, LPCSTR format, ...)
{
    // The platform's formatter writes at most 1024 bytes.
    va_list args;
    va_start(args, format);
    if (dst && format) {
        int n = FormatPlainInteger(dst, format, &args);
        if (n >= 0) {
            va_end(args);
            return n;
        }
    }
    int n = std::vsnprintf(dst, 1025, format, args);
    va_end(args);
    if (n < 0) {
        dst[0] = '\0';
        return 0;
    }
    return n > 1024 ? 1024 : n;
}
