#include "run_program.h"

#include "test_prefix.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace pfmtest {
namespace {

// In the child: the environment of the run, then the program.
[[noreturn]] void ExecProgram(const ProgramRun &run)
{
    setenv("WINEPREFIX", run.prefix.c_str(), 1);
    setenv("LC_ALL", "C", 1);
    if (!run.runtime_dir.empty()) setenv("XDG_RUNTIME_DIR", run.runtime_dir.c_str(), 1);
    // The copies of win.ini that runs keep, beside the prefix.
    setenv("XDG_STATE_HOME", (run.prefix + ".state").c_str(), 1);
    // LeakSanitizer cannot run in a traced process, nor in one killed.
    setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
    if (chdir(run.folder.c_str()) != 0) _exit(126);
    if (run.file_size_limit >= 0) {
        struct rlimit limit;
        limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(run.file_size_limit);
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
    }
    if (run.address_space_limit >= 0) {
        struct rlimit limit;
        limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(run.address_space_limit);
        if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(126);
    }
    if (run.trace || run.kill_before_syscall > 0) {
        if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(125);
        raise(SIGSTOP);
    }
    std::vector<char *> argv{const_cast<char *>(run.program.c_str())};
    for (const std::string &arg : run.args) argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    execv(run.program.c_str(), argv.data());
    _exit(127);
}

void Trace(pid_t pid, const ProgramRun &run, ProgramResult *result, int *status)
{
    int st = 0;
    waitpid(pid, &st, 0);  // the child's SIGSTOP
    ptrace(PTRACE_SETOPTIONS, pid, nullptr, reinterpret_cast<void *>(PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL));
    bool entering = true;
    int deliver = 0;
    for (;;) {
        if (ptrace(PTRACE_SYSCALL, pid, nullptr, reinterpret_cast<void *>(static_cast<long>(deliver))) != 0) break;
        deliver = 0;
        if (waitpid(pid, &st, 0) < 0) break;
        if (WIFEXITED(st) || WIFSIGNALED(st)) break;
        if (!WIFSTOPPED(st)) continue;
        if (WSTOPSIG(st) == (SIGTRAP | 0x80)) {
            if (entering) {
                ++result->syscalls;
#if defined(__x86_64__)
                struct user_regs_struct regs;
                if (ptrace(PTRACE_GETREGS, pid, nullptr, &regs) == 0) result->numbers.push_back(static_cast<long>(regs.orig_rax));
#endif
                if (run.kill_before_syscall > 0 && result->syscalls == run.kill_before_syscall) {
                    kill(pid, SIGKILL);
                    waitpid(pid, &st, 0);
                    break;
                }
            }
            entering = !entering;
        } else if (WSTOPSIG(st) != SIGTRAP) {
            deliver = WSTOPSIG(st);  // a signal of its own (SIGXFSZ is ignored by it)
        }
    }
    *status = st;
}

}  // namespace

ProgramResult RunProgram(const ProgramRun &run)
{
    ProgramResult result;
    char dir[] = "/tmp/pfmrun-XXXXXX";
    if (!mkdtemp(dir)) std::abort();
    std::string in = std::string(dir) + "/in", out = std::string(dir) + "/out", err = std::string(dir) + "/err";
    WriteFile(in, run.answers);
    pid_t pid = fork();
    if (pid == 0) {
        int i = open(in.c_str(), O_RDONLY);
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (i < 0 || o < 0 || e < 0) _exit(126);
        dup2(i, 0);
        dup2(o, 1);
        dup2(e, 2);
        ExecProgram(run);
    }
    int status = 0;
    if (run.trace || run.kill_before_syscall > 0) {
        Trace(pid, run, &result, &status);
    } else {
        waitpid(pid, &status, 0);
    }
    result.exited = WIFEXITED(status);
    result.exit_code = result.exited ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    result.out = ReadFile(out);
    result.err = ReadFile(err);
    std::string command = std::string("rm -rf '") + dir + "'";
    if (std::system(command.c_str()) != 0) std::perror("rm");
    return result;
}

StartedProgram StartProgram(const ProgramRun &run, const std::string &err_path)
{
    StartedProgram started;
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) std::abort();
    pid_t pid = fork();
    if (pid == 0) {
        int e = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(e, 2);
        ExecProgram(run);
    }
    close(in[0]);
    close(out[1]);
    started.pid = pid;
    started.input = in[1];
    started.output = out[0];
    started.err_path = err_path;
    return started;
}

bool ReadUntil(int fd, const std::string &marker, std::string *out)
{
    std::size_t from = out->size();
    char buffer[4096];
    for (;;) {
        if (out->find(marker, from) != std::string::npos) return true;
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        out->append(buffer, static_cast<std::size_t>(n));
    }
}

ProgramResult FinishProgram(StartedProgram &started, std::string out)
{
    ProgramResult result;
    close(started.input);
    ReadUntil(started.output, std::string(1, '\0'), &out);  // to the end
    close(started.output);
    int status = 0;
    waitpid(started.pid, &status, 0);
    result.exited = WIFEXITED(status);
    result.exit_code = result.exited ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    result.out = out;
    result.err = ReadFile(started.err_path);
    return result;
}

bool SaysSuccess(const std::string &out)
{
    return out.find("are now registered") != std::string::npos;
}

bool SaysFailure(const std::string &out)
{
    return out.find("could not be registered") != std::string::npos;
}

int UnusablePrefixLines(const std::string &err, const std::string &path)
{
    int count = 0;
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("cannot be used") != std::string::npos && line.find(path) != std::string::npos) ++count;
    }
    return count;
}

long LastRenameCall(const ProgramResult &traced)
{
    long rename_at = -1;
#if defined(__x86_64__)
    for (std::size_t i = 0; i < traced.numbers.size(); ++i) {
        if (traced.numbers[i] == SYS_rename || traced.numbers[i] == SYS_renameat || traced.numbers[i] == SYS_renameat2)
            rename_at = static_cast<long>(i) + 1;
    }
#endif
    return rename_at;
}

}  // namespace pfmtest
