#include "platform/host/installation/windows_paths.h"

#include "platform/host/text/cp1252.h"
#include "platform/host/drives/drive_files.h"
#include "platform/host/installation/installation.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace host {
namespace {

bool Exists(const std::string &path)
{
    return FilesOf(path).Exists(path);
}


bool IsRefusedChar(unsigned char c)
{
    return c < 0x20 || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*' || c == ':';
}

// Paths are taken apart as UTF-8 text, never as the ANSI code page's bytes:
// there the byte of '\' may be the second of a character (in 932 ソ is
// 83 5C, 表 95 5C), which the platform reads as that character, as it
// reads '|' (7C) in ポ (83 7C). In UTF-8 every byte below 0x80 is the
// character it looks like.
std::optional<std::string> Utf8WindowsPathOf(const Installation &installation, const std::string &unix_path);

std::optional<std::string> CurrentWindowsDirectory(const Installation &installation)
{
    char buffer[PATH_MAX];
    if (!getcwd(buffer, sizeof buffer)) return std::nullopt;
    return Utf8WindowsPathOf(installation, buffer);
}

// The code page of the installation's texts; 1252 while it is being opened.
const CodePage &TextsOf(const Installation &installation)
{
    return Installation::Opening() ? CodePage::ForNumber(1252) : installation.Texts();
}

// The full Windows path (UTF-8), with "." and ".." resolved, a period that ends a
// folder's name dropped and the periods and spaces that end the last name
// dropped, as the platform forms full paths.
std::optional<std::string> FullWindowsPath(const Installation &installation, std::string_view path)
{
    std::string full;
    bool has_drive = path.size() >= 2 && path[1] == ':' &&
                     ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
    if (path.size() >= 2 && (path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/'))
        return std::nullopt;  // network and device paths have no place in a prefix
    if (has_drive && path.size() >= 3 && (path[2] == '\\' || path[2] == '/')) {
        full = std::string(path);
    } else {
        std::optional<std::string> cwd = CurrentWindowsDirectory(installation);
        if (!cwd) return std::nullopt;
        if (has_drive) {
            if (FoldCase(static_cast<unsigned char>(path[0])) != FoldCase(static_cast<unsigned char>((*cwd)[0])))
                full = std::string(path.substr(0, 2)) + "\\" + std::string(path.substr(2));
            else
                full = *cwd + "\\" + std::string(path.substr(2));
        } else if (!path.empty() && (path[0] == '\\' || path[0] == '/')) {
            full = cwd->substr(0, 2) + std::string(path);
        } else {
            full = *cwd + "\\" + std::string(path);
        }
    }

    std::vector<std::string> parts;
    std::size_t i = 3;
    while (i <= full.size()) {
        std::size_t j = i;
        while (j < full.size() && full[j] != '\\' && full[j] != '/') ++j;
        std::string part = full.substr(i, j - i);
        bool last = j >= full.size();
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (part != "." && !part.empty()) {
            if (last) {
                while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.pop_back();
            } else if (part.back() == '.') {
                part.pop_back();
            }
            if (!part.empty()) parts.push_back(part);
        }
        i = j + 1;
    }
    std::string out = full.substr(0, 2);
    out[0] = static_cast<char>(full[0] >= 'a' && full[0] <= 'z' ? full[0] - 32 : full[0]);
    out += '\\';
    for (std::size_t k = 0; k < parts.size(); ++k) {
        if (k) out += '\\';
        out += parts[k];
    }
    return out;
}

}  // namespace

std::optional<std::string> RealPath(const std::string &path)
{
    char *resolved = realpath(path.c_str(), nullptr);
    if (!resolved) return std::nullopt;
    std::string out(resolved);
    std::free(resolved);
    return out;
}

std::optional<std::string> FindNoCase(DriveFiles &files, const std::string &dir, std::string_view name,
                                      const CodePage &code_page)
{
    std::string exact = dir + "/" + std::string(name);
    if (files.Exists(exact)) return std::string(name);
    std::vector<std::string> entries;
    if (!files.List(dir, &entries)) return std::nullopt;
    std::string wanted = code_page.FromUtf8(name);
    for (const std::string &entry : entries) {
        if (code_page.EqualsNoCase(code_page.FromUtf8(entry), wanted)) return entry;
    }
    return std::nullopt;
}

std::optional<std::string> FindNoCase(const std::string &dir, std::string_view name)
{
    return FindNoCase(FilesOf(dir), dir, name, AnsiCodePage());
}

std::optional<std::string> UnixPathOf(std::string_view windows_path)
{
    return UnixPathOf(Installation::Current(), windows_path);
}

std::optional<std::string> UnixPathOf(const Installation &installation, std::string_view windows_path)
{
    const CodePage &code_page = TextsOf(installation);
    std::optional<std::string> full = FullWindowsPath(installation, code_page.ToUtf8(windows_path));
    if (!full) return std::nullopt;
    for (std::size_t k = 3; k < full->size(); ++k) {
        unsigned char c = static_cast<unsigned char>((*full)[k]);
        if (c != '\\' && IsRefusedChar(c)) return std::nullopt;
    }
    std::string unix_path = installation.DriveFolder((*full)[0]);
    if (unix_path.empty() || !Exists(unix_path)) return std::nullopt;

    bool walking = true;  // while every component so far exists
    std::size_t i = 3;
    while (i < full->size()) {
        std::size_t j = full->find('\\', i);
        if (j == std::string::npos) j = full->size();
        std::string name = full->substr(i, j - i);
        if (walking) {
            std::optional<std::string> entry = FindNoCase(FilesOf(unix_path), unix_path, name, code_page);
            if (entry) {
                name = *entry;
            } else {
                walking = false;
            }
        }
        unix_path += '/';
        unix_path += name;
        i = j + 1;
    }
    return unix_path;
}

std::string UnnameableCurrentFolderLine(const Installation &installation)
{
    char buffer[PATH_MAX];
    if (!getcwd(buffer, sizeof buffer)) return {};
    std::optional<std::string> path = Utf8WindowsPathOf(installation, buffer);
    if (!path) return {};
    const CodePage &code_page = TextsOf(installation);
    bool refused = false;
    for (std::size_t i = 2; i < path->size(); ++i) refused |= IsRefusedChar(static_cast<unsigned char>((*path)[i]));
    if (!refused && code_page.ToUtf8(code_page.FromUtf8(*path)) == *path) return {};
    return std::string("pfmsetup: the kit's folder ") + buffer +
           " has a name that this Windows installation (code page " + std::to_string(code_page.Number()) +
           ") cannot hold: start the program from a folder whose name that Windows could hold";
}

std::optional<std::string> WindowsPathOf(const std::string &unix_path)
{
    const Installation &installation = Installation::Current();
    std::optional<std::string> path = Utf8WindowsPathOf(installation, unix_path);
    if (!path) return std::nullopt;
    return TextsOf(installation).FromUtf8(*path);
}

namespace {

std::optional<std::string> Utf8WindowsPathOf(const Installation &installation, const std::string &unix_path)
{
    std::optional<std::string> real = IsImagePath(unix_path) ? std::optional<std::string>(unix_path)
                                                              : RealPath(unix_path);
    if (!real) return std::nullopt;

    std::vector<DriveMapping> drives = installation.Drives();

    // The deepest folder above the path that is the root of a drive.
    std::string folder = *real;
    while (true) {
        for (const DriveMapping &drive : drives) {
            if (drive.folder != folder) continue;
            std::string rest = real->substr(folder.size());
            std::string out(1, drive.letter);
            out += ':';
            if (rest.empty()) rest = "/";
            for (char &c : rest) {
                if (c == '/') c = '\\';
            }
            if (rest.front() != '\\') rest.insert(rest.begin(), '\\');
            return out + rest;
        }
        std::size_t slash = folder.rfind('/');
        if (folder == "/" || slash == std::string::npos) return std::nullopt;
        folder = slash == 0 ? "/" : folder.substr(0, slash);
    }
}

}  // namespace
}  // namespace host
