// A Windows 95/98/Me machine kept as a disk image (WIN9X_DRIVE names the
// image file): its Windows volume, with the letter Windows gives it (C:, or
// D: when the boot drive's MSDOS.SYS puts Windows there), read and written
// through mtools, never mounted. The image is examined (disk_image/image_format.h), locked for
// the whole run (image_lock.h), its Windows volume chosen (WIN9X_PARTITION,
// else the active partition, else the first holding Windows), a
// replacement of WIN.INI that a killed run left is finished or undone
// (fat_volume.h), and then the layout is found by the same rules as on a
// drive folder (win9x_drive.h). While it is open, its volume's files are
// registered with the drives for the paths that start "fat:".
#include "platform/host/disk_image/image_format.h"
#include "platform/host/drives/image_files.h"
#include "platform/host/disk_image/fat_volume.h"
#include "platform/host/base/file_io.h"
#include "platform/host/disk_image/image_lock.h"
#include "platform/host/installation/win9x_drive.h"
#include "platform/host/disk_image/mtools_runner.h"
#include "platform/host/registry/win9x_registry_hive.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace host {
namespace {

class Win9xImage : public Win9xInstallation {
public:
    explicit Win9xImage(std::string root) : Win9xInstallation(InstallationKind::kWin9xImage, std::move(root))
    {
        Open();
        // Opened: paths in the image are the volume's files until the
        // installation closes.
        if (files_) registration_ = std::make_unique<DriveFilesRegistration>(kImageRoot, *files_);
    }

    // The pending WIN.INI is written while the volume and the lock are
    // still here; they go before the base class's members, the volume's
    // registration first.
    ~Win9xImage() override { Profile().Flush(); }

    std::string AdviceAfterRun() override
    {
        std::string stale = drive_ ? drive_->StaleFreeCount() : std::string();
        return stale.empty() ? stale : "the disk image " + Root() + " " + stale;
    }

private:
    void Refuse(const std::string &why) { SetUnusable(host::ImageFiles::AboutTheImage(why).c_str()); }

    void Open()
    {
        std::string why;
        DiskImage image;
        if (!ExamineDiskImage(Root(), &image, &why)) return Refuse(why);
        int wanted = 0;
        if (!ParsePartitionNumber(std::getenv("WIN9X_PARTITION"), &wanted, &why)) return SetUnusable(why.c_str());
        std::string missing = MtoolsRunner::MissingLine();
        if (!missing.empty()) return SetUnusableLine(missing);

        // Held until the installation goes: no emulator starts on the image
        // meanwhile, and a second copy of the program waits for this one.
        struct stat st;
        bool write = stat(Root().c_str(), &st) == 0 && (st.st_mode & 0222) && access(Root().c_str(), W_OK) == 0;
        lock_ = ImageLock::Acquire(Root(), write, &why);
        if (!lock_) return Refuse(why);

        auto holds_windows = [this](uint64_t offset) {
            std::string ignored;
            std::unique_ptr<FatImageDrive> drive = FatImageDrive::Open(Root(), offset, &ignored, lock_->fd());
            if (!drive) return false;
            host::ImageFiles files(*drive);
            Win9xWindowsFolder windows;
            return FindWin9xWindowsFolder(files, kImageRoot, &windows, &ignored);
        };
        ImageVolume volume;
        if (!ChooseWindowsVolume(Root(), image, wanted, holds_windows, &volume, &why)) return Refuse(why);
        if (!OpenVolume(volume.offset, &why)) return Refuse(why);
        // The letter Windows gives the volume, and the Windows folder its
        // MSDOS.SYS names: on another drive (C: holding MSDOS.SYS, Windows
        // on D:), that drive's volume is the one worked on.
        // A partition that WIN9X_PARTITION names and that holds the folder
        // its own MSDOS.SYS names on another letter boots as that drive (a
        // boot manager makes it the active one) and keeps the letter.
        char letter = DriveLetterOfPartition(image, volume.partition);
        std::string named = MsdosSysWindowsFolder(*files_, kImageRoot);
        char on = DriveLetterOf(named);
        Win9xWindowsFolder here;
        std::string ignored;
        if (wanted && on && FindWin9xWindowsFolderOn(*files_, kImageRoot, on, named, &here, &ignored)) letter = on;
        if (letter && on && on != letter) {
            int holder = 0;
            std::string letters;
            for (const LetteredPartition &l : DriveLetters(image)) {
                if (l.letter == on) holder = l.partition;
                letters += std::string(letters.empty() ? "" : ", ") + l.letter + ": partition " +
                           std::to_string(l.partition);
            }
            if (!holder)
                return Refuse("has no drive " + std::string(1, on) + ":, on which its MSDOS.SYS names " + named +
                              " as the Windows folder (its FAT partitions are " + letters + ")");
            if (!ChooseWindowsVolume(Root(), image, holder, holds_windows, &volume, &why)) return Refuse(why);
            if (!OpenVolume(volume.offset, &why)) return Refuse(why);
            letter = on;
        }
        if (!letter) return Refuse("has no drive letter for partition " + std::to_string(volume.partition));

        Win9xWindowsFolder windows;
        if (!FindLayout(*files_, kImageRoot, &windows, letter, named)) return;
        // Before anything reads the Windows folder's files; a preview only
        // tells what the repair would do.
        if (Preview()) SetPendingRepair(files_->DescribeRepair(windows.path));
        else if (!files_->Repair(windows.path, &why)) return SetUnusable(why.c_str());
        for (const std::string &line : drive_->Advice())
            std::fprintf(stderr, "pfmsetup: the disk image %s %s\n", Root().c_str(), line.c_str());
        ReadRegistry(*files_, windows);
    }

