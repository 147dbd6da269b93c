#include "profile_document.h"

#include "codepage.h"

#include <cstring>

namespace host {
namespace {

const uint32_t kTomb = 0xFFFFFFFFu;

// Profile names compare without the case of ASCII letters only: the
// platform keeps "\xC4rger" and "\xE4rger" apart.
unsigned char FoldAscii(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c;
}

std::string FoldNames(std::string_view text)
{
    std::string out(text);
    for (char &c : out) c = static_cast<char>(FoldAscii(static_cast<unsigned char>(c)));
    return out;
}

// The folded name for a look-up in the section index, in a buffer kept
// between calls: a look-up happens for every read and write, and a fresh
// string each time would cost an allocation for most port sections.
const std::string &FoldedForLookup(std::string_view text)
{
    thread_local std::string folded;
    folded.assign(text.data(), text.size());
    for (char &c : folded) c = static_cast<char>(FoldAscii(static_cast<unsigned char>(c)));
    return folded;
}

// Up to eight bytes of a name as one word, with the ASCII capitals made
// small: a byte gets 0x20 added when its value lies in 'A'..'Z'.
uint64_t FoldWord(uint64_t x)
{
    const uint64_t low7 = 0x7F7F7F7F7F7F7F7Full;
    uint64_t heptets = x & low7;
    uint64_t from_a = heptets + 0x3F3F3F3F3F3F3F3Full;  // high bit set from 'A' (0x41) on
    uint64_t past_z = heptets + 0x2525252525252525ull;  // high bit set from '[' (0x5B) on
    uint64_t capitals = from_a & ~past_z & ~x & 0x8080808080808080ull;
    return x | (capitals >> 2);
}

uint64_t FoldedWord(const char *p)
{
    uint64_t x;
    std::memcpy(&x, p, 8);
    return FoldWord(x);
}

// A name shorter than a word, gathered byte by byte (a copy into a word
// would be read back before the store could forward to it).
uint64_t ShortWord(const char *p, std::size_t n)
{
    uint64_t x = 0;
    for (std::size_t i = 0; i < n; ++i) x |= static_cast<uint64_t>(static_cast<unsigned char>(p[i])) << (8 * i);
    return x;
}

uint64_t FoldedShort(const char *p, std::size_t n)
{
    return FoldWord(ShortWord(p, n));
}

// Four bytes of a name, folded as above.
uint32_t FoldedQuarter(const char *p)
{
    uint32_t x;
    std::memcpy(&x, p, 4);
    uint32_t heptets = x & 0x7F7F7F7Fu;
    uint32_t capitals = (heptets + 0x3F3F3F3Fu) & ~(heptets + 0x25252525u) & ~x & 0x80808080u;
    return x | (capitals >> 2);
}

// Names of eight bytes or more are taken as whole words, the last one
// ending with the name (it may overlap the one before it); names of four
// to seven bytes as two overlapping quarters.
bool SameName(std::string_view a, std::string_view b)
{
    std::size_t n = a.size();
    if (n != b.size()) return false;
    if (n < 8) {
        if (n < 4) return FoldedShort(a.data(), n) == FoldedShort(b.data(), n);
        return FoldedQuarter(a.data()) == FoldedQuarter(b.data()) &&
               FoldedQuarter(a.data() + n - 4) == FoldedQuarter(b.data() + n - 4);
    }
    // The last word first: numbered names (softfont1, softfont2, ...)
    // differ at their end.
    if (FoldedWord(a.data() + n - 8) != FoldedWord(b.data() + n - 8)) return false;
    for (std::size_t i = 0; i + 8 < n; i += 8) {
        if (FoldedWord(a.data() + i) != FoldedWord(b.data() + i)) return false;
    }
    return true;
}

// The hash of a name for a section's key index. Names that differ only in
// a trailing number (softfont1, softfont2, ...) land a cache line apart, in
// the order of their numbers: reading or writing such keys in order then
// walks the index forward instead of touching a new place of it each time.
uint32_t HashNoCase(std::string_view text)
{
    // The trailing number (at most nine digits), read from the end.
    std::size_t stem = text.size();
    uint32_t number = 0;
    uint32_t scale = 1;
    while (stem > 0 && text.size() - stem < 9) {
        uint32_t digit = static_cast<uint32_t>(static_cast<unsigned char>(text[stem - 1])) - '0';
        if (digit > 9) break;
        number += digit * scale;
        scale *= 10;
        --stem;
    }
    // The number of digits counts too: "a01" and "a1" are different names.
    uint64_t h = 0x9E3779B97F4A7C15ull ^ (stem << 8) ^ (text.size() - stem);
    auto mix = [&h](uint64_t word) {
        h = (h ^ word) * 0xFF51AFD7ED558CCDull;
        h ^= h >> 32;
    };
    // Setting 0x20 in every byte gives a letter's two cases one hash; the
    // few other bytes it pairs up are told apart by the name's comparison.
    const uint64_t kCaseBits = 0x2020202020202020ull;
    if (stem < 8) {
        mix(ShortWord(text.data(), stem) | kCaseBits);
    } else {
        for (std::size_t i = 0; i + 8 < stem; i += 8) {
            uint64_t word;
            std::memcpy(&word, text.data() + i, 8);
            mix(word | kCaseBits);
        }
        uint64_t word;
        std::memcpy(&word, text.data() + stem - 8, 8);
        mix(word | kCaseBits);
    }
    h *= 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 29;
    return static_cast<uint32_t>(h >> 32) + number * 8;  // 8 slots of the index fill one cache line
}

// A NUL inside a name or value ends it, as it ends the platform's string.
uint32_t UpToNul(std::string_view text, uint32_t begin, uint32_t length)
{
    std::size_t nul = text.substr(begin, length).find('\0');
    return nul == std::string_view::npos ? length : static_cast<uint32_t>(nul);
}

std::string_view Trim(std::string_view text)
{
    std::size_t b = 0;
    std::size_t e = text.size();
    while (b < e && IsProfileSpace(static_cast<unsigned char>(text[b]))) ++b;
    while (e > b && IsProfileSpace(static_cast<unsigned char>(text[e - 1]))) --e;
    return text.substr(b, e - b);
}

void AppendEncoded(std::string &out, std::string_view ansi, ProfileEncoding encoding)
{
    switch (encoding) {
    case ProfileEncoding::Ansi:
        out.append(ansi);
        break;
    case ProfileEncoding::Utf8:
        for (char c : ansi) AppendUtf8(out, Cp1252ToUnicode(static_cast<unsigned char>(c)));
        break;
    case ProfileEncoding::Utf16Le:
    case ProfileEncoding::Utf16Be:
        for (char c : ansi) {
            char32_t u = Cp1252ToUnicode(static_cast<unsigned char>(c));
            char hi = static_cast<char>(u >> 8);
            char lo = static_cast<char>(u & 0xFF);
            if (encoding == ProfileEncoding::Utf16Le) {
                out += lo;
                out += hi;
            } else {
                out += hi;
                out += lo;
            }
        }
        break;
    }
}

}  // namespace

ProfileDocument::ProfileDocument()
{
    // The lines before the first header form a section without a name.
    sections_.emplace_back();
    section_index_[std::string()].push_back(0);
}

ProfileDocument ProfileDocument::Parse(std::string_view bytes)
{
    return ParseOwned(std::string(bytes));
}

ProfileDocument ProfileDocument::ParseOwned(std::string &&file)
{
    ProfileDocument doc;
    std::string_view bytes = file;
    const unsigned char *b = reinterpret_cast<const unsigned char *>(bytes.data());
    std::size_t n = bytes.size();
    if (n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
        doc.encoding_ = ProfileEncoding::Utf8;
        doc.bom_.assign(bytes.substr(0, 3));
    } else if (n >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
        doc.encoding_ = ProfileEncoding::Utf16Le;
        doc.bom_.assign(bytes.substr(0, 2));
    } else if (n >= 2 && b[0] == 0xFE && b[1] == 0xFF) {
        doc.encoding_ = ProfileEncoding::Utf16Be;
        doc.bom_.assign(bytes.substr(0, 2));
    }

    if (doc.encoding_ == ProfileEncoding::Ansi) {
        uint32_t base = doc.arena_.Adopt(std::move(file));
        bytes = doc.arena_.View(base, static_cast<uint32_t>(n));
        b = reinterpret_cast<const unsigned char *>(bytes.data());
        std::size_t start = 0;
        while (start < n) {
            std::size_t i = start;
            while (i < n && b[i] != '\n' && b[i] != '\r') ++i;
            LineEnd end = kEndNone;
            std::size_t next = i;
            if (i < n && b[i] == '\r' && i + 1 < n && b[i + 1] == '\n') {
                end = kEndCrLf;
                next = i + 2;
            } else if (i < n && b[i] == '\r') {
                end = kEndCr;
                next = i + 1;
            } else if (i < n) {
                end = kEndLf;
                next = i + 1;
            }
            Line line;
            line.text = base + static_cast<uint32_t>(start);
            line.length = static_cast<uint32_t>(i - start);
            line.end = end;
            doc.Classify(line);
            doc.PlaceLine(line);
            start = next;
        }
        return doc;
    }

    // Encoded files: keep the original bytes for the lines left alone and the
    // text in code page 1252 for the rules.
    std::size_t offset = doc.bom_.size();
    doc.raw_.assign(bytes.substr(offset));
    const unsigned char *r = reinterpret_cast<const unsigned char *>(doc.raw_.data());
    std::size_t rn = doc.raw_.size();
    std::size_t unit = doc.encoding_ == ProfileEncoding::Utf8 ? 1 : 2;
    if (unit == 2) rn &= ~static_cast<std::size_t>(1);
    auto unit_at = [&](std::size_t i) -> uint32_t {
        if (unit == 1) return r[i];
        return doc.encoding_ == ProfileEncoding::Utf16Le ? (uint32_t(r[i + 1]) << 8 | r[i])
                                                          : (uint32_t(r[i]) << 8 | r[i + 1]);
    };
    std::size_t start = 0;
    while (start < rn) {
        std::size_t i = start;
        while (i < rn && unit_at(i) != '\n' && unit_at(i) != '\r') i += unit;
        LineEnd end = kEndNone;
        std::size_t next = i;
        if (i < rn && unit_at(i) == '\r' && i + unit < rn && unit_at(i + unit) == '\n') {
            end = kEndCrLf;
            next = i + 2 * unit;
        } else if (i < rn && unit_at(i) == '\r') {
            end = kEndCr;
            next = i + unit;
        } else if (i < rn) {
            end = kEndLf;
            next = i + unit;
        }
        std::string text = unit == 1 ? Utf8ToCp1252(std::string_view(doc.raw_).substr(start, i - start))
                                     : Utf16ToCp1252(r + start, i - start,
                                                     doc.encoding_ == ProfileEncoding::Utf16Be);
        doc.AddParsedLine(text, static_cast<uint32_t>(start), static_cast<uint32_t>(i - start), end);
        start = next;
    }
    return doc;
}

void ProfileDocument::AddParsedLine(std::string_view text, uint32_t raw, uint32_t raw_length, LineEnd end)
{
    uint32_t offset;
    char *at = arena_.Reserve(8 + text.size(), &offset);
    std::memcpy(at, &raw, 4);
    std::memcpy(at + 4, &raw_length, 4);
    if (!text.empty()) std::memcpy(at + 8, text.data(), text.size());
    Line line;
    line.text = offset + 8;
    line.length = static_cast<uint32_t>(text.size());
    line.end = end;
    Classify(line);
    PlaceLine(line);
}

void ProfileDocument::PlaceLine(const Line &line)
{
    if (line.kind == kHeader) {
        Section s;
        s.header = line;
        s.has_header = true;
        sections_.push_back(std::move(s));
        IndexSectionName(static_cast<uint32_t>(sections_.size() - 1));
        return;
    }
    Section &s = sections_.back();
    s.lines.push_back(line);
    if (line.kind != kBlank) IndexLine(s, static_cast<uint32_t>(s.lines.size() - 1));
}

void ProfileDocument::Classify(Line &line) const
{
    std::string_view t = TextOf(line);
    std::size_t p = 0;
    while (p < t.size() && IsProfileSpace(static_cast<unsigned char>(t[p]))) ++p;
    line.kind = kBlank;
    line.key_begin = line.key_length = line.value_begin = line.value_length = 0;
    if (p == t.size()) return;
    if (t[p] == '[') {
        std::size_t close = t.rfind(']');
        if (close != std::string_view::npos && close > p) {
            // The name between the brackets, trimmed; text after ']' is ignored.
            std::size_t b = p + 1;
            std::size_t e = close;
            while (b < e && IsProfileSpace(static_cast<unsigned char>(t[b]))) ++b;
            while (e > b && IsProfileSpace(static_cast<unsigned char>(t[e - 1]))) --e;
            line.kind = kHeader;
            line.key_begin = static_cast<uint32_t>(b);
            line.key_length = UpToNul(t, line.key_begin, static_cast<uint32_t>(e - b));
            return;
        }
    }
    std::size_t e = t.size();
    while (e > p && IsProfileSpace(static_cast<unsigned char>(t[e - 1]))) --e;
    std::size_t eq = t.substr(0, e).find('=', p);
    if (eq == std::string_view::npos) {
        line.kind = kBare;
        line.key_begin = static_cast<uint32_t>(p);
        line.key_length = UpToNul(t, line.key_begin, static_cast<uint32_t>(e - p));
        return;
    }
    std::size_t ke = eq;
    while (ke > p && IsProfileSpace(static_cast<unsigned char>(t[ke - 1]))) --ke;
    std::size_t vb = eq + 1;
    while (vb < e && IsProfileSpace(static_cast<unsigned char>(t[vb]))) ++vb;
    line.kind = kEntry;
    line.key_begin = static_cast<uint32_t>(p);
    line.key_length = UpToNul(t, line.key_begin, static_cast<uint32_t>(ke - p));
    line.value_begin = static_cast<uint32_t>(vb);
    line.value_length = UpToNul(t, line.value_begin, static_cast<uint32_t>(e - vb));
}

std::string_view ProfileDocument::TextOf(const Line &line) const
{
    return arena_.View(line.text, line.length);
}

std::string_view ProfileDocument::KeyOf(const Line &line) const
{
    return TextOf(line).substr(line.key_begin, line.key_length);
}

std::string_view ProfileDocument::ValueOf(const Line &line) const
{
    return TextOf(line).substr(line.value_begin, line.value_length);
}

std::string_view ProfileDocument::SectionNameOf(const Section &section) const
{
    return KeyOf(section.header);
}

void ProfileDocument::IndexSectionName(uint32_t index)
{
    memo_valid_ = false;
    section_index_[FoldNames(SectionNameOf(sections_[index]))].push_back(index);
}

const std::vector<uint32_t> *ProfileDocument::SectionsNamed(std::string_view name, bool trim) const
{
    // The same section is looked up again and again (every soft font reads
    // and writes it): the last answer is kept until the sections change.
    if (memo_valid_ && memo_trim_ == trim && name == memo_name_) return memo_sections_;
    auto it = section_index_.find(FoldedForLookup(trim ? Trim(name) : name));
    const std::vector<uint32_t> *found = it == section_index_.end() || it->second.empty() ? nullptr : &it->second;
    memo_name_.assign(name.data(), name.size());
    memo_trim_ = trim;
    memo_sections_ = found;
    memo_valid_ = true;
    return found;
}

const ProfileDocument::Section *ProfileDocument::FindSection(std::string_view name, bool trim) const
{
    const std::vector<uint32_t> *named = SectionsNamed(name, trim);
    return named ? &sections_[named->front()] : nullptr;
}

ProfileDocument::Section *ProfileDocument::FindSection(std::string_view name)
{
    const std::vector<uint32_t> *named = SectionsNamed(name, true);
    return named ? &sections_[named->front()] : nullptr;
}

// A slot of a section's key index holds the line's number + 1 in its low
// half (0 for a free slot, kTomb for a deleted one) and the hash of its
// name in the high half, so that a probe compares names only where the
// hashes agree.
namespace {

uint32_t LineOfSlot(uint64_t slot) { return static_cast<uint32_t>(slot); }
uint32_t HashOfSlot(uint64_t slot) { return static_cast<uint32_t>(slot >> 32); }
uint64_t MakeSlot(uint32_t hash, uint32_t line) { return (static_cast<uint64_t>(hash) << 32) | line; }

}  // namespace

long ProfileDocument::FindLine(const Section &section, std::string_view key, uint32_t *hash_out) const
{
    // The line found last and the one after it are tried first: a count is
    // written for every font, and keys are mostly read in the order of the
    // file (softfont1, softfont2, ...). A line that the index answers for
    // its name is the first of that name, so finding it there gives the
    // index's answer without a probe.
    uint32_t next = section.next_hint;
    for (uint32_t n = next > 0 ? next - 1 : 0; n <= next && n < section.lines.size(); ++n) {
        const Line &l = section.lines[n];
        if (l.indexed && l.key_length == key.size() && SameName(KeyOf(l), key)) {
            section.next_hint = n + 1;
            return static_cast<long>(n);
        }
    }
    uint32_t hash = HashNoCase(key);
    if (hash_out) *hash_out = hash;
    if (section.slots.empty()) return -1;
    std::size_t mask = section.slots.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        uint64_t slot = section.slots[i];
        uint32_t line = LineOfSlot(slot);
        if (line == 0) return -1;
        if (line != kTomb && HashOfSlot(slot) == hash && SameName(KeyOf(section.lines[line - 1]), key)) {
            section.next_hint = line;
            return static_cast<long>(line - 1);
        }
    }
}

