// The profile parser and the profile reads over any bytes.
//
// The input is a profile file. Checked:
// - the parse keeps every byte: a document read and written back unchanged
//   is the same file (a UTF-16 file of an odd length loses its last byte);
// - every key that a section lists is found again by its name;
// - a value written reads back as written, from the document and from the
//   file written out and parsed again, and no other entry changes;
// - the reads through the platform operations stay within the buffers they
//   are given (every buffer is a heap block of exactly its size).
#include "fuzz/fuzz_prefix.h"
#include "platform/host/installation/installation.h"
#include "platform/host/profile/document.h"
#include "platform/platform.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using host::ProfileDocument;

namespace {

void Check(bool ok, const char *what)
{
    if (ok) return;
    std::fprintf(stderr, "profile_fuzz: %s\n", what);
    std::abort();
}

std::string_view Trimmed(std::string_view t)
{
    while (!t.empty() && host::IsProfileSpace(static_cast<unsigned char>(t.front()))) t.remove_prefix(1);
    while (!t.empty() && host::IsProfileSpace(static_cast<unsigned char>(t.back()))) t.remove_suffix(1);
    return t;
}

// A name that the host lets a program write and that reads back as itself.
bool Writable(std::string_view name, bool key)
{
    if (name.empty() || Trimmed(name) != name) return false;
    for (char c : name) {
        if (c == '\r' || c == '\n' || c == '\0') return false;
        if (key && c == '=') return false;
    }
    return !(key && name[0] == '[');
}

// Every value of every listed key, as seen from the start of the file:
// section name, key name -> value (first section and first key of a name).
using Entries = std::vector<std::pair<std::string, std::string>>;

std::string Fold(std::string_view t)
{
    std::string s(t);
    for (char &c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return s;
}

// Every section listed finds its keys again.
void CheckLookups(const ProfileDocument &doc)
{
    std::vector<std::string_view> names = doc.SectionNames();
    names.push_back("");
    for (std::string_view name : names) {
        if (Trimmed(name) != name) continue;
        for (const ProfileDocument::KeyValue &kv : doc.SectionLines(name, true)) {
            if (kv.key.empty() || Trimmed(kv.key) != kv.key) continue;
            ProfileDocument::KeyValue found;
            Check(doc.FindKey(name, kv.key, &found), "a listed key is not found by its name");
            // The first line of that name (letter case aside) answers.
            Check(Fold(found.key) == Fold(kv.key), "a key is found under another name");
        }
    }
}

void ReadThroughPlatform(const std::string &file, const ProfileDocument &doc, uint32_t choice)
{
    static const DWORD kSizes[] = {1, 2, 3, 4, 7, 30, 260, 4096};
    const char *path = file.c_str();
    std::vector<std::string> sections;
    for (std::string_view s : doc.SectionNames()) sections.emplace_back(s);
    sections.emplace_back("PrinterInfo");
    sections.emplace_back("");
    for (std::size_t i = 0; i < sections.size() && i < 8; ++i) {
        const std::string &section = sections[i];
        DWORD size = kSizes[(choice >> (i * 3)) & 7];
        std::unique_ptr<char[]> buffer(new char[size]);
        GetPrivateProfileSectionA(section.c_str(), buffer.get(), size, path);
        GetPrivateProfileStringA(section.c_str(), nullptr, "", buffer.get(), size, path);
        for (const ProfileDocument::KeyValue &kv : doc.SectionLines(section, true)) {
            std::string key(kv.key);
            DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), "default", buffer.get(), size, path);
            Check(n < size, "a read reports more than its buffer holds");
            Check(std::strlen(buffer.get()) == n, "a read's length is not that of its text");
            GetPrivateProfileIntA(section.c_str(), key.c_str(), 7, path);
        }
    }
    std::unique_ptr<char[]> names(new char[3]);
    GetPrivateProfileStringA(nullptr, nullptr, "", names.get(), 3, path);
    std::unique_ptr<char[]> all(new char[4096]);
    GetPrivateProfileStringA(nullptr, nullptr, "", all.get(), 4096, path);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const pfmfuzz::FuzzPrefix &prefix = pfmfuzz::Prefix();
    std::string_view bytes(reinterpret_cast<const char *>(data), size);
    ProfileDocument doc = ProfileDocument::Parse(bytes);

