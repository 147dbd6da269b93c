// Prints how the platform answers the system operations the installation run
// relies on: the version record, the system and current directories, a walk
// of a registry key under HKEY_LOCAL_MACHINE with its subkeys and values, and
// lstrcmpA on pairs of texts.
//
// The same source is built for Windows (and run under Wine, the reference)
// and against the host layer; the two outputs must be equal byte for byte.
//
// Output: one fact per line. Bytes outside printable ASCII are written as
// \xHH, and '\' itself as \\, so every line is plain ASCII and unambiguous.
//
// Usage:
//   system_probe walk KEYPATH [VALUE...]   version, directories, then the walk
//   system_probe sysdir SIZE...            GetSystemDirectoryA with each size
//   system_probe cwd SIZE...               GetCurrentDirectoryA with each size
//   system_probe open KEYPATH...           RegOpenKeyExA of each path
//   system_probe cmp FILE                  lstrcmpA on each pair of FILE
//   system_probe cmpbytes                  lstrcmpA on all one-byte texts
//   system_probe acp                       the ANSI code page in use
//   system_probe findwindow TITLE SEARCH...  a window titled TITLE, then
//                                          FindWindowA of each SEARCH (both
//                                          written with the escapes below)
//
// In FILE every line holds two texts separated by one space, written with
// the same escapes as the output (\xHH, \\). Empty lines and lines that
// start with '#' are skipped.
#include "platform/platform.h"
#ifndef _WIN32
#include "platform/host/dialogue/window_table.h"
#include "platform/host/installation/installation.h"
#endif

#include <stdio.h>
#include <string.h>
#include <stdlib.h>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

// The byte that fills every buffer before a call, so that the bytes the
// call wrote can be told from the ones it left alone.
const unsigned char kMarker = 0xA5;

const DWORD kValueBufferSize = 2048;
const DWORD kNameBufferSize = 260;

void PutEscaped(const unsigned char *bytes, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        unsigned char c = bytes[i];
        if (c == '\\')
            fputs("\\\\", stdout);
        else if (c >= 0x20 && c <= 0x7E)
            putchar(c);
        else
            printf("\\x%02X", c);
    }
}

void PutEscapedText(const char *text)
{
    PutEscaped(reinterpret_cast<const unsigned char *>(text), strlen(text));
}

// The count of leading bytes of the buffer that a call may have written:
// up to the last byte that no longer holds the marker.
size_t TouchedExtent(const unsigned char *buffer, size_t size)
{
    size_t extent = size;
    while (extent > 0 && buffer[extent - 1] == kMarker)
        --extent;
    return extent;
}

int Sign(int value)
{
    return value < 0 ? -1 : (value > 0 ? 1 : 0);
}

void PrintVersion()
{
    OSVERSIONINFOA info;
    memset(&info, 0, sizeof(info));
    info.dwOSVersionInfoSize = 148;
    BOOL ok = GetVersionExA(&info);
    printf("version ret=%d platform=%lu major=%lu minor=%lu build=%lu\n", ok ? 1 : 0,
           (unsigned long)info.dwPlatformId, (unsigned long)info.dwMajorVersion,
           (unsigned long)info.dwMinorVersion, (unsigned long)info.dwBuildNumber);
}

void PrintSystemDirectory(UINT size)
{
    unsigned char buffer[300];
    memset(buffer, kMarker, sizeof(buffer));
    UINT ret = GetSystemDirectoryA(size ? reinterpret_cast<LPSTR>(buffer) : NULL, size);
    size_t touched = TouchedExtent(buffer, sizeof(buffer));
    printf("sysdir size=%u ret=%u touched=%u bytes=", size, ret, (unsigned)touched);
    PutEscaped(buffer, touched);
    putchar('\n');
}

void PrintCurrentDirectory(DWORD size)
{
    static unsigned char buffer[4096];
    memset(buffer, kMarker, sizeof(buffer));
    DWORD ret = GetCurrentDirectoryA(size, size ? reinterpret_cast<LPSTR>(buffer) : NULL);
    size_t touched = TouchedExtent(buffer, sizeof(buffer));
    printf("cwd size=%lu ret=%lu touched=%u bytes=", (unsigned long)size, (unsigned long)ret,
           (unsigned)touched);
    PutEscaped(buffer, touched);
    putchar('\n');
}

