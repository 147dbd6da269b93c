// One profile (INI) file held in memory: its sections, keys and values as
// the platform's profile rules read them, and every line as it stands in
// the file, so that writing it back changes only the lines that were
// edited.
//
// Lines are kept in a text arena and addressed by offset; each section has
// an index of its keys (key_index.h), the sections one of their
// names (section_index.h). A file of a million lines costs a few
// dozen bytes a line beyond its own size, and looking a key up costs a
// hash, not a scan. The rules themselves are in document.cpp.
#ifndef PFMSETUP_PLATFORM_HOST_PROFILE_DOCUMENT_H
#define PFMSETUP_PLATFORM_HOST_PROFILE_DOCUMENT_H

#include "platform/host/profile/dialect.h"
#include "platform/host/profile/key_index.h"
#include "platform/host/profile/line.h"
#include "platform/host/profile/section_index.h"
#include "platform/host/profile/line_arena.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace host {

// How the file's bytes encode its text. A file without a byte-order mark is
// in the ANSI code page; with one, it is read and written back as UTF-8 or
// UTF-16, as the platform does.
enum class ProfileEncoding : uint8_t { Ansi, Utf8, Utf16Le, Utf16Be };

class ProfileDocument {
public:
    struct KeyValue {
        std::string_view key;
        std::string_view value;
        bool has_value;  // false for a line without '=' (its text is the key)
    };

    // A document whose names are written in a code page of the lead bytes
    // `names` (none: a single-byte code page). A file with a byte-order
    // mark has its texts in code page 1252, whatever `names` says.
    explicit ProfileDocument(const LeadBytes &names = LeadBytes());
    static ProfileDocument Parse(std::string_view bytes, const LeadBytes &names = LeadBytes());
    // The same, keeping the bytes instead of a copy of them.
    static ProfileDocument ParseOwned(std::string &&bytes, const LeadBytes &names = LeadBytes());

    // The whole file as it is to be written.
    std::string Serialize() const;
    // The same, handed out in pieces of about 1 MiB (for writing a large
    // file without holding a second copy of it).
    void SerializeTo(const std::function<void(std::string_view)> &sink) const;

    bool Empty() const;
    ProfileEncoding Encoding() const { return encoding_; }

    // Reads. Sections and keys are found by name without the case of ASCII
    // letters (the second byte of a double-byte character is no letter), the first of several of the same name; names are trimmed
    // before the search. The lines before the first header form the
    // section "".
    bool HasSection(std::string_view section) const;
    // The value of a key; false when the section or key is absent. A line
    // without '=' is found as a key with no value (has_value false).
    bool FindKey(std::string_view section, std::string_view key, KeyValue *out) const;
    // Every line of a section that is not blank, in order. The platform
    // trims the name it is given for a key but not for a whole section.
    std::vector<KeyValue> SectionLines(std::string_view section, bool trim_name) const;
    // Every section's name, in order (the lines before the first section
    // form no named section).
    std::vector<std::string_view> SectionNames() const;

    // Writes, with the platform's placement rules and those of `dialect`
    // where the family it names differs.
    void FollowDialect(const ProfileDialect &dialect)
    {
        blank_line_before_new_section_ = dialect.blank_line_before_new_section;
    }
    void SetValue(std::string_view section, std::string_view key, std::string_view value);
    bool DeleteKey(std::string_view section, std::string_view key);
    bool DeleteSection(std::string_view section);

private:
    using Line = ProfileLine;

    struct Section {
        Line header;             // kind kHeader, or kBlank for the lines before the first header
        bool has_header = false;
        bool dead = false;
        std::vector<Line> lines;
        ProfileKeyIndex keys;
    };

    std::string_view TextOf(const Line &line) const { return LineText(arena_, line); }
    std::string_view KeyOf(const Line &line) const { return LineName(arena_, line); }
    std::string_view ValueOf(const Line &line) const { return LineValue(arena_, line); }

    void Classify(Line &line) const;
    void PlaceLine(const Line &line);
    void AddEncodedLine(std::string_view text, uint32_t raw, uint32_t raw_length, Line::End end);
    // A line of the given text, placed at the arena's end and classified.
    Line MakeLine(std::string_view text, Line::End end);
    // Gives a line the text "key=value": over its old text where `reuse`
    // and the new text fits, else at the arena's end.
    void SetEntryText(Line &line, std::string_view key, std::string_view value, bool reuse);
    // The file's last line, and the section that holds it; null when the
    // file has no line.
    Line *LastLine(Section **holder);
    void EndLastLine();
    Section *AddSection(std::string_view name);

    const Section *FindSection(std::string_view name, bool trim) const;
    Section *FindSection(std::string_view name);

    void EmitLine(const Line &line, std::string &out) const;

    LeadBytes names_;
    ProfileEncoding encoding_ = ProfileEncoding::Ansi;
    std::string bom_;
    TextArena arena_;    // texts in code page 1252
    std::string raw_;    // original bytes of an encoded file
    std::vector<Section> sections_;
    ProfileSectionIndex section_index_;
    bool blank_line_before_new_section_ = false;
};

}  // namespace host

#endif
