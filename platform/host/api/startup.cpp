// The host program's start: the command line (command_line.h), then
// WinMain with no instance and no command line, its result the exit code.
// Pending win.ini changes are written out as the process ends.
//
// A copy started on a disk image that another copy holds would wait for the
// image before it could look for that copy's box (the caption it looks for
// is made from the installation's texts). So it looks first: when a copy
// on the same image, started from the same kit folder, shows its box, that
// box is brought forward and this copy ends, as it would on a folder.
#include "platform/host/api/command_line.h"
#include "platform/host/disk_image/image_lock.h"
#include "platform/host/dialogue/window_table.h"
#include "platform/host/installation/installation.h"
#include "platform/host/win32_api.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show);

namespace {

bool BroughtForwardTheCopyHoldingTheImage()
{
    if (!host::NamedInstallationIsImage() || !host::ImageLock::TurnTaken(host::NamedInstallationPath()))
        return false;
    std::string kit = host::CurrentFolderIdentity();
    if (kit.empty()) return false;
    for (const host::BoxEntry &entry : host::LiveBoxEntries())
        if (entry.kit == kit && host::RequestBoxRaise(entry.name)) return true;
    return false;
}

}  // namespace

int main(int argc, char **argv)
{
    return host::RunCommandLine(argc, argv, [] {
        if (BroughtForwardTheCopyHoldingTheImage()) return 0;
        char no_command_line[] = "";
        return WinMain(nullptr, nullptr, no_command_line, SW_SHOWNORMAL);
    });
}
