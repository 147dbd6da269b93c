// Text operations in the ANSI code page.
#include "win32_api.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

int lstrcmpA(LPCSTR a, LPCSTR b)
{
    if (!a || !b) return a ? 1 : b ? -1 : 0;
    int r = std::strcmp(a, b);
    return r < 0 ? -1 : r > 0 ? 1 : 0;
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

int wsprintfA(LPSTR dst, LPCSTR format, ...)
{
    // The platform's formatter writes at most 1024 bytes.
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(dst, 1025, format, args);
    va_end(args);
    if (n < 0) {
        dst[0] = '\0';
        return 0;
    }
    return n > 1024 ? 1024 : n;
}
