// Runs on the program's own Windows runtime (platform/win32), linked the way
// pfmsetup.exe is, and checks what that runtime promises: WinMain is called
// once, with the module handle, no previous instance, the command line after
// the program's name and the show state; its result becomes the exit code;
// the memory and string routines behave as the C library's.
//
// The test runs it as  runtime_probe.exe "two words" plain  and expects the
// exit code 42. Any other code names the first check that failed.
#include "platform/platform.h"

#include <stddef.h>

extern "C" {
void *malloc(size_t size);
void *calloc(size_t count, size_t size);
void free(void *block);
void *memmove(void *destination, const void *source, size_t count);
int memcmp(const void *first, const void *second, size_t count);
}

namespace {

int calls;  // zero before the entry point runs: no constructor needed

// Keeps the compiler from evaluating the routines at compile time.
template <typename T>
T Opaque(T value)
{
    asm volatile("" : "+r"(value));
    return value;
}

int CheckMemory(void)
{
    unsigned char *block = static_cast<unsigned char *>(calloc(Opaque<size_t>(300), 7));
    if (block == NULL)
        return 20;
    for (int i = 0; i < 2100; ++i) {
        if (block[i] != 0)
            return 21;
    }
    for (int i = 0; i < 16; ++i)
        block[i] = static_cast<unsigned char>('a' + i);
    memmove(block + Opaque(2), block, 10);  // overlapping, forwards
    if (memcmp(block, "ababcdefghijmnop", 16) != 0)
        return 22;
    memmove(block, block + Opaque(3), 10);  // overlapping, backwards
    if (memcmp(block, "bcdefghijmijmnop", 16) != 0)
        return 23;
    if (memcmp(block, "bcd", 3) != 0 || memcmp(block, "bce", 3) >= 0 || memcmp(block, "bcc", 3) <= 0)
        return 24;
    free(block);
    if (calloc(Opaque<size_t>(0x10000), 0x10000) != NULL)  // 4 GiB: overflows, must fail
        return 25;
    char *text = new char[8];
    if (text == NULL)
        return 26;
    delete[] text;
    void *empty = malloc(Opaque<size_t>(0));
    if (empty == NULL)
        return 27;
    free(empty);
    return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show)
{
    if (++calls != 1)
        return 10;
    if (instance != GetModuleHandleA(NULL))
        return 11;
    if (previous != NULL)
        return 12;
    if (command_line == NULL || lstrcmpA(command_line, "\"two words\" plain") != 0)
        return 13;
    if (show != SW_SHOWDEFAULT)
        return 14;
    int memory = CheckMemory();
    if (memory != 0)
        return memory;
    return 42;
}
