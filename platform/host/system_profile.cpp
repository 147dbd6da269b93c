#include "system_profile.h"

#include "codepage.h"
#include "out_of_memory.h"
#include "paths.h"
#include "installation.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace host {
namespace {

// The length of a text that holds no line break (nor, for a key, an '='),
// or -1: such a text, written, would not read back as written. Three texts
// are checked for every write.
long CheckedLength(const char *text, const char *refused)
{
    std::size_t length = std::strcspn(text, refused);
    return text[length] ? -1 : static_cast<long>(length);
}

// A key that would not read back as a key: one holding a line break or
// '=', or one that opens with '[' and so could read as a section header.
long CheckedKeyLength(const char *key)
{
    long length = CheckedLength(key, "\r\n=");
    const char *p = key;
    while (*p && IsProfileSpace(static_cast<unsigned char>(*p))) ++p;
    return *p == '[' ? -1 : length;
}

// The temporary file that a flush writes beside win.ini before renaming it
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

// The temporary file while a flush writes it: removed again unless it was
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

}  // namespace

SystemProfile::~SystemProfile()
{
    Flush();
}

const ProfileDocument *SystemProfile::Pending(const std::string &unix_path) const
{
    if (!held_) return nullptr;
    if (unix_path == path_) return document_.get();
    // The same file by any spelling of its name.
    std::size_t slash = unix_path.rfind('/');
    if (slash == std::string::npos || unix_path.compare(0, slash, folder_) != 0 || slash != folder_.size())
        return nullptr;
    if (!EqualsNoCase(std::string_view(unix_path).substr(slash + 1), std::string_view(path_).substr(slash + 1)))
        return nullptr;
    return document_.get();
}

bool SystemProfile::Begin()
{
    if (held_) return true;
    Installation &installation = Installation::Current();
    std::optional<std::string> path = UnixPathOf(installation.SystemProfileName());
    if (!path) {
        installation.ReportUnusable("it has no drive C: with a Windows folder");
        return false;
    }
    std::string folder = path->substr(0, path->rfind('/'));
    Descriptor lock(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (lock.fd < 0) {
        installation.ReportUnusable("its Windows folder cannot be opened");
        return false;
    }
    while (flock(lock.fd, LOCK_EX) != 0) {
        if (errno != EINTR) return false;
    }

    RemoveLeftover(lock.fd);

    // win.ini is replaced through a new file in its folder; a file without
    // any write permission carries the read-only attribute.
    struct stat st {};
    bool existed = stat(path->c_str(), &st) == 0;
    bool writable = access(folder.c_str(), W_OK | X_OK) == 0;
    if (existed) writable = writable && (st.st_mode & 0222) != 0 && access(path->c_str(), W_OK) == 0;
    std::string bytes;
    if (writable && existed && !ReadWholeFile(*path, &bytes, &st)) writable = false;
    if (!writable) return false;

    auto document = std::make_unique<ProfileDocument>(ProfileDocument::ParseOwned(std::move(bytes)));
    path_ = std::move(*path);
    folder_ = std::move(folder);
    folder_fd_ = lock.Release();
    existed_ = existed;
    stat_ = st;
    document_ = std::move(document);
    held_ = true;
    ++hold_generation_;
    dirty_ = false;
    return true;
}

bool SystemProfile::Write(const char *section, const char *key, const char *value)
{
    if (!section) {
        Flush();
        return false;
    }
    // Once memory has run out, nothing more is written until the flush
    // that ends the run: a win.ini with part of the run's changes would be
    // worse than none.
    if (lost_) return false;
    long section_length = CheckedLength(section, "\r\n");
    long key_length = key ? CheckedKeyLength(key) : 0;
    long value_length = value ? CheckedLength(value, "\r\n") : 0;
    if (section_length < 0 || key_length < 0 || value_length < 0) return false;
    if (!Begin()) return false;
    std::string_view section_text(section, static_cast<std::size_t>(section_length));
    if (!key) {
        dirty_ = document_->DeleteSection(section_text) || dirty_;
    } else if (!value) {
        dirty_ = document_->DeleteKey(section_text, std::string_view(key, static_cast<std::size_t>(key_length))) ||
                 dirty_;
    } else {
        document_->SetValue(section_text, std::string_view(key, static_cast<std::size_t>(key_length)),
                            std::string_view(value, static_cast<std::size_t>(value_length)));
        dirty_ = true;
    }
    return true;
}

bool SystemProfile::WriteOut()
{
    TemporaryFile temp(folder_fd_);
    std::string temp_path = folder_ + "/" + kTemporaryName;
    if (!temp.Create()) return false;

    bool ok = true;
    {
        FileSizeSignalIgnored ignored;
        document_->SerializeTo([&](std::string_view piece) {
            if (ok) ok = WriteAll(temp.fd, piece);
        });
    }

    if (existed_) {
        ok = ok && fchmod(temp.fd, stat_.st_mode & 07777) == 0;
        if (ok && (stat_.st_uid != geteuid() || stat_.st_gid != getegid())) {
            // Keeping the owner needs the right to give files away; without
            // it the file stays the writer's, as any editor leaves it.
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
    profiles_.Forget(path_);
    fsync(folder_fd_);
    return true;
}

void SystemProfile::Release()
{
    if (folder_fd_ >= 0) close(folder_fd_);
    folder_fd_ = -1;
    held_ = false;
    ++hold_generation_;
    dirty_ = false;
    document_.reset();
}

void SystemProfile::Abandon() noexcept
{
    Release();
    lost_ = true;
}

bool SystemProfile::Flush()
{
    // After memory ran out the flush writes nothing and fails; it ends that
    // state. Memory that runs out while the copy is written out fails the
    // write-out like a full disk.
    bool ok = !lost_ && (!held_ || !dirty_ || AnswerOnOutOfMemory(false, [this] { return WriteOut(); }));
    Release();
    lost_ = false;
    return ok;
}

}  // namespace host
