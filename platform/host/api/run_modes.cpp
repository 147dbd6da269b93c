#include "platform/host/api/run_modes.h"

#include "platform/host/base/sha256.h"
#include "platform/host/dialogue/message_box.h"
#include "platform/host/dialogue/terminal_text.h"
#include "platform/host/drives/drive_files.h"
#include "platform/host/installation/backups.h"
#include "platform/host/installation/installation.h"
#include "platform/host/installation/windows_paths.h"
#include "platform/host/text/unified_diff.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <cstring>

namespace host {
namespace {

std::string Upper(std::string_view text)
{
    std::string upper(text);
    for (char &c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return upper;
}

// The one line after a run that registered soft fonts, when some of the
// files are not where the registration says. The system folder is listed
// once; a file named elsewhere is looked up by its path.
void SaySoftFontFiles(Installation &installation)
{
    std::vector<std::string> fonts = installation.Profile().Registered().soft_fonts;
    if (fonts.empty() || !installation.Profile().Replaced()) return;
    std::sort(fonts.begin(), fonts.end());
    fonts.erase(std::unique(fonts.begin(), fonts.end()), fonts.end());
    const std::string folder = installation.SystemDirectory() + "\\";
    std::set<std::string> present;
    std::vector<std::string> names;
    std::optional<std::string> system = UnixPathOf(installation.SystemDirectory());
    if (!system) return;
    // A folder that is not there holds none of them; one that is there, or
    // a drive that could not be read, tells nothing when it cannot be listed.
    DriveFiles &files = FilesOf(*system);
    if (!files.List(*system, &names) && (files.IsFolder(*system) || !files.Trouble().empty())) return;
    for (const std::string &name : names) present.insert(Upper(name));
    std::size_t missing = 0;
    for (const std::string &font : fonts) {
        std::string_view name = std::string_view(font).substr(std::min(font.size(), folder.size()));
        if (Upper(font.substr(0, folder.size())) == Upper(folder) && name.find('\\') == std::string_view::npos) {
            missing += present.count(Upper(name)) == 0;
            continue;
        }
        std::optional<std::string> path = UnixPathOf(font);
        if (!path || !FilesOf(*path).Exists(*path)) ++missing;
    }
    if (missing == 0) return;
    std::fprintf(stderr, "pfmsetup: %zu of %zu soft-font files registered are not in %s; copy them there before printing\n",
                 missing, fonts.size(), TerminalText(installation.SystemDirectory(), AnsiCodePage()).c_str());
}

std::string Listed(const std::vector<std::string> &items)
{
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) text += i + 1 == items.size() ? " and " : ", ";
        text += TerminalText(items[i], AnsiCodePage());
    }
    return text;
}

// Why the run would end with the failure report.
std::string WhyFailure(Installation &installation)
{
    if (!installation.Usable()) return "the Windows installation cannot be used (the line above says why)";
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (installation.Version(&version) && version.dwPlatformId != VER_PLATFORM_WIN32_WINDOWS)
        return "the installation is not Windows 95, 98 or Me";
    if (installation.Profile().Refused())
        return TerminalText(installation.SystemProfileName(), AnsiCodePage()) + " may not be written";
    if (installation.Profile().Registered().ports.empty())
        return "no installed printer's driver is one of the kit's models";
    return "a change to " + TerminalText(installation.SystemProfileName(), AnsiCodePage()) + " was refused";
}

}  // namespace

int PlainRun(const std::function<int()> &win_main)
{
    int status = win_main();
    Installation *installation = Installation::IfOpen();
    if (!installation) return status;
    SaySoftFontFiles(*installation);
    // Only after a run that went its way: a refused run's one line is about
    // its refusal.
    std::string advice = installation->Usable() && !installation->Reported() ? installation->AdviceAfterRun() : "";
    if (!advice.empty()) std::fprintf(stderr, "pfmsetup: %s\n", advice.c_str());
    return status;
}

