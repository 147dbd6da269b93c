// mtools, run as child processes on one FAT volume inside an image file.
//
// Every tool gets "-i NAME@@OFFSET" as its first arguments, runs without a
// shell (argv as given, found on PATH), with its standard output and error
// captured, under settings of the program's own: no ~/.mtoolsrc and no
// MTOOLSRC read, and every variable that changes what the tools print,
// write or check set to the value this program reads and writes by,
// whatever the environment and /etc/mtools.conf hold (a user's
// MTOOLS_DATE_STRING would change every listing line). NAME is the image
// as /proc/self/fd/N, N being the image lock's descriptor, which the
// children inherit: mtools splits "-i" at its first "@@", and an image's
// path may hold any character. A child that runs longer than the time limit is killed, so a
// damaged volume that made a tool loop cannot hang the program.
//
// Descriptors without close-on-exec pass to the children: the image lock
// is opened so on purpose (see image_lock.h), so that a tool that outlives
// a killed program still holds the image until it ends.
#ifndef PFMSETUP_PLATFORM_HOST_DISK_IMAGE_MTOOLS_RUNNER_H
#define PFMSETUP_PLATFORM_HOST_DISK_IMAGE_MTOOLS_RUNNER_H

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace host {

struct ChildResult {
    bool started = false;     // false: the program could not be run at all
    bool timed_out = false;   // killed at the time limit
    int exit_code = -1;       // the exit status, or -1 when it did not exit
    int signal = 0;           // the signal that ended it, when one did
    std::string out, err;

    bool Ok() const { return started && !timed_out && exit_code == 0; }
    // It did not end of itself: not started, stopped at the time limit or
    // ended by a signal (an out-of-memory kill, a user's kill). What it
    // says then is no verdict on the volume.
    bool Died() const { return !started || timed_out || signal != 0; }
    // The child's first line of error output, or what befell it.
    std::string FirstErrorLine() const;
};

// Runs argv[0] (looked up on PATH) with `argv`, the environment changed
// as above, `input` on its standard input; waits at most `limit`.
ChildResult RunChild(const std::vector<std::string> &argv, std::string_view input,
                     std::chrono::milliseconds limit);

class MtoolsRunner {
public:
    MtoolsRunner(std::string image, uint64_t offset);

    // The line that says mtools is missing, empty when mcopy can be run.
    static std::string MissingLine();

    // The name under which the tools are given the image at `path`, which
    // this process holds open as `fd` without close-on-exec (-1: not open):
    // /proc/self/fd/N where there is /proc, else the path itself, refused
    // with a reason when it holds "@@".
    static bool NameForTools(const std::string &path, int fd, std::string *name, std::string *why);

    // Runs `tool` ("mdir", "mcopy", ...) with "-i NAME@@OFFSET" and `args`,
    // for a minute at most.
    ChildResult Run(const std::string &tool, const std::vector<std::string> &args,
                    std::string_view input = {}) const;

    const std::string &image() const { return image_; }

private:
    std::string image_;
    uint64_t offset_;
};

}  // namespace host

#endif
