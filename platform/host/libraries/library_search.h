// Where the platform's library search finds a library that is named
// without a folder: the current folder (the kit's), the program's folder, the system
// folder, the Windows folder, then each folder of the PATH that the
// installation keeps in its registry.
#ifndef PFMSETUP_PLATFORM_HOST_LIBRARY_SEARCH_H
#define PFMSETUP_PLATFORM_HOST_LIBRARY_SEARCH_H

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace host {

// The file name that the search looks for: ".dll" is added to a name
// without an extension, and a name that ends in '.' loses that period
// and gets no extension.
std::string LibraryFileName(std::string_view name);

// The folders of a PATH value in the installation's terms: ';'-separated
// Windows paths, %SystemRoot% and %windir% (in any letter case) standing
// for the Windows folder. Gives the Unix folders, in order; entries that
// are empty or name no place in the prefix are left out.
std::vector<std::string> PathFolders(std::string_view path_value);

// The folders searched, as Unix paths, in the order searched.
std::vector<std::string> LibrarySearchFolders();

// The Unix path of the file that loading `name` opens: a name with a
// folder ('\' or '/' or a drive) is taken as a path; any other name is
// looked for in LibrarySearchFolders(), letter case not counting, and the
// first folder that holds it wins. No result when there is no such file.
std::optional<std::string> FindLibraryFile(std::string_view name);

}  // namespace host

#endif
