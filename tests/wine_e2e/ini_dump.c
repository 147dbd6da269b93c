/* Prints what the platform's profile reader makes of each file named on the
 * command line: its sections in order, each with its entries in order, as
 * GetPrivateProfileSectionNamesA and GetPrivateProfileSectionA return them.
 *
 *   file <n>            for the n-th argument (from 1)
 *   [<section>]
 *     <entry>           the entry as the reader gives it (key=value, trimmed)
 *   end
 *
 * Bytes outside printable ASCII, and '\', are written as \xHH. Runs under
 * Wine, where it is the reference for "what a profile says". */
#include <windows.h>
#include <stdio.h>

#define BUF_SIZE (1 << 20)

static char names[BUF_SIZE];
static char entries[BUF_SIZE];

static void put_escaped(const char *s)
{
    for (; *s; ++s) {
        unsigned char c = (unsigned char)*s;
        if (c < 0x20 || c >= 0x7f || c == '\\') printf("\\x%02X", c);
        else putchar(c);
    }
}

int main(int argc, char **argv)
{
    int i;
    for (i = 1; i < argc; ++i) {
        const char *section;
        printf("file %d\n", i);
        names[0] = names[1] = 0;
        GetPrivateProfileSectionNamesA(names, BUF_SIZE, argv[i]);
        for (section = names; *section; section += lstrlenA(section) + 1) {
            const char *entry;
            printf("[");
            put_escaped(section);
            printf("]\n");
            entries[0] = entries[1] = 0;
            GetPrivateProfileSectionA(section, entries, BUF_SIZE, argv[i]);
            for (entry = entries; *entry; entry += lstrlenA(entry) + 1) {
                printf("  ");
                put_escaped(entry);
                printf("\n");
            }
        }
        printf("end\n");
    }
    fflush(stdout);
    return 0;
}
