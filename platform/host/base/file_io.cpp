#include "platform/host/base/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace host {

bool ReadWholeFile(const std::string &path, std::string *out, struct stat *st, std::size_t limit, int open_flags)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | open_flags);
    if (fd < 0) return false;
    // Closed however the read ends, also when memory runs out.
    struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } closer{fd};
    bool ok = fstat(fd, st) == 0 && S_ISREG(st->st_mode);
    out->clear();
    if (ok && st->st_size > 0) out->reserve(std::min(limit, static_cast<std::size_t>(st->st_size)));
    char buffer[1 << 16];
    while (ok && out->size() < limit) {
        ssize_t n = read(fd, buffer, std::min(sizeof buffer, limit - out->size()));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        out->append(buffer, static_cast<std::size_t>(n));
    }
    return ok;
}

bool WriteAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        ssize_t n = write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace host
