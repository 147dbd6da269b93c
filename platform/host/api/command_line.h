// The host program's command line (see command_line.cpp).
#ifndef PFMSETUP_PLATFORM_HOST_COMMAND_LINE_H
#define PFMSETUP_PLATFORM_HOST_COMMAND_LINE_H

namespace host {

// Parses the arguments and runs the program as they ask; `win_main` runs
// the program's entry routine as without arguments. The exit status.
int RunCommandLine(int argc, char **argv, int (*win_main)());

}  // namespace host

#endif
