// The platform operations that the program's logic calls, by their Win32
// names and signatures.
//
// Built for Windows, they are the system's own (kernel32, user32, advapi32).
// Built for a POSIX host, they are provided by the host layer in
// platform/host/, which works on an offline Windows installation kept in a
// Wine prefix. The logic includes this header and nothing else of the
// platform, so the same source files compile unchanged for both.
#ifndef PFMSETUP_PLATFORM_PLATFORM_H
#define PFMSETUP_PLATFORM_PLATFORM_H

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// Writes the cached system profile to disk. Windows 95 reports nothing for
// this request (the call always returns FALSE), so it counts as done.
static inline BOOL FlushSystemProfile(void)
{
    WriteProfileStringA(NULL, NULL, NULL);
    return TRUE;
}

#else

#include "host/win32_api.h"

#endif

#endif
