#include "prefix.h"

#include <pwd.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>

namespace host {

const char *PrefixVariable()
{
    static char **table = nullptr;
    static std::size_t index = 0;
    static const char *entry = nullptr;
    static const std::size_t kNameLength = sizeof "WINEPREFIX=" - 1;
    if (environ && environ == table && environ[index] == entry) return entry + kNameLength;
    const char *value = std::getenv("WINEPREFIX");
    table = nullptr;
    if (value && environ) {
        for (std::size_t i = 0; environ[i]; ++i) {
            if (environ[i] + kNameLength == value) {
                table = environ;
                index = i;
                entry = environ[i];
                break;
            }
        }
    }
    return value;
}

std::string PrefixRoot()
{
    const char *prefix = PrefixVariable();
    if (prefix && *prefix) return prefix;
    const char *home = std::getenv("HOME");
    if (!home || !*home) {
        const struct passwd *pw = getpwuid(getuid());
        home = pw ? pw->pw_dir : "";
    }
    return std::string(home) + "/.wine";
}

const char *WindowsDirectoryName() { return "C:\\windows"; }
const char *SystemDirectoryName() { return "C:\\windows\\system32"; }
const char *SystemProfileName() { return "C:\\windows\\win.ini"; }

void ReportUnusablePrefix(const std::string &path, const char *why)
{
    static std::mutex lock;
    static std::set<std::string> reported;
    std::lock_guard<std::mutex> guard(lock);
    if (!reported.insert(path).second) return;
    std::fprintf(stderr, "pfmsetup: the Windows installation at %s cannot be used: %s\n", path.c_str(), why);
}

}  // namespace host
