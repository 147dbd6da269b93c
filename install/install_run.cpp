#include "install/install_run.h"

#include "platform/platform.h"
#include "setup/setup_file.h"

#include <stdlib.h>
#include <string.h>

static const char kPrinterInfo[] = "PrinterInfo";
static const char kPostScript[] = "PostScript";
static const char kSubstitutions[] = "Pscript TrueType Substitutions";
static const char kPrintersKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers";

#define REGISTRY_TEXT_SIZE 2048
#define KEY_NAME_SIZE 260
#define PORT_COPY_SIZE 1024
#define SECTION_NAME_SIZE 2048
#define SOFT_FONT_SIZE 260
#define SOFT_FONT_PATH_SIZE 2048
#define COUNT_TEXT_SIZE 256
#define SUBSTITUTIONS_SIZE 4096
#define MAX_SOFT_FONTS 65534
// How long the broadcast waits for one application before it goes on.
#define BROADCAST_TIMEOUT_MS 5000

static int HasLineBreak(const char *text)
{
    for (; *text; ++text) {
        if (*text == '\r' || *text == '\n') return 1;
    }
    return 0;
}

// Reads a value of a printer's key as text into a zero-filled buffer of
// REGISTRY_TEXT_SIZE bytes. 0 when the value is absent, does not fit, or
// fills the whole buffer without a terminating NUL.
static int ReadPrinterText(HKEY printer, const char *name, char *text)
{
    DWORD size = REGISTRY_TEXT_SIZE;
    memset(text, 0, REGISTRY_TEXT_SIZE);
    if (RegQueryValueExA(printer, name, NULL, NULL, (LPBYTE)text, &size) != ERROR_SUCCESS) return 0;
    return text[REGISTRY_TEXT_SIZE - 1] == '\0';
}

static void FreeModelList(struct ModelEntry *models)
{
    while (models) {
        struct ModelEntry *next = models->next;
        free(models);
        models = next;
    }
}

// The model list of the setup description file: N records for
// NumberOfModel = N >= 1, one empty record otherwise. NULL when it cannot
// be held.
static struct ModelEntry *BuildModelList(int modelCount)
{
    struct ModelEntry *models;
    struct ModelEntry *last;
    char key[32];
    int j;

    if (modelCount > MAX_MODEL_RECORDS) return NULL;
    models = (struct ModelEntry *)calloc(1, sizeof(struct ModelEntry));
    if (!models || modelCount < 1) return models;
    last = models;
    for (j = 1;; ++j) {
        wsprintfA(key, "Model%d", j);
        GetPrivateProfileStringA(kPrinterInfo, key, "", last->modelName, MODEL_NAME_SIZE, SetupFilePath);
        if (j == modelCount) break;
        last->next = (struct ModelEntry *)calloc(1, sizeof(struct ModelEntry));
        if (!last->next) {
            FreeModelList(models);
            return NULL;
        }
        last = last->next;
    }
    return models;
}

int RegisterPortSoftFonts(const char *port)
{
    char portCopy[PORT_COPY_SIZE];
    char section[SECTION_NAME_SIZE];
    char key[KEY_NAME_SIZE];
    char value[SOFT_FONT_SIZE];
    char path[SOFT_FONT_PATH_SIZE];
    char count[COUNT_TEXT_SIZE];
    int length;
    int ok = 1;
    int i;

    // LPT1: gives LPT1; a port text too long for the copy is cut and keeps
    // whatever it ends with.
    lstrcpynA(portCopy, port, PORT_COPY_SIZE);
    length = lstrlenA(port);
    if (length >= 1 && length < PORT_COPY_SIZE && portCopy[length - 1] == ':') portCopy[length - 1] = '\0';

    lstrcpyA(section, kPostScript);
    lstrcatA(section, ",");
    lstrcatA(section, portCopy);

    if (!WriteProfileStringA(section, NULL, NULL)) ok = 0;

    for (i = 1; i <= MAX_SOFT_FONTS; ++i) {
        UINT systemLength;
        wsprintfA(key, "softfont%d", i);
        GetPrivateProfileStringA(kPostScript, key, "", value, SOFT_FONT_SIZE, SetupFilePath);
        if (lstrlenA(value) < 4) break;

        systemLength = GetSystemDirectoryA(path, SOFT_FONT_SIZE);
        if (systemLength == 0 || systemLength >= SOFT_FONT_SIZE) {
            ok = 0;
            break;
        }
        lstrcatA(path, "\\");
        lstrcatA(path, value);

        // The count is rewritten for every font, so that it always equals
        // the fonts written so far.
        wsprintfA(count, "%d", i);
        if (!WriteProfileStringA(section, "Softfonts", count)) ok = 0;
        if (!WriteProfileStringA(section, key, path)) ok = 0;
        if (!WriteProfileStringA(section, "MFDFile", NULL)) ok = 0;
    }
    return ok;
}

