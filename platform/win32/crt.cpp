// The few C library routines that the program and the compiler need, for the
// Windows build, which links no C runtime at all.
//
// The compiler may emit calls to memset, memcpy, memmove and memcmp on its own
// (initialising or copying arrays and structures, and comparing blocks), and
// to strlen, strcpy, strcmp, strchr or memchr when it rewrites string code
// (a "%s" format into a copy, a one-letter search into strchr). malloc,
// calloc and free allocate from the process heap through kernel32, which
// every Windows 95/98/Me release exports. operator new and delete map onto them so that C++ code does not
// pull in the C++ runtime; they return NULL on failure (the build compiles
// with -fcheck-new and without exceptions).
#include <stddef.h>

#include "platform/platform.h"

// The bodies below must stay loops: the compiler would otherwise recognise
// them and turn them back into calls to themselves.
#define PFM_NO_BUILTIN __attribute__((optimize("no-tree-loop-distribute-patterns"), used))

extern "C" {

PFM_NO_BUILTIN void *memset(void *destination, int value, size_t count)
{
    unsigned char *d = static_cast<unsigned char *>(destination);
    while (count--)
        *d++ = static_cast<unsigned char>(value);
    return destination;
}

PFM_NO_BUILTIN void *memcpy(void *destination, const void *source, size_t count)
{
    unsigned char *d = static_cast<unsigned char *>(destination);
    const unsigned char *s = static_cast<const unsigned char *>(source);
    while (count--)
        *d++ = *s++;
    return destination;
}

PFM_NO_BUILTIN void *memmove(void *destination, const void *source, size_t count)
{
    unsigned char *d = static_cast<unsigned char *>(destination);
    const unsigned char *s = static_cast<const unsigned char *>(source);
    if (d < s) {
        while (count--)
            *d++ = *s++;
    } else if (d > s) {
        d += count;
        s += count;
        while (count--)
            *--d = *--s;
    }
    return destination;
}

PFM_NO_BUILTIN int memcmp(const void *first, const void *second, size_t count)
{
    const unsigned char *a = static_cast<const unsigned char *>(first);
    const unsigned char *b = static_cast<const unsigned char *>(second);
    for (; count != 0; --count, ++a, ++b) {
        if (*a != *b)
            return *a < *b ? -1 : 1;
    }
    return 0;
}

PFM_NO_BUILTIN size_t strlen(const char *text)
{
    const char *end = text;
    while (*end != '\0')
        ++end;
    return static_cast<size_t>(end - text);
}

PFM_NO_BUILTIN char *strcpy(char *destination, const char *source)
{
    char *d = destination;
    while ((*d++ = *source++) != '\0') {
    }
    return destination;
}

PFM_NO_BUILTIN int strcmp(const char *first, const char *second)
{
    const unsigned char *a = reinterpret_cast<const unsigned char *>(first);
    const unsigned char *b = reinterpret_cast<const unsigned char *>(second);
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a < *b ? -1 : (*a > *b ? 1 : 0);
}

PFM_NO_BUILTIN char *strchr(const char *text, int letter)
{
    const char wanted = static_cast<char>(letter);
    for (;; ++text) {
        if (*text == wanted)
            return const_cast<char *>(text);
        if (*text == '\0')
            return NULL;
    }
}

PFM_NO_BUILTIN void *memchr(const void *block, int value, size_t count)
{
    const unsigned char *p = static_cast<const unsigned char *>(block);
    for (; count != 0; --count, ++p) {
        if (*p == static_cast<unsigned char>(value))
            return const_cast<unsigned char *>(p);
    }
    return NULL;
}

void *malloc(size_t size)
{
    return HeapAlloc(GetProcessHeap(), 0, size != 0 ? size : 1);
}

void *calloc(size_t count, size_t size)
{
    if (size != 0 && count > static_cast<size_t>(-1) / size)
        return NULL;
    size_t total = count * size;
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, total != 0 ? total : 1);
}

void free(void *block)
{
    if (block != NULL)
        HeapFree(GetProcessHeap(), 0, block);
}

// Called through a pure virtual function's slot; cannot happen in correct
// code, so the process ends.
void __cxa_pure_virtual(void)
{
    ExitProcess(3);
}

}  // extern "C"

void *operator new(size_t size) { return malloc(size); }
void *operator new[](size_t size) { return malloc(size); }
void operator delete(void *block) noexcept { free(block); }
void operator delete[](void *block) noexcept { free(block); }
void operator delete(void *block, size_t) noexcept { free(block); }
void operator delete[](void *block, size_t) noexcept { free(block); }
