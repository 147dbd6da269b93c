// One line of a profile file as the profile model keeps it, the white space
// of the profile rules, and the rule by which a file's text is cut into
// lines (stated once here, for the file's bytes as for the units of an
// encoded file).
#ifndef PFMSETUP_PLATFORM_HOST_PROFILE_LINE_H
#define PFMSETUP_PLATFORM_HOST_PROFILE_LINE_H

#include "platform/host/profile/line_arena.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace host {

// White space as the profile rules trim it around names and values.
inline bool IsProfileSpace(unsigned char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r') || c == 0x1A;
}

inline std::string_view TrimProfileSpace(std::string_view text)
{
    std::size_t b = 0;
    std::size_t e = text.size();
    while (b < e && IsProfileSpace(static_cast<unsigned char>(text[b]))) ++b;
    while (e > b && IsProfileSpace(static_cast<unsigned char>(text[e - 1]))) --e;
    return text.substr(b, e - b);
}

struct ProfileLine {
    enum Kind : uint8_t { kBlank, kBare, kEntry, kHeader };
    enum End : uint8_t { kEndNone, kEndCrLf, kEndLf, kEndCr };

    // Offset of the line's text in the arena. In an encoded file the text
    // of a line as read is preceded there by where its original bytes lie
    // (offset and length, 32 bits each).
    uint32_t text = 0;
    uint32_t length = 0;     // its length, without the line end
    uint32_t key_begin = 0;  // name (a header's: between the brackets), relative to the text
    uint32_t key_length = 0;
    uint32_t value_begin = 0;  // value: relative to the text
    uint32_t value_length = 0;
    Kind kind = kBlank;
    End end = kEndNone;
    bool dead = false;
    bool edited = false;   // text differs from the original bytes
    bool indexed = false;  // the key index answers this line for its name (ProfileKeyIndex keeps it)
};

inline std::string_view LineText(const TextArena &arena, const ProfileLine &line)
{
    return arena.View(line.text, line.length);
}

inline std::string_view LineName(const TextArena &arena, const ProfileLine &line)
{
    return arena.View(line.text + line.key_begin, line.key_length);
}

inline std::string_view LineValue(const TextArena &arena, const ProfileLine &line)
{
    return arena.View(line.text + line.value_begin, line.value_length);
}

// Cuts `count` units into lines, as the platform reads a profile: a line
// ends at CR LF, at LF, or at a CR not followed by LF; the last line may
// have no end; an empty text has no lines. `unit_at(i)` gives unit i (a
// byte, or a UTF-16 unit); `line(start, length, end)` receives each line's
// first unit and length in units, without its end, in order.
template <class UnitAt, class Take>
void SplitProfileLines(std::size_t count, UnitAt unit_at, Take line)
{
    std::size_t start = 0;
    while (start < count) {
        std::size_t i = start;
        while (i < count && unit_at(i) != '\n' && unit_at(i) != '\r') ++i;
        ProfileLine::End end = ProfileLine::kEndNone;
        std::size_t next = i;
        if (i < count && unit_at(i) == '\r' && i + 1 < count && unit_at(i + 1) == '\n') {
            end = ProfileLine::kEndCrLf;
            next = i + 2;
        } else if (i < count && unit_at(i) == '\r') {
            end = ProfileLine::kEndCr;
            next = i + 1;
        } else if (i < count) {
            end = ProfileLine::kEndLf;
            next = i + 1;
        }
        line(start, i - start, end);
        start = next;
    }
}

}  // namespace host

#endif