    bool OpenVolume(uint64_t offset, std::string *why)
    {
        files_.reset();
        drive_ = FatImageDrive::Open(Root(), offset, why, lock_->fd());
        if (!drive_) return false;
        files_ = std::make_unique<host::ImageFiles>(*drive_);
        files_->OnChildDied([this](const std::string &line) { ReportUnusable(line.c_str()); });
        return true;
    }

    // libcreg reads a registry file by its name, and reads it as it goes:
    // SYSTEM.DAT is copied to a file of this process's own and libcreg is
    // given its name. On Linux that file is a memory file named through
    // /proc, so no copy of the registry is ever left on disk, whatever
    // kills the program, and TMPDIR need not be writable; elsewhere it is
    // a temporary file, unlinked as soon as it is open (the open file stays
    // readable). Reading from memory would need libcreg's own I/O layer,
    // and the checks of registry/win9x_registry_check.cpp work on a file too.
    std::unique_ptr<RegistryHive> OpenRegistry(DriveFiles &files, const std::string &path, std::string *why,
                                               int code_page) override
    {
        std::string bytes;
        FileStamp stamp;
        if (!files.Read(path, &bytes, &stamp)) {
            *why = "it cannot be read from the image";
            return nullptr;
        }
        std::string name;
        int fd = -1;
#ifdef __linux__
        fd = memfd_create("pfmsetup-SYSTEM.DAT", MFD_CLOEXEC);
        if (fd >= 0) name = "/proc/self/fd/" + std::to_string(fd);
        if (fd >= 0 && access(name.c_str(), R_OK) != 0) {
            close(fd);
            fd = -1;
        }
#endif
        bool named = fd >= 0;
        if (!named) {
            const char *tmp = std::getenv("TMPDIR");
            name = std::string(tmp && *tmp ? tmp : "/tmp") + "/pfmsetup-SYSTEM.DAT-XXXXXX";
            fd = mkstemp(&name[0]);
        }
        if (fd < 0) {
            *why = std::string("no temporary copy can be made: ") + std::strerror(errno);
            return nullptr;
        }
        bool written = WriteAll(fd, bytes);
        std::unique_ptr<RegistryHive> hive;
        if (written) hive = OpenWin9xRegistry(name, why, code_page);
        else *why = "no temporary copy can be made";
        if (!named) unlink(name.c_str());
        close(fd);
        // The reason names the file as the user knows it, not the copy.
        if (!hive && why->compare(0, name.size() + 2, name + ": ") == 0) why->erase(0, name.size() + 2);
        return hive;
    }

    std::unique_ptr<ImageLock> lock_;
    std::unique_ptr<FatImageDrive> drive_;
    std::unique_ptr<host::ImageFiles> files_;
    std::unique_ptr<DriveFilesRegistration> registration_;
};

}  // namespace

std::unique_ptr<Installation> OpenWin9xImage(std::string root)
{
    return std::make_unique<Win9xImage>(std::move(root));
}

}  // namespace host
