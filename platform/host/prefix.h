// The Wine prefix that holds the offline Windows installation: where it
// lies and the fixed places inside it.
#ifndef PFMSETUP_PLATFORM_HOST_PREFIX_H
#define PFMSETUP_PLATFORM_HOST_PREFIX_H

#include <string>

namespace host {

// The prefix folder: WINEPREFIX, or ~/.wine when it is not set, as Wine's
// own tools choose it. Read again on every call, so a changed environment
// takes effect at once.
std::string PrefixRoot();

// The value of WINEPREFIX, or null. Every profile call asks, so the last
// answer is kept while the environment's table still holds the same entry
// at the same place (setting or removing a variable changes that).
const char *PrefixVariable();

// The Windows folder and the system folder as the platform names them.
const char *WindowsDirectoryName();  // C:\windows
const char *SystemDirectoryName();   // C:\windows\system32

// The system profile, win.ini, as a Windows path.
const char *SystemProfileName();     // C:\windows\win.ini

// Says once, on standard error, that the prefix cannot be used, naming the
// path. Later calls for the same path stay silent.
void ReportUnusablePrefix(const std::string &path, const char *why);

}  // namespace host

#endif
