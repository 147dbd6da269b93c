// Bytes as hex digits ("41 42 "), for test messages about texts in code
// pages that the terminal may not show.
#ifndef PFMSETUP_TESTS_HEX_TEXT_H
#define PFMSETUP_TESTS_HEX_TEXT_H

#include <string>
#include <string_view>

namespace pfmtest {

inline std::string Hex(std::string_view bytes)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
        out += ' ';
    }
    return out;
}

}  // namespace pfmtest

#endif
