// The reader of Windows 9x registry files (SYSTEM.DAT) over any bytes: the
// structure check, and the hive libcreg reads when the check lets it.
//
// Checked: the bytes are refused with a reason or opened; in an open hive
// every enumerated subkey is found again by its name (in any letter case),
// enumeration ends, and values read within their sizes. libcreg itself is
// not instrumented: a hang or a crash inside it shows as a timeout or a
// signal.
#include "fuzz/fuzz_prefix.h"
#include "platform/host/registry/win9x_registry_hive.h"
#include "platform/host/registry/win9x_registry_check.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

void Check(bool ok, const char *what)
{
    if (ok) return;
    std::fprintf(stderr, "win9x_registry_fuzz: %s\n", what);
    std::abort();
}

std::string Upper(std::string s)
{
    for (char &c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

void Walk(const host::RegistryHive &hive, host::HiveKey key, int depth, int *budget)
{
    uint32_t type = 0;
    std::string data;
    for (const char *name : {"", "Port", "Printer Driver", "VersionNumber", "ACP"})
        hive.Value(key, name, &type, &data);
    std::string name;
    std::size_t i = 0;
    for (; hive.SubkeyName(key, i, &name); ++i) {
        Check(i < 70000, "enumeration does not end");
        if (--*budget < 0 || depth > 40) return;
        host::HiveKey sub = hive.Find(key, name);
        // A name holding '\' is a path, and may lead nowhere.
        if (name.empty() || name.find('\\') != std::string::npos) continue;
        Check(sub != nullptr, "an enumerated key is not found by its name");
        Check(hive.Find(key, Upper(name)) != nullptr, "a key is not found by its name in upper case");
        Walk(hive, sub, depth + 1, budget);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::string path = pfmfuzz::Prefix().root + "/SYSTEM.DAT";
    std::string_view bytes(reinterpret_cast<const char *>(data), size);
    std::string problem = host::CheckWin9xRegistry(bytes);
    pfmfuzz::WriteFile(path, bytes);
    std::string why;
    std::unique_ptr<host::RegistryHive> hive = host::OpenWin9xRegistry(path, &why);
    if (!problem.empty()) Check(!hive && why.find(problem) != std::string::npos, "a file the check refuses is opened");
    if (!hive) {
        Check(!why.empty(), "a refusal without a reason");
        return 0;
    }
    int budget = 20000;
    Walk(*hive, hive->Root(), 0, &budget);
    return 0;
}
