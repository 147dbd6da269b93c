#include "fuzz/fuzz_prefix.h"

#include "setup/setup_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace pfmfuzz {

const char kSystemRegPrelude[] =
    "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win32\n\n"
    "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion] 1700000000\n"
    "\"VersionNumber\"=\"4.10.2222\"\n\n"
    "[System\\\\CurrentControlSet\\\\Control\\\\Print\\\\Printers] 1700000000\n\n";

namespace {

FuzzPrefix *made = nullptr;

void RemovePrefix()
{
    // Runs after the host layer's own statics are gone: only the files go.
    if (!made) return;
    std::string command = "rm -rf '" + made->root + "'";
    if (std::system(command.c_str()) != 0) std::perror("rm");
}

void MakeDir(const std::string &path)
{
    if (mkdir(path.c_str(), 0755) != 0) {
        std::perror(path.c_str());
        std::abort();
    }
}

}  // namespace

void WriteFile(const std::string &path, std::string_view bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.good()) {
        std::perror(path.c_str());
        std::abort();
    }
}

void FormSetupFilePathInKit()
{
    // libFuzzer reads its corpus by relative paths: the folder is current
    // only while the path is formed.
    int here = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (here < 0 || chdir(Prefix().kit.c_str()) != 0) std::abort();
    BuildSetupFilePath();
    if (fchdir(here) != 0) std::abort();
    close(here);
}

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

const FuzzPrefix &Prefix()
{
    if (made) return *made;
    struct stat st;
    std::string base = stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) ? "/dev/shm" : "/tmp";
    std::string dir = base + "/pfmfuzz-XXXXXX";
    if (!mkdtemp(&dir[0])) {
        std::perror("mkdtemp");
        std::abort();
    }
    made = new FuzzPrefix;
    made->root = dir;
    made->prefix = dir + "/prefix";
    made->kit = dir + "/kit";
    made->windows = made->prefix + "/drive_c/windows";
    MakeDir(made->prefix);
    MakeDir(made->prefix + "/dosdevices");
    MakeDir(made->prefix + "/drive_c");
    MakeDir(made->windows);
    MakeDir(made->windows + "/system32");
    MakeDir(made->kit);
    if (symlink("../drive_c", (made->prefix + "/dosdevices/c:").c_str()) != 0 ||
        symlink("/", (made->prefix + "/dosdevices/z:").c_str()) != 0) {
        std::perror("symlink");
        std::abort();
    }
    WriteFile(made->prefix + "/user.reg", "WINE REGISTRY Version 2\n\n");
    WriteFile(made->prefix + "/system.reg", kSystemRegPrelude);
    setenv("WINEPREFIX", made->prefix.c_str(), 1);
    atexit(RemovePrefix);
    return *made;
}

}  // namespace pfmfuzz
