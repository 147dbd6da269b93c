// What the two kinds of Windows 95/98/Me drive have in common: a drive
// folder (win9x_drive.cpp) and a disk image (win9x_image.cpp)
// find their layout by the same rules, over the files of their drive C:
// (drive_files.h), and answer drives, registry and version alike.
#ifndef PFMSETUP_PLATFORM_HOST_INSTALLATION_WIN9X_DRIVE_H
#define PFMSETUP_PLATFORM_HOST_INSTALLATION_WIN9X_DRIVE_H

#include "platform/host/drives/drive_files.h"
#include "platform/host/installation/installation.h"

#include <memory>
#include <string>

namespace host {

// The Windows folder of a drive: the one MSDOS.SYS names (WinDir), else
// C:\WINDOWS, each name found whatever its letter case.
struct Win9xWindowsFolder {
    std::string windows;  // as Windows spells it: C:\WINDOWS, C:\Win98
    std::string path;     // the folder on the drive: DRIVE/WINDOWS
};
// `drive` is the path of C:\ in `files`. False, with the reason, when the
// folder is not there.
bool FindWin9xWindowsFolder(DriveFiles &files, const std::string &drive, Win9xWindowsFolder *found,
                            std::string *why);
// The same on `drive`, the drive with `letter`, for `named`, the folder
// MSDOS.SYS of the boot drive names ("" for none: X:\WINDOWS). A folder on
// another letter is refused in one line that says so.
bool FindWin9xWindowsFolderOn(DriveFiles &files, const std::string &drive, char letter, const std::string &named,
                              Win9xWindowsFolder *found, std::string *why);
// The WinDir of MSDOS.SYS at the root of `drive` ("D:\WINDOWS", trailing
// backslashes dropped); "" when there is none.
std::string MsdosSysWindowsFolder(DriveFiles &files, const std::string &drive);
// The upper-case drive letter of a Windows path ("D:\..."), 0 for none.
char DriveLetterOf(const std::string &windows_path);

class Win9xInstallation : public Installation {
public:
    std::string DriveFolder(char letter) const override;
    std::vector<DriveMapping> Drives() const override;
    std::shared_ptr<const RegistryHive> Machine() override { return machine_; }
    bool Version(OSVERSIONINFOA *info) override;

protected:
    Win9xInstallation(InstallationKind kind, std::string root);

    // The drive with `letter` is `drive` in `files`; FindLayout finds the
    // Windows folder `named` (see FindWin9xWindowsFolderOn; false:
    // reported), ReadRegistry its SYSTEM.DAT (or tells Windows NT).
    bool FindLayout(DriveFiles &files, const std::string &drive, Win9xWindowsFolder *found, char letter,
                    const std::string &named);
    void ReadRegistry(DriveFiles &files, const Win9xWindowsFolder &windows);

    // Opens the registry file at `path` of the drive's files, in a code page.
    virtual std::unique_ptr<RegistryHive> OpenRegistry(DriveFiles &files, const std::string &path,
                                                       std::string *why, int code_page) = 0;

private:
    std::string drive_;  // the Windows drive's root; empty until found
    char letter_ = 'C';  // its letter
    bool nt_ = false;
    std::shared_ptr<const RegistryHive> machine_;
};

}  // namespace host

#endif
