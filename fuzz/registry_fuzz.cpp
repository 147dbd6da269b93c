// The registry hive reader over any text, and the registry operations of
// the installation run over the hive it reads.
//
// Checked: every key reached by walking the tree is found again by its
// path, every value by its name; the operations stay within the buffers
// they are given (heap blocks of exactly the size passed) and report
// lengths that fit them.
#include "fuzz/fuzz_prefix.h"
#include "platform/host/installation/installation.h"
#include "platform/host/registry/wine_registry_text.h"
#include "platform/platform.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

void Check(bool ok, const char *what)
{
    if (ok) return;
    std::fprintf(stderr, "registry_fuzz: %s\n", what);
    std::abort();
}

void Walk(const host::RegistryFile &file, const host::RegistryKey &key, const std::u16string &path, int depth)
{
    for (const auto &value : key.values) Check(file.Value(key, value.first) == &value.second, "a value is not found by its name");
    if (depth > 12) return;
    for (const auto &child : key.subkeys) {
        const host::RegistryKey &sub = *child.second;
        Check(!sub.name.empty() && sub.name.find(u'\\') == std::u16string::npos, "a key name is empty or holds '\\'");
        std::u16string sub_path = path.empty() ? sub.name : path + u"\\" + sub.name;
        // Links lead elsewhere; keys below one are reached through it. A
        // root that is itself a link leaves no key to be found by its path.
        if (!key.is_link && !sub.is_link && !file.Root().is_link)
            Check(file.Find(file.Root(), sub_path) == &sub, "a key is not found by its path");
        if (!sub.is_link) Walk(file, sub, sub_path, depth + 1);
    }
}

void ReadPrinters()
{
    static const char kPrinters[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers";
    OSVERSIONINFOA version;
    std::memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    HKEY printers;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPrinters, 0, KEY_READ, &printers) != ERROR_SUCCESS) return;
    for (DWORD index = 0; index < 64; ++index) {
        std::unique_ptr<char[]> name(new char[260]);
        if (RegEnumKeyA(printers, index, name.get(), 260) != ERROR_SUCCESS) break;
        Check(std::strlen(name.get()) < 260, "a key name overruns its buffer");
        std::string path = std::string(kPrinters) + "\\" + name.get();
        HKEY printer;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &printer) != ERROR_SUCCESS) continue;
        for (const char *value : {"Printer Driver", "Port", ""}) {
            for (DWORD size : {DWORD(1), DWORD(4), DWORD(2048)}) {
                std::unique_ptr<unsigned char[]> data(new unsigned char[size]);
                DWORD got = size;
                DWORD type = 0;
                if (RegQueryValueExA(printer, value, nullptr, &type, data.get(), &got) == ERROR_SUCCESS)
                    Check(got <= size, "a value read reports more than its buffer holds");
            }
            DWORD needed = 0;
            RegQueryValueExA(printer, value, nullptr, nullptr, nullptr, &needed);
        }
        RegCloseKey(printer);
    }
    RegCloseKey(printers);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const pfmfuzz::FuzzPrefix &prefix = pfmfuzz::Prefix();
    std::string_view text(reinterpret_cast<const char *>(data), size);
    std::unique_ptr<host::RegistryFile> file = host::RegistryFile::Parse(text);
    Walk(*file, file->Root(), u"", 0);

    // The same text as the prefix's system.reg, behind the usual start (so
    // that the printers key exists) and on its own.
    host::Installation::Reset();
    pfmfuzz::WriteFile(prefix.prefix + "/system.reg", std::string(pfmfuzz::kSystemRegPrelude) + std::string(text));
    ReadPrinters();
    host::Installation::Reset();
    pfmfuzz::WriteFile(prefix.prefix + "/system.reg", text);
    ReadPrinters();
    return 0;
}
