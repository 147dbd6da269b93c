// MSDOS.SYS at the root of a Windows 95/98/Me boot drive: on 95 OSR2, 98 and
// Me a small text file whose [Paths] section names the Windows folder
// (WinDir=C:\WINDOWS); on the first Windows 95 and on MS-DOS a binary file.
#ifndef PFMSETUP_PLATFORM_HOST_INSTALLATION_MSDOS_SYS_H
#define PFMSETUP_PLATFORM_HOST_INSTALLATION_MSDOS_SYS_H

#include <optional>
#include <string>
#include <string_view>

namespace host {

// The largest MSDOS.SYS read as text. The text file is about 1.7 KiB (it is
// padded to stay over 1 KiB); anything much larger is not that file.
constexpr std::size_t kMaxMsdosSysSize = 64 * 1024;

// The WinDir value of the [Paths] section, as written (trimmed), when the
// bytes are that text file and name one; none for a binary file, a file
// without [Paths] or without WinDir.
std::optional<std::string> MsdosSysWindowsFolder(std::string_view bytes);

}  // namespace host

#endif
