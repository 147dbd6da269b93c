// Runs a script of profile operations and prints what the platform answered,
// one line per operation. The same source is built for Windows (run under
// Wine, the reference) and against the host layer, so that the two outputs
// can be compared line by line.
//
// Usage: profile_script SCRIPT
//
// Script syntax, one operation per line; blank lines and lines starting
// with '#' are skipped. Arguments are separated by white space:
//   "text"   a string with C escapes: \\ \" \' \n \r \t \a \b \f \v \xHH
//            (one or two hex digits) and \[N*text] for text repeated N times;
//            a string cannot hold a NUL byte, as the operations take C strings
//   NULL     a null pointer
//   123      a number (sizes and integer defaults; may be negative)
//
//   gpps SECTION KEY DEFAULT SIZE FILE   GetPrivateProfileStringA
//   gppi SECTION KEY DEFAULT FILE        GetPrivateProfileIntA
//   gpsec SECTION SIZE FILE              GetPrivateProfileSectionA
//   gps SECTION KEY DEFAULT SIZE         GetProfileStringA
//   wps SECTION KEY VALUE                WriteProfileStringA
//   flush                                FlushSystemProfile
//   acp                                  the ANSI code page in use
//
// Output: "L<line> <op> ret=<result>" and, for reads, buf="<bytes>". The
// buffer is filled with the marker byte 0xCC (shown as \xCC) before every
// call; it is shown up to the returned length + 2 bytes, or further when the
// platform wrote beyond that, never past the given size. A write past the
// given size is reported as OVERRUN. Bytes outside printable ASCII are shown
// as \xHH, NUL as \0, and '\' and '"' with a backslash; a run of 8 or more
// equal bytes as \[N*c].
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "platform/platform.h"
#ifndef _WIN32
#include "platform/host/installation/installation.h"
#endif

