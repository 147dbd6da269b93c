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
// written in one pass over the format: such formats are written for every
// soft font, and the general formatter costs more than all the rest of
// that step. False, with nothing promised about dst, for any other format
// or one too long for the platform's 1024 bytes; the caller then formats
// it in full.
bool FormatPlainInteger(char *dst, const char *format, va_list *args, int *length)
{
    char *p = dst;
    const char *f = format;
    while (*f && *f != '%') {
        if (p - dst >= 1000) return false;
        *p++ = *f++;
    }
    if (f[0] != '%' || f[1] != 'd') return false;
    f += 2;
    int value = va_arg(*args, int);
    char digits[12];
    unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (value < 0) digits[n++] = '-';
    while (n) *p++ = digits[--n];
    while (*f) {
        if (*f == '%' || p - dst >= 1024) return false;
        *p++ = *f++;
    }
    *p = '\0';
    *length = static_cast<int>(p - dst);
    return true;
}

}  // namespace

int wsprintfA(LPSTR dst, LPCSTR format, ...)
{
    // The platform's formatter writes at most 1024 bytes.
    va_list args;
    va_start(args, format);
    if (dst && format) {
        va_list copy;
        va_copy(copy, args);
        int n;
        bool done = FormatPlainInteger(dst, format, &copy, &n);
        va_end(copy);
        if (done) {
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
