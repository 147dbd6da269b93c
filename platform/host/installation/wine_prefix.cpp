// A Wine prefix: drives through its dosdevices folder, HKEY_LOCAL_MACHINE in
// system.reg, the version as Wine chooses it for the prefix.
#include "platform/host/text/cp1252.h"
#include "platform/host/installation/installation.h"
#include "platform/host/installation/windows_paths.h"
#include "platform/host/registry/wine_registry_text.h"
#include "platform/host/registry/wine_registry_hive.h"

#include "platform/host/base/file_io.h"

#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <vector>

namespace host {
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

const WindowsVersion *Named(const std::string &name)
{
    for (const WindowsVersion &v : kVersions) {
        if (EqualsNoCase(name, v.name)) return &v;
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

// A string value of a hive, up to its first NUL; `found` says whether it
// is there as a string.
std::string StringValue(const RegistryHive &hive, const char *path, const char *name, bool *found)
{
    *found = false;
    HiveKey key = hive.Find(hive.Root(), path);
    uint32_t type = 0;
    std::string data;
    if (!key || !hive.Value(key, name, &type, &data) || (type != REG_SZ && type != REG_EXPAND_SZ)) return {};
    *found = true;
    std::size_t nul = data.find('\0');
    if (nul != std::string::npos) data.resize(nul);
    return data;
}

// The program's file name as Wine's per-program settings name it.
std::string ProgramFileName()
{
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string name = n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string("pfmsetup");
    name = name.substr(name.rfind('/') + 1);
    if (name.size() < 4 || !EqualsNoCase(name.substr(name.size() - 4), ".exe")) name += ".exe";
    return Utf8ToCp1252(name);
}

// A hive file, parsed again only when the file changes (Wine's own tools
// may change a prefix while it is in use), its texts in a code page.
class HiveFile {
public:
    explicit HiveFile(std::string path) : path_(std::move(path)) {}
    std::shared_ptr<const RegistryHive> Load(const CodePage &code_page)
    {
        struct stat st;
        if (stat(path_.c_str(), &st) != 0) {
            file_.reset();
            hive_.reset();
            return nullptr;
        }
        if (!file_ || !(stamp_ == StampOf(st))) {
            hive_.reset();
            std::string text;
            if (!ReadWholeFile(path_, &text, &st)) {
                file_.reset();
                return nullptr;
            }
            stamp_ = StampOf(st);
            file_ = RegistryFile::Parse(text);
        }
        if (!hive_ || code_page_ != &code_page) {
            hive_ = std::make_shared<WineRegistryHive>(file_, code_page);
            code_page_ = &code_page;
        }
        return hive_;
    }

private:
    std::string path_;
    FileStamp stamp_;
    std::shared_ptr<const RegistryFile> file_;
    const CodePage *code_page_ = nullptr;
    std::shared_ptr<const RegistryHive> hive_;
};

// Whether a wineserver runs on the prefix, found as Wine's own programs
// find it: its folder server-DEV-INODE (the prefix folder's device and
// inode in hexadecimal) lies in /tmp/.wine-UID upstream, and, in Debian's
// Wine, in the private folder that the prefix's file "wineserver" names
// (a name under TMPDIR, else /tmp). The server holds a lock on the
// folder's file "lock" while it runs; a folder that a server left behind
// has none.
bool WineServerRunning(const std::string &prefix)
{
    struct stat st;
    if (stat(prefix.c_str(), &st) != 0) return false;
    char server[64];
    std::snprintf(server, sizeof server, "/server-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    std::vector<std::string> folders{"/tmp/.wine-" + std::to_string(getuid())};
    std::string named;
    struct stat named_st;
    if (ReadWholeFile(prefix + "/wineserver", &named, &named_st, 4096)) {
        while (!named.empty() && std::isspace(static_cast<unsigned char>(named.back()))) named.pop_back();
        const char *tmp = std::getenv("TMPDIR");
        if (!named.empty() && named[0] == '/') {
            folders.push_back(named);
        } else if (!named.empty() && named.find('/') == std::string::npos) {
            if (tmp && *tmp) folders.push_back(std::string(tmp) + "/" + named);
            folders.push_back("/tmp/" + named);
        }
    }
    for (const std::string &folder : folders) {
        int fd = open((folder + server + "/lock").c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        struct flock lock = {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        bool held = fcntl(fd, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
        close(fd);
        if (held) return true;
    }
    return false;
}

class WinePrefix : public Installation {
public:
    explicit WinePrefix(std::string root)
        : Installation(InstallationKind::kWinePrefix, root), system_(root + "/system.reg"), user_(root + "/user.reg")
    {
        SetDirectories("C:\\windows", "C:\\windows\\system32", "C:\\windows\\win.ini");
        // The code page is read quietly: a system.reg that cannot be read is
        // reported where the registry is first asked. Its number is digits,
        // the same in every code page.
        SetCodePage(CodePageOfRegistry(system_.Load(CodePage::ForNumber(1252)).get()));
        // While its server runs, the prefix's registry lives in the
        // server's memory (system.reg lags behind it) and its programs may
        // write win.ini: nothing is read or written then.
        in_use_ = WineServerRunning(root);
        if (in_use_)
            SetUnusableLine("pfmsetup: a Wine session is running on the prefix " + root +
                            ": end it with \"WINEPREFIX=" + root +
                            " wineserver -k\", or let its applications close, then start the program again");
    }

    std::string DriveFolder(char letter) const override
    {
        std::string link = Root() + "/dosdevices/";
        link += static_cast<char>(FoldCase(static_cast<unsigned char>(letter)));
        link += ':';
        return link;
    }

    std::vector<DriveMapping> Drives() const override
    {
        std::vector<DriveMapping> drives;
        for (char letter = 'A'; letter <= 'Z'; ++letter) {
            std::optional<std::string> folder = RealPath(DriveFolder(letter));
            if (folder) drives.push_back({letter, *folder});
        }
        return drives;
    }

    std::shared_ptr<const RegistryHive> Machine() override
    {
        // A prefix in use: its registry on disk may lag behind the server's.
        if (in_use_) return nullptr;
        std::shared_ptr<const RegistryHive> hive = system_.Load(Texts());
        if (!hive) ReportUnusable("its system.reg cannot be read");
        return hive;
    }

    bool Version(OSVERSIONINFOA *info) override
    {
        // A version chosen for the program, or for every program, in Wine's settings.
        if (std::shared_ptr<const RegistryHive> user = user_.Load(Texts())) {
            std::string own = "Software\\Wine\\AppDefaults\\" + ProgramFileName();
            const char *paths[] = {own.c_str(), "Software\\Wine"};
            for (const char *path : paths) {
                bool found = false;
                std::string name = StringValue(*user, path, "Version", &found);
                const WindowsVersion *v = found ? Named(name) : nullptr;
                if (v) {
                    Fill(info, v->platform, v->major, v->minor, v->build, v->service_pack);
                    return true;
                }
            }
        }

        std::shared_ptr<const RegistryHive> system = Machine();
        if (!system) return false;
        bool found = false;
        unsigned major = 0, minor = 0;
        const char *nt_key = "Software\\Microsoft\\Windows NT\\CurrentVersion";
        std::string nt = StringValue(*system, nt_key, "CurrentVersion", &found);
        if (found && std::sscanf(nt.c_str(), "%u.%u", &major, &minor) == 2) {
            bool build_found = false;
            std::string build = StringValue(*system, nt_key, "CurrentBuildNumber", &build_found);
            Fill(info, VER_PLATFORM_WIN32_NT, major, minor,
                 static_cast<DWORD>(std::strtoul(build.c_str(), nullptr, 10)), "");
            return true;
        }
        std::string win9x =
            StringValue(*system, "Software\\Microsoft\\Windows\\CurrentVersion", "VersionNumber", &found);
        if (found) {
            unsigned build = 0;
            major = minor = 0;
            if (std::sscanf(win9x.c_str(), "%u.%u.%u", &major, &minor, &build) >= 1) {
                Fill(info, VER_PLATFORM_WIN32_WINDOWS, major, minor, (major << 24) | (minor << 16) | build, "");
                return true;
            }
        }
        // Nothing set: Wine's own default version.
        const WindowsVersion *fallback = Named("win7");
        Fill(info, fallback->platform, fallback->major, fallback->minor, fallback->build, fallback->service_pack);
        return true;
    }

private:
    HiveFile system_;
    HiveFile user_;
    bool in_use_ = false;
};

}  // namespace

std::string WinePrefixRoot()
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

std::unique_ptr<Installation> OpenWinePrefix(std::string root)
{
    return std::make_unique<WinePrefix>(std::move(root));
}

}  // namespace host
