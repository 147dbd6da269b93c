// Where the platform's library search finds a library that is named
// without a folder: the current folder (the kit's), the program's folder, the system
// folder, the Windows folder, then each folder of the PATH that the
// installation keeps in its registry.
#ifndef PFMSETUP_PLATFORM_HOST_LIBRARIES_LIBRARY_SEARCH_H
#define PFMSETUP_PLATFORM_HOST_LIBRARIES_LIBRARY_SEARCH_H

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace host {

class Installation;

// The folders of a PATH value in the installation's terms: ';'-separated
// Windows paths, %SystemRoot% and %windir% (in any letter case) standing
// for the Windows folder. Gives the Unix folders, in order; entries that
// are empty or name no place in the prefix are left out.
std::vector<std::string> PathFolders(const Installation &installation, std::string_view path_value);

// The Unix path of the file that loading `name` opens: a name with a
// folder ('\' or '/' or a drive) is taken as a path; any other name is
// looked for in the folders above, in order, letter case not counting, and
// the first folder that holds it wins. The installation's paths and names. No result when there is no such file.
std::optional<std::string> FindLibraryFile(const Installation &installation, std::string_view name);

}  // namespace host

#endif
