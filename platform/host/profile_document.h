// One profile (INI) file held in memory: its sections, keys and values as
// the platform's profile rules read them, and every line as it stands in
// the file, so that writing it back changes only the lines that were
// edited.
//
// Lines are kept in a text arena and addressed by offset; each section has
// an open-addressing index of its keys. A file of a million lines costs a
// few dozen bytes a line beyond its own size, and looking a key up costs a
// hash, not a scan.
#ifndef PFMSETUP_PLATFORM_HOST_PROFILE_DOCUMENT_H
#define PFMSETUP_PLATFORM_HOST_PROFILE_DOCUMENT_H

#include "text_arena.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace host {

// How the file's bytes encode its text. A file without a byte-order mark is
// in the ANSI code page; with one, it is read and written back as UTF-8 or
// UTF-16, as the platform does.
enum class ProfileEncoding : uint8_t { Ansi, Utf8, Utf16Le, Utf16Be };

// White space as the profile rules trim it around names and values.
inline bool IsProfileSpace(unsigned char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r') || c == 0x1A;
}

class ProfileDocument {
public:
    struct KeyValue {
        std::string_view key;
        std::string_view value;
        bool has_value;  // false for a line without '=' (its text is the key)
    };

    ProfileDocument();
    static ProfileDocument Parse(std::string_view bytes);
    // The same, keeping the bytes instead of a copy of them.
    static ProfileDocument ParseOwned(std::string &&bytes);

    // The whole file as it is to be written.
    std::string Serialize() const;
    // The same, handed out in pieces of about 1 MiB (for writing a large
    // file without holding a second copy of it).
    void SerializeTo(const std::function<void(std::string_view)> &sink) const;

    bool Empty() const;
    ProfileEncoding Encoding() const { return encoding_; }

    // Reads. Sections and keys are found by name without the case of ASCII
    // letters, the first of several of the same name; names are trimmed
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

    // Writes, with the platform's placement rules.
    void SetValue(std::string_view section, std::string_view key, std::string_view value);
    bool DeleteKey(std::string_view section, std::string_view key);
    bool DeleteSection(std::string_view section);

private:
    enum LineKind : uint8_t { kBlank, kBare, kEntry, kHeader };
    enum LineEnd : uint8_t { kEndNone, kEndCrLf, kEndLf, kEndCr };

    struct Line {
        // Offset of the line's text in the arena. In an encoded file the text
        // of a line as read is preceded there by where its original bytes
        // lie in raw_ (offset and length, 32 bits each).
        uint32_t text = 0;
        uint32_t length = 0;     // its length, without the line end
        uint32_t key_begin = 0;  // name: relative to the text
        uint32_t key_length = 0;
        uint32_t value_begin = 0;  // value: relative to the text
        uint32_t value_length = 0;
        LineKind kind = kBlank;
        LineEnd end = kEndNone;
        bool dead = false;
        bool edited = false;     // text differs from the original bytes
        bool indexed = false;    // the key index answers this line for its name
    };

    struct Section {
        Line header;             // kind kHeader, or kBlank for the lines before the first header
        bool has_header = false;
        bool dead = false;
        std::vector<Line> lines;
        std::vector<uint64_t> slots;  // key index: name hash and line number + 1 (0 free)
        uint32_t used_slots = 0;
        // The line after the one found last: the same key is written again
        // and again (a count), and keys are mostly read in the order of the
        // file.
        mutable uint32_t next_hint = 0;
        // A name that a deletion found absent (the same key is deleted for
        // every font), until a line of its hash is added.
        std::string absent_name;
        uint32_t absent_hash = 0;
        bool absent_known = false;
    };

    std::string_view TextOf(const Line &line) const;
    std::string_view KeyOf(const Line &line) const;
    std::string_view ValueOf(const Line &line) const;
    std::string_view SectionNameOf(const Section &section) const;

    // A line of the given text, placed at the arena's end and classified.
    Line MakeLine(std::string_view text, LineEnd end);
    // Gives a line the text "key=value": over its old text where `reuse`
    // and the new text fits, else at the arena's end.
    void SetEntryText(Line &line, std::string_view key, std::string_view value, bool reuse);
    void Classify(Line &line) const;
    void AddParsedLine(std::string_view text, uint32_t raw, uint32_t raw_length, LineEnd end);
    void PlaceLine(const Line &line);

    const Section *FindSection(std::string_view name, bool trim) const;
    Section *FindSection(std::string_view name);
    // The live sections of a name, in file order; null when there are none.
    const std::vector<uint32_t> *SectionsNamed(std::string_view name, bool trim) const;
    void IndexSectionName(uint32_t index);

    // Key index of one section. FindLine gives the line of a name, or -1;
    // when it had to hash the name, the hash goes to *hash for the line
    // that may be added next.
    long FindLine(const Section &section, std::string_view key, uint32_t *hash = nullptr) const;
    void IndexLine(Section &section, uint32_t line_number);
    void IndexLine(Section &section, uint32_t line_number, uint32_t hash);
    void UnindexLine(Section &section, uint32_t line_number);
    void GrowIndex(Section &section);
    void InsertSlot(Section &section, uint32_t line_number, uint32_t hash);

    void EndLastLine();
    void EmitLine(const Line &line, std::string &out) const;

    ProfileEncoding encoding_ = ProfileEncoding::Ansi;
    std::string bom_;
    TextArena arena_;    // texts in code page 1252
    std::string raw_;    // original bytes of an encoded file
    std::vector<Section> sections_;
    // Folded section name -> the sections of that name, in file order.
    std::unordered_map<std::string, std::vector<uint32_t>> section_index_;
    // The last section look-up and its answer.
    mutable std::string memo_name_;
    mutable const std::vector<uint32_t> *memo_sections_ = nullptr;
    mutable bool memo_trim_ = false;
    mutable bool memo_valid_ = false;
};

}  // namespace host

#endif
