#include "test_prefix.h"

#include "platform/host/installation/installation.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace pfmtest {

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFile(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    ASSERT_TRUE(out.good()) << path;
}

bool FileExists(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::string RegString(const std::string &text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        if (c == '\r') {
            out += "\\r";
            continue;
        }
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out + "\"";
}

TempPrefix::TempPrefix()
{
    char dir[] = "/tmp/pfmtest-XXXXXX";
    if (!mkdtemp(dir)) std::abort();
    root = dir;
    prefix = root + "/prefix";
    kit = root + "/kit";
    mkdir(prefix.c_str(), 0755);
    mkdir((prefix + "/dosdevices").c_str(), 0755);
    mkdir((prefix + "/drive_c").c_str(), 0755);
    mkdir((prefix + "/drive_c/windows").c_str(), 0755);
    mkdir((prefix + "/drive_c/windows/system32").c_str(), 0755);
    mkdir(kit.c_str(), 0755);
    if (symlink("../drive_c", (prefix + "/dosdevices/c:").c_str()) != 0) std::abort();
    if (symlink("/", (prefix + "/dosdevices/z:").c_str()) != 0) std::abort();
    WriteFile(prefix + "/user.reg", "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n");
    WriteRegistry();

    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd)) saved_cwd_ = cwd;
    const char *p = getenv("WINEPREFIX");
    had_prefix_ = p != nullptr;
    if (p) saved_prefix_ = p;
}

TempPrefix::~TempPrefix()
{
    host::Installation::Reset();
    if (!saved_cwd_.empty() && chdir(saved_cwd_.c_str()) != 0) std::perror("chdir");
    if (had_prefix_) {
        setenv("WINEPREFIX", saved_prefix_.c_str(), 1);
    } else {
        unsetenv("WINEPREFIX");
    }
    std::string command = "chmod -R u+w '" + root + "' 2>/dev/null; rm -rf '" + root + "'";
    if (std::system(command.c_str()) != 0) std::perror("rm");
}

void TempPrefix::Enter()
{
    host::Installation::Reset();
    setenv("WINEPREFIX", prefix.c_str(), 1);
    if (chdir(kit.c_str()) != 0) std::abort();
}

void TempPrefix::AddPrinter(const std::string &name, const std::string &driver, const std::string &port)
{
    AddPrinterLines(name, {"\"Port\"=" + RegString(port), "\"Printer Driver\"=" + RegString(driver)});
}

void TempPrefix::AddPrinterLines(const std::string &name, const std::vector<std::string> &value_lines)
{
    printers_[name] = value_lines;
    WriteRegistry();
}

void TempPrefix::SetUserRegText(const std::string &text)
{
    WriteFile(prefix + "/user.reg",
              "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n" + text);
}

void TempPrefix::WriteRegistry()
{
    std::string reg = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win32\n\n";
    if (version_ == Version::Win98) {
        reg += "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion] 1700000000\n"
               "\"ProductName\"=\"Microsoft Windows 98\"\n\"VersionNumber\"=\"4.10.2222\"\n\n";
    } else if (version_ == Version::WinNt) {
        reg += "[Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion] 1700000000\n"
               "\"CurrentBuildNumber\"=\"2600\"\n\"CurrentVersion\"=\"5.1\"\n\n";
    }
    reg += "[System\\\\CurrentControlSet\\\\Control\\\\Print\\\\Printers] 1700000000\n"
           "\"DefaultSpoolDirectory\"=\"C:\\\\windows\\\\system32\\\\spool\\\\printers\"\n\n";
    for (const auto &printer : printers_) {
        std::string escaped;
        for (char c : printer.first) {
            if (c == '\\' || c == '"' || c == ']') escaped += '\\';
            escaped += c;
        }
        reg += "[System\\\\CurrentControlSet\\\\Control\\\\Print\\\\Printers\\\\" + escaped + "] 1700000000\n";
        for (const std::string &line : printer.second) reg += line + "\n";
        reg += "\n";
    }
    reg += extra_system_;
    WriteFile(prefix + "/system.reg", reg);
}

}  // namespace pfmtest