void ProfileDocument::GrowIndex(Section &section)
{
    // Twice the live names, at least: the index is at most half full, and a
    // lookup of an absent name (every new key) stays short. The names are
    // unique in the old index and keep their hashes.
    std::vector<uint64_t> old;
    old.swap(section.slots);
    std::size_t live = 0;
    for (uint64_t slot : old) {
        uint32_t line = LineOfSlot(slot);
        if (line != 0 && line != kTomb) ++live;
    }
    std::size_t size = 16;
    while (size < 2 * (live + 1)) size *= 2;
    section.slots.assign(size, 0);
    section.used_slots = static_cast<uint32_t>(live);
    std::size_t mask = size - 1;
    for (uint64_t slot : old) {
        uint32_t line = LineOfSlot(slot);
        if (line == 0 || line == kTomb) continue;
        std::size_t i = HashOfSlot(slot) & mask;
        while (section.slots[i] != 0) i = (i + 1) & mask;
        section.slots[i] = slot;
    }
}

void ProfileDocument::InsertSlot(Section &section, uint32_t n, uint32_t hash)
{
    std::string_view key = KeyOf(section.lines[n]);
    std::size_t mask = section.slots.size() - 1;
    std::size_t free_at = section.slots.size();
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        uint64_t slot = section.slots[i];
        uint32_t line = LineOfSlot(slot);
        if (line == kTomb) {
            if (free_at == section.slots.size()) free_at = i;
            continue;
        }
        if (line == 0) {
            if (free_at == section.slots.size()) {
                free_at = i;
                ++section.used_slots;
            }
            break;
        }
        // The first line of a name wins.
        if (HashOfSlot(slot) == hash && SameName(KeyOf(section.lines[line - 1]), key)) return;
    }
    section.slots[free_at] = MakeSlot(hash, n + 1);
    section.lines[n].indexed = true;
    if (section.absent_known && section.absent_hash == hash) section.absent_known = false;
}

