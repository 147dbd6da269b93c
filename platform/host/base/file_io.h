// Whole-file reads and writes on host files, retried over interrupted
// system calls.
#ifndef PFMSETUP_PLATFORM_HOST_BASE_FILE_IO_H
#define PFMSETUP_PLATFORM_HOST_BASE_FILE_IO_H

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace host {

// Reads a regular file into `out`, at most `limit` bytes of it (the rest
// is left unread), and its status into `st`; false when it cannot be
// opened or read or is not a regular file. `open_flags` are added to
// O_RDONLY (O_NOFOLLOW, say).
bool ReadWholeFile(const std::string &path, std::string *out, struct stat *st, std::size_t limit = SIZE_MAX,
                   int open_flags = 0);

// Writes all of `data`; false at the first write that fails.
bool WriteAll(int fd, std::string_view data);

}  // namespace host

#endif
