#include "platform/host/installation/backups.h"

#include "platform/host/base/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

namespace host {
namespace {

const char kRecord[] = ".record";
// A run's files are named by its stem, the time: 2026-12-09_07-31-00.123456.
constexpr std::size_t kStemLength = 26;

bool EndsWith(const std::string &s, const char *end)
{
    std::size_t n = std::strlen(end);
    return s.size() >= n && s.compare(s.size() - n, n, end) == 0;
}

std::string KindName(InstallationKind kind)
{
    switch (kind) {
    case InstallationKind::kWinePrefix: return "prefix";
    case InstallationKind::kWin9xDrive: return "drive";
    case InstallationKind::kWin9xImage: return "image";
    }
    return "installation";
}

// The installation's path with its links resolved, so that every way of
// naming it finds the same folder.
std::string RealRoot(const Installation &installation)
{
    char resolved[PATH_MAX];
    if (realpath(installation.Root().c_str(), resolved)) return resolved;
    return installation.Root();
}

// $XDG_STATE_HOME/pfmsetup, or ~/.local/state/pfmsetup.
std::string StateFolder(std::string *why)
{
    const char *state = std::getenv("XDG_STATE_HOME");
    if (state && *state) {
        if (state[0] != '/') {
            *why = std::string("XDG_STATE_HOME (") + state + ") is not an absolute path";
            return {};
        }
        return std::string(state) + "/pfmsetup";
    }
    const char *home = std::getenv("HOME");
    if (!home || !*home) {
        const struct passwd *entry = getpwuid(getuid());
        home = entry ? entry->pw_dir : nullptr;
    }
    if (!home || !*home) {
        *why = "there is no home folder (HOME is not set)";
        return {};
    }
    return std::string(home) + "/.local/state/pfmsetup";
}

// Makes every missing folder of `path`; the last `own` components are ours
// and must be folders, not links.
bool MakeFolders(const std::string &path, int own, std::string *why)
{
    std::vector<std::size_t> ends;
    for (std::size_t i = 1; i <= path.size(); ++i)
        if (i == path.size() || path[i] == '/') ends.push_back(i);
    for (std::size_t n = 0; n < ends.size(); ++n) {
        std::string part = path.substr(0, ends[n]);
        bool ours = n + own >= ends.size();
        struct stat st;
        if ((ours ? lstat(part.c_str(), &st) : stat(part.c_str(), &st)) != 0) {
            if (errno == ENOENT && mkdir(part.c_str(), 0700) == 0) continue;
            *why = part + " cannot be made: " + std::strerror(errno);
            return false;
        }
        if (S_ISLNK(st.st_mode)) {
            *why = part + " is a link, not a folder";
            return false;
        }
        if (!S_ISDIR(st.st_mode)) {
            *why = part + " is not a folder";
            return false;
        }
    }
    return true;
}

// Writes a new file whole and to the disk; false with a reason (and no
// file) when it cannot.
bool WriteNewFile(const std::string &path, std::string_view bytes, std::string *why)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        *why = path + " cannot be made: " + std::strerror(errno);
        return false;
    }
    bool ok = WriteAll(fd, bytes) && fsync(fd) == 0;
    int error = errno;
    if (close(fd) != 0 && ok) ok = false, error = errno;
    if (!ok) {
        unlink(path.c_str());
        *why = path + " cannot be written: " + std::strerror(error);
    }
    return ok;
}

std::vector<std::string> Names(const std::string &folder)
{
    std::vector<std::string> names;
    if (DIR *dir = opendir(folder.c_str())) {
        while (const struct dirent *e = readdir(dir)) names.emplace_back(e->d_name);
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The stems of the completed records, oldest first.
std::vector<std::string> Stems(const std::string &folder)
{
    std::vector<std::string> stems;
    for (const std::string &name : Names(folder))
        if (EndsWith(name, kRecord)) stems.push_back(name.substr(0, name.size() - (sizeof kRecord - 1)));
    return stems;
}

// Every file of a run: its record and its kept file.
void DeleteRun(const std::string &folder, const std::string &stem)
{
    for (const std::string &name : Names(folder))
        if (name.size() > stem.size() && name.compare(0, stem.size(), stem) == 0 && name[stem.size()] == '.')
            unlink((folder + "/" + name).c_str());
}

std::string DigestText(const ContentDigest &digest)
{
    return std::to_string(digest.length) + " " + digest.sha256;
}

bool ParseDigest(const std::string &text, ContentDigest *digest)
{
    std::size_t space = text.find(' ');
    if (space == std::string::npos || space == 0 || text.size() - space - 1 != 64) return false;
    if (text.find_first_not_of("0123456789") < space) return false;
    if (text.find_first_not_of("0123456789abcdef", space + 1) != std::string::npos) return false;
    digest->length = std::strtoull(text.c_str(), nullptr, 10);
    digest->sha256 = text.substr(space + 1);
    return true;
}

}  // namespace

std::string BackupFolderOf(const Installation &installation, bool make, std::string *why)
{
    std::string state = StateFolder(why);
    if (state.empty()) return {};
    std::string root = RealRoot(installation);
    std::string readable = root;
    readable.erase(0, readable.find_first_not_of('/'));
    std::replace(readable.begin(), readable.end(), '/', '-');
    if (readable.size() > 80) readable.erase(0, readable.size() - 80);
    std::string name = KindName(installation.Kind()) + "-" + readable + "-" + DigestOf(root).sha256.substr(0, 8);
    std::string folder = state + "/" + name;
    if (make) {
        if (!MakeFolders(folder, 2, why)) return {};
    } else {
        struct stat st;
        if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            *why = "no run of it is kept in " + folder;
            return {};
        }
    }
    return folder;
}

