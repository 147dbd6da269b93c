// The program's entry point on Windows.
//
// The executable is linked without any C or C++ runtime, so that it loads on
// every member of the Windows 95/98/Me family (msvcrt.dll is missing on the
// first Windows 95 release, and MinGW's own start-up code imports functions
// that only later systems export). This routine takes the place of that
// start-up code: it collects WinMain's four arguments, calls WinMain once and
// ends the process with WinMain's result as the exit code.
//
// Nothing else runs before WinMain: there are no static constructors to
// call, and the linker is told to use this routine as the image's entry point.
#include "platform/platform.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show);

namespace {

// The command line without the program's name and the blanks that follow
// it. The name is either enclosed in double quotes or ends at the first blank.
LPSTR CommandLineArguments(LPSTR line)
{
    if (line == NULL)
        return const_cast<LPSTR>("");
    if (*line == '"') {
        ++line;
        while (*line != '\0' && *line != '"')
            ++line;
        if (*line == '"')
            ++line;
    } else {
        while (*line != '\0' && *line != ' ' && *line != '\t')
            ++line;
    }
    while (*line == ' ' || *line == '\t')
        ++line;
    return line;
}

// The show state the starting program asked for, or SW_SHOWDEFAULT.
int StartupShowState(void)
{
    STARTUPINFOA info;
    info.cb = sizeof info;
    info.dwFlags = 0;
    GetStartupInfoA(&info);
    if (info.dwFlags & STARTF_USESHOWWINDOW)
        return info.wShowWindow;
    return SW_SHOWDEFAULT;
}

}  // namespace

// The loader calls this with the stack aligned to 4 bytes only; realign it
// for the code compiled under the usual 16-byte assumption.
extern "C" __attribute__((noreturn, force_align_arg_pointer, used)) void WinMainCRTStartup(void)
{
    HINSTANCE instance = GetModuleHandleA(NULL);
    LPSTR arguments = CommandLineArguments(GetCommandLineA());
    int show = StartupShowState();
    int result = WinMain(instance, NULL, arguments, show);
    ExitProcess(static_cast<UINT>(result));
    for (;;) {
    }
}
