// The offline Windows installation that the host layer works on, and all
// that it knows about it.
//
// The process decides once, at the first operation that needs it, which
// installation it works on:
//   WIN9X_DRIVE, when set and not empty: the root folder of a Windows
//     95/98/Me boot drive (the folder that is C:\), its registry SYSTEM.DAT;
//     or, when it names a regular file, a disk image of such a machine, its
//     Windows volume read and written through mtools (win9x_image.cpp);
//   otherwise WINEPREFIX, or ~/.wine when that is not set: a Wine prefix,
//     its registry system.reg.
// The object keeps the kind, the root, the Windows and system directories,
// the code page, how drive letters map to host folders, the registry, the
// cache of profile files and the pending win.ini. No operation reads the
// environment again; Reset() (for tests) drops the object, and the next
// operation decides afresh.
//
// An installation whose layout is not there is reported once on standard
// error, naming its path and what is missing; its operations then answer as
// for missing files and keys, so the run ends with the failure report and
// writes nothing.
#ifndef PFMSETUP_PLATFORM_HOST_INSTALLATION_INSTALLATION_H
#define PFMSETUP_PLATFORM_HOST_INSTALLATION_INSTALLATION_H

#include "platform/host/text/code_page.h"
#include "platform/host/profile/cache.h"
#include "platform/host/profile/dialect.h"
#include "platform/host/installation/profile_paths.h"
#include "platform/host/registry/hive.h"
#include "platform/host/installation/system_profile.h"
#include "platform/host/win32_api.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace host {

enum class InstallationKind { kWinePrefix, kWin9xDrive, kWin9xImage };

// The most of an INI file that Windows 95/98/Me read: their profile code,
// that of the 16-bit kernel they inherit from Windows 3.x, ignores what
// lies beyond 64 KB (Microsoft Knowledge Base Q78346, Q230194).
constexpr std::size_t kWin9xProfileLimit = 65536;

class DriveFiles;

// A drive letter and the host folder that it stands for.
struct DriveMapping {
    char letter;         // upper case
    std::string folder;  // the host path, links resolved
};

class Installation {
public:
    // The installation of this process, opened at the first call.
    static Installation &Current();
    // Flushes the pending win.ini and forgets the installation with every
    // cached file and path; the next operation opens one afresh. A program
    // never needs it; tests that switch installations within one process do.
    static void Reset();
    // The installation when one is open, without opening one; null while
    // it is being opened.
    static Installation *IfOpen();

    virtual ~Installation();

    InstallationKind Kind() const { return kind_; }
    // How the installation's family reads and writes profile files where
    // the families differ: Wine's rules for a prefix, Windows 95/98/Me's
    // for a drive or an image.
    const ProfileDialect &Dialect() const { return dialect_; }
    // The prefix folder, or the drive's root folder, as the user named it.
    const std::string &Root() const { return root_; }
    // Whether the installation may be read and written: its layout was
    // found, it is not in use, the kit's folder can be named in it (each
    // refusal was reported).
    bool Usable() const { return usable_; }
    // Whether a line saying why it cannot be used was printed.
    bool Reported() const { return reported_; }

    // Windows paths, as the installation spells them: C:\windows,
    // C:\windows\system32, C:\windows\win.ini for a prefix; the folder
    // MSDOS.SYS names, its SYSTEM folder and WIN.INI for a drive.
    const std::string &WindowsDirectory() const { return windows_directory_; }
    const std::string &SystemDirectory() const { return system_directory_; }
    const std::string &SystemProfileName() const { return system_profile_name_; }

    // The ANSI code page the installation's texts are in: its registry's
    // ACP value, 1252 where that is absent or names no code page the host
    // converts with.
    const CodePage &Texts() const { return *code_page_; }
    // Chooses another code page (for tests of the conversions).
    void SetCodePage(unsigned number) { code_page_ = &CodePage::ForNumber(number); }

    // The installation being opened, while its constructor runs; null
    // otherwise. What it reads then is converted as code page 1252.
    static bool Opening();

