#include "setup/setup_file.h"

#include "platform/platform.h"

char SetupFilePath[SETUP_FILE_PATH_SIZE];

// Appended to the current directory with no separator: C:\KIT gives
// C:\KIT.\pfmsetup.ini, where the platform drops the period that ends a
// folder name, and C:\ gives C:\.\pfmsetup.ini.
static const char kSetupFileName[] = ".\\pfmsetup.ini";

// There is no drive "?", so every read of this path answers as for a
// missing file.
static const char kNoSetupFile[] = "?:\\pfmsetup.ini";

void BuildSetupFilePath(void)
{
    DWORD length = GetCurrentDirectoryA(SETUP_FILE_PATH_SIZE, SetupFilePath);
    if (length == 0 || length + sizeof kSetupFileName > SETUP_FILE_PATH_SIZE) {
        // Cutting the directory would name some other file.
        lstrcpyA(SetupFilePath, kNoSetupFile);
        return;
    }
    lstrcatA(SetupFilePath, kSetupFileName);
}