void PrintValue(HKEY key, const char *name)
{
    static unsigned char buffer[kValueBufferSize + 16];
    memset(buffer, kMarker, sizeof(buffer));
    DWORD type = 0xDEADBEEFu;
    DWORD size = kValueBufferSize;
    LONG rc = RegQueryValueExA(key, name, NULL, &type, buffer, &size);
    // Bytes past the 2048 passed in must never be written; the extent is
    // measured over the whole buffer so that such a write would show.
    size_t touched = TouchedExtent(buffer, sizeof(buffer));
    printf("  value ");
    PutEscapedText(name);
    printf(" rc=%ld type=", (long)rc);
    if (type == 0xDEADBEEFu)
        printf("unset");
    else
        printf("%lu", (unsigned long)type);
    printf(" size=%lu touched=%u bytes=", (unsigned long)size, (unsigned)touched);
    PutEscaped(buffer, touched);
    putchar('\n');
}

void Walk(const char *path, int value_count, char **value_names)
{
    HKEY root = NULL;
    LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &root);
    printf("open ");
    PutEscapedText(path);
    printf(" rc=%ld\n", (long)rc);
    if (rc != ERROR_SUCCESS)
        return;
    for (DWORD index = 0;; ++index) {
        unsigned char name[kNameBufferSize + 16];
        memset(name, kMarker, sizeof(name));
        rc = RegEnumKeyA(root, index, reinterpret_cast<LPSTR>(name), kNameBufferSize);
        size_t touched = TouchedExtent(name, sizeof(name));
        printf("enum %lu rc=%ld touched=%u name=", (unsigned long)index, (long)rc, (unsigned)touched);
        PutEscaped(name, touched);
        putchar('\n');
        if (rc != ERROR_SUCCESS)
            break;
        // The subkey is opened by its full path from HKEY_LOCAL_MACHINE, as
        // the installation run does it.
        static char subpath[4096];
        snprintf(subpath, sizeof(subpath), "%s\\%s", path, reinterpret_cast<char *>(name));
        HKEY sub = NULL;
        LONG sub_rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, subpath, 0, KEY_READ, &sub);
        printf("  open rc=%ld\n", (long)sub_rc);
        if (sub_rc != ERROR_SUCCESS)
            continue;
        for (int i = 0; i < value_count; ++i)
            PrintValue(sub, value_names[i]);
        RegCloseKey(sub);
    }
    RegCloseKey(root);
}

void OpenPaths(int count, char **paths)
{
    for (int i = 0; i < count; ++i) {
        HKEY key = NULL;
        LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, paths[i], 0, KEY_READ, &key);
        printf("open ");
        PutEscapedText(paths[i]);
        printf(" rc=%ld\n", (long)rc);
        if (rc == ERROR_SUCCESS)
            RegCloseKey(key);
    }
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Decodes the escapes of one text in place; false for a malformed escape.
bool Unescape(char *text)
{
    char *out = text;
    for (const char *in = text; *in;) {
        if (*in != '\\') {
            *out++ = *in++;
            continue;
        }
        if (in[1] == '\\') {
            *out++ = '\\';
            in += 2;
        } else if (in[1] == 'x' && HexDigit(in[2]) >= 0 && HexDigit(in[3]) >= 0) {
            *out++ = static_cast<char>(HexDigit(in[2]) * 16 + HexDigit(in[3]));
            in += 4;
        } else {
            return false;
        }
    }
    *out = '\0';
    return true;
}

int ComparePairs(const char *file)
{
    FILE *in = fopen(file, "rb");
    if (!in) {
        printf("cmp cannot open %s\n", file);
        return 2;
    }
    static char line[8192];
    int line_number = 0;
    while (fgets(line, sizeof(line), in)) {
        ++line_number;
        size_t length = strlen(line);
        while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r'))
            line[--length] = '\0';
        if (length == 0 || line[0] == '#')
            continue;
        char *space = strchr(line, ' ');
        if (!space) {
            printf("cmp line %d has no pair\n", line_number);
            fclose(in);
            return 2;
        }
        *space = '\0';
        char *a = line;
        char *b = space + 1;
        if (!Unescape(a) || !Unescape(b)) {
            printf("cmp line %d has a bad escape\n", line_number);
            fclose(in);
            return 2;
        }
        printf("cmp ");
        PutEscapedText(a);
        putchar(' ');
        PutEscapedText(b);
        printf(" %d\n", Sign(lstrcmpA(a, b)));
    }
    fclose(in);
    return 0;
}