namespace {

const unsigned char kMarker = 0xCC;
const size_t kGuard = 64;

struct Arg {
    bool is_null = false;
    bool is_string = false;
    char *text = nullptr;  // owned; NUL-terminated
    long number = 0;
};

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Growable byte string, plain C allocation.
struct Bytes {
    char *data = nullptr;
    size_t len = 0;
    size_t cap = 0;
    void Push(char c)
    {
        if (len + 2 > cap) {
            cap = cap ? cap * 2 : 64;
            data = static_cast<char *>(realloc(data, cap));
            if (!data) {
                fputs("out of memory\n", stderr);
                exit(2);
            }
        }
        data[len++] = c;
        data[len] = '\0';
    }
};

// Parses one quoted argument starting at *p (on the opening quote).
// Returns false on a syntax error.
bool ParseString(const char **p, Bytes *out)
{
    const char *s = *p + 1;
    out->Push('\0');
    out->len = 0;
    while (*s && *s != '"') {
        if (*s != '\\') {
            out->Push(*s++);
            continue;
        }
        ++s;
        char c = *s++;
        switch (c) {
        case 'n': out->Push('\n'); break;
        case 'r': out->Push('\r'); break;
        case 't': out->Push('\t'); break;
        case 'a': out->Push('\a'); break;
        case 'b': out->Push('\b'); break;
        case 'f': out->Push('\f'); break;
        case 'v': out->Push('\v'); break;
        case '\\': out->Push('\\'); break;
        case '"': out->Push('"'); break;
        case '\'': out->Push('\''); break;
        case 'x': {
            int v = HexValue(*s);
            if (v < 0) return false;
            ++s;
            if (HexValue(*s) >= 0) v = v * 16 + HexValue(*s++);
            if (v == 0) return false;  // a C string cannot carry a NUL
            out->Push(static_cast<char>(v));
            break;
        }
        case '[': {
            char *end = nullptr;
            long count = strtol(s, &end, 10);
            if (end == s || *end != '*' || count < 0) return false;
            const char *piece = end + 1;
            const char *close = strchr(piece, ']');
            if (!close) return false;
            for (long i = 0; i < count; ++i)
                for (const char *q = piece; q < close; ++q) out->Push(*q);
            s = close + 1;
            break;
        }
        default:
            return false;
        }
    }
    if (*s != '"') return false;
    *p = s + 1;
    return true;
}

// Splits a script line into arguments. Returns the count, or -1 on error.
int ParseArgs(const char *line, Arg *args, int max_args)
{
    int n = 0;
    const char *p = line;
    for (;;) {
        while (*p == ' ' || *p == '\t') ++p;
        if (*p == '\0' || *p == '\n' || *p == '\r') break;
        if (n == max_args) return -1;
        Arg &a = args[n];
        if (*p == '"') {
            Bytes b;
            if (!ParseString(&p, &b)) return -1;
            a.is_string = true;
            a.text = b.data;
        } else if (strncmp(p, "NULL", 4) == 0 &&
                   (p[4] == '\0' || p[4] == ' ' || p[4] == '\t' || p[4] == '\n' || p[4] == '\r')) {
            a.is_null = true;
            p += 4;
        } else {
            char *end = nullptr;
            a.number = strtol(p, &end, 0);
            if (end == p) {
                // The operation name: a bare word.
                const char *start = p;
                while (*p && *p != ' ' && *p != '\t' && *p != '\n' && *p != '\r') ++p;
                Bytes b;
                for (const char *q = start; q < p; ++q) b.Push(*q);
                a.text = b.data;
            } else {
                p = end;
            }
        }
        ++n;
    }
    return n;
}

void PrintByte(unsigned char c)
{
    if (c == 0)
        fputs("\\0", stdout);
    else if (c == '\\' || c == '"')
        printf("\\%c", c);
    else if (c >= 0x20 && c < 0x7F)
        putchar(c);
    else
        printf("\\x%02X", c);
}

// Prints bytes escaped; a run of 8 or more equal bytes is shown as
// \[N*c], the script's own repetition escape, so long values stay short.
void PrintEscaped(const unsigned char *bytes, size_t len)
{
    for (size_t i = 0; i < len;) {
        size_t run = 1;
        while (i + run < len && bytes[i + run] == bytes[i]) ++run;
        if (run >= 8 && bytes[i] != ']') {
            printf("\\[%lu*", static_cast<unsigned long>(run));
            PrintByte(bytes[i]);
            putchar(']');
            i += run;
        } else {
            PrintByte(bytes[i]);
            ++i;
        }
    }
}

// A buffer of `size` bytes followed by a guard, all set to the marker.
struct Buffer {
    unsigned char *data;
    size_t size;
    explicit Buffer(size_t n) : size(n)
    {
        data = static_cast<unsigned char *>(malloc(n + kGuard));
        if (!data) {
            fputs("out of memory\n", stderr);
            exit(2);
        }
        memset(data, kMarker, n + kGuard);
    }
    ~Buffer() { free(data); }
    Buffer(const Buffer &) = delete;
    Buffer &operator=(const Buffer &) = delete;

