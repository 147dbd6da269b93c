// The host program's start: WinMain with no instance and no command line,
// its result the exit code. Pending win.ini changes are written out as the
// process ends.
#include "platform/host/win32_api.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show);

int main()
{
    char no_command_line[] = "";
    return WinMain(nullptr, nullptr, no_command_line, SW_SHOWNORMAL);
}