void ProfileDocument::IndexLine(Section &section, uint32_t n)
{
    IndexLine(section, n, HashNoCase(KeyOf(section.lines[n])));
}

void ProfileDocument::IndexLine(Section &section, uint32_t n, uint32_t hash)
{
    if (2 * (section.used_slots + 1) > section.slots.size()) GrowIndex(section);
    InsertSlot(section, n, hash);
}

void ProfileDocument::UnindexLine(Section &section, uint32_t n)
{
    section.lines[n].indexed = false;
    if (section.slots.empty()) return;
    uint32_t hash = HashNoCase(KeyOf(section.lines[n]));
    std::size_t mask = section.slots.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        uint32_t line = LineOfSlot(section.slots[i]);
        if (line == 0) return;
        if (line == n + 1) {
            section.slots[i] = kTomb;
            return;
        }
    }
}

bool ProfileDocument::Empty() const
{
    for (const Section &s : sections_) {
        if (s.dead) continue;
        if (s.has_header) return false;
        for (const Line &l : s.lines) {
            if (!l.dead) return false;
        }
    }
    return true;
}

bool ProfileDocument::HasSection(std::string_view section) const
{
    return FindSection(section, true) != nullptr;
}

bool ProfileDocument::FindKey(std::string_view section, std::string_view key, KeyValue *out) const
{
    const Section *s = FindSection(section, true);
    if (!s) return false;
    key = Trim(key);
    if (key.empty()) return false;  // the platform finds no key by an empty name
    long n = FindLine(*s, key);
    if (n < 0) return false;
    const Line &l = s->lines[static_cast<std::size_t>(n)];
    out->key = KeyOf(l);
    out->value = ValueOf(l);
    out->has_value = l.kind == kEntry;
    return true;
}

