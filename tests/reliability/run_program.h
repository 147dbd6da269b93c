// Runs the host program (pfmsetup) as a separate process on a prefix, with
// its message boxes answered from a text given in advance, and optionally
// traced so that it can be killed right before its Nth system call, or
// run under a file-size or address-space limit.
#ifndef PFMSETUP_TESTS_RELIABILITY_RUN_PROGRAM_H
#define PFMSETUP_TESTS_RELIABILITY_RUN_PROGRAM_H

#include <sys/types.h>

#include <string>
#include <vector>

namespace pfmtest {

struct ProgramRun {
    std::string program = PFMSETUP_EXE;
    std::string prefix;        // WINEPREFIX
    std::string folder;        // the current folder (the kit)
    std::string runtime_dir;   // XDG_RUNTIME_DIR: where the shown boxes are listed
    std::string answers;       // standard input, e.g. "ok\n\n"
    std::vector<std::string> args;  // the command line after the program's name
    long long file_size_limit = -1;  // RLIMIT_FSIZE in bytes, -1 for none
    long long address_space_limit = -1;  // RLIMIT_AS in bytes, -1 for none
    long kill_before_syscall = -1;   // 1-based; -1 runs to the end
    bool trace = false;              // count (and record) system calls
};

struct ProgramResult {
    bool exited = false;
    int exit_code = -1;
    int signal = 0;
    std::string out;
    std::string err;
    long syscalls = 0;          // system calls entered (when traced)
    std::vector<long> numbers;  // their numbers, in order (when traced)
};

ProgramResult RunProgram(const ProgramRun &run);

// Starts the program with standard input and output on pipes; the caller
// writes the answers and reads the boxes.
struct StartedProgram {
    pid_t pid = -1;
    int input = -1;   // write end of its standard input
    int output = -1;  // read end of its standard output
    std::string err_path;
};
StartedProgram StartProgram(const ProgramRun &run, const std::string &err_path);
// Reads the program's output until `marker` has appeared in it (or the
// output ends); all that was read is appended to `out`.
bool ReadUntil(int fd, const std::string &marker, std::string *out);
// Reads the rest of the output, closes the pipes and waits for the program.
ProgramResult FinishProgram(StartedProgram &started, std::string out);

// The 1-based index of the last rename among a traced run's system calls,
// or -1 when the numbers cannot be told apart (not on x86-64).
long LastRenameCall(const ProgramResult &traced);

// What the boxes said.
bool SaysSuccess(const std::string &out);
bool SaysFailure(const std::string &out);
// Lines of standard error that name the prefix as unusable.
int UnusablePrefixLines(const std::string &err, const std::string &path);

}  // namespace pfmtest

#endif
