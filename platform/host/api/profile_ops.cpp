// The profile operations: reads of any profile file, writes of the system
// profile, with the platform's rules for defaults, quotes, cut values and
// section listings.
#include "platform/host/installation/installation.h"
#include "platform/host/installation/out_of_memory.h"
#include "platform/platform.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using host::ProfileDocument;

// The pending copy of win.ini when `path` names it, else null; remembered
// for the name resolved last while the system profile's hold is the same.
const ProfileDocument *PendingFor(host::Installation &installation, const std::string *path)
{
    const host::SystemProfile &profile = installation.Profile();
    host::ProfilePaths &paths = installation.Paths();
    if (path != paths.LastPath()) return profile.Pending(*path);
    host::ProfilePaths::PendingMemo &memo = paths.LastMemo();
    if (!memo.known || memo.generation != profile.HoldGeneration()) {
        memo.pending = profile.Pending(*path);
        memo.generation = profile.HoldGeneration();
        memo.known = true;
    }
    return memo.pending;
}

// The document behind a file name, valid until the next profile call; null
// when there is none.
struct OpenProfile {
    const ProfileDocument *document = nullptr;
};

OpenProfile OpenForRead(const char *file)
{
    OpenProfile open;
    if (!file) return open;
    host::Installation &installation = host::Installation::Current();
    for (int attempt = 0; attempt < 2 && !open.document; ++attempt) {
        const std::string *path = installation.Paths().Resolve(file, attempt == 1);
        if (!path) continue;
        if (const ProfileDocument *pending = PendingFor(installation, path)) {
            open.document = pending;
            break;
        }
        open.document = installation.Profiles().Load(*path, installation.Texts());
    }
    return open;
}

// The value as the platform hands it out: one pair of matching quotes
// around it removed, cut to `size` - 1 characters. A value cut right at its
// closing quote loses one more character, as it does on the platform.
std::string_view UnquotedEntry(std::string_view value, DWORD size)
{
    bool quoted = value.size() > 1 && (value[0] == '\'' || value[0] == '"') && value.back() == value[0];
    if (quoted) value.remove_prefix(1);
    std::string_view cut = value.substr(0, size - 1);
    if (quoted && size >= value.size() && !cut.empty()) cut.remove_suffix(1);
    return cut;
}

// Hands out `length` bytes of a result and a NUL, as the platform converts
// its results into the caller's buffer.
DWORD HandOut(char *buffer, std::string_view result, DWORD length)
{
    std::memcpy(buffer, result.data(), length);
    buffer[length] = '\0';
    return length;
}

// Names (of the entries of a section, or of all sections), each
// NUL-terminated and closed by an empty text. A run that does not fit into
// `size` is cut and counts size - 2.
DWORD NameList(const std::vector<std::string_view> &names, DWORD size, std::string *run)
{
    run->clear();
    for (std::string_view name : names) {
        run->append(name);
        run->push_back('\0');
    }
    if (run->size() + 2 <= size) return static_cast<DWORD>(run->size());
    return size - 2;
}

DWORD GetString(const char *section, const char *key, const char *def, char *buffer, DWORD size, const char *file)
{
    if (!buffer || size == 0) return 0;
    // The default loses its trailing spaces.
    std::string_view fallback = def ? def : "";
    while (!fallback.empty() && fallback.back() == ' ') fallback.remove_suffix(1);

    OpenProfile open = OpenForRead(file);
    if (!open.document) {
        std::string_view cut = fallback.substr(0, size - 1);
        return HandOut(buffer, cut, static_cast<DWORD>(cut.size()));
    }
    const ProfileDocument &doc = *open.document;
    std::vector<std::string_view> names;
    if (!section) {
        for (std::string_view name : doc.SectionNames()) {
            if (!name.empty()) names.push_back(name);
        }
    } else if (key) {
        ProfileDocument::KeyValue kv;
        bool found = doc.FindKey(section, key, &kv) && kv.has_value;
        std::string_view value = UnquotedEntry(found ? kv.value : fallback, size);
        return HandOut(buffer, value, static_cast<DWORD>(value.size()));
    } else {
        for (const ProfileDocument::KeyValue &kv : doc.SectionLines(section, true)) {
            if (kv.has_value && !(!kv.key.empty() && kv.key[0] == ';')) names.push_back(kv.key);
        }
        // A list that comes out empty, also for want of room, gives the default.
        if (names.empty() || size < 3) {
            std::string_view value = UnquotedEntry(fallback, size);
            return HandOut(buffer, value, static_cast<DWORD>(value.size()));
        }
    }
    if (size < 3) return HandOut(buffer, "", 0);
    std::string run;
    DWORD n = NameList(names, size, &run);
    return HandOut(buffer, run, n);
}