std::vector<ProfileDocument::KeyValue> ProfileDocument::SectionLines(std::string_view section,
                                                                      bool trim_name) const
{
    std::vector<KeyValue> out;
    const Section *s = FindSection(section, trim_name);
    if (!s) return out;
    for (const Line &l : s->lines) {
        if (l.dead || l.kind == kBlank) continue;
        out.push_back(KeyValue{KeyOf(l), ValueOf(l), l.kind == kEntry});
    }
    return out;
}

std::vector<std::string_view> ProfileDocument::SectionNames() const
{
    std::vector<std::string_view> out;
    for (const Section &s : sections_) {
        if (!s.dead && s.has_header) out.push_back(SectionNameOf(s));
    }
    return out;
}

ProfileDocument::Line ProfileDocument::MakeLine(std::string_view text, LineEnd end)
{
    Line line;
    line.text = arena_.Append(text);
    line.length = static_cast<uint32_t>(text.size());
    line.end = end;
    Classify(line);
    return line;
}

void ProfileDocument::EndLastLine()
{
    for (std::size_t i = sections_.size(); i-- > 0;) {
        Section &s = sections_[i];
        if (s.dead) continue;
        for (std::size_t k = s.lines.size(); k-- > 0;) {
            if (s.lines[k].dead) continue;
            if (s.lines[k].end == kEndNone) s.lines[k].end = kEndCrLf;
            return;
        }
        if (s.has_header) {
            if (s.header.end == kEndNone) s.header.end = kEndCrLf;
            return;
        }
    }
}

