#include "platform/host/dialogue/window_table.h"

#include "platform/host/base/file_io.h"
#include "platform/host/installation/installation.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace host {
namespace {

// Entries larger than this are not ours; a caption is far shorter.
const size_t kMaxEntryBytes = 65536;

// Parses "<pid> <start> <kit>\n<caption>".
bool ParseEntry(const std::string &content, BoxEntry *entry)
{
    size_t nl = content.find('\n');
    if (nl == std::string::npos) return false;
    std::string head = content.substr(0, nl);
    char *end = nullptr;
    long pid = std::strtol(head.c_str(), &end, 10);
    if (end == head.c_str() || *end != ' ' || pid <= 0) return false;
    const char *start_text = end + 1;
    unsigned long long start = std::strtoull(start_text, &end, 10);
    if (end == start_text || (*end != ' ' && *end != '\0')) return false;
    entry->pid = static_cast<pid_t>(pid);
    entry->start = start;
    entry->kit = *end ? end + 1 : "";
    entry->caption = content.substr(nl + 1);
    return true;
}

// The pid that a table file's name begins with ("1234-1.box",
// ".1234-1.tmp"), 0 when there is none.
pid_t PidOfName(const std::string &name)
{
    const char *p = name.c_str();
    if (*p == '.') ++p;
    char *end = nullptr;
    long pid = std::strtol(p, &end, 10);
    if (end == p || *end != '-' || pid <= 0) return 0;
    return static_cast<pid_t>(pid);
}

bool EndsWith(const std::string &s, const char *suffix)
{
    size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

unsigned g_box_counter = 0;

// The state letter (field 3) and the start time (field 22) of a process
// from /proc/<pid>/stat.
bool ReadProcessStat(pid_t pid, char *state, unsigned long long *start)
{
    std::string text;
    struct stat st;
    if (!ReadWholeFile("/proc/" + std::to_string(pid) + "/stat", &text, &st, kMaxEntryBytes + 1, O_NOFOLLOW) ||
        text.size() > kMaxEntryBytes)
        return false;
    // The command name in parentheses may itself hold spaces and
    // parentheses; the fields after the last ')' are plain numbers and
    // letters, starting with field 3.
    size_t paren = text.rfind(')');
    if (paren == std::string::npos) return false;
    const char *p = text.c_str() + paren + 1;
    while (*p == ' ') ++p;
    if (!*p) return false;
    *state = *p;
    for (int field = 3; field < 22; ++field) {
        while (*p && *p != ' ') ++p;
        while (*p == ' ') ++p;
        if (!*p) return false;
    }
    char *end = nullptr;
    *start = std::strtoull(p, &end, 10);
    return end != p;
}

// Makes the folder when absent; true when it is a real folder of this
// user's that nobody else can enter (it may lie in /tmp, which others can
// write to).
bool OwnFolder(const std::string &dir)
{
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st;
    if (lstat(dir.c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == getuid() && (st.st_mode & 077) == 0;
}

// The table's folder for the installation the environment names, created
// when absent; "" when it cannot be used. Read from the environment on
// every call.
std::string BoxTableDir()
{
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string base = (runtime && *runtime) ? runtime : "/tmp";
    std::string user = base + "/pfmsetup-" + std::to_string(static_cast<unsigned long>(getuid()));
    // An installation that is not there has no screen of its own; its
    // copies share one (they end with the failure report).
    std::string installation = FileIdentity(NamedInstallationPath());
    std::string dir = user + "/" + (installation.empty() ? std::string("none") : installation);
    if (!OwnFolder(user) || !OwnFolder(dir)) return "";
    return dir;
}

// The start time of a process in clock ticks since boot, as /proc gives it;
// 0 when it cannot be read.
unsigned long long ProcessStartTime(pid_t pid)
{
    char state = 0;
    unsigned long long start = 0;
    return ReadProcessStat(pid, &state, &start) ? start : 0;
}

// True when the process exists, is not a zombie, and (when `start` is not 0)
// started at `start`.
bool ProcessIsAlive(pid_t pid, unsigned long long start)
{
    // The table belongs to one user, so a pid that this user may not signal
    // now belongs to someone else's process.
    if (pid <= 0 || kill(pid, 0) != 0) return false;
    char state = 0;
    unsigned long long now = 0;
    if (!ReadProcessStat(pid, &state, &now)) return true;  // no /proc: the signal test alone
    if (state == 'Z' || state == 'X') return false;        // ended, not yet reaped
    return start == 0 || now == start;                     // else the pid was given to another process
}

}  // namespace

std::string CurrentFolderIdentity()
{
    return FileIdentity(".");
}

void EnterShownBox(std::string_view caption, ShownBox *box)
{
    box->entry_path.clear();
    box->fifo_path.clear();
    box->raise_fd = -1;
    std::string dir = BoxTableDir();
    if (dir.empty()) return;

    pid_t pid = getpid();
    std::string name = std::to_string(pid) + "-" + std::to_string(++g_box_counter);
    std::string fifo = dir + "/" + name + ".fifo";
    std::string tmp = dir + "/." + name + ".tmp";
    std::string entry = dir + "/" + name + ".box";

    // The FIFO first, so whoever finds the entry can reach its owner.
    unlink(fifo.c_str());
    if (mkfifo(fifo.c_str(), 0600) == 0) {
        // Opened for reading and writing, so it never reads as ended when
        // a requester closes its end.
        box->raise_fd = open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (box->raise_fd < 0) unlink(fifo.c_str());
        else box->fifo_path = fifo;
    }

    std::string content =
        std::to_string(pid) + " " + std::to_string(ProcessStartTime(pid)) + " " + CurrentFolderIdentity() + "\n";
    content.append(caption.data(), caption.size());
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return;
    bool written = WriteAll(fd, content);
    if (close(fd) != 0) written = false;
    if (!written || rename(tmp.c_str(), entry.c_str()) != 0) {
        unlink(tmp.c_str());
        return;
    }
    box->entry_path = entry;
}

void RemoveShownBox(ShownBox *box)
{
    // The entry goes first: once it is gone no search hands out the FIFO.
    if (!box->entry_path.empty()) unlink(box->entry_path.c_str());
    if (box->raise_fd >= 0) close(box->raise_fd);
    if (!box->fifo_path.empty()) unlink(box->fifo_path.c_str());
    box->entry_path.clear();
    box->fifo_path.clear();
    box->raise_fd = -1;
}

std::vector<BoxEntry> LiveBoxEntries()
{
    std::vector<BoxEntry> live;
    std::string dir = BoxTableDir();
    if (dir.empty()) return live;
    DIR *d = opendir(dir.c_str());
    if (!d) return live;
    std::vector<std::string> names;
    while (struct dirent *e = readdir(d)) names.push_back(e->d_name);
    closedir(d);
    std::sort(names.begin(), names.end());

    for (const std::string &file : names) {
        if (file == "." || file == "..") continue;
        std::string path = dir + "/" + file;
        if (EndsWith(file, ".box")) {
            BoxEntry entry;
            entry.name = file.substr(0, file.size() - 4);
            std::string content;
            struct stat st;
            if (!ReadWholeFile(path, &content, &st, kMaxEntryBytes + 1, O_NOFOLLOW) || content.size() > kMaxEntryBytes)
                continue;  // removed meanwhile
            if (!ParseEntry(content, &entry)) continue;
            if (ProcessIsAlive(entry.pid, entry.start)) {
                live.push_back(entry);
            } else {
                unlink(path.c_str());
                unlink((dir + "/" + entry.name + ".fifo").c_str());
            }
        } else if (EndsWith(file, ".fifo") || EndsWith(file, ".tmp")) {
            // Left by a copy that ended between making them and entering
            // its box, or after removing its entry.
            pid_t pid = PidOfName(file);
            if (pid != 0 && kill(pid, 0) != 0 && errno == ESRCH) unlink(path.c_str());
        }
    }
    return live;
}

namespace {

// The write end of an entry's FIFO, -1 when no copy waits on it: without a
// reader (the owner has ended or answered) opening fails with ENXIO instead
// of waiting.
int OpenRaiseRequest(const std::string &name)
{
    std::string dir = BoxTableDir();
    if (dir.empty() || name.empty() || name.find('/') != std::string::npos) return -1;
    int fd = open((dir + "/" + name + ".fifo").c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode)) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

bool BoxIsWaiting(const std::string &name)
{
    int fd = OpenRaiseRequest(name);
    if (fd < 0) return false;
    close(fd);
    return true;
}

bool RequestBoxRaise(const std::string &name)
{
    int fd = OpenRaiseRequest(name);
    if (fd < 0) return false;
    // The owner may close its end between our open and our write; that must
    // cost this process an error result, not its life.
    struct sigaction ignore, saved;
    std::memset(&ignore, 0, sizeof ignore);
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &saved);
    char request = 'r';
    ssize_t n;
    do {
        n = write(fd, &request, 1);
    } while (n < 0 && errno == EINTR);
    int write_errno = errno;
    sigaction(SIGPIPE, &saved, nullptr);
    close(fd);
    // A full FIFO means requests are already waiting for the owner.
    return n == 1 || (n < 0 && write_errno == EAGAIN);
}

}  // namespace host
