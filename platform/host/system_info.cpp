// The version of Windows that the prefix stands for, and its directories,
// as Wine answers them for that prefix.
#include "codepage.h"
#include "out_of_memory.h"
#include "paths.h"
#include "prefix.h"
#include "registry_file.h"
#include "win32_api.h"

#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

struct WindowsVersion {
    const char *name;
    DWORD platform;
    DWORD major;
    DWORD minor;
    DWORD build;
    const char *service_pack;
};

// The versions that Wine can be set to, as it names them.
const WindowsVersion kVersions[] = {
    {"win31", VER_PLATFORM_WIN32s, 3, 10, 0, "Win32s 1.3"},
    {"win95", VER_PLATFORM_WIN32_WINDOWS, 4, 0, 0x40003B6, ""},
    {"win98", VER_PLATFORM_WIN32_WINDOWS, 4, 10, 0x40A08AE, " A "},
    {"winme", VER_PLATFORM_WIN32_WINDOWS, 4, 90, 0x45A0BB8, " "},
    {"nt351", VER_PLATFORM_WIN32_NT, 3, 51, 0x421, "Service Pack 5"},
    {"nt40", VER_PLATFORM_WIN32_NT, 4, 0, 0x565, "Service Pack 6a"},
    {"win2k", VER_PLATFORM_WIN32_NT, 5, 0, 0x893, "Service Pack 4"},
    {"winxp", VER_PLATFORM_WIN32_NT, 5, 1, 0xA28, "Service Pack 3"},
    {"winxp64", VER_PLATFORM_WIN32_NT, 5, 2, 0xECE, "Service Pack 2"},
    {"win2003", VER_PLATFORM_WIN32_NT, 5, 2, 0xECE, "Service Pack 2"},
    {"vista", VER_PLATFORM_WIN32_NT, 6, 0, 0x1772, "Service Pack 2"},
    {"win2008", VER_PLATFORM_WIN32_NT, 6, 0, 0x1772, "Service Pack 2"},
    {"win7", VER_PLATFORM_WIN32_NT, 6, 1, 0x1DB1, "Service Pack 1"},
    {"win2008r2", VER_PLATFORM_WIN32_NT, 6, 1, 0x1DB1, "Service Pack 1"},
    {"win8", VER_PLATFORM_WIN32_NT, 6, 2, 0x23F0, ""},
    // A program that does not declare itself for later versions is told 6.2.
    {"win81", VER_PLATFORM_WIN32_NT, 6, 2, 0x23F0, ""},
    {"win10", VER_PLATFORM_WIN32_NT, 6, 2, 0x23F0, ""},
    {"win11", VER_PLATFORM_WIN32_NT, 6, 2, 0x23F0, ""},
};

std::string StringValue(const host::RegistryFile &file, const char16_t *path, const char16_t *name, bool *found)
{
    *found = false;
    const host::RegistryKey *key = file.Find(file.Root(), path);
    if (!key) return std::string();
    const host::RegistryValue *value = file.Value(*key, name);
    if (!value || (value->type != REG_SZ && value->type != REG_EXPAND_SZ)) return std::string();
    *found = true;
    std::string text = host::Utf16ToCp1252(reinterpret_cast<const unsigned char *>(value->data.data()),
                                            value->data.size(), false);
    std::size_t nul = text.find('\0');
    if (nul != std::string::npos) text.resize(nul);
    return text;
}

const WindowsVersion *Named(const std::string &name)
{
    for (const WindowsVersion &v : kVersions) {
        if (host::EqualsNoCase(name, v.name)) return &v;
    }
    return nullptr;
}

void Fill(OSVERSIONINFOA *info, DWORD platform, DWORD major, DWORD minor, DWORD build, const char *sp)
{
    info->dwPlatformId = platform;
    info->dwMajorVersion = major;
    info->dwMinorVersion = minor;
    info->dwBuildNumber = build;
    std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
    std::strncpy(info->szCSDVersion, sp, sizeof info->szCSDVersion - 1);
}

