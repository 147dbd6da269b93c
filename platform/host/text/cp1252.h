// Code page 1252, the ANSI code page of most installations the program
// serves, and its conversions to and from Unicode as the platform does them.
// The other code pages, and the choice among them: code_page.h.
#ifndef PFMSETUP_PLATFORM_HOST_TEXT_CP1252_H
#define PFMSETUP_PLATFORM_HOST_TEXT_CP1252_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/host/text/utf8.h"  // AppendUtf8, for the callers that write UTF-8

namespace host {

// The Unicode code point of one byte of code page 1252. The five bytes the
// code page leaves undefined map to the C1 controls of the same value, as
// the platform maps them.
char32_t Cp1252ToUnicode(unsigned char byte);

// The byte of code page 1252 for a code point: its own, else the letter
// that the platform's best-fit table gives (A for U+0100), else '?'.
unsigned char UnicodeToCp1252(char32_t code_point);

// Letter case folded the way the platform compares names without case:
// ASCII and the accented letters of code page 1252 fold to lower case.
unsigned char FoldCase(unsigned char byte);
bool EqualsNoCase(std::string_view a, std::string_view b);

// Whole-text conversions. Malformed UTF-8 bytes become U+FFFD, which has no
// byte in code page 1252 and so reads as '?'.
std::string Utf8ToCp1252(std::string_view utf8);
std::string Cp1252ToUtf8(std::string_view ansi);
std::string Utf16ToCp1252(const unsigned char *data, std::size_t bytes, bool big_endian);
std::u16string Cp1252ToUtf16(std::string_view ansi);

}  // namespace host

#endif
