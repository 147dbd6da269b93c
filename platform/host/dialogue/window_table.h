// The per-user table of the message boxes that copies of the program show
// at this moment. It stands in for the platform's list of top-level windows:
// MessageBoxA enters its box while it waits for the answer, FindWindowA
// searches the table by caption, and the window operations ask the owner of
// an entry to show its box again.
//
// Each Windows installation has a screen of its own: the table is the
// folder ${XDG_RUNTIME_DIR:-/tmp}/pfmsetup-<uid>/<installation>/, where
// <installation> is "DEV-INODE" of the prefix folder, drive folder or
// image file that the environment names (so every spelling of one
// installation gives one table, and copies on two installations never
// see each other's boxes). Both folders are mode 0700 and owned by the
// user; a folder that is anything else is not used (boxes are then shown
// but cannot be found). Each shown box has two files there, named after
// the owner's pid and a number counted per process:
//
//   <pid>-<n>.box   the entry: a first line "<pid> <start> <kit>\n" (<kit>
//                   may be missing), where
//                   <start> is the process start time from /proc/<pid>/stat
//                   (field 22, 0 when unknown) and <kit> "DEV-INODE" of the
//                   owner's current folder (the kit's), followed by the
//                   caption's bytes in code page 1252 up to the end of the
//                   file, no newline.
//                   Written to ".<pid>-<n>.tmp" and renamed, so a search
//                   never sees half an entry.
//   <pid>-<n>.fifo  a FIFO that the owner reads while its box waits. Any
//                   byte written to it asks the owner to show the box again.
//
// The owner removes both files before MessageBoxA returns. A copy that is
// killed while its box is shown leaves them behind; a search ignores an
// entry whose process has ended or whose pid now belongs to a process with
// another start time, and removes its files.
#ifndef PFMSETUP_PLATFORM_HOST_DIALOGUE_WINDOW_TABLE_H
#define PFMSETUP_PLATFORM_HOST_DIALOGUE_WINDOW_TABLE_H

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

namespace host {

// A box this process has entered in the table.
struct ShownBox {
    std::string entry_path;  // "" when the box could not be entered
    std::string fifo_path;
    int raise_fd = -1;       // read end of the FIFO, non-blocking; -1 without
};

// Enters a box with this caption. The FIFO exists and is open before the
// entry becomes visible. On failure the box stays out of the table, and
// `box` says so (entry_path empty).
void EnterShownBox(std::string_view caption, ShownBox *box);

// Removes the box's entry and FIFO and closes the FIFO.
void RemoveShownBox(ShownBox *box);

// An entry of the table as a search sees it.
struct BoxEntry {
    std::string name;  // file name without ".box", e.g. "1234-1"
    pid_t pid = 0;
    unsigned long long start = 0;
    std::string kit;  // "DEV-INODE" of the owner's current folder
    std::string caption;
};

// The entries of copies that are alive, sorted by name. Entries of ended
// copies are removed on the way.
std::vector<BoxEntry> LiveBoxEntries();

// "DEV-INODE" of this process's current folder, "" when unknown.
std::string CurrentFolderIdentity();

// True when a copy is waiting on the entry's box now.
bool BoxIsWaiting(const std::string &name);

// Asks the owner of the entry to show its box again. True when the request
// reached a copy that is waiting on that box.
bool RequestBoxRaise(const std::string &name);

}  // namespace host

#endif
