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

#else

#include "host/win32_api.h"

#endif

// The program's own operation, not a Win32 call: writes the system profile's
// pending changes to disk before the installation tells the applications
// that it changed. TRUE when they are there (or there were none); FALSE when
// they could not be written, and win.ini is then as it was before the run.
//
// On Windows it is WriteProfileStringA(NULL, NULL, NULL), which flushes the
// system's cached copy; Windows 95 answers that request with FALSE whatever
// happened, so the flush counts as done. The host layer writes its copy held
// in memory (platform/host/system_profile.h).
#ifdef _WIN32
static inline BOOL FlushSystemProfile(void)
{
    WriteProfileStringA(NULL, NULL, NULL);
    return TRUE;
}
#else
BOOL FlushSystemProfile(void);
#endif

#endif
