#include "platform/host/installation/system_profile.h"

#include "platform/host/base/held_signals.h"
#include "platform/host/base/sha256.h"
#include "platform/host/installation/backups.h"
#include "platform/host/text/code_page.h"
#include "platform/host/installation/out_of_memory.h"
#include "platform/host/installation/windows_paths.h"
#include "platform/host/installation/installation.h"

#include <strings.h>

#include <cstdio>
#include <cstring>

namespace host {
namespace {

// The length of a text that holds no line break (nor, for a key, an '='),
// or -1: such a text, written, would not read back as written. Three texts
// are checked for every write.
long CheckedLength(const char *text, const char *refused)
{
    std::size_t length = std::strcspn(text, refused);
    return text[length] ? -1 : static_cast<long>(length);
}

// A key that would not read back as a key: one holding a line break or
// '=', or one that opens with '[' and so could read as a section header.
long CheckedKeyLength(const char *key)
{
    long length = CheckedLength(key, "\r\n=");
    const char *p = key;
    while (*p && IsProfileSpace(static_cast<unsigned char>(*p))) ++p;
    return *p == '[' ? -1 : length;
}

const char kPortSection[] = "PostScript,";

// A key "softfont" and a number, as a kit's fonts are registered.
bool IsSoftFontKey(const char *key)
{
    if (strncasecmp(key, "softfont", 8) != 0 || !key[8]) return false;
    for (const char *p = key + 8; *p; ++p)
        if (*p < '0' || *p > '9') return false;
    return true;
}

}  // namespace

SystemProfile::~SystemProfile()
{
    Flush();
}

const ProfileDocument *SystemProfile::Pending(const std::string &unix_path) const
{
    if (!held_) return nullptr;
    if (unix_path == path_) return document_.get();
    // The same file by any spelling of its name, letter case compared as
    // the installation's names are (FindNoCase).
    std::size_t slash = unix_path.rfind('/');
    if (slash == std::string::npos || unix_path.compare(0, slash, folder_) != 0 || slash != folder_.size())
        return nullptr;
    const CodePage &code_page = installation_.Texts();
    if (!code_page.EqualsNoCase(code_page.FromUtf8(std::string_view(unix_path).substr(slash + 1)),
                                code_page.FromUtf8(std::string_view(path_).substr(slash + 1))))
        return nullptr;
    return document_.get();
}

bool SystemProfile::Begin()
{
    if (held_) return true;
    // An installation found unusable (a prefix in use, a kit folder it
    // cannot name) is never written.
    if (!installation_.Usable()) return false;
    std::optional<std::string> path = UnixPathOf(installation_, installation_.SystemProfileName());
    if (!path) {
        installation_.ReportUnusable("it has no drive C: with a Windows folder");
        return false;
    }
    std::string bytes, why;
    bool existed = false;
    // Wine writes a prefix's linked win.ini through its link; a Windows 9x
    // drive has no links (FAT), and its rule stays.
    const bool through_links = installation_.Kind() == InstallationKind::kWinePrefix;
    std::unique_ptr<FileReplacement> taken = FilesOf(*path).BeginReplace(*path, through_links, &bytes, &existed, &why);
    if (!taken) {
        refused_ = true;
        if (!why.empty()) installation_.ReportUnusable(why.c_str());
        return false;
    }
    std::string before = bytes;
    auto document =
        std::make_unique<ProfileDocument>(ProfileDocument::ParseOwned(std::move(bytes), LeadBytes(installation_.Texts())));
    document->FollowDialect(dialect_);
    path_ = std::move(*path);
    folder_ = path_.substr(0, path_.rfind('/'));
    taken_ = std::move(taken);
    existed_ = existed;
    before_ = std::move(before);
    document_ = std::move(document);
    held_ = true;
    ++hold_generation_;
    dirty_ = false;
    return true;
}

bool SystemProfile::Write(const char *section, const char *key, const char *value)
{
    if (!section) {
        Flush();
        return false;
    }
    // Once memory has run out, nothing more is written until the flush
    // that ends the run: a win.ini with part of the run's changes would be
    // worse than none.
    if (lost_) return false;
    long section_length = CheckedLength(section, "\r\n");
    long key_length = key ? CheckedKeyLength(key) : 0;
    long value_length = value ? CheckedLength(value, "\r\n") : 0;
    if (section_length < 0 || key_length < 0 || value_length < 0) return false;
    if (!Begin()) return false;
    if (strncasecmp(section, kPortSection, sizeof kPortSection - 1) == 0) {
        if (!key) registered_.ports.emplace_back(section + sizeof kPortSection - 1);
        else if (value && registered_.ports.size() == 1 && IsSoftFontKey(key)) registered_.soft_fonts.emplace_back(value);
    }
    std::string_view section_text(section, static_cast<std::size_t>(section_length));
    if (!key) {
        dirty_ = document_->DeleteSection(section_text) || dirty_;
    } else if (!value) {
        dirty_ = document_->DeleteKey(section_text, std::string_view(key, static_cast<std::size_t>(key_length))) ||
                 dirty_;
    } else {
        document_->SetValue(section_text, std::string_view(key, static_cast<std::size_t>(key_length)),
                            std::string_view(value, static_cast<std::size_t>(value_length)));
        dirty_ = true;
    }
    return true;
}

bool SystemProfile::FitsLimit() const
{
    if (dialect_.largest_file == 0) return true;
    std::size_t size = 0;
    document_->SerializeTo([&size](std::string_view piece) { size += piece.size(); });
    if (size <= dialect_.largest_file) return true;
    // The system would read part of it and lose what follows (a printer's
    // fonts, [devices] itself): better the file as it was, and a word why.
    const Installation &installation = installation_;
    std::fprintf(stderr,
                 "pfmsetup: %s of the Windows installation at %s would be %zu bytes, more than the %zu bytes "
                 "that Windows 95/98/Me reads of it; it was left as it was\n",
                 installation.SystemProfileName().c_str(), installation.Root().c_str(), size, dialect_.largest_file);
    return false;
}

bool SystemProfile::WriteOut()
{
    if (!FitsLimit()) return false;
    Installation &installation = installation_;
    std::string name = installation.WindowsDirectory() + "\\" + path_.substr(path_.rfind('/') + 1);
    auto contents = [this](const std::function<void(std::string_view)> &sink) { document_->SerializeTo(sink); };
    if (Installation::Preview()) {
        std::string after;
        contents([&](std::string_view piece) { after.append(piece); });
        std::string why;
        if (!taken_->CouldCommit(after.size(), &why)) {
            if (!why.empty()) installation.ReportUnusable(why.c_str());
            return false;
        }
        replaced_ = Replacement{name, before_, std::move(after)};
        return true;
    }
    std::string why, backup_why;
    std::unique_ptr<PendingBackup> backup = PendingBackup::Keep(installation, name, before_, existed_, &backup_why);
    if (!backup) std::fprintf(stderr, "pfmsetup: no backup of %s was kept: %s\n", name.c_str(), backup_why.c_str());
    // The backup's record names what was written by its hash, taken in the
    // same pass that writes it (of the last pass, should the drive take the
    // contents more than once).
    ContentDigest written;
    auto hashed = [&](const std::function<void(std::string_view)> &sink) {
        Sha256 hash;
        uint64_t length = 0;
        contents([&](std::string_view piece) {
            hash.Add(piece);
            length += piece.size();
            sink(piece);
        });
        written = ContentDigest{length, hash.Hex()};
    };
    bool ok;
    {
        // Ctrl-C and the like take effect once win.ini is whole again: on
        // a disk image the replacement takes four steps, and one cut
        // between them leaves no WIN.INI until the next run repairs it.
        EndingSignalsHeld held;
        ok = taken_->Commit(hashed, &why);
    }
    if (!ok) {
        if (!why.empty()) installation.ReportUnusable(why.c_str());
        return false;
    }
    if (backup) backup->Confirm(written);
    profiles_.Forget(path_);
    replaced_ = Replacement{name, std::move(before_), std::string()};
    return true;
}

void SystemProfile::Release()
{
    taken_.reset();
    held_ = false;
    ++hold_generation_;
    dirty_ = false;
    document_.reset();
    before_.clear();
}

void SystemProfile::Abandon() noexcept
{
    Release();
    registered_ = Registration();
    lost_ = true;
}

bool SystemProfile::Flush()
{
    // After memory ran out the flush writes nothing and fails; it ends that
    // state. Memory that runs out while the copy is written out fails the
    // write-out like a full disk.
    bool ok = !lost_ && (!held_ || !dirty_ || AnswerOnOutOfMemory(false, [this] { return WriteOut(); }));
    Release();
    lost_ = false;
    return ok;
}

}  // namespace host
