#include "platform/host/libraries/library_search.h"

#include "platform/host/drives/drive_files.h"
#include "platform/host/text/cp1252.h"
#include "platform/host/installation/windows_paths.h"
#include "platform/host/installation/installation.h"
#include "platform/host/win32_api.h"

#include <algorithm>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace host {
namespace {

const char kEnvironmentKey[] = "System\\CurrentControlSet\\Control\\Session Manager\\Environment";

bool IsRegularFile(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<std::string> ProgramFolder()
{
    char target[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", target, sizeof target - 1);
    if (n <= 0) return std::nullopt;
    std::string path(target, static_cast<std::size_t>(n));
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return std::nullopt;
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::optional<std::string> CurrentFolder()
{
    char cwd[PATH_MAX];
    if (!::getcwd(cwd, sizeof cwd)) return std::nullopt;
    return std::string(cwd);
}

// The PATH value of the installation's environment, or "" when it has none.
std::string RegistryPath()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kEnvironmentKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
    std::string value(2048, '\0');
    LONG status = ERROR_MORE_DATA;
    DWORD type = 0;
    for (int attempt = 0; attempt < 4 && status == ERROR_MORE_DATA; ++attempt) {
        DWORD size = static_cast<DWORD>(value.size());
        status = RegQueryValueExA(key, "PATH", nullptr, &type, reinterpret_cast<LPBYTE>(&value[0]), &size);
        if (status == ERROR_MORE_DATA) value.assign(std::max<std::size_t>(size, 2 * value.size()), '\0');
    }
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return {};
    value.resize(value.find('\0') == std::string::npos ? value.size() : value.find('\0'));
    return value;
}

// %SystemRoot% and %windir% replaced by the Windows folder; any other
// reference is kept as written, as the platform keeps a variable it does
// not know.
std::string ExpandFolderReferences(const Installation &installation, std::string_view entry)
{
    std::string out;
    std::size_t i = 0;
    while (i < entry.size()) {
        std::size_t close = entry[i] == '%' ? entry.find('%', i + 1) : std::string_view::npos;
        if (close != std::string_view::npos) {
            std::string_view name = entry.substr(i + 1, close - i - 1);
            if (EqualsNoCase(name, "SystemRoot") || EqualsNoCase(name, "windir")) {
                out += installation.WindowsDirectory();
                i = close + 1;
                continue;
            }
            out.append(entry.substr(i, close - i));
            i = close;
            continue;
        }
        out += entry[i++];
    }
    return out;
}

// The file name that the search looks for: ".dll" is added to a name
// without an extension, and a name that ends in '.' loses that period
// and gets no extension.
std::string LibraryFileName(std::string_view name)
{
    std::size_t base = name.find_last_of("\\/:");
    base = base == std::string_view::npos ? 0 : base + 1;
    if (!name.empty() && name.back() == '.') return std::string(name.substr(0, name.size() - 1));
    if (name.find('.', base) == std::string_view::npos) return std::string(name) + ".dll";
    return std::string(name);
}

}  // namespace

std::vector<std::string> PathFolders(const Installation &installation, std::string_view path_value)
{
    std::vector<std::string> folders;
    std::size_t start = 0;
    while (start <= path_value.size()) {
        std::size_t end = path_value.find(';', start);
        if (end == std::string_view::npos) end = path_value.size();
        std::string entry = ExpandFolderReferences(installation, path_value.substr(start, end - start));
        if (!entry.empty()) {
            if (auto unix_path = UnixPathOf(installation, entry)) folders.push_back(*unix_path);
        }
        start = end + 1;
    }
    return folders;
}

namespace {

// The folders searched, as Unix paths, in the order searched.
std::vector<std::string> LibrarySearchFolders(const Installation &installation)
{
    std::vector<std::string> folders;
    // The kit's folder, where the program is started, before the program's
    // own: on Windows the program lies in the kit's folder, so the kit's
    // own pfmres.dll is found first; the copy beside the installed program
    // serves kits that have none.
    if (auto f = CurrentFolder()) folders.push_back(*f);
    if (auto f = ProgramFolder()) folders.push_back(*f);
    if (auto f = UnixPathOf(installation, installation.SystemDirectory())) folders.push_back(*f);
    if (auto f = UnixPathOf(installation, installation.WindowsDirectory())) folders.push_back(*f);
    for (std::string &f : PathFolders(installation, RegistryPath())) folders.push_back(std::move(f));
    return folders;
}

}  // namespace

std::optional<std::string> FindLibraryFile(const Installation &installation, std::string_view name)
{
    if (name.empty()) return std::nullopt;
    const std::string file = LibraryFileName(name);
    if (file.find_first_of("\\/:") != std::string::npos) {
        auto path = UnixPathOf(installation, file);
        if (path && IsRegularFile(*path)) return path;
        return std::nullopt;
    }
    for (const std::string &folder : LibrarySearchFolders(installation)) {
        auto found = FindNoCase(FilesOf(folder), folder, file, installation.Texts());
        if (!found) continue;
        std::string path = folder == "/" ? "/" + *found : folder + "/" + *found;
        if (IsRegularFile(path)) return path;
    }
    return std::nullopt;
}

}  // namespace host
