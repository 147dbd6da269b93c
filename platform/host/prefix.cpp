#include "prefix.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>

namespace host {

std::string PrefixRoot()
{
    const char *prefix = std::getenv("WINEPREFIX");
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
