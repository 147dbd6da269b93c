// The version of Windows that the installation stands for, and its
// directories, as the installation answers them.
#include "platform/host/installation/installation.h"
#include "platform/host/installation/out_of_memory.h"
#include "platform/host/installation/windows_paths.h"
#include "platform/host/win32_api.h"

#include <limits.h>
#include <unistd.h>

#include <cstring>

namespace {

UINT SystemDirectory(LPSTR buffer, UINT size)
{
    const std::string &dir = host::Installation::Current().SystemDirectory();
    UINT length = static_cast<UINT>(dir.size());
    if (!buffer || size <= length) return length + 1;
    std::memcpy(buffer, dir.c_str(), length + 1);
    return length;
}

DWORD CurrentDirectory(DWORD size, LPSTR buffer)
{
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd)) return 0;
    std::optional<std::string> path = host::WindowsPathOf(cwd);
    if (!path) {
        host::Installation::Current().ReportUnusable("no drive of it holds the current folder");
        return 0;
    }
    DWORD length = static_cast<DWORD>(path->size());
    if (!buffer || size <= length) return length + 1;
    std::memcpy(buffer, path->c_str(), length + 1);
    return length;
}

}  // namespace

BOOL GetVersionExA(LPOSVERSIONINFOA info)
{
    if (!info || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) return FALSE;
    return host::AnswerOnOutOfMemory(FALSE, [&] { return host::Installation::Current().Version(info) ? TRUE : FALSE; });
}

// Opens the installation at the first call, which allocates.
UINT GetSystemDirectoryA(LPSTR buffer, UINT size)
{
    return host::AnswerOnOutOfMemory(UINT{0}, [&] { return SystemDirectory(buffer, size); });
}

DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer)
{
    return host::AnswerOnOutOfMemory(DWORD{0}, [&] { return CurrentDirectory(size, buffer); });
}
