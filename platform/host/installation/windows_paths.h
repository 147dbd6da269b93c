// Windows paths on the host: drive letters through the prefix's dosdevices
// folder, '\' separators, names found whatever their letter case, and the
// trailing periods and spaces of a path component dropped.
#ifndef PFMSETUP_PLATFORM_HOST_INSTALLATION_WINDOWS_PATHS_H
#define PFMSETUP_PLATFORM_HOST_INSTALLATION_WINDOWS_PATHS_H

#include <optional>
#include <string>
#include <string_view>

namespace host {

class CodePage;
class DriveFiles;
class Installation;

// The Unix path that a Windows path names. Every component that exists is
// matched without letter case; the ones that do not exist are kept as
// written (so a file about to be created gets the name it was given).
// Relative paths start at the current directory. No result for a drive
// the prefix does not map, or a name the platform refuses.
// Of the current installation, or of the one given.
std::optional<std::string> UnixPathOf(std::string_view windows_path);
std::optional<std::string> UnixPathOf(const Installation &installation, std::string_view windows_path);

// The Windows path of a Unix path: the deepest drive whose folder holds it,
// as Wine names it (Z:\ for / where the prefix maps Z: so).
std::optional<std::string> WindowsPathOf(const std::string &unix_path);

// The line that says the current folder (the kit's) has a name that the
// installation's code page cannot hold, or a character no Windows name
// may hold, so that the program would see it under another name; "" when
// the folder can be named.
std::string UnnameableCurrentFolderLine(const Installation &installation);

// The path with every link resolved, or none when it does not exist.
std::optional<std::string> RealPath(const std::string &path);

// The entry of a Unix folder whose name equals `name` without letter case
// (the exact spelling wins); no result when there is none.
// On the drive that FilesOf(dir) names, names in the current installation's
// code page.
std::optional<std::string> FindNoCase(const std::string &dir, std::string_view name);
// On a drive given, names in a code page given (while an installation is
// being opened: 1252).
std::optional<std::string> FindNoCase(DriveFiles &files, const std::string &dir, std::string_view name,
                                      const CodePage &code_page);

}  // namespace host

#endif
