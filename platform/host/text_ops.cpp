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
// written in one pass: such formats are written for every soft font, and
// the general formatter costs more than all the rest of that step. The text
// before the "%d" is copied while it is looked for; the argument is taken
// only once the rest of the format is known to hold no other conversion
// and the whole fits into the platform's 1024 bytes. -1, with nothing
// taken and dst to be written again, for any other format.
int FormatPlainInteger(char *dst, const char *format, va_list *args)
{
    char *p = dst;
    const char *f = format;
    while (*f != '%') {
        if (!*f || p - dst > 1024 - 11) return -1;
        *p++ = *f++;
    }
    if (f[1] != 'd') return -1;
    const char *after = f + 2;
    std::size_t rest = 0;
    for (; after[rest]; ++rest) {
        if (after[rest] == '%') return -1;
    }
    if (static_cast<std::size_t>(p - dst) + 11 + rest > 1024) return -1;

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
    std::memcpy(p, d, length);
    p += length;
    std::memcpy(p, after, rest + 1);
    return static_cast<int>(p - dst + static_cast<std::ptrdiff_t>(rest));
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
