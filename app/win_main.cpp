// The program's entry routine: the texts, the single-copy test, the
// question, the installation and the report.
#include "app/texts.h"
#include "install/install_run.h"
#include "platform/platform.h"
#include "setup/setup_file.h"

#define NAME_SIZE 256

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show)
{
    HMODULE library;
    HWND running;
    char oem[NAME_SIZE];
    char kit[NAME_SIZE];
    char caption[CAPTION_SIZE];
    char question[MESSAGE_SIZE];
    char success[MESSAGE_SIZE];
    char failure[MESSAGE_SIZE];
    const char *captionArguments[2];

    (void)instance;
    (void)previous;
    (void)commandLine;
    (void)show;

    // Without its texts the program has nothing to say: it ends silently.
    library = LoadLibraryA("pfmres.dll");
    if (!library) return 0;

    BuildSetupFilePath();
    GetPrivateProfileStringA("PrinterInfo", "oem", "", oem, NAME_SIZE, SetupFilePath);
    GetPrivateProfileStringA("PrinterInfo", "PSKit", "", kit, NAME_SIZE, SetupFilePath);

    captionArguments[0] = oem;
    captionArguments[1] = kit;
    FormResourceText(library, IDS_CAPTION, caption, CAPTION_SIZE, captionArguments, 2);
    FormResourceText(library, IDS_QUESTION, question, MESSAGE_SIZE, captionArguments + 1, 1);
    FormResourceText(library, IDS_SUCCESS, success, MESSAGE_SIZE, captionArguments + 1, 1);
    FormResourceText(library, IDS_FAILURE, failure, MESSAGE_SIZE, captionArguments + 1, 1);
    FreeLibrary(library);

    // A copy that shows its boxes already: bring its box forward and end.
    running = FindWindowA(NULL, caption);
    if (running) {
        BringWindowToTop(running);
        ShowWindow(running, SW_SHOWNORMAL);
        SetForegroundWindow(running);
        return 0;
    }

    if (MessageBoxA(NULL, question, caption, MB_OKCANCEL | MB_ICONINFORMATION) == IDOK) {
        if (InstallPrinterFonts() == 1) {
            MessageBoxA(NULL, success, caption, MB_ICONINFORMATION);
        } else {
            MessageBoxA(NULL, failure, caption, MB_ICONEXCLAMATION);
        }
    }
    return 1;
}
