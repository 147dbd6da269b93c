// The host program's ways of running besides the plain run: the preview
// (--dry-run), the undo (--undo), and what the program says after a run
// about the soft-font files it registered. command_line.cpp chooses.
#ifndef PFMSETUP_PLATFORM_HOST_RUN_MODES_H
#define PFMSETUP_PLATFORM_HOST_RUN_MODES_H

#include <functional>

namespace host {

// The program as started without arguments (WinMain), then the soft-font
// files' line.
int PlainRun(const std::function<int()> &win_main);
// The run with no box shown and nothing written: the diff of WIN.INI and
// the report it would show. 0 for the success report, 1 otherwise.
int PreviewRun(const std::function<int()> &win_main);
// WIN.INI put back as the last run found it. 0 when it was, 1 otherwise.
int UndoLastRun();

}  // namespace host

#endif