// Every one-byte text against every other: one line per first byte, one
// sign character ('-', '0', '+') per second byte 1..255.
void CompareAllBytes()
{
    for (int a = 1; a < 256; ++a) {
        char ta[2] = {static_cast<char>(a), 0};
        printf("cmpbytes %02X ", a);
        for (int b = 1; b < 256; ++b) {
            char tb[2] = {static_cast<char>(b), 0};
            int s = Sign(lstrcmpA(ta, tb));
            putchar(s < 0 ? '-' : (s > 0 ? '+' : '0'));
        }
        putchar('\n');
    }
}

// The ANSI code page the process converts with: GetACP() on Windows; on the
// host, the installation's.
void PrintCodePage()
{
#ifdef _WIN32
    printf("acp %u\n", GetACP());
#else
    printf("acp %u\n", host::AnsiCodePage().Number());
#endif
}

// A top-level window of the probe's own titled `title` (escaped), then
// FindWindowA for each search text: "find TEXT yes" or "find TEXT no". On
// the host the window is a box entered in the table of shown boxes, the
// windows that its FindWindowA searches.
int FindWindows(char *title, int count, char **searches)
{
    if (!Unescape(title))
        return 2;
#ifdef _WIN32
    WNDCLASSA window_class;
    memset(&window_class, 0, sizeof window_class);
    window_class.lpfnWndProc = DefWindowProcA;
    window_class.hInstance = GetModuleHandleA(NULL);
    window_class.lpszClassName = "PfmProbeWindow";
    RegisterClassA(&window_class);
    HWND own = CreateWindowExA(0, "PfmProbeWindow", title, WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, NULL, NULL,
                               window_class.hInstance, NULL);
    if (!own) {
        printf("no window\n");
        return 1;
    }
#else
    host::ShownBox own;
    host::EnterShownBox(title, &own);
#endif
    PrintCodePage();
    for (int i = 0; i < count; ++i) {
        if (!Unescape(searches[i]))
            return 2;
        HWND found = FindWindowA(NULL, searches[i]);
        fputs("find ", stdout);
        PutEscapedText(searches[i]);
        printf(" %s\n", found ? "yes" : "no");
    }
#ifdef _WIN32
    DestroyWindow(own);
#else
    host::RemoveShownBox(&own);
#endif
    return 0;
}

int Usage()
{
    fputs("usage: system_probe walk KEYPATH [VALUE...] | sysdir SIZE... | cwd SIZE... |"
          " open KEYPATH... | cmp FILE | cmpbytes | acp | findwindow TITLE SEARCH...\n",
          stderr);
    return 2;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        return Usage();
#ifdef _WIN32
    // Plain '\n' line ends, as on the host.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    const char *mode = argv[1];
    int rc = 0;
    if (strcmp(mode, "walk") == 0 && argc >= 3) {
        PrintVersion();
        PrintSystemDirectory(260);
        PrintCurrentDirectory(2048);
        Walk(argv[2], argc - 3, argv + 3);
    } else if (strcmp(mode, "sysdir") == 0) {
        for (int i = 2; i < argc; ++i)
            PrintSystemDirectory(static_cast<UINT>(strtoul(argv[i], NULL, 10)));
    } else if (strcmp(mode, "cwd") == 0) {
        for (int i = 2; i < argc; ++i) {
            unsigned long size = strtoul(argv[i], NULL, 10);
            PrintCurrentDirectory(static_cast<DWORD>(size > 4096 ? 4096 : size));
        }
    } else if (strcmp(mode, "version") == 0) {
        PrintVersion();
    } else if (strcmp(mode, "open") == 0) {
        OpenPaths(argc - 2, argv + 2);
    } else if (strcmp(mode, "cmp") == 0 && argc == 3) {
        rc = ComparePairs(argv[2]);
    } else if (strcmp(mode, "cmpbytes") == 0) {
        CompareAllBytes();
    } else if (strcmp(mode, "acp") == 0) {
        PrintCodePage();
    } else if (strcmp(mode, "findwindow") == 0 && argc >= 3) {
        rc = FindWindows(argv[2], argc - 3, argv + 3);
    } else {
        return Usage();
    }
    fflush(stdout);
    return rc;
}