// The program's file name as Wine's per-program settings name it.
std::string ProgramFileName()
{
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string name = n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string("pfmsetup");
    name = name.substr(name.rfind('/') + 1);
    if (name.size() < 4 || !host::EqualsNoCase(name.substr(name.size() - 4), ".exe")) name += ".exe";
    return host::Utf8ToCp1252(name);
}

BOOL VersionOfPrefix(LPOSVERSIONINFOA info)
{
    std::string root = host::PrefixRoot();

    // A version chosen for the program, or for every program, in Wine's settings.
    if (auto user = host::LoadRegistry(root + "/user.reg")) {
        std::u16string own = u"Software\\Wine\\AppDefaults\\" + host::Cp1252ToUtf16(ProgramFileName());
        const std::u16string paths[] = {own, u"Software\\Wine"};
        for (const std::u16string &path : paths) {
            bool found = false;
            std::string name = StringValue(*user, path.c_str(), u"Version", &found);
            const WindowsVersion *v = found ? Named(name) : nullptr;
            if (v) {
                Fill(info, v->platform, v->major, v->minor, v->build, v->service_pack);
                return TRUE;
            }
        }
    }

    auto system = host::LoadRegistry(root + "/system.reg");
    if (!system) {
        host::ReportUnusablePrefix(root, "its system.reg cannot be read");
        return FALSE;
    }
    bool found = false;
    unsigned major = 0, minor = 0;
    std::string nt = StringValue(*system, u"Software\\Microsoft\\Windows NT\\CurrentVersion", u"CurrentVersion", &found);
    if (found && std::sscanf(nt.c_str(), "%u.%u", &major, &minor) == 2) {
        bool build_found = false;
        std::string build = StringValue(*system, u"Software\\Microsoft\\Windows NT\\CurrentVersion",
                                        u"CurrentBuildNumber", &build_found);
        Fill(info, VER_PLATFORM_WIN32_NT, major, minor, static_cast<DWORD>(std::strtoul(build.c_str(), nullptr, 10)),
             "");
        return TRUE;
    }
    std::string win9x = StringValue(*system, u"Software\\Microsoft\\Windows\\CurrentVersion", u"VersionNumber", &found);
    if (found) {
        unsigned build = 0;
        major = minor = 0;
        if (std::sscanf(win9x.c_str(), "%u.%u.%u", &major, &minor, &build) >= 1) {
            Fill(info, VER_PLATFORM_WIN32_WINDOWS, major, minor, (major << 24) | (minor << 16) | build, "");
            return TRUE;
        }
    }
    // Nothing set: Wine's own default version.
    const WindowsVersion *fallback = Named("win7");
    Fill(info, fallback->platform, fallback->major, fallback->minor, fallback->build, fallback->service_pack);
    return TRUE;
}

DWORD CurrentDirectory(DWORD size, LPSTR buffer)
{
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd)) return 0;
    std::optional<std::string> path = host::WindowsPathOf(cwd);
    if (!path) {
        host::ReportUnusablePrefix(host::PrefixRoot(), "no drive of it holds the current folder");
        return 0;
    }
    DWORD length = static_cast<DWORD>(path->size());
    if (!buffer || size <= length) return length + 1;
    std::memcpy(buffer, path->c_str(), length + 1);
    return length;
}

}  // namespace

BOOL GetVersionExA(LPOSVERSIONINFOA info)
{
    if (!info || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) return FALSE;
    return host::AnswerOnOutOfMemory(FALSE, [&] { return VersionOfPrefix(info); });
}

UINT GetSystemDirectoryA(LPSTR buffer, UINT size)
{
    const char *dir = host::SystemDirectoryName();
    UINT length = static_cast<UINT>(std::strlen(dir));
    if (!buffer || size <= length) return length + 1;
    std::memcpy(buffer, dir, length + 1);
    return length;
}

DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer)
{
    return host::AnswerOnOutOfMemory(DWORD{0}, [&] { return CurrentDirectory(size, buffer); });
}