void ProfileDocument::SetEntryText(Line &line, std::string_view key, std::string_view value, bool reuse)
{
    std::size_t length = key.size() + 1 + value.size();
    // The value may come from this document's own texts. From another
    // line's it is copied as it is; from this line's, which is about to be
    // written over, it is set aside first.
    std::string aside;
    if (reuse && !value.empty()) {
        const char *old_text = arena_.At(line.text);
        if (value.data() < old_text + line.length && value.data() + value.size() > old_text) {
            aside.assign(value.data(), value.size());
            value = aside;
        }
    }
    char *at;
    if (reuse && length <= line.length) {
        // The old text's place belongs to this line alone: a count rewritten
        // for every font then costs no room at all. The name is the line's
        // own, at the start of its text.
        at = arena_.At(line.text);
        std::memmove(at, key.data(), key.size());
    } else {
        // A line end after the text, where the file written out will have
        // it: lines added one after another then go out in one piece.
        uint32_t offset;
        at = arena_.Reserve(length + 2, &offset);
        std::memcpy(at, key.data(), key.size());
        at[length] = '\r';
        at[length + 1] = '\n';
        line.text = offset;
    }
    at[key.size()] = '=';
    if (!value.empty()) std::memcpy(at + key.size() + 1, value.data(), value.size());
    line.length = static_cast<uint32_t>(length);
    line.edited = true;
    line.kind = kEntry;
    line.key_begin = 0;
    line.key_length = static_cast<uint32_t>(key.size());
    line.value_begin = line.key_length + 1;
    line.value_length = static_cast<uint32_t>(value.size());
}