PendingBackup::PendingBackup(std::string folder, std::string stem, std::string kept, std::string record)
    : folder_(std::move(folder)), stem_(std::move(stem)), kept_(std::move(kept)), record_(std::move(record))
{
}

PendingBackup::~PendingBackup()
{
    if (!confirmed_) DeleteRun(folder_, stem_);
}

std::unique_ptr<PendingBackup> PendingBackup::Keep(const Installation &installation, const std::string &windows_name,
                                                   std::string_view before, bool existed, std::string *why)
{
    std::string folder = BackupFolderOf(installation, true, why);
    if (folder.empty()) return nullptr;
    struct timeval now;
    gettimeofday(&now, nullptr);
    struct tm utc;
    gmtime_r(&now.tv_sec, &utc);
    char stamp[64], time[64];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d_%H-%M-%S", &utc);
    std::strftime(time, sizeof time, "%Y-%m-%d %H:%M:%S UTC", &utc);
    std::string stem;
    std::vector<std::string> names = Names(folder);
    for (long micro = now.tv_usec;; ++micro) {
        char buffer[96];
        std::snprintf(buffer, sizeof buffer, "%s.%06ld", stamp, micro % 1000000);
        stem = buffer;
        auto taken = [&](const std::string &n) { return n.compare(0, stem.size(), stem) == 0; };
        if (std::none_of(names.begin(), names.end(), taken)) break;
    }
    std::string base = windows_name.substr(windows_name.find_last_of('\\') + 1);
    std::string kept = existed ? folder + "/" + stem + "." + base : std::string();
    if (existed && !WriteNewFile(kept, before, why)) return nullptr;
    std::string record = "installation " + KindName(installation.Kind()) + " " + RealRoot(installation) + "\n" +
                         "file " + windows_name + "\ntime " + time + "\nkept " +
                         (existed ? DigestText(DigestOf(before)) : "none") + "\n";
    return std::unique_ptr<PendingBackup>(new PendingBackup(folder, stem, kept, std::move(record)));
}

void PendingBackup::Confirm(const ContentDigest &written)
{
    record_ += "written " + DigestText(written) + "\n";
    std::string ignored;
    if (!WriteNewFile(folder_ + "/" + stem_ + kRecord, record_, &ignored)) return;
    confirmed_ = true;
    std::vector<std::string> stems = Stems(folder_);
    for (std::size_t i = 0; i + kRunsKept < stems.size(); ++i) DeleteRun(folder_, stems[i]);
    // What a killed run kept without its record.
    for (const std::string &name : Names(folder_)) {
        std::string stem = name.substr(0, kStemLength);
        if (name.size() > kStemLength && name[kStemLength] == '.' &&
            !std::binary_search(stems.begin(), stems.end(), stem))
            DeleteRun(folder_, stem);
    }
}

bool LastKeptRun(const Installation &installation, KeptRun *run, std::string *why)
{
    std::string folder = BackupFolderOf(installation, false, why);
    if (folder.empty()) return false;
    std::vector<std::string> stems = Stems(folder);
    if (stems.empty()) {
        *why = "no run of it is kept in " + folder;
        return false;
    }
    *run = KeptRun();
    run->folder = folder;
    run->stem = stems.back();
    std::string record_path = folder + "/" + run->stem + kRecord, text;
    struct stat st;
    if (!ReadWholeFile(record_path, &text, &st, 64 * 1024, O_NOFOLLOW)) {
        *why = record_path + " cannot be read";
        return false;
    }
    bool has_kept = false, has_written = false;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        std::size_t space = line.find(' ');
        std::string field = line.substr(0, space), value = space == std::string::npos ? "" : line.substr(space + 1);
        if (field == "file") run->file = value;
        else if (field == "time") run->time = value;
        else if (field == "written") has_written = ParseDigest(value, &run->written);
        else if (field == "kept") has_kept = value == "none" || ParseDigest(value, &run->kept);
        if (field == "kept" && value != "none") {
            std::string base = run->file.substr(run->file.find_last_of('\\') + 1);
            run->kept_path = folder + "/" + run->stem + "." + base;
        }
    }
    if (run->file.empty() || !has_kept || !has_written) {
        *why = record_path + " is damaged (it does not say what the run kept and wrote)";
        return false;
    }
    return true;
}

bool ReadKeptFile(const KeptRun &run, std::string *bytes, std::string *why)
{
    struct stat st;
    if (!ReadWholeFile(run.kept_path, bytes, &st, SIZE_MAX, O_NOFOLLOW)) {
        *why = "the kept file " + run.kept_path + " is missing or cannot be read";
        return false;
    }
    if (DigestOf(*bytes) != run.kept) {
        *why = "the kept file " + run.kept_path + " was truncated or changed since the run kept it";
        return false;
    }
    return true;
}

void ForgetKeptRun(const KeptRun &run)
{
    DeleteRun(run.folder, run.stem);
}

}  // namespace host
