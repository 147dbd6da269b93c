// A Windows 95/98/Me boot drive: C:\ a host folder (a disk mounted on
// Linux, a copied C: drive, an emulator's shared folder) or the volume of a
// disk image; the Windows folder the one MSDOS.SYS names, HKEY_LOCAL_MACHINE
// its SYSTEM.DAT, the version that SYSTEM.DAT records. The rules here serve
// both; the folder kind is at the end, the image kind in
// win9x_image.cpp.
#include "platform/host/installation/win9x_drive.h"

#include "platform/host/text/cp1252.h"
#include "platform/host/installation/msdos_sys.h"
#include "platform/host/installation/windows_paths.h"
#include "platform/host/registry/win9x_registry_hive.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace host {
namespace {

const char kDefaultWindowsFolder[] = "C:\\WINDOWS";

// The code page of names while the installation is being opened, before its
// registry tells its own.
const CodePage &NamesWhileOpening()
{
    return CodePage::ForNumber(1252);
}

// The folder on the drive of a Windows path on its drive, each name found
// whatever its letter case; none when a folder on the way is not there.
std::optional<std::string> FolderOnDrive(DriveFiles &files, const std::string &root,
                                         const std::string &windows_path)
{
    std::string folder = root;
    std::size_t i = 3;
    while (i < windows_path.size()) {
        std::size_t j = windows_path.find('\\', i);
        if (j == std::string::npos) j = windows_path.size();
        if (j > i) {
            std::optional<std::string> entry =
                FindNoCase(files, folder, Cp1252ToUtf8(std::string_view(windows_path).substr(i, j - i)), NamesWhileOpening());
            if (!entry) return std::nullopt;
            folder += "/" + *entry;
        }
        i = j + 1;
    }
    return files.IsFolder(folder) ? std::optional<std::string>(folder) : std::nullopt;
}

std::string StringValue(const RegistryHive &hive, const char *path, const char *name)
{
    HiveKey key = hive.Find(hive.Root(), path);
    uint32_t type = 0;
    std::string data;
    if (!key || !hive.Value(key, name, &type, &data) || type != REG_SZ) return {};
    std::size_t nul = data.find('\0');
    if (nul != std::string::npos) data.resize(nul);
    return data;
}

}  // namespace

std::string MsdosSysWindowsFolder(DriveFiles &files, const std::string &drive)
{
    std::optional<std::string> msdos = FindNoCase(files, drive, "MSDOS.SYS", NamesWhileOpening());
    std::string bytes;
    FileStamp stamp;
    // One byte more than the largest MSDOS.SYS, so that a longer file is
    // seen to be longer.
    if (!msdos || !files.Read(drive + "/" + *msdos, &bytes, &stamp, kMaxMsdosSysSize + 1)) return {};
    std::string windows = MsdosSysWindowsFolder(bytes).value_or("");
    while (windows.size() > 3 && windows.back() == '\\') windows.pop_back();
    return windows;
}

char DriveLetterOf(const std::string &windows_path)
{
    if (windows_path.size() < 3 || windows_path[1] != ':' || windows_path[2] != '\\') return 0;
    char letter = windows_path[0];
    if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 32);
    return letter >= 'A' && letter <= 'Z' ? letter : 0;
}

bool FindWin9xWindowsFolder(DriveFiles &files, const std::string &drive, Win9xWindowsFolder *found,
                            std::string *why)
{
    return FindWin9xWindowsFolderOn(files, drive, 'C', MsdosSysWindowsFolder(files, drive), found, why);
}

bool FindWin9xWindowsFolderOn(DriveFiles &files, const std::string &drive, char letter, const std::string &named,
                              Win9xWindowsFolder *found, std::string *why)
{
    // The Windows folder: the one MSDOS.SYS names, else X:\WINDOWS.
    std::string windows = named.empty() ? std::string(1, letter) + ":\\WINDOWS" : named;
    char on = DriveLetterOf(windows);
    if (on && on != letter) {
        *why = "its MSDOS.SYS names " + windows + " as the Windows folder: Windows is on drive " + on +
               ":, and this is drive " + letter + ": (name an image of the whole disk, in which each drive has "
               "its letter)";
        return false;
    }
    std::optional<std::string> path = on && windows.size() > 3 ? FolderOnDrive(files, drive, windows) : std::nullopt;
    if (!path) {
        *why = !named.empty() ? "its MSDOS.SYS names " + windows + " as the Windows folder, which is not there"
                              : std::string("it has no WINDOWS folder");
        return false;
    }
    found->windows = windows;
    found->path = *path;
    return true;
}

Win9xInstallation::Win9xInstallation(InstallationKind kind, std::string root) : Installation(kind, std::move(root))
{
    SetDirectories(kDefaultWindowsFolder, std::string(kDefaultWindowsFolder) + "\\SYSTEM",
                   std::string(kDefaultWindowsFolder) + "\\WIN.INI");
}

std::string Win9xInstallation::DriveFolder(char letter) const
{
    letter = static_cast<char>(letter >= 'a' && letter <= 'z' ? letter - 32 : letter);
    if (letter == letter_) return drive_;
    if (letter == 'Z') return "/";
    return {};
}

