// A whole installation run over a fuzzed setup description file and a
// fuzzed registry.
//
// The input is the setup description file, then a line "@@system.reg@@",
// then printer keys and values in system.reg's text format, which follow a
// fixed start that makes the installation a Windows 98 one with a printers
// key. win.ini starts with entries of its own each time.
//
// Before the run, the ports the kit must register are found on their own,
// through the platform's registry and profile reads: the printers whose
// driver is one of the kit's models and whose port holds no line break.
// Checked after the run:
// - a run with no such port returns 0 and leaves win.ini byte for byte as
//   it was; a run that returns 1 had such a port;
// - after a run that returns 1, every port's section [PostScript,...]
//   holds as many soft-font keys (softfont1, softfont2, ...) as the kit
//   lists, and its Softfonts entry says that count;
// - outside those sections and [Pscript TrueType Substitutions] no line of
//   win.ini is added, changed or lost, and win.ini ends with a whole line.
#include "fuzz/fuzz_prefix.h"
#include "install/install_run.h"
#include "platform/host/installation/installation.h"
#include "platform/host/profile/document.h"
#include "platform/platform.h"
#include "setup/setup_file.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

const char kSeparator[] = "\n@@system.reg@@\n";

const char kWinIni[] =
    "[windows]\r\n"
    "load=\r\n"
    "device=Kit Printer,PSCRIPT,LPT1:\r\n"
    "\r\n"
    "[Desktop]\r\n"
    "Wallpaper=(None)\r\n"
    "[PostScript,LPT9]\r\n"
    "Softfonts=1\r\n"
    "softfont1=C:\\windows\\system32\\OLD.PFM\r\n";

void Check(bool ok, const char *what)
{
    if (ok) return;
    std::fprintf(stderr, "install_fuzz: %s\n", what);
    std::abort();
}

const char kPrintersKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers";
const char kSubstitutions[] = "Pscript TrueType Substitutions";

std::string Fold(std::string_view text)
{
    std::string out(text);
    for (char &c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

// Trimmed as the profile rules trim names: white space, the line-end
// controls and the end-of-file mark (0x1A) too.
std::string_view Trim(std::string_view text)
{
    while (!text.empty() && host::IsProfileSpace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && host::IsProfileSpace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return text;
}

// A text value of a printer's key as the installation takes it: it fits a
// zero-filled buffer of 2048 bytes with its end; false when it does not.
bool PrinterText(HKEY printer, const char *name, std::string *out)
{
    std::vector<char> text(2048, '\0');
    DWORD size = static_cast<DWORD>(text.size());
    if (RegQueryValueExA(printer, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(text.data()), &size) != ERROR_SUCCESS)
        return false;
    if (text.back() != '\0') return false;
    *out = text.data();
    return true;
}

// The sections [PostScript,<port>] the run must write, folded: one for
// the port of every printer whose driver is one of the kit's models.
std::set<std::string> ExpectedPortSections()
{
    std::set<std::string> sections;
    OSVERSIONINFOA version;
    std::memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version) || version.dwPlatformId != VER_PLATFORM_WIN32_WINDOWS) return sections;
    int count = static_cast<int>(GetPrivateProfileIntA("PrinterInfo", "NumberOfModel", 0, SetupFilePath));
    if (count < 1 || count > MAX_MODEL_RECORDS) return sections;
    std::set<std::string> models;
    for (int j = 1; j <= count; ++j) {
        char key[32], name[MODEL_NAME_SIZE];
        std::snprintf(key, sizeof key, "Model%d", j);
        GetPrivateProfileStringA("PrinterInfo", key, "", name, sizeof name, SetupFilePath);
        models.insert(name);
    }
    HKEY printers;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPrintersKey, 0, KEY_READ, &printers) != ERROR_SUCCESS) return sections;
    char name[260];
    for (DWORD index = 0; RegEnumKeyA(printers, index, name, sizeof name) == ERROR_SUCCESS; ++index) {
        HKEY printer;
        std::string path = std::string(kPrintersKey) + "\\" + name;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &printer) != ERROR_SUCCESS) continue;
        std::string driver, port;
        bool matches = false;
        if (PrinterText(printer, "Printer Driver", &driver))
            for (const std::string &model : models) matches = matches || lstrcmpA(model.c_str(), driver.c_str()) == 0;
        if (matches && PrinterText(printer, "Port", &port) && port.find_first_of("\r\n") == std::string::npos) {
            // The port without its colon; one too long for the copy is cut.
            if (port.size() >= 1024) port.resize(1023);
            else if (!port.empty() && port.back() == ':') port.pop_back();
            sections.insert(Fold(Trim("PostScript," + port)));
        }
        RegCloseKey(printer);
    }
    RegCloseKey(printers);
    return sections;
}

