// The host program's ways of running besides the plain run: the preview
// (--dry-run), the undo (--undo), and what the program says after a run
// about the soft-font files it registered. command_line.cpp chooses.
#ifndef PFMSETUP_PLATFORM_HOST_RUN_MODES_H
#define PFMSETUP_PLATFORM_HOST_RUN_MODES_H

#include <functional>
#include <set>
#include <string>
#include <vector>

namespace host {

// What the run asked of win.ini, as WriteProfileStringA and
// FlushSystemProfile saw it.
struct RunRecord {
    std::vector<std::string> ports;      // the [PostScript,PORT] sections written
    std::set<std::string> soft_fonts;    // the soft-font files registered, as Windows paths
};
RunRecord &CurrentRun();
// Called by WriteProfileStringA for each write.
void NoteProfileWrite(const char *section, const char *key, const char *value);

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
