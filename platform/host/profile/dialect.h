// Where one Windows family reads and writes profile files otherwise than
// another. The profile rules are the same for every installation; the
// installation knows which family it is, and hands these few rules down
// to the documents it writes and to the operations that read them.
#ifndef PFMSETUP_PLATFORM_HOST_PROFILE_DIALECT_H
#define PFMSETUP_PLATFORM_HOST_PROFILE_DIALECT_H

#include <cstddef>

namespace host {

struct ProfileDialect {
    // An integer whose text starts with '+' reads as 0: the sign is no
    // part of a number.
    bool plus_sign_reads_as_zero = false;
    // A section that a write adds is parted from the line before it by a
    // blank line, unless it is the file's first line or that line is blank.
    bool blank_line_before_new_section = false;
    // The largest file, in bytes, that the family reads whole; a larger one
    // is never written. 0: no limit.
    std::size_t largest_file = 0;
};

}  // namespace host

#endif
