// The host program's start: the command line (command_line.h), then
// WinMain with no instance and no command line, its result the exit code.
// Pending win.ini changes are written out as the process ends.
#include "platform/host/api/command_line.h"
#include "platform/host/win32_api.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show);

int main(int argc, char **argv)
{
    return host::RunCommandLine(argc, argv, [] {
        char no_command_line[] = "";
        return WinMain(nullptr, nullptr, no_command_line, SW_SHOWNORMAL);
    });
}