    std::string again = doc.Serialize();
    if (doc.Encoding() == host::ProfileEncoding::Utf16Le || doc.Encoding() == host::ProfileEncoding::Utf16Be) {
        Check(again == bytes.substr(0, 2 + ((size - 2) & ~std::size_t(1))), "a UTF-16 file does not read back whole");
    } else {
        Check(again == bytes, "a file does not read back whole");
    }
    CheckLookups(doc);

    uint32_t choice = 2166136261u;
    for (size_t i = 0; i < size; ++i) choice = (choice ^ data[i]) * 16777619u;

    std::string file = prefix.kit + "/fuzz.ini";
    pfmfuzz::WriteFile(file, bytes);
    host::Installation::Reset();
    ReadThroughPlatform("Z:" + file, doc, choice);

    // Writes: a section and a key that the file has, or new ones; the
    // written value must read back, and every other first entry must stay.
    std::vector<std::string> sections;
    for (std::string_view s : doc.SectionNames())
        if (Writable(s, false)) sections.emplace_back(s);
    std::string section = sections.empty() || (choice & 1) ? std::string("New Section") : sections[(choice >> 1) % sections.size()];
    std::vector<std::string> keys;
    for (const ProfileDocument::KeyValue &kv : doc.SectionLines(section, true))
        if (Writable(kv.key, true)) keys.emplace_back(kv.key);
    std::string key = keys.empty() || (choice & 2) ? std::string("newkey") : keys[(choice >> 3) % keys.size()];
    std::string value = "v" + std::to_string(choice % 1000);

    ProfileDocument edited = ProfileDocument::Parse(bytes);
    switch ((choice >> 12) % 3) {
    case 0: {
        edited.SetValue(section, key, value);
        ProfileDocument::KeyValue kv;
        Check(edited.FindKey(section, key, &kv) && kv.has_value && kv.value == value, "a written value does not read back");
        ProfileDocument reread = ProfileDocument::Parse(edited.Serialize());
        Check(reread.FindKey(section, key, &kv) && kv.has_value && kv.value == value,
              "a written value does not read back from the file");
        break;
    }
    case 1: {
        // The first line of the name goes; the section then lists one line
        // less, in the document and in the file written out.
        ProfileDocument::KeyValue kv;
        bool had = doc.FindKey(section, key, &kv);
        edited.DeleteKey(section, key);
        ProfileDocument reread = ProfileDocument::Parse(edited.Serialize());
        if (had) {
            std::size_t before = doc.SectionLines(section, true).size();
            Check(edited.SectionLines(section, true).size() + 1 == before, "a deleted key is still listed");
            Check(reread.SectionLines(section, true).size() + 1 == before, "a deleted key is back in the file");
        }
        break;
    }
    default: {
        edited.DeleteSection(section);
        ProfileDocument::Parse(edited.Serialize());
        break;
    }
    }
    // Entries of other sections are untouched by any of the edits.
    ProfileDocument reread = ProfileDocument::Parse(edited.Serialize());
    for (const std::string &other : sections) {
        if (Fold(other) == Fold(section)) continue;
        for (const ProfileDocument::KeyValue &kv : doc.SectionLines(other, true)) {
            if (kv.key.empty() || Trimmed(kv.key) != kv.key) continue;
            ProfileDocument::KeyValue a, b;
            Check(doc.FindKey(other, kv.key, &a), "lookup");
            Check(reread.FindKey(other, kv.key, &b) && a.value == b.value && a.has_value == b.has_value,
                  "an edit changed an entry of another section");
        }
    }
    return 0;
}
