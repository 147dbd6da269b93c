// A throw-away Windows installation for tests: a Wine prefix in a
// temporary folder (drive C: and Z: for /, a Windows and a system folder,
// system.reg, user.reg, win.ini) and a kit folder beside it.
#ifndef PFMSETUP_TESTS_TEST_PREFIX_H
#define PFMSETUP_TESTS_TEST_PREFIX_H

#include <map>
#include <string>
#include <vector>

namespace pfmtest {

std::string ReadFile(const std::string &path);
void WriteFile(const std::string &path, const std::string &bytes);
bool FileExists(const std::string &path);

// Quotes and escapes a text for a system.reg line.
std::string RegString(const std::string &text);

class TempPrefix {
public:
    enum class Version { Win98, WinNt, None };

    TempPrefix();
    ~TempPrefix();
    TempPrefix(const TempPrefix &) = delete;
    TempPrefix &operator=(const TempPrefix &) = delete;

    // Sets WINEPREFIX to this prefix, makes the kit folder current and
    // drops what the host layer remembers of earlier prefixes.
    void Enter();

    // Printers: each value line as system.reg holds it, e.g.
    // "\"Port\"=\"LPT1:\"". AddPrinter writes the usual two.
    void AddPrinter(const std::string &name, const std::string &driver, const std::string &port);
    void AddPrinterLines(const std::string &name, const std::vector<std::string> &value_lines);
    void SetVersion(Version version) { version_ = version; WriteRegistry(); }
    void AddSystemRegText(const std::string &text) { extra_system_ += text; WriteRegistry(); }
    void SetUserRegText(const std::string &text);
    void WriteRegistry();

    void WriteWinIni(const std::string &bytes) { WriteFile(WinIniPath(), bytes); }
    std::string ReadWinIni() const { return ReadFile(WinIniPath()); }
    std::string WinIniPath() const { return prefix + "/drive_c/windows/win.ini"; }

    void WriteKit(const std::string &text, const std::string &name = "pfmsetup.ini")
    {
        WriteFile(kit + "/" + name, text);
    }

    std::string root;    // the temporary folder
    std::string prefix;  // root/prefix
    std::string kit;     // root/kit

private:
    Version version_ = Version::Win98;
    std::map<std::string, std::vector<std::string>> printers_;
    std::string extra_system_;
    std::string saved_cwd_;
    std::string saved_prefix_;
    bool had_prefix_ = false;
};

}  // namespace pfmtest

#endif
