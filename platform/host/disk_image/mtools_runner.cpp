#include "platform/host/disk_image/mtools_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char **environ;

namespace host {
namespace {

// How long one mtools command may take before it is ended.
constexpr std::chrono::milliseconds kTimeLimit{60000};

class Pipe {
public:
    Pipe()
    {
        if (pipe2(fds_, O_CLOEXEC) != 0) fds_[0] = fds_[1] = -1;
    }
    ~Pipe()
    {
        CloseRead();
        CloseWrite();
    }
    Pipe(const Pipe &) = delete;
    Pipe &operator=(const Pipe &) = delete;
    bool ok() const { return fds_[0] >= 0; }
    int read_end() const { return fds_[0]; }
    int write_end() const { return fds_[1]; }
    void CloseRead() { CloseFd(&fds_[0]); }
    void CloseWrite() { CloseFd(&fds_[1]); }

private:
    static void CloseFd(int *fd)
    {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
    int fds_[2];
};

// What every child is given whatever the user's environment and mtools
// files hold (see MtoolsRunner in the header). mtools reads
// /etc/mtools.conf, ~/.mtoolsrc, then the file MTOOLSRC names, and then
// its variables from the environment, which override all three: so
// MTOOLSRC is dropped, HOME names a path under which no file can exist,
// and every variable that changes what the tools print, write or check is
// set here.
constexpr const char *kSettings[] = {
    "HOME=/dev/null",                 // no ~/.mtoolsrc: /dev/null/.mtoolsrc cannot exist
    "LC_ALL=C.UTF-8",                 // long names printed in UTF-8, messages in English
    "MTOOLS_SKIP_CHECK=1",            // an image's geometry need not be a floppy's
    "MTOOLS_FAT_COMPATIBILITY=0",     // a FAT of the wrong size is refused
    "MTOOLS_LOWER_CASE=0",            // short names listed as stored, upper case
    "MTOOLS_NO_VFAT=0",               // long names read and written
    "MTOOLS_NAME_NUMERIC_TAIL=1",     // long names get their ~1 as Windows gives it
    "MTOOLS_DOTTED_DIR=0",            // "NAME     EXT" in a listing
    "MTOOLS_TWENTY_FOUR_HOUR_CLOCK=1",
    "MTOOLS_DATE_STRING=yyyy-mm-dd",  // the date a listing line is read by
    "MTOOLS_LOCK_TIMEOUT=30",         // below the children's time limit
    "DEFAULT_CODEPAGE=850",           // short names as mtools reads them by default
};

bool DroppedFromEnvironment(std::string_view entry)
{
    std::string_view name = entry.substr(0, entry.find('='));
    // Every MTOOLS_ variable (the debugging and formatting ones too), the
    // user's extra configuration file, the locale's variables (LC_ALL
    // alone decides), and what is set above.
    if (name.substr(0, 7) == "MTOOLS_" || name == "MTOOLSRC" || name == "LANGUAGE" || name.substr(0, 3) == "LC_" ||
        name == "LANG")
        return true;
    for (std::string_view setting : kSettings)
        if (setting.substr(0, setting.find('=')) == name) return true;
    return false;
}

std::vector<std::string> ChildEnvironment()
{
    std::vector<std::string> env;
    for (char **e = environ; e && *e; ++e)
        if (!DroppedFromEnvironment(*e)) env.emplace_back(*e);
    for (std::string_view setting : kSettings) env.emplace_back(setting);
    return env;
}

std::vector<char *> Pointers(std::vector<std::string> &texts)
{
    std::vector<char *> out;
    for (std::string &t : texts) out.push_back(t.data());
    out.push_back(nullptr);
    return out;
}

}  // namespace

std::string ChildResult::FirstErrorLine() const
{
    if (!started) return err.empty() ? "could not be started" : err;
    if (timed_out) return "did not finish in time and was stopped";
    if (signal) return "was killed by signal " + std::to_string(signal) + " (" + strsignal(signal) + ")";
    std::string_view text = err.empty() ? std::string_view(out) : std::string_view(err);
    size_t start = text.find_first_not_of(" \r\n\t");
    if (start == std::string_view::npos) return "failed (exit status " + std::to_string(exit_code) + ")";
    text.remove_prefix(start);
    return std::string(text.substr(0, text.find_first_of("\r\n")));
}

ChildResult RunChild(const std::vector<std::string> &argv_in, std::string_view input,
                     std::chrono::milliseconds limit)
{
    ChildResult result;
    Pipe in, out, err;
    if (!in.ok() || !out.ok() || !err.ok()) {
        result.err = std::string("no pipe: ") + std::strerror(errno);
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in.read_end(), 0);
    posix_spawn_file_actions_adddup2(&actions, out.write_end(), 1);
    posix_spawn_file_actions_adddup2(&actions, err.write_end(), 2);
    // The child starts with the default signal actions, in a session of its
    // own: without a terminal a tool cannot stop to ask a question, and a
    // Ctrl-C that ends the program lets the step a tool is making finish.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);

    std::vector<std::string> argv_copy = argv_in, env = ChildEnvironment();
    std::vector<char *> argv = Pointers(argv_copy), envp = Pointers(env);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        result.err = argv_in[0] + ": " + std::strerror(rc);
        return result;
    }
    result.started = true;
    in.CloseRead();
    out.CloseWrite();
    err.CloseWrite();
    // A child that does not read its input must not make writes fail the program.
    fcntl(in.write_end(), F_SETFL, O_NONBLOCK);
    // A whole WIN.INI goes through in far fewer rounds with the largest
    // pipe an unprivileged process may have (1 MiB by default); where
    // that is refused, the pipe keeps its size.
    if (input.size() > 65536) fcntl(in.write_end(), F_SETPIPE_SZ, 1 << 20);
    if (input.empty()) in.CloseWrite();

    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool out_open = true, err_open = true;
    char buffer[65536];
    while (out_open || err_open) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timed_out = true;
            kill(pid, SIGKILL);
            break;
        }
        pollfd fds[3];
        nfds_t n = 0;
        int out_i = -1, err_i = -1, in_i = -1;
        if (out_open) { out_i = int(n); fds[n++] = {out.read_end(), POLLIN, 0}; }
        if (err_open) { err_i = int(n); fds[n++] = {err.read_end(), POLLIN, 0}; }
        if (in.write_end() >= 0) { in_i = int(n); fds[n++] = {in.write_end(), POLLOUT, 0}; }
        int ready = poll(fds, n, int(left.count() > 1000 ? 1000 : left.count()));
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) continue;
        auto drain = [&](int index, int fd, std::string *to, bool *open) {
            if (index < 0 || !(fds[index].revents & (POLLIN | POLLHUP | POLLERR))) return;
            ssize_t got = read(fd, buffer, sizeof buffer);
            if (got > 0) to->append(buffer, size_t(got));
            else if (got == 0 || errno != EINTR) *open = false;
        };
        drain(out_i, out.read_end(), &result.out, &out_open);
        drain(err_i, err.read_end(), &result.err, &err_open);
        if (in_i >= 0 && fds[in_i].revents) {
            ssize_t put = (fds[in_i].revents & POLLOUT) ? write(in.write_end(), input.data(), input.size()) : -1;
            if (put > 0) input.remove_prefix(size_t(put));
            if (put < 0 && errno == EAGAIN) continue;
            if (put < 0 || input.empty()) in.CloseWrite();
        }
    }
    in.CloseWrite();
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    if (!result.timed_out && WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
    if (!result.timed_out && WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}

MtoolsRunner::MtoolsRunner(std::string image, uint64_t offset) : image_(std::move(image)), offset_(offset) {}

std::string MtoolsRunner::MissingLine()
{
    // Looked up on PATH as the children are, without starting one.
    const char *path = std::getenv("PATH");
    std::string_view dirs = path ? path : "";
    for (;;) {
        std::size_t colon = dirs.find(':');
        std::string dir(dirs.substr(0, colon));
        std::string program = (dir.empty() ? std::string(".") : dir) + "/mcopy";
        if (access(program.c_str(), X_OK) == 0) return {};
        if (colon == std::string_view::npos) break;
        dirs.remove_prefix(colon + 1);
    }
    return "pfmsetup: reading disk images needs mtools (apt-get install mtools)";
}

bool MtoolsRunner::NameForTools(const std::string &path, int fd, std::string *name, std::string *why)
{
#ifdef __linux__
    // The child inherits the descriptor (no close-on-exec) under the same
    // number, so the name opens the very file this process opened.
    if (fd >= 0 && !(fcntl(fd, F_GETFD) & FD_CLOEXEC)) {
        std::string proc = "/proc/self/fd/" + std::to_string(fd);
        struct stat by_name, by_fd;
        if (stat(proc.c_str(), &by_name) == 0 && fstat(fd, &by_fd) == 0 && by_name.st_dev == by_fd.st_dev &&
            by_name.st_ino == by_fd.st_ino) {
            *name = proc;
            return true;
        }
    }
#endif
    if (path.find("@@") != std::string::npos) {
        if (why) *why = "its path holds \"@@\", which mtools would split (and /proc is not there to name it otherwise)";
        return false;
    }
    *name = path;
    return true;
}

ChildResult MtoolsRunner::Run(const std::string &tool, const std::vector<std::string> &args,
                              std::string_view input) const
{
    std::vector<std::string> argv{tool, "-i", image_ + "@@" + std::to_string(offset_)};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunChild(argv, input, kTimeLimit);
}

}  // namespace host
