// What the dialogue tests share: a child process that shows boxes, with
// its standard input and output held by the test, and a fixture that gives
// every test a runtime folder, and so a table of shown boxes, of its own.
#ifndef PFMSETUP_TESTS_DIALOGUE_FIXTURE_H
#define PFMSETUP_TESTS_DIALOGUE_FIXTURE_H

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#include <dirent.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "platform/host/installation/installation.h"

namespace dialogue_fixture {

const UINT kDefButton2 = 0x100u;  // MB_DEFBUTTON2

// A child process that shows boxes. Its exit code is what `body` returns.
class BoxChild {
public:
    BoxChild(std::function<int()> body, const char *locale = "C.UTF-8")
    {
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0) std::abort();
        pid_ = fork();
        if (pid_ < 0) std::abort();
        if (pid_ == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            // Drop every other descriptor, so that no pipe of another child
            // stays open here and hides its end.
            for (int fd = 3; fd < 1024; ++fd) close(fd);
            setenv("LC_ALL", locale, 1);
            int result = body();
            std::fflush(stdout);
            _exit(result);
        }
        close(in[0]);
        close(out[1]);
        to_child_ = in[1];
        from_child_ = out[0];
    }

    ~BoxChild()
    {
        if (to_child_ >= 0) close(to_child_);
        if (from_child_ >= 0) close(from_child_);
        if (pid_ > 0 && !reaped_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    pid_t pid() const { return pid_; }
    const std::string &output() const { return output_; }

    void Send(const std::string &text)
    {
        ASSERT_EQ(write(to_child_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }

    void CloseInput()
    {
        close(to_child_);
        to_child_ = -1;
    }

    // Reads the child's output until `marker` has appeared `count` times in
    // all. False when the output ends first; a child that shows nothing for
    // a long while counts as stuck rather than letting the test hang.
    bool WaitFor(const std::string &marker, int count = 1)
    {
        for (;;) {
            int seen = 0;
            for (size_t at = output_.find(marker); at != std::string::npos;
                 at = output_.find(marker, at + marker.size()))
                ++seen;
            if (seen >= count) return true;
            if (!ReadSome(60000)) return false;
        }
    }

    // Closes the child's input, takes the rest of its output and returns
    // its exit code (-1 when it did not exit normally).
    int Finish()
    {
        if (to_child_ >= 0) CloseInput();
        while (ReadSome(60000)) {
        }
        return Collect();
    }

    // Kills the child where it stands and waits until it has ended, but
    // leaves it unreaped, as a zombie, the way a killed copy stays while
    // its shell has not yet collected it.
    void KillLeavingZombie()
    {
        kill(pid_, SIGKILL);
        siginfo_t info;
        while (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
        }
    }

    // Collects a child that has ended.
    void Reap() { Collect(); }

private:
    bool ReadSome(int patience_ms)
    {
        pollfd p = {from_child_, POLLIN, 0};
        int n;
        do {
            n = poll(&p, 1, patience_ms);
        } while (n < 0 && errno == EINTR);
        if (n <= 0) return false;
        char buf[4096];
        ssize_t got = read(from_child_, buf, sizeof buf);
        if (got <= 0) return false;
        output_.append(buf, static_cast<size_t>(got));
        return true;
    }

    int Collect()
    {
        int status = 0;
        waitpid(pid_, &status, 0);
        reaped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    pid_t pid_ = -1;
    int to_child_ = -1;
    int from_child_ = -1;
    bool reaped_ = false;
    std::string output_;
};

inline std::vector<std::string> FilesIn(const std::string &dir)
{
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d)) {
            std::string name = e->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(d);
    }
    return names;
}

inline void RemoveTree(const std::string &path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        for (const std::string &name : FilesIn(path)) RemoveTree(path + "/" + name);
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

inline size_t Count(const std::string &text, const std::string &what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

// Every test gets its own runtime folder, so its table of shown boxes
// starts empty and nothing of another test or user is seen.
class DialogueTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        signal(SIGPIPE, SIG_IGN);  // a child that ended early must fail a check, not end the test
        const char *old = getenv("XDG_RUNTIME_DIR");
        had_runtime_ = old != nullptr;
        if (old) old_runtime_ = old;
        char pattern[] = "/tmp/pfm-dialogue-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        runtime_ = pattern;
        setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
        // The table of the installation the environment names, in the
        // user's folder of tables.
        std::string user = runtime_ + "/pfmsetup-" + std::to_string(static_cast<unsigned long>(getuid()));
        ASSERT_EQ(mkdir(user.c_str(), 0700), 0);
        std::string installation = host::FileIdentity(host::NamedInstallationPath());
        table_ = user + "/" + (installation.empty() ? std::string("none") : installation);
    }

    void TearDown() override
    {
        RemoveTree(runtime_);
        if (had_runtime_) setenv("XDG_RUNTIME_DIR", old_runtime_.c_str(), 1);
        else unsetenv("XDG_RUNTIME_DIR");
    }

    std::string runtime_, table_, old_runtime_;
    bool had_runtime_ = false;
};

}  // namespace dialogue_fixture

#endif