// The soft fonts the kit lists: softfont1, softfont2, ... up to the first
// of fewer than four characters.
int KitFontCount()
{
    int n = 0;
    char key[32], value[260];
    for (int i = 1; i <= 65534; ++i, ++n) {
        std::snprintf(key, sizeof key, "softfont%d", i);
        GetPrivateProfileStringA("PostScript", key, "", value, sizeof value, SetupFilePath);
        if (std::strlen(value) < 4) break;
    }
    return n;
}

// The lines of a profile text that are not blank and lie outside the
// given sections (folded names), each with the name of its section.
std::vector<std::pair<std::string, std::string_view>> LinesOutside(std::string_view text,
                                                                    const std::set<std::string> &sections)
{
    std::vector<std::pair<std::string, std::string_view>> lines;
    std::string section;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        std::string_view trimmed = Trim(line);
        if (!trimmed.empty() && trimmed.back() == '\r') trimmed = Trim(trimmed.substr(0, trimmed.size() - 1));
        if (trimmed.empty()) continue;
        if (trimmed.front() == '[') {
            std::size_t close = trimmed.rfind(']');
            std::string_view name = trimmed.substr(1, close == std::string_view::npos ? close : close - 1);
            section = Fold(Trim(name));
        }
        if (!sections.count(section)) lines.emplace_back(section, line);
    }
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const pfmfuzz::FuzzPrefix &prefix = pfmfuzz::Prefix();
    std::string_view input(reinterpret_cast<const char *>(data), size);
    std::size_t split = input.find(kSeparator);
    std::string_view setup = input.substr(0, split);
    std::string_view registry = split == std::string_view::npos ? std::string_view() : input.substr(split + sizeof kSeparator - 1);

    host::Installation::Reset();
    std::string win_ini = prefix.windows + "/win.ini";
    pfmfuzz::WriteFile(prefix.kit + "/pfmsetup.ini", setup);
    pfmfuzz::WriteFile(prefix.prefix + "/system.reg", std::string(pfmfuzz::kSystemRegPrelude) + std::string(registry));
    pfmfuzz::WriteFile(win_ini, kWinIni);

    pfmfuzz::FormSetupFilePathInKit();
    const std::set<std::string> ports = ExpectedPortSections();
    const int fonts = KitFontCount();
    host::Installation::Reset();
    int result = InstallPrinterFonts();
    host::Installation::Reset();

    std::string after = pfmfuzz::ReadFile(win_ini);
    if (ports.empty()) {
        Check(result == 0, "the run succeeded with no printer of the kit's models");
        Check(after == kWinIni, "the run changed win.ini with no printer of the kit's models");
        return 0;
    }
    host::ProfileDocument doc = host::ProfileDocument::Parse(after);
    host::ProfileDocument::KeyValue kv;
    if (result == 1) {
        for (const std::string &section : ports) {
            int keys = 0;
            for (const host::ProfileDocument::KeyValue &line : doc.SectionLines(section, true)) {
                std::string key = Fold(line.key);
                if (key.size() > 8 && key.compare(0, 8, "softfont") == 0 &&
                    key.find_first_not_of("0123456789", 8) == std::string::npos)
                    ++keys;
            }
            Check(keys == fonts, "a port's section holds another count of soft fonts than the kit lists");
            if (fonts == 0) continue;
            Check(doc.FindKey(section, "Softfonts", &kv) && kv.value == std::to_string(keys),
                  "a port's Softfonts is not its count of soft-font keys");
        }
    }
    // Outside the sections written, win.ini is line for line as it was.
    std::set<std::string> written = ports;
    written.insert(Fold(kSubstitutions));
    Check(LinesOutside(after, written) == LinesOutside(kWinIni, written),
          "a line outside the sections written was added, changed or lost");
    Check(after.size() >= 2 && after.compare(after.size() - 2, 2, "\r\n") == 0, "win.ini ends inside a line");
    return 0;
}
