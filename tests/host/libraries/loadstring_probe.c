/* Loads a resource library and prints what LoadStringA gives for each
   string asked for, in a form that can be compared line by line. Built
   twice: for Windows, where the system's own operations answer, and for
   the host, where the host layer does.

   Usage: loadstring_probe LIBRARY ID[:SIZE]...   (SIZE defaults to 2048)

   Each ID prints one line: the id, the buffer size, the result, the bytes
   up to and including the result's terminating NUL in hex, and whether the
   bytes after that NUL are still as they were before the call. */
#include "platform/platform.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#define PROBE_BUFFER 70000
#define FILL 0xCC

static unsigned char buffer[PROBE_BUFFER];

int main(int argc, char **argv)
{
    HMODULE library;
    int i;

#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    if (argc < 2) {
        fprintf(stderr, "usage: %s LIBRARY ID[:SIZE]...\n", argv[0]);
        return 2;
    }
    library = LoadLibraryA(argv[1]);
    if (!library) {
        printf("load failed\n");
        return 0;
    }
    printf("load ok\n");
    for (i = 2; i < argc; ++i) {
        unsigned long id = strtoul(argv[i], NULL, 0);
        const char *colon = strchr(argv[i], ':');
        long size = colon ? strtol(colon + 1, NULL, 0) : 2048;
        int result;
        long shown, k;
        int untouched = 1;

        long bound;

        if (size > PROBE_BUFFER) size = PROBE_BUFFER;
        bound = size < 0 ? PROBE_BUFFER : size;
        memset(buffer, FILL, sizeof buffer);
        result = LoadStringA(library, (UINT)id, (LPSTR)buffer, (int)size);
        /* The bytes up to the first NUL at or after the result, within the
           buffer. */
        shown = result < 0 ? 0 : result;
        while (shown < bound && buffer[shown] != 0) ++shown;
        if (shown < bound) ++shown;
        for (k = shown; k < PROBE_BUFFER; ++k) {
            if (buffer[k] != FILL) {
                untouched = 0;
                break;
            }
        }
        printf("id %lu size %ld result %d tail %s bytes ", id, size, result,
               untouched ? "untouched" : "written");
        for (k = 0; k < shown; ++k) printf("%02x", buffer[k]);
        printf("\n");
    }
    FreeLibrary(library);
    return 0;
}
