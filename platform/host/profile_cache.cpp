#include "profile_cache.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <unordered_map>

namespace host {
namespace {

struct CachedProfile {
    FileStamp stamp;
    std::shared_ptr<const ProfileDocument> document;
};

std::unordered_map<std::string, CachedProfile> &Cache()
{
    static std::unordered_map<std::string, CachedProfile> cache;
    return cache;
}

}  // namespace

FileStamp StampOf(const struct stat &st)
{
    FileStamp s;
    s.device = st.st_dev;
    s.inode = st.st_ino;
    s.size = st.st_size;
    s.mtime_ns = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    return s;
}

bool ReadWholeFile(const std::string &unix_path, std::string *out, struct stat *st)
{
    int fd = open(unix_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = fstat(fd, st) == 0 && S_ISREG(st->st_mode);
    out->clear();
    if (ok && st->st_size > 0) out->reserve(static_cast<std::size_t>(st->st_size));
    char buffer[1 << 16];
    while (ok) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        out->append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    return ok;
}

std::shared_ptr<const ProfileDocument> LoadProfile(const std::string &unix_path)
{
    auto &cache = Cache();
    struct stat st;
    if (stat(unix_path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        cache.erase(unix_path);
        return nullptr;
    }
    auto it = cache.find(unix_path);
    if (it != cache.end() && it->second.stamp == StampOf(st)) return it->second.document;

    std::string bytes;
    if (!ReadWholeFile(unix_path, &bytes, &st)) {
        cache.erase(unix_path);
        return nullptr;
    }
    CachedProfile entry;
    entry.stamp = StampOf(st);
    entry.document = std::make_shared<const ProfileDocument>(ProfileDocument::Parse(bytes));
    auto document = entry.document;
    cache[unix_path] = std::move(entry);
    return document;
}

void ForgetProfiles()
{
    Cache().clear();
}

}  // namespace host
