// Text operations in the ANSI code page.
#include "platform/host/installation/installation.h"
#include "platform/host/text/collation.h"
#include "platform/host/installation/out_of_memory.h"
#include "platform/host/win32_api.h"

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>

int lstrcmpA(LPCSTR a, LPCSTR b)
{
    if (!a || !b) return a ? 1 : b ? -1 : 0;
    // The comparison weighs the texts in buffers of its own. Without memory
    // for them the platform's comparison fails, and lstrcmpA answers 0, as
    // Wine's does; no write of the run can follow (see out_of_memory.h).
    return host::AnswerOnOutOfMemory(0, [&] { return host::CompareLocale(host::AnsiCodePage(), a, b); });
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
// every soft font (twice), and the general formatter, or even calls of the
// C library's string functions for such short texts, cost more than all
// the rest of that step. The text before the "%d" is copied while it is
// looked for; the argument is taken only once the format is known to be of
// that kind and to fit into the platform's 1024 bytes with any number. -1,
// with nothing taken and dst to be written again, for any other format.
int FormatPlainInteger(char *dst, const char *format, va_list *args)
{
    static const char kPairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    std::size_t before = 0;
    for (; format[before] != '%'; ++before) {
        if (!format[before] || before > 1024 - 11) return -1;
        dst[before] = format[before];
    }
    if (format[before + 1] != 'd') return -1;
    const char *after = format + before + 2;
    std::size_t rest = 0;
    for (; after[rest]; ++rest) {
        if (after[rest] == '%' || before + 11 + rest >= 1024) return -1;
    }

    int value = va_arg(*args, int);
    char digits[12];
    char *d = digits + sizeof digits;
    unsigned m = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    while (m >= 100) {
        unsigned pair = m % 100;
        m /= 100;
        d -= 2;
        d[0] = kPairs[2 * pair];
        d[1] = kPairs[2 * pair + 1];
    }
    if (m >= 10) {
        d -= 2;
        d[0] = kPairs[2 * m];
        d[1] = kPairs[2 * m + 1];
    } else {
        *--d = static_cast<char>('0' + m);
    }
    if (value < 0) *--d = '-';
    char *p = dst + before;
    while (d < digits + sizeof digits) *p++ = *d++;
    for (std::size_t i = 0; i <= rest; ++i) p[i] = after[i];
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