    // Prints buf="..." as described at the top of this file.
    void Print(unsigned long returned) const
    {
        size_t shown = returned + 2;
        for (size_t i = size; i > 0; --i) {
            if (data[i - 1] != kMarker) {
                if (i > shown) shown = i;
                break;
            }
        }
        if (shown > size) shown = size;
        fputs(" buf=\"", stdout);
        PrintEscaped(data, shown);
        putchar('"');
        for (size_t i = 0; i < kGuard; ++i) {
            if (data[size + i] != kMarker) {
                printf(" OVERRUN");
                break;
            }
        }
    }
};

const char *Str(const Arg &a) { return a.is_null ? nullptr : a.text; }

bool IsStr(const Arg &a) { return a.is_null || a.is_string; }

bool IsNum(const Arg &a) { return !a.is_null && !a.is_string && a.text == nullptr; }

// Runs one script line; returns false on a syntax error.
bool RunLine(int line_no, const char *line)
{
    Arg args[8];
    int n = ParseArgs(line, args, 8);
    if (n < 0 || (n > 0 && (args[0].is_string || args[0].is_null || !args[0].text))) return false;
    if (n == 0) return true;
    const char *op = args[0].text;
    printf("L%d %s", line_no, op);
    if (strcmp(op, "gpps") == 0 && n == 6 && IsStr(args[1]) && IsStr(args[2]) && IsStr(args[3]) &&
        IsNum(args[4]) && IsStr(args[5])) {
        Buffer buf(static_cast<size_t>(args[4].number));
        DWORD r = GetPrivateProfileStringA(Str(args[1]), Str(args[2]), Str(args[3]),
                                           reinterpret_cast<char *>(buf.data),
                                           static_cast<DWORD>(args[4].number), Str(args[5]));
        printf(" ret=%lu", static_cast<unsigned long>(r));
        buf.Print(r);
    } else if (strcmp(op, "gppi") == 0 && n == 5 && IsStr(args[1]) && IsStr(args[2]) && IsNum(args[3]) &&
               IsStr(args[4])) {
        UINT r = GetPrivateProfileIntA(Str(args[1]), Str(args[2]), static_cast<INT>(args[3].number),
                                       Str(args[4]));
        printf(" ret=%u (%d)", static_cast<unsigned>(r), static_cast<int>(r));
    } else if (strcmp(op, "gpsec") == 0 && n == 4 && IsStr(args[1]) && IsNum(args[2]) && IsStr(args[3])) {
        Buffer buf(static_cast<size_t>(args[2].number));
        DWORD r = GetPrivateProfileSectionA(Str(args[1]), reinterpret_cast<char *>(buf.data),
                                            static_cast<DWORD>(args[2].number), Str(args[3]));
        printf(" ret=%lu", static_cast<unsigned long>(r));
        buf.Print(r);
    } else if (strcmp(op, "gps") == 0 && n == 5 && IsStr(args[1]) && IsStr(args[2]) && IsStr(args[3]) &&
               IsNum(args[4])) {
        Buffer buf(static_cast<size_t>(args[4].number));
        DWORD r = GetProfileStringA(Str(args[1]), Str(args[2]), Str(args[3]), reinterpret_cast<char *>(buf.data),
                                    static_cast<DWORD>(args[4].number));
        printf(" ret=%lu", static_cast<unsigned long>(r));
        buf.Print(r);
    } else if (strcmp(op, "wps") == 0 && n == 4 && IsStr(args[1]) && IsStr(args[2]) && IsStr(args[3])) {
        BOOL r = WriteProfileStringA(Str(args[1]), Str(args[2]), Str(args[3]));
        printf(" ret=%d", r ? 1 : 0);
    } else if (strcmp(op, "acp") == 0 && n == 1) {
#ifdef _WIN32
        printf(" %u", GetACP());
#else
        printf(" %u", host::AnsiCodePage().Number());
#endif
    } else if (strcmp(op, "flush") == 0 && n == 1) {
        BOOL r = FlushSystemProfile();
        printf(" ret=%d", r ? 1 : 0);
    } else {
        printf(" SYNTAX");
    }
    putchar('\n');
    for (int i = 0; i < n; ++i) free(args[i].text);
    fflush(stdout);
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        fputs("usage: profile_script SCRIPT\n", stderr);
        return 2;
    }
    FILE *f = fopen(argv[1], "rb");
    if (!f) {
        fprintf(stderr, "cannot open %s\n", argv[1]);
        return 2;
    }
    Bytes line;
    int line_no = 0;
    int status = 0;
    int c;
    do {
        c = fgetc(f);
        if (c != EOF && c != '\n') {
            line.Push(static_cast<char>(c));
            continue;
        }
        if (c == EOF && line.len == 0) break;
        ++line_no;
        line.Push('\0');
        const char *text = line.data;
        while (*text == ' ' || *text == '\t') ++text;
        if (*text != '#' && !RunLine(line_no, text)) {
            printf("L%d SYNTAX\n", line_no);
            status = 2;
        }
        line.len = 0;
    } while (c != EOF);
    fclose(f);
    free(line.data);
    return status;
}
