// Windows paths on the host: drive letters through the prefix's dosdevices
// folder, '\' separators, names found whatever their letter case, and the
// trailing periods and spaces of a path component dropped.
#ifndef PFMSETUP_PLATFORM_HOST_PATHS_H
#define PFMSETUP_PLATFORM_HOST_PATHS_H

#include <optional>
#include <string>
#include <string_view>

namespace host {

// The Unix path that a Windows path names. Every component that exists is
// matched without letter case; the ones that do not exist are kept as
// written (so a file about to be created gets the name it was given).
// Relative paths start at the current directory. No result for a drive
// the prefix does not map, or a name the platform refuses.
std::optional<std::string> UnixPathOf(std::string_view windows_path);

// The Windows path of a Unix path: the deepest drive whose folder holds it,
// as Wine names it (Z:\ for / where the prefix maps Z: so).
std::optional<std::string> WindowsPathOf(const std::string &unix_path);

// The line that says the current folder (the kit's) has a name that the
// installation's code page cannot hold, or a character no Windows name
// may hold, so that the program would see it under another name; "" when
// the folder can be named.
std::string UnnameableCurrentFolderLine();

// The path with every link resolved, or none when it does not exist.
std::optional<std::string> RealPath(const std::string &path);

// The entry of a Unix folder whose name equals `name` without letter case
// (the exact spelling wins); no result when there is none.
// On the drive that FilesOf(dir) names.
std::optional<std::string> FindNoCase(const std::string &dir, std::string_view name);
class DriveFiles;
// On a drive given (while an installation is being opened).
std::optional<std::string> FindNoCase(DriveFiles &files, const std::string &dir, std::string_view name);

}  // namespace host

#endif