int PreviewRun(const std::function<int()> &win_main)
{
    Installation::SetPreview(true);
    PreviewBoxes &boxes = BoxesOfPreview();
    boxes.on = true;
    win_main();
    Installation &installation = Installation::Current();
    if (!installation.PendingRepair().empty())
        std::printf("pfmsetup: a killed run left an unfinished replacement of WIN.INI in the image; the run would "
                    "first repair it: it %s (what follows is of the files as they are now)\n",
                    installation.PendingRepair().c_str());
    const auto &replaced = installation.Profile().Replaced();
    std::string diff = replaced ? UnifiedDiff(replaced->before, replaced->after, TerminalText(replaced->name, AnsiCodePage()),
                                              [](std::string_view line) { return TerminalText(line, AnsiCodePage()); })
                                : std::string();
    std::fputs(diff.c_str(), stdout);
    if (diff.empty())
        std::printf("pfmsetup: the run would leave %s as it is\n", TerminalText(installation.SystemProfileName(), AnsiCodePage()).c_str());
    bool success = boxes.reported && (boxes.style & 0xF0u) == MB_ICONINFORMATION;
    if (!boxes.asked)
        std::printf("pfmsetup: the run would show no box: its texts (pfmres.dll) are not found, or another copy "
                    "shows its boxes\n");
    else if (success)
        std::printf("pfmsetup: the run would show the success report: the kit's soft fonts registered for %s, "
                    "its TrueType substitutions added\n",
                    Listed(installation.Profile().Registered().ports).c_str());
    else
        std::printf("pfmsetup: the run would show the failure report: %s\n", WhyFailure(installation).c_str());
    std::fflush(stdout);
    SaySoftFontFiles(installation);
    return success ? 0 : 1;
}

int UndoLastRun()
{
    Installation &installation = Installation::Current();
    if (!installation.Usable()) return 1;  // said on standard error
    std::optional<std::string> path = UnixPathOf(installation.SystemProfileName());
    std::string name = TerminalText(installation.SystemProfileName(), AnsiCodePage());
    KeptRun run;
    std::string why, kept, bytes;
    if (!LastKeptRun(installation, &run, &why)) {
        std::fprintf(stderr, "pfmsetup: nothing to undo for %s: %s\n", name.c_str(), why.c_str());
        return 1;
    }
    name = TerminalText(run.file, AnsiCodePage());
    if (run.kept_path.empty()) {
        std::fprintf(stderr, "pfmsetup: the run of %s made %s, which was not there before; delete it by hand\n",
                     run.time.c_str(), name.c_str());
        return 1;
    }
    if (!ReadKeptFile(run, &kept, &why)) {
        std::fprintf(stderr, "pfmsetup: %s was left as it is: %s\n", name.c_str(), why.c_str());
        return 1;
    }
    bool existed = false;
    std::unique_ptr<FileReplacement> taken = path ? FilesOf(*path).BeginReplace(*path, installation.Kind() == InstallationKind::kWinePrefix, &bytes, &existed, &why) : nullptr;
    if (!taken) {
        std::fprintf(stderr, "pfmsetup: %s was left as it is: it may not be written%s%s\n", name.c_str(),
                     why.empty() ? "" : ": ", why.c_str());
        return 1;
    }
    if (!existed || DigestOf(bytes) != run.written) {
        std::fprintf(stderr, "pfmsetup: %s changed since the run of %s, so it was left as it is; the file as it was "
                     "before that run is %s\n", name.c_str(), run.time.c_str(), run.kept_path.c_str());
        return 1;
    }
    if (!taken->Commit([&](const std::function<void(std::string_view)> &sink) { sink(kept); }, &why)) {
        std::fprintf(stderr, "pfmsetup: %s was left as it is: %s\n", name.c_str(), why.c_str());
        return 1;
    }
    taken.reset();
    ForgetKeptRun(run);
    std::printf("pfmsetup: %s is back as it was before the run of %s\n", name.c_str(), run.time.c_str());
    return 0;
}

}  // namespace host