void ProfileDocument::SetValue(std::string_view section, std::string_view key, std::string_view value)
{
    section = Trim(section);
    key = Trim(key);
    while (!value.empty() && IsProfileSpace(static_cast<unsigned char>(value.front()))) value.remove_prefix(1);

    Section *s = FindSection(section);
    if (!s) {
        EndLastLine();
        std::string header;
        header.reserve(section.size() + 2);
        header += '[';
        header += section;
        header += ']';
        Section fresh;
        fresh.header = MakeLine(header, kEndCrLf);
        fresh.header.edited = true;
        fresh.header.kind = kHeader;
        fresh.header.key_begin = 1;
        fresh.header.key_length = static_cast<uint32_t>(section.size());
        fresh.has_header = true;
        sections_.push_back(std::move(fresh));
        IndexSectionName(static_cast<uint32_t>(sections_.size() - 1));
        s = &sections_.back();
    }

    uint32_t hash = 0;
    long found = FindLine(*s, key, &hash);
    if (found >= 0) {
        Line &l = s->lines[static_cast<std::size_t>(found)];
        if (l.kind == kEntry && ValueOf(l) == value) return;  // no change needed
        // The name keeps its spelling; a line without '=' becomes an entry.
        SetEntryText(l, KeyOf(l), value, true);
        return;
    }

    // After the section's last line that is not blank: blank lines that
    // part it from the next section stay where they are.
    std::size_t at = s->lines.size();
    while (at > 0 && (s->lines[at - 1].dead || s->lines[at - 1].kind == kBlank)) --at;
    if (at > 0) {
        if (s->lines[at - 1].end == kEndNone) s->lines[at - 1].end = kEndCrLf;
    } else if (s->has_header && s->header.end == kEndNone) {
        s->header.end = kEndCrLf;
    }
    if (s->lines.size() == s->lines.capacity()) {
        // A section written key by key grows by fourfold steps: its lines
        // are copied less often, and room not yet written costs no memory.
        s->lines.reserve(4 * s->lines.size() + 16);
    }
    // The new line is made where it goes (a line put together elsewhere and
    // copied in is read back before its fields' stores can reach the copy).
    Line &fresh = at == s->lines.size() ? s->lines.emplace_back()
                                        : *s->lines.emplace(s->lines.begin() + static_cast<long>(at));
    fresh.end = kEndCrLf;
    SetEntryText(fresh, key, value, false);
    IndexLine(*s, static_cast<uint32_t>(at), hash);
}

