#include "platform/host/installation/installation.h"

#include "platform/host/installation/windows_paths.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace host {
namespace {

std::unique_ptr<Installation> &Slot()
{
    static std::unique_ptr<Installation> current;
    return current;
}

bool opening = false;
bool preview = false;

// The installation the environment names, as the process starts.
std::unique_ptr<Installation> Open()
{
    const char *drive = std::getenv("WIN9X_DRIVE");
    if (drive && *drive) {
        // A regular file is a disk image; anything else (a folder, a path
        // that is not there) is the folder kind, which says what is wrong.
        struct stat st;
        if (stat(drive, &st) == 0 && S_ISREG(st.st_mode)) return OpenWin9xImage(drive);
        return OpenWin9xDrive(drive);
    }
    return OpenWinePrefix(WinePrefixRoot());
}

ProfileDialect DialectOf(InstallationKind kind)
{
    ProfileDialect dialect;
    if (kind == InstallationKind::kWinePrefix) return dialect;
    // Windows 95/98/Me, as Wine's conformance tests of the profile calls
    // recorded them on those systems (docs/host-layer.md).
    dialect.plus_sign_reads_as_zero = true;
    dialect.blank_line_before_new_section = true;
    dialect.largest_file = kWin9xProfileLimit;
    return dialect;
}

}  // namespace

std::string NamedInstallationPath()
{
    const char *drive = std::getenv("WIN9X_DRIVE");
    return drive && *drive ? std::string(drive) : WinePrefixRoot();
}

bool NamedInstallationIsImage()
{
    const char *drive = std::getenv("WIN9X_DRIVE");
    struct stat st;
    return drive && *drive && stat(drive, &st) == 0 && S_ISREG(st.st_mode);
}

std::string FileIdentity(const std::string &path)
{
    struct stat st;
    if (path.empty() || stat(path.c_str(), &st) != 0) return {};
    char text[48];
    std::snprintf(text, sizeof text, "%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    return text;
}

Installation &Installation::Current()
{
    std::unique_ptr<Installation> &current = Slot();
    if (!current) {
        // Cleared however the opening ends (memory can run out in it).
        struct Opening {
            Opening() { opening = true; }
            ~Opening() { opening = false; }
        } scope;
        current = Open();
    }
    // The kit's folder is named in the installation's code page, known
    // once it is open.
    if (current->Usable() && !current->folder_checked_) {
        current->folder_checked_ = true;
        std::string line = UnnameableCurrentFolderLine(*current);
        if (!line.empty()) current->SetUnusableLine(line);
    }
    return *current;
}

Installation *Installation::IfOpen()
{
    return opening ? nullptr : Slot().get();
}

void Installation::SetPreview(bool on)
{
    preview = on;
}

bool Installation::Preview()
{
    return preview;
}

bool Installation::Opening()
{
    return opening;
}

void Installation::Reset()
{
    std::unique_ptr<Installation> &current = Slot();
    if (!current) return;
    current->Profile().Flush();
    current.reset();
}

Installation::Installation(InstallationKind kind, std::string root)
    : kind_(kind),
      dialect_(DialectOf(kind)),
      root_(std::move(root)),
      paths_(*this),
      system_profile_(std::make_unique<SystemProfile>(*this, profiles_, dialect_))
{
}

Installation::~Installation() = default;

void Installation::SetDirectories(std::string windows_directory, std::string system_directory,
                                  std::string profile_name)
{
    windows_directory_ = std::move(windows_directory);
    system_directory_ = std::move(system_directory);
    system_profile_name_ = std::move(profile_name);
}

void Installation::SetUnusable(const char *why)
{
    usable_ = false;
    ReportUnusable(why);
}

void Installation::SetUnusableLine(const std::string &line)
{
    usable_ = false;
    if (reported_) return;
    reported_ = true;
    std::fprintf(stderr, "%s\n", line.c_str());
}

void Installation::ReportUnusable(const char *why)
{
    if (reported_) return;
    reported_ = true;
    std::fprintf(stderr, "pfmsetup: the Windows installation at %s cannot be used: %s\n", root_.c_str(), why);
}

unsigned CodePageOfRegistry(const RegistryHive *machine)
{
    if (!machine) return 1252;
    HiveKey key = machine->Find(machine->Root(), "System\\CurrentControlSet\\Control\\Nls\\CodePage");
    uint32_t type = 0;
    std::string data;
    if (!key || !machine->Value(key, "ACP", &type, &data) || type != REG_SZ) return 1252;
    std::size_t nul = data.find('\0');
    if (nul != std::string::npos) data.resize(nul);
    if (data.empty() || data.size() > 5 || data.find_first_not_of("0123456789") != std::string::npos) return 1252;
    unsigned number = static_cast<unsigned>(std::strtoul(data.c_str(), nullptr, 10));
    return CodePage::ForNumber(number).Number();
}

const CodePage &AnsiCodePage()
{
    // Opening an installation reads its registry, whose conversions ask for
    // the code page it is about to learn.
    if (Installation::Opening()) return CodePage::ForNumber(1252);
    return Installation::Current().Texts();
}

void SetAnsiCodePage(unsigned number)
{
    Installation::Current().SetCodePage(number);
}

}  // namespace host