std::vector<DriveMapping> Win9xInstallation::Drives() const
{
    std::vector<DriveMapping> drives;
    if (!drive_.empty()) drives.push_back({letter_, drive_});
    drives.push_back({'Z', "/"});
    return drives;
}

bool Win9xInstallation::Version(OSVERSIONINFOA *info)
{
    std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
    if (nt_) {
        // A Windows NT system on the drive: its version is not read, only
        // that it is not of the 95/98/Me family.
        info->dwPlatformId = VER_PLATFORM_WIN32_NT;
        info->dwMajorVersion = info->dwMinorVersion = info->dwBuildNumber = 0;
        return true;
    }
    if (!machine_) return false;
    const char *key = "Software\\Microsoft\\Windows\\CurrentVersion";
    std::string number = StringValue(*machine_, key, "VersionNumber");
    unsigned major = 0, minor = 0, build = 0;
    if (std::sscanf(number.c_str(), "%u.%u.%u", &major, &minor, &build) != 3 || major > 255 || minor > 255 ||
        build > 0xFFFF) {
        ReportUnusable("its SYSTEM.DAT holds no version number (VersionNumber)");
        return false;
    }
    // Windows 9x keeps the major and minor version in the build number's
    // high word (4.10.2222 gives 0x040A08AE).
    info->dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
    info->dwMajorVersion = major;
    info->dwMinorVersion = minor;
    info->dwBuildNumber = (major << 24) | (minor << 16) | build;
    std::string sub = StringValue(*machine_, key, "SubVersionNumber");
    std::strncpy(info->szCSDVersion, sub.c_str(), sizeof info->szCSDVersion - 1);
    return true;
}

bool Win9xInstallation::FindLayout(DriveFiles &files, const std::string &drive, Win9xWindowsFolder *found,
                                   char letter, const std::string &named)
{
    drive_ = drive;
    letter_ = letter;
    std::string why;
    if (!FindWin9xWindowsFolderOn(files, drive, letter, named, found, &why)) {
        // A drive that could not be read is said so, not taken for a
        // drive without Windows.
        std::string trouble = files.Trouble();
        SetUnusable((trouble.empty() ? why : trouble).c_str());
        return false;
    }
    SetDirectories(found->windows, found->windows + "\\SYSTEM", found->windows + "\\WIN.INI");
    return true;
}

void Win9xInstallation::ReadRegistry(DriveFiles &files, const Win9xWindowsFolder &windows)
{
    // HKEY_LOCAL_MACHINE: SYSTEM.DAT in the Windows folder.
    std::optional<std::string> system_dat = FindNoCase(files, windows.path, "SYSTEM.DAT", NamesWhileOpening());
    if (!system_dat) {
        std::optional<std::string> system32 = FindNoCase(files, windows.path, "system32", NamesWhileOpening());
        if (system32 && FindNoCase(files, windows.path + "/" + *system32, "config", NamesWhileOpening())) {
            nt_ = true;
            SetUnusable("it holds Windows NT (a registry in WINDOWS\\system32\\config), not Windows 95/98/Me");
        } else {
            std::string trouble = files.Trouble();
            SetUnusable(trouble.empty() ? "its Windows folder has no SYSTEM.DAT" : trouble.c_str());
        }
        return;
    }
    std::string path = windows.path + "/" + *system_dat;
    std::string why;
    std::unique_ptr<RegistryHive> machine = OpenRegistry(files, path, &why, 1252);
    if (!machine) {
        std::string line = "its registry " + path + " cannot be read: " + why;
        SetUnusable(line.c_str());
        return;
    }
    // The file does not say in which code page its names and texts are:
    // the installation's own ACP value does.
    unsigned code_page = CodePageOfRegistry(machine.get());
    if (code_page != 1252) {
        std::unique_ptr<RegistryHive> reopened = OpenRegistry(files, path, &why, static_cast<int>(code_page));
        if (reopened) machine = std::move(reopened);
    }
    SetCodePage(code_page);
    machine_ = std::move(machine);
}

namespace {

// The drive kept as a host folder.
class Win9xFolder : public Win9xInstallation {
public:
    explicit Win9xFolder(std::string root) : Win9xInstallation(InstallationKind::kWin9xDrive, std::move(root))
    {
        Open();
    }

private:
    void Open()
    {
        struct stat st;
        if (stat(Root().c_str(), &st) != 0) {
            SetUnusable("it does not exist");
            return;
        }
        if (!S_ISDIR(st.st_mode)) {
            SetUnusable("it is not a folder (WIN9X_DRIVE names the folder that is drive C:)");
            return;
        }
        char *real = realpath(Root().c_str(), nullptr);
        if (!real) {
            SetUnusable("it cannot be opened");
            return;
        }
        std::string drive = real;
        std::free(real);
        Win9xWindowsFolder windows;
        if (FindLayout(HostFiles(), drive, &windows, 'C', MsdosSysWindowsFolder(HostFiles(), drive)))
            ReadRegistry(HostFiles(), windows);
    }

    std::unique_ptr<RegistryHive> OpenRegistry(DriveFiles &, const std::string &path, std::string *why,
                                               int code_page) override
    {
        return OpenWin9xRegistry(path, why, code_page);
    }
};

}  // namespace

std::unique_ptr<Installation> OpenWin9xDrive(std::string root)
{
    return std::make_unique<Win9xFolder>(std::move(root));
}

}  // namespace host
