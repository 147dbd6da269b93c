// Files in host folders: POSIX calls, and win.ini replaced through a
// temporary file renamed over it, under a lock on its folder.
#include "platform/host/drives/drive_files.h"

#include "platform/host/base/file_io.h"

#include "platform/host/text/cp1252.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>

namespace host {
namespace {

// The temporary file that a commit writes beside win.ini before renaming it
// over win.ini. One name, the program's own, for every run: "PFMSETUP" with
// the extension "$$$" that temporary files of DOS programs carry, a valid
// 8.3 name on a FAT drive (where the file lands when the Windows folder is
// one), and no name a user or an editor gives a copy of win.ini. A fixed
// name is enough because only the writer holding the folder's lock makes
// the file; it is created exclusively, so nothing that stands under that
// name already (a link, a folder) is ever written through.
const char kTemporaryName[] = "PFMSETUP.$$$";

// Removes the temporary file of a writer that was killed before it could
// rename it. Called with the folder locked, so no live writer owns one.
// Only the program's own leftover goes: an entry of exactly that name, in
// any letter case (a FAT drive shows it in the case its mount chooses),
// that is a plain file.
void RemoveLeftover(int folder_fd)
{
    int fd = openat(folder_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *dir = fd < 0 ? nullptr : fdopendir(fd);
    if (!dir) {
        if (fd >= 0) close(fd);
        return;
    }
    while (struct dirent *entry = readdir(dir)) {
        if (!EqualsNoCase(entry->d_name, kTemporaryName)) continue;
        struct stat st {};
        if (fstatat(folder_fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            unlinkat(folder_fd, entry->d_name, 0);
    }
    closedir(dir);
}

// A descriptor closed when it goes out of scope, also when memory runs out
// on the way, unless it was handed on.
struct Descriptor {
    int fd = -1;
    explicit Descriptor(int opened) : fd(opened) {}
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor()
    {
        if (fd >= 0) close(fd);
    }
    int Release()
    {
        int handed = fd;
        fd = -1;
        return handed;
    }
};

// The temporary file while a commit writes it: removed again unless it was
// renamed into place, whatever ends the write-out. Only a file that this
// writer made is ever removed here.
struct TemporaryFile {
    int folder_fd;
    int fd = -1;
    bool made = false;
    bool placed = false;
    explicit TemporaryFile(int folder) : folder_fd(folder) {}
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;
    bool Create()
    {
        fd = openat(folder_fd, kTemporaryName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        made = fd >= 0;
        return made;
    }
    bool Close()
    {
        int closing = fd;
        fd = -1;
        return close(closing) == 0;
    }
    ~TemporaryFile()
    {
        if (fd >= 0) close(fd);
        if (made && !placed) unlinkat(folder_fd, kTemporaryName, 0);
    }
};

// Past a file-size limit a write must fail, not end the process: SIGXFSZ
// is ignored while the file is written.
struct FileSizeSignalIgnored {
    struct sigaction previous {};
    FileSizeSignalIgnored()
    {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGXFSZ, &ignore, &previous);
    }
    ~FileSizeSignalIgnored() { sigaction(SIGXFSZ, &previous, nullptr); }
};

// win.ini taken: its folder locked (flock) until the replacement goes.
class HostReplacement : public FileReplacement {
public:
    HostReplacement(int folder_fd, std::string folder, std::string path, bool existed, const struct stat &st)
        : folder_fd_(folder_fd), folder_(std::move(folder)), path_(std::move(path)), existed_(existed), stat_(st)
    {
    }
    ~HostReplacement() override { close(folder_fd_); }

    bool Commit(const Contents &contents, std::string *) override
    {
        TemporaryFile temp(folder_fd_);
        std::string temp_path = folder_ + "/" + kTemporaryName;
        if (!temp.Create()) return false;

        bool ok = true;
        {
            FileSizeSignalIgnored ignored;
            contents([&](std::string_view piece) {
                if (ok) ok = WriteAll(temp.fd, piece);
            });
        }

        if (existed_) {
            ok = ok && fchmod(temp.fd, stat_.st_mode & 07777) == 0;
            if (ok && (stat_.st_uid != geteuid() || stat_.st_gid != getegid())) {
                // Keeping the owner needs the right to give files away;
                // without it the file stays the writer's, as any editor
                // leaves it.
                (void)fchown(temp.fd, stat_.st_uid, stat_.st_gid);
            }
        } else {
            mode_t mask = umask(0);
            umask(mask);
            ok = ok && fchmod(temp.fd, 0666 & ~mask) == 0;
        }
        ok = ok && fsync(temp.fd) == 0;
        ok = temp.Close() && ok;
        ok = ok && rename(temp_path.c_str(), path_.c_str()) == 0;
        if (!ok) return false;
        temp.placed = true;
        fsync(folder_fd_);
        return true;
    }

    // The room the new file needs beside the old one, and the file-size
    // limit that writing it would meet.
    bool CouldCommit(std::size_t size, std::string *why) override
    {
        struct statvfs fs;
        struct rlimit limit;
        if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && size > limit.rlim_cur) {
            *why = "the new win.ini (" + std::to_string(size) + " bytes) is larger than the file-size limit";
            return false;
        }
        if (fstatvfs(folder_fd_, &fs) != 0) return true;
        unsigned long long free = static_cast<unsigned long long>(geteuid() == 0 ? fs.f_bfree : fs.f_bavail) * fs.f_frsize;
        if (free >= size + fs.f_frsize) return true;
        *why = "the disk of " + folder_ + " has no room for the new win.ini (" + std::to_string(size) + " bytes, " +
               std::to_string(free) + " bytes free)";
        return false;
    }

private:
    int folder_fd_;
    std::string folder_;
    std::string path_;
    bool existed_;
    struct stat stat_;
};

// The file that `path` names once the symbolic links of its last name are
// followed, as Wine follows them when it writes a profile; the path itself
// when it is no link (or not there). A link that dangles names the file it
// would create; links that go on too long are left as they are.
std::string LinkedFile(const std::string &path)
{
    std::string file = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (lstat(file.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return file;
        std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
        ssize_t n = readlink(file.c_str(), &target[0], target.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= target.size()) return path;
        target.resize(static_cast<std::size_t>(n));
        file = target[0] == '/' ? target : file.substr(0, file.rfind('/') + 1) + target;
    }
    return path;
}

class Host : public DriveFiles {
public:
    bool Exists(const std::string &path) override
    {
        struct stat st;
        return lstat(path.c_str(), &st) == 0;
    }

    bool IsFolder(const std::string &path) override
    {
        struct stat st;
        return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }

    bool List(const std::string &folder, std::vector<std::string> *names) override
    {
        DIR *d = opendir(folder.c_str());
        if (!d) return false;
        names->clear();
        while (struct dirent *e = readdir(d)) {
            std::string_view entry(e->d_name);
            if (entry != "." && entry != "..") names->emplace_back(entry);
        }
        closedir(d);
        return true;
    }

    bool Stamp(const std::string &path, FileStamp *stamp) override
    {
        struct stat st;
        if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
        *stamp = StampOf(st);
        return true;
    }

    bool Read(const std::string &path, std::string *bytes, FileStamp *stamp, std::size_t limit) override
    {
        struct stat st;
        if (!ReadWholeFile(path, bytes, &st, limit)) return false;
        *stamp = StampOf(st);
        return true;
    }

    std::unique_ptr<FileReplacement> BeginReplace(const std::string &path, bool through_links, std::string *bytes,
                                                  bool *existed, std::string *why) override
    {
        why->clear();
        // Written through a link: the replacement is made beside the file
        // the link names, under the lock of that file's folder.
        std::string file = through_links ? LinkedFile(path) : path;
        std::string folder = file.substr(0, file.rfind('/'));
        Descriptor lock(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (lock.fd < 0) {
            *why = "its Windows folder cannot be opened";
            return nullptr;
        }
        while (flock(lock.fd, LOCK_EX) != 0) {
            if (errno != EINTR) return nullptr;
        }

        RemoveLeftover(lock.fd);

        // win.ini is replaced through a new file in its folder; a file
        // without any write permission carries the read-only attribute.
        struct stat st {};
        *existed = stat(file.c_str(), &st) == 0;
        bool writable = access(folder.c_str(), W_OK | X_OK) == 0;
        if (*existed) writable = writable && (st.st_mode & 0222) != 0 && access(file.c_str(), W_OK) == 0;
        bytes->clear();
        if (writable && *existed && !ReadWholeFile(file, bytes, &st)) writable = false;
        if (!writable) return nullptr;
        auto taken = std::make_unique<HostReplacement>(lock.fd, std::move(folder), file, *existed, st);
        lock.Release();
        return taken;
    }
};

}  // namespace

DriveFiles &HostFiles()
{
    static Host host;
    return host;
}

}  // namespace host