    // The host path that a drive letter stands for (which may not exist), or
    // "" when the installation has no such drive.
    virtual std::string DriveFolder(char letter) const = 0;
    // Every drive that exists now, with its folder.
    virtual std::vector<DriveMapping> Drives() const = 0;

    // HKEY_LOCAL_MACHINE; null when it cannot be read (reported once).
    virtual std::shared_ptr<const RegistryHive> Machine() = 0;
    // The version the installation answers, as GetVersionExA fills it.
    virtual bool Version(OSVERSIONINFOA *info) = 0;
    // A line about the drive for the end of a run, which refuses nothing
    // (a disk image's stale count of free clusters); "" when none.
    virtual std::string AdviceAfterRun() { return {}; }

    // A preview (pfmsetup --dry-run), chosen before the installation is
    // opened: the installation is opened and locked as for a run, but
    // nothing is written, neither win.ini nor a repair of what a killed run
    // left; what the repair would do is told by PendingRepair().
    static void SetPreview(bool preview);
    static bool Preview();
    // What the repair of a killed run's replacement would do, in a
    // preview; "" when there is nothing to repair.
    const std::string &PendingRepair() const { return pending_repair_; }

    // Says once, on standard error, that the installation cannot be used,
    // naming its path and why. Later calls stay silent.
    void ReportUnusable(const char *why);

    ProfileCache &Profiles() { return profiles_; }
    ProfilePaths &Paths() { return paths_; }
    SystemProfile &Profile() { return *system_profile_; }

protected:
    Installation(InstallationKind kind, std::string root);
    // Called by the kinds once their layout is known.
    void SetDirectories(std::string windows_directory, std::string system_directory, std::string profile_name);
    void SetUnusable(const char *why);
    // Marks the installation unusable with a line of its own (one that
    // names what is missing on the host, not in the installation).
    void SetUnusableLine(const std::string &line);
    void SetPendingRepair(std::string what) { pending_repair_ = std::move(what); }

private:
    InstallationKind kind_;
    ProfileDialect dialect_;
    std::string root_;
    bool usable_ = true;
    bool reported_ = false;
    bool folder_checked_ = false;
    std::string windows_directory_;
    std::string system_directory_;
    std::string system_profile_name_;
    std::string pending_repair_;
    const CodePage *code_page_ = &CodePage::ForNumber(1252);
    // Destroyed in reverse order: the pending win.ini is written out while
    // the caches it tells of a new file are still there.
    ProfileCache profiles_;
    ProfilePaths paths_;
    std::unique_ptr<SystemProfile> system_profile_;
};

// The kinds, each in a file of its own.
// The prefix folder: WINEPREFIX, or ~/.wine when it is not set, as Wine's
// own tools choose it.
std::string WinePrefixRoot();
std::unique_ptr<Installation> OpenWinePrefix(std::string root);
// The path of the installation the environment names (WIN9X_DRIVE when set
// and not empty, else the prefix), read without opening it.
std::string NamedInstallationPath();
// Whether WIN9X_DRIVE names a disk image (a regular file).
bool NamedInstallationIsImage();
// "DEV-INODE" (hexadecimal) of a file or folder, links followed: the same
// for every spelling of one installation; "" when it is not there.
std::string FileIdentity(const std::string &path);
std::unique_ptr<Installation> OpenWin9xDrive(std::string root);
std::unique_ptr<Installation> OpenWin9xImage(std::string root);

// The ANSI code page that a registry's ACP value names (in the key
// System\CurrentControlSet\Control\Nls\CodePage), or 1252 where it
// names none.
unsigned CodePageOfRegistry(const RegistryHive *machine);

// The ANSI code page that the host converts the installation's texts with:
// the current installation's own (Texts()), and 1252 while an installation
// is being opened.
const CodePage &AnsiCodePage();
// Chooses the current installation's code page by its number, as
// CodePage::ForNumber does (an unknown number is 1252). For tests.
void SetAnsiCodePage(unsigned number);

}  // namespace host

#endif