bool ProfileDocument::DeleteKey(std::string_view section, std::string_view key)
{
    key = Trim(key);
    const std::vector<uint32_t> *named = SectionsNamed(section, true);
    if (!named) return false;
    for (uint32_t si : *named) {
        Section &s = sections_[si];
        if (s.absent_known && SameName(s.absent_name, key)) continue;
        uint32_t hash = 0;
        long found = FindLine(s, key, &hash);
        if (found < 0) {
            s.absent_name.assign(key.data(), key.size());
            s.absent_hash = hash;
            s.absent_known = true;
            continue;
        }
        uint32_t n = static_cast<uint32_t>(found);
        UnindexLine(s, n);
        s.lines[n].dead = true;
        // A later line of the same name is found from now on.
        for (uint32_t k = n + 1; k < s.lines.size(); ++k) {
            const Line &l = s.lines[k];
            if (!l.dead && l.kind != kBlank && SameName(KeyOf(l), key)) {
                IndexLine(s, k);
                break;
            }
        }
        return true;
    }
    return false;
}

bool ProfileDocument::DeleteSection(std::string_view section)
{
    auto it = section_index_.find(FoldedForLookup(Trim(section)));
    if (it == section_index_.end() || it->second.empty()) return false;
    Section &s = sections_[it->second.front()];
    s.dead = true;
    s.lines.clear();
    s.lines.shrink_to_fit();
    s.slots.clear();
    s.slots.shrink_to_fit();
    it->second.erase(it->second.begin());
    if (it->second.empty()) section_index_.erase(it);
    memo_valid_ = false;
    return true;
}

