// The host program's command line: getopt_long over the options the
// manual page lists; without arguments the program runs as it always
// has. The Windows program ignores its command line.
#include "platform/host/api/command_line.h"

#include "platform/host/api/run_modes.h"

#include <getopt.h>

#include <cstdio>
#include <string>

namespace host {
namespace {

const char kUsage[] =
    "Usage: pfmsetup [--dry-run | --undo]\n"
    "Registers the soft fonts of the printer kit in the current folder with an\n"
    "offline Windows 95/98/Me installation: WIN9X_DRIVE (a drive folder or a disk\n"
    "image), else WINEPREFIX (default ~/.wine).\n"
    "\n"
    "  -n, --dry-run  show what the run would change in WIN.INI and which report\n"
    "                 it would show; ask nothing, change nothing\n"
    "      --undo     put WIN.INI back as it was before the last run, if nothing\n"
    "                 changed it since\n"
    "      --help     show this help and end\n"
    "      --version  show the version and end\n"
    "\n"
    "Exit status: 0 or 1 as pfmsetup(1) says; 2 for a bad command line.\n";

int Refuse(const std::string &what)
{
    std::fprintf(stderr, "pfmsetup: %s; see pfmsetup --help\n", what.c_str());
    return 2;
}

}  // namespace

int RunCommandLine(int argc, char **argv, int (*win_main)())
{
    enum { kHelp = 1, kVersion, kUndo };
    static const struct option options[] = {
        {"dry-run", no_argument, nullptr, 'n'}, {"undo", no_argument, nullptr, kUndo},
        {"help", no_argument, nullptr, kHelp},  {"version", no_argument, nullptr, kVersion},
        {nullptr, 0, nullptr, 0},
    };
    bool dry_run = false, undo = false, help = false, version = false;
    opterr = 0;  // the refusal is one line of our own
    optind = 1;
    int c;
    while ((c = getopt_long(argc, argv, "+n", options, nullptr)) != -1) {
        switch (c) {
        case 'n': dry_run = true; break;
        case kUndo: undo = true; break;
        case kHelp: help = true; break;
        case kVersion: version = true; break;
        default:
            if (std::string(argv[optind - 1]).compare(0, 2, "--") == 0)
                return Refuse(std::string("unknown option '") + argv[optind - 1] + "'");
            return Refuse(std::string("unknown option '-") + char(optopt) + "'");
        }
    }
    if (optind < argc) return Refuse(std::string("unexpected argument '") + argv[optind] + "'");
    if (help) return std::fputs(kUsage, stdout) < 0 ? 1 : 0;
    if (version) return std::printf("pfmsetup %s\n", PFMSETUP_VERSION) < 0 ? 1 : 0;
    if (dry_run && undo) return Refuse("--dry-run and --undo cannot be given together");
    if (undo) return UndoLastRun();
    if (dry_run) return PreviewRun(win_main);
    return PlainRun(win_main);
}

}  // namespace host