int CopyTrueTypeSubstitutions(void)
{
    char entries[SUBSTITUTIONS_SIZE];
    char *entry;
    char *end;
    char *equals;
    int ok = 1;

    memset(entries, 0, sizeof entries);
    GetPrivateProfileSectionA(kSubstitutions, entries, SUBSTITUTIONS_SIZE, SetupFilePath);
    entries[SUBSTITUTIONS_SIZE - 2] = '\0';
    entries[SUBSTITUTIONS_SIZE - 1] = '\0';

    for (entry = entries; *entry; entry = end + 1) {
        end = entry + lstrlenA(entry);
        // The '=' is sought within the entry only; an entry without one
        // (a line of the section that is no key=value) is skipped.
        for (equals = entry; equals < end && *equals != '='; ++equals) {
        }
        if (equals == end) continue;
        *equals = '\0';
        if (!WriteProfileStringA(kSubstitutions, entry, equals + 1)) ok = 0;
    }
    return ok;
}

int InstallPrinterFonts(void)
{
    OSVERSIONINFOA version;
    struct ModelEntry *models;
    struct ModelEntry *model;
    HKEY printers;
    HKEY printer;
    char printerName[KEY_NAME_SIZE];
    char printerPath[sizeof kPrintersKey + 1 + KEY_NAME_SIZE];
    char driver[REGISTRY_TEXT_SIZE];
    char port[REGISTRY_TEXT_SIZE];
    DWORD_PTR answer;
    DWORD index;
    int modelCount;
    int registered = 0;
    int written = 1;
    int result = 0;

    memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version) || version.dwPlatformId != VER_PLATFORM_WIN32_WINDOWS) return 0;

    modelCount = (int)GetPrivateProfileIntA(kPrinterInfo, "NumberOfModel", 0, SetupFilePath);
    models = BuildModelList(modelCount);
    if (!models) return 0;

    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPrintersKey, 0, KEY_READ, &printers) == ERROR_SUCCESS) {
        for (index = 0; RegEnumKeyA(printers, index, printerName, KEY_NAME_SIZE) == ERROR_SUCCESS; ++index) {
            lstrcpyA(printerPath, kPrintersKey);
            lstrcatA(printerPath, "\\");
            lstrcatA(printerPath, printerName);
            if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, printerPath, 0, KEY_READ, &printer) != ERROR_SUCCESS) continue;
            if (ReadPrinterText(printer, "Printer Driver", driver) && modelCount >= 1) {
                for (model = models; model; model = model->next) {
                    if (lstrcmpA(model->modelName, driver) != 0) continue;
                    // A port that would break a line of win.ini is no port.
                    if (!ReadPrinterText(printer, "Port", port) || HasLineBreak(port)) continue;
                    if (!RegisterPortSoftFonts(port)) written = 0;
                    ++registered;
                }
            }
            RegCloseKey(printer);
        }
        RegCloseKey(printers);

        if (registered != 0) {
            if (!CopyTrueTypeSubstitutions()) written = 0;
            if (!FlushSystemProfile()) written = 0;
            result = written;
            SendMessageTimeoutA(HWND_BROADCAST, WM_WININICHANGE, 0, 0, SMTO_ABORTIFHUNG, BROADCAST_TIMEOUT_MS,
                                &answer);
        }
    }

    FreeModelList(models);
    return result;
}
