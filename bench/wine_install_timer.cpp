// The installation alone, timed on Windows (or under Wine): forms the setup
// file's path from the current folder as the program does, runs
// InstallPrinterFonts once and prints how long it took. No boxes are shown,
// so it runs without anyone pressing a key.
#include "install/install_run.h"
#include "platform/platform.h"
#include "setup/setup_file.h"

#include <stdio.h>

int main(void)
{
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    BuildSetupFilePath();
    int result = InstallPrinterFonts();
    QueryPerformanceCounter(&end);
    double ms = (double)(end.QuadPart - start.QuadPart) * 1000.0 / (double)frequency.QuadPart;
    printf("ms=%.3f result=%d\n", ms, result);
    return result ? 0 : 1;
}