UINT IntValue(LPCSTR section, LPCSTR key, INT def, LPCSTR file)
{
    // The value is read as a text of at most 29 characters, then as an
    // integer: white space, a sign, a 0x, 0o or 0b prefix, digits up to the
    // first that does not belong, wrapping at 32 bits. Windows 95/98/Me
    // take no '+' for a sign (dialect.h).
    char text[30];
    if (GetString(section, key, "", text, sizeof text, file) == 0) return static_cast<UINT>(def);
    const char *p = text;
    while (*p && static_cast<unsigned char>(*p) <= ' ') ++p;
    bool minus = false;
    if (*p == '+') {
        if (host::Installation::Current().Dialect().plus_sign_reads_as_zero) return 0;
        ++p;
    } else if (*p == '-') {
        minus = true;
        ++p;
    }
    unsigned base = 10;
    if (p[0] == '0' && p[1] == 'x') {
        base = 16;
        p += 2;
    } else if (p[0] == '0' && p[1] == 'o') {
        base = 8;
        p += 2;
    } else if (p[0] == '0' && p[1] == 'b') {
        base = 2;
        p += 2;
    }
    uint32_t total = 0;
    for (;; ++p) {
        unsigned digit;
        if (*p >= '0' && *p <= '9') digit = static_cast<unsigned>(*p - '0');
        else if (*p >= 'A' && *p <= 'Z') digit = static_cast<unsigned>(*p - 'A' + 10);
        else if (*p >= 'a' && *p <= 'z') digit = static_cast<unsigned>(*p - 'a' + 10);
        else break;
        if (digit >= base) break;
        total = total * base + digit;
    }
    return minus ? 0u - total : total;
}

DWORD SectionLines(LPCSTR section, LPSTR buffer, DWORD size, LPCSTR file)
{
    if (!section || !buffer) return 0;
    // The platform answers a buffer of nothing with size - 2, writing nothing.
    if (size == 0) return static_cast<DWORD>(-2);
    OpenProfile open = OpenForRead(file);
    std::string run;
    if (open.document) {
        // Every line but blanks and comments: "key=value", or the bare text of
        // a line without '=', each NUL-terminated. The section's name is
        // taken as given, not trimmed.
        for (const ProfileDocument::KeyValue &kv : open.document->SectionLines(section, false)) {
            if (kv.key.empty() && !kv.has_value) continue;
            if (!kv.key.empty() && kv.key[0] == ';') continue;
            run.append(kv.key);
            if (kv.has_value) {
                run.push_back('=');
                run.append(kv.value);
            }
            run.push_back('\0');
        }
    }
    if (run.empty() || size < 2) {
        buffer[0] = '\0';
        if (size > 1) buffer[1] = '\0';
        return 0;
    }
    // The run and its closing NUL, if they fit with room to spare; else its
    // first size - 2 bytes and two NULs.
    if (run.size() + 1 < size) return HandOut(buffer, run, static_cast<DWORD>(run.size()));
    std::memcpy(buffer, run.data(), size - 2);
    buffer[size - 2] = '\0';
    buffer[size - 1] = '\0';
    return size - 2;
}

// What a read that ran out of memory hands out: an empty text (an empty
// list for a section, which ends in two NULs), and 0.
DWORD NothingRead(char *buffer, DWORD size)
{
    if (buffer && size > 0) buffer[0] = '\0';
    if (buffer && size > 1) buffer[1] = '\0';
    return 0;
}

}  // namespace

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR def, LPSTR buffer, DWORD size, LPCSTR file)
{
    return host::AnswerOnOutOfMemory([&] { return NothingRead(buffer, size); },
                                     [&] { return GetString(section, key, def, buffer, size, file); });
}

DWORD GetProfileStringA(LPCSTR section, LPCSTR key, LPCSTR def, LPSTR buffer, DWORD size)
{
    return host::AnswerOnOutOfMemory([&] { return NothingRead(buffer, size); }, [&] {
        return GetString(section, key, def, buffer, size, host::Installation::Current().SystemProfileName().c_str());
    });
}

// A number that cannot be read for want of memory is the default, as one
// that is not there.
UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT def, LPCSTR file)
{
    return host::AnswerOnOutOfMemory(static_cast<UINT>(def), [&] { return IntValue(section, key, def, file); });
}

DWORD GetPrivateProfileSectionA(LPCSTR section, LPSTR buffer, DWORD size, LPCSTR file)
{
    return host::AnswerOnOutOfMemory([&] { return NothingRead(buffer, size); },
                                     [&] { return SectionLines(section, buffer, size, file); });
}

BOOL WriteProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value)
{
    return host::AnswerOnOutOfMemory(FALSE, [&] {
        return host::Installation::Current().Profile().Write(section, key, value) ? TRUE : FALSE;
    });
}

// Never throws: memory that runs out while win.ini is written out fails
// the flush inside.
BOOL FlushSystemProfile(void)
{
    return host::Installation::Current().Profile().Flush() ? TRUE : FALSE;
}
