// A Windows 95/98/Me machine kept as a disk image (WIN9X_DRIVE names the
// image file): its Windows volume is drive C:, read and written through
// mtools, never mounted. The image is examined (disk_image.h), locked for
// the whole run (image_lock.h), its Windows volume chosen (WIN9X_PARTITION,
// else the active partition, else the first holding Windows), a
// replacement of WIN.INI that a killed run left is finished or undone
// (fat_image_drive.h), and then the layout is found by the same rules as on
// a drive folder (installation_win9x.h).
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
#include <cstdlib>
#include <cstring>

namespace host {
namespace {

class Win9xImage : public Win9xInstallation {
public:
    explicit Win9xImage(std::string root) : Win9xInstallation(InstallationKind::kWin9xImage, std::move(root))
    {
        Open();
    }

    // The pending WIN.INI is written while the volume and the lock are
    // still here; they go before the base class's members.
    ~Win9xImage() override { Profile().Flush(); }

    DriveFiles *ImageFiles() override { return files_.get(); }

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
            std::unique_ptr<FatImageDrive> drive = FatImageDrive::Open(Root(), offset, &ignored);
            if (!drive) return false;
            host::ImageFiles files(*drive);
            Win9xWindowsFolder windows;
            return FindWin9xWindowsFolder(files, kImageRoot, &windows, &ignored);
        };
        ImageVolume volume;
        if (!ChooseWindowsVolume(Root(), image, wanted, holds_windows, &volume, &why)) return Refuse(why);
        drive_ = FatImageDrive::Open(Root(), volume.offset, &why);
        if (!drive_) return Refuse(why);
        files_ = std::make_unique<host::ImageFiles>(*drive_);

        Win9xWindowsFolder windows;
        if (!FindLayout(*files_, kImageRoot, &windows)) return;
        // Before anything reads the Windows folder's files; a preview only
        // tells what the repair would do.
        if (Preview()) SetPendingRepair(files_->DescribeRepair(windows.path));
        else if (!files_->Repair(windows.path, &why)) return SetUnusable(why.c_str());
        ReadRegistry(*files_, windows);
    }

    // libcreg reads a registry file by its name, and reads it as it goes:
    // SYSTEM.DAT is copied to a file of this process's own and libcreg is
    // given its name. On Linux that file is a memory file named through
    // /proc, so no copy of the registry is ever left on disk, whatever
    // kills the program, and TMPDIR need not be writable; elsewhere it is
    // a temporary file, unlinked as soon as it is open (the open file stays
    // readable). Reading from memory would need libcreg's own I/O layer,
    // and the checks of registry_win9x_check.cpp work on a file too.
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
};

}  // namespace

std::unique_ptr<Installation> OpenWin9xImage(std::string root)
{
    return std::make_unique<Win9xImage>(std::move(root));
}

}  // namespace host
