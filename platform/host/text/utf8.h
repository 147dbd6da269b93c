// UTF-8, the character set of host file names, Wine's registry files and
// the terminal: one decoder and one encoder for the whole host layer.
#ifndef PFMSETUP_PLATFORM_HOST_TEXT_UTF8_H
#define PFMSETUP_PLATFORM_HOST_TEXT_UTF8_H

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace host {

// Decodes the sequence that starts at `i` (i < s.size()) and moves `i` past
// it. A lead byte of 0xC0-0xDF, 0xE0-0xEF or 0xF0-0xF7 takes one, two or
// three continuation bytes (0x80-0xBF); the value is taken as the bits say,
// without refusing longer forms than needed. Any other byte, or a lead byte
// without all its continuation bytes, is malformed: no result, and `i`
// moves past that one byte only, so that the caller decides what it stands
// for.
std::optional<char32_t> NextUtf8(std::string_view s, std::size_t &i);

// Appends the UTF-8 form of a code point.
void AppendUtf8(std::string &out, char32_t code_point);

}  // namespace host

#endif