void ProfileDocument::EmitLine(const Line &line, std::string &out) const
{
    if (encoding_ == ProfileEncoding::Ansi) {
        // Most files: the text and its line end as they are.
        static const std::string_view kEnds[] = {"", "\r\n", "\n", "\r"};
        std::string_view end = kEnds[line.end];
        std::size_t at = out.size();
        out.resize(at + line.length + end.size());
        if (line.length) std::memcpy(&out[at], arena_.At(line.text), line.length);
        if (!end.empty()) std::memcpy(&out[at + line.length], end.data(), end.size());
        return;
    }
    if (line.edited) {
        AppendEncoded(out, TextOf(line), encoding_);
    } else {
        uint32_t raw, raw_length;
        std::memcpy(&raw, arena_.At(line.text - 8), 4);
        std::memcpy(&raw_length, arena_.At(line.text - 8) + 4, 4);
        out.append(raw_, raw, raw_length);
    }
    switch (line.end) {
    case kEndNone: break;
    case kEndCrLf: AppendEncoded(out, "\r\n", encoding_); break;
    case kEndLf: AppendEncoded(out, "\n", encoding_); break;
    case kEndCr: AppendEncoded(out, "\r", encoding_); break;
    }
}

void ProfileDocument::SerializeTo(const std::function<void(std::string_view)> &sink) const
{
    static const std::string_view kEnds[] = {"", "\r\n", "\n", "\r"};
    const std::size_t kPiece = 1 << 20;
    // Lines whose text is followed in the arena by their own line end, and
    // which lie one after another there (those of the file as it was read,
    // those added in a row), go out as they lie, in runs; the others are
    // put together in `chunk`. Only one of the two is pending at a time, so
    // the order of the lines is kept.
    std::string chunk;
    chunk += bom_;
    const char *run = nullptr;
    std::size_t run_length = 0;
    auto flush_run = [&] {
        if (run_length) sink(std::string_view(run, run_length));
        run_length = 0;
    };
    auto flush_chunk = [&] {
        if (!chunk.empty()) sink(chunk);
        chunk.clear();
    };
    auto emit = [&](const Line &line) {
        if (encoding_ == ProfileEncoding::Ansi && arena_.Followed(line.text, line.length, kEnds[line.end])) {
            flush_chunk();
            const char *text = arena_.At(line.text);
            std::size_t length = line.length + kEnds[line.end].size();
            if (run_length && run + run_length == text) {
                run_length += length;
            } else {
                flush_run();
                run = text;
                run_length = length;
            }
            return;
        }
        flush_run();
        EmitLine(line, chunk);
        if (chunk.size() >= kPiece) flush_chunk();
    };
    for (const Section &s : sections_) {
        if (s.dead) continue;
        if (s.has_header) emit(s.header);
        for (const Line &l : s.lines) {
            if (!l.dead) emit(l);
        }
    }
    flush_run();
    flush_chunk();
}

std::string ProfileDocument::Serialize() const
{
    std::string out;
    SerializeTo([&out](std::string_view piece) { out.append(piece); });
    return out;
}

}  // namespace host
