// The profile model and its rules: how a file is read into lines, what
// each line is, how sections and keys are found, where writes go.
//
// The parts:
//   document.cpp                the rules (this file): parse, classify,
//                               find, set, delete
//   document_write.cpp          the file written out: untouched lines as
//                               they were, in runs, in the file's encoding
//   line.h                      a line's record, profile white space, the
//                               rule that cuts a text into lines
//   key_index.{h,cpp}           speed-up: which line answers a key's name
//                               (hash, hint for the next line, absent name)
//   section_index.{h,cpp}       speed-up: the sections of a name, and
//                               the last look-up kept
//   ascii_fold.{h,cpp}          speed-up: names compared without ASCII case,
//                               eight bytes at a time
//   line_arena.{h,cpp}          the lines' texts, in blocks that never move
//
// The rules, each stated once below:
// - Names (of sections and keys) are trimmed of profile white space and
//   compared without the case of ASCII letters only: the platform keeps
//   "\xC4rger" and "\xE4rger" apart, and in a double-byte code page
//   "\x83\x41" and "\x83\x61" (the second byte of a character is no
//   letter). A NUL in a name or value ends it.
// - The first section of a name is the one read; the first line of a name
//   in it is the key read. The lines before the first header form the
//   section "", which has no name to list.
// - A line is a header ("[name]", text after the last ']' ignored), an
//   entry ("name=value"), a bare line (text without '=', found as a key
//   with no value) or blank.
// - A new key goes after the last line of its section that is not blank; a
//   new section at the end of the file; both with CR LF. Where the
//   installation's family asks for it (dialect.h), a blank line parts a
//   new section from the line before it. A key written
//   again keeps its spelling; a value the same as before changes nothing.
// - Deleting a key deletes its first line in the first section of that
//   name that has it; a later line of the same name is then the key read.
#include "platform/host/profile/document.h"

#include "platform/host/profile/ascii_fold.h"
#include "platform/host/text/cp1252.h"

#include <cstring>

namespace host {
namespace {

// A NUL inside a name or value ends it, as it ends the platform's string.
uint32_t UpToNul(std::string_view text, uint32_t begin, uint32_t length)
{
    std::size_t nul = text.substr(begin, length).find('\0');
    return nul == std::string_view::npos ? length : static_cast<uint32_t>(nul);
}

}  // namespace

ProfileDocument::ProfileDocument(const LeadBytes &names) : names_(names), section_index_(names)
{
    // The lines before the first header form a section without a name.
    sections_.emplace_back();
    section_index_.Add(std::string_view(), 0);
}

ProfileDocument ProfileDocument::Parse(std::string_view bytes, const LeadBytes &names)
{
    return ParseOwned(std::string(bytes), names);
}

ProfileDocument ProfileDocument::ParseOwned(std::string &&file, const LeadBytes &names)
{
    std::string_view bytes = file;
    const unsigned char *b = reinterpret_cast<const unsigned char *>(bytes.data());
    std::size_t n = bytes.size();
    ProfileEncoding encoding = ProfileEncoding::Ansi;
    std::size_t bom = 0;
    if (n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
        encoding = ProfileEncoding::Utf8;
        bom = 3;
    } else if (n >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
        encoding = ProfileEncoding::Utf16Le;
        bom = 2;
    } else if (n >= 2 && b[0] == 0xFE && b[1] == 0xFF) {
        encoding = ProfileEncoding::Utf16Be;
        bom = 2;
    }
    ProfileDocument doc(encoding == ProfileEncoding::Ansi ? names : LeadBytes());
    doc.encoding_ = encoding;
    doc.bom_.assign(bytes.substr(0, bom));

    if (doc.encoding_ == ProfileEncoding::Ansi) {
        // The file's bytes are the lines' texts, taken over as they are.
        uint32_t base = doc.arena_.Adopt(std::move(file));
        const unsigned char *text = reinterpret_cast<const unsigned char *>(doc.arena_.At(base));
        SplitProfileLines(n, [text](std::size_t i) { return text[i]; },
                          [&doc, base](std::size_t start, std::size_t length, Line::End end) {
                              Line line;
                              line.text = base + static_cast<uint32_t>(start);
                              line.length = static_cast<uint32_t>(length);
                              line.end = end;
                              doc.Classify(line);
                              doc.PlaceLine(line);
                          });
        return doc;
    }

    // Encoded files: the original bytes kept for the lines left alone, the
    // text in code page 1252 for the rules.
    doc.raw_.assign(bytes.substr(doc.bom_.size()));
    const unsigned char *r = reinterpret_cast<const unsigned char *>(doc.raw_.data());
    std::size_t unit = doc.encoding_ == ProfileEncoding::Utf8 ? 1 : 2;
    bool big_endian = doc.encoding_ == ProfileEncoding::Utf16Be;
    auto unit_at = [r, unit, big_endian](std::size_t i) -> uint32_t {
        if (unit == 1) return r[i];
        const unsigned char *p = r + 2 * i;
        return big_endian ? (uint32_t(p[0]) << 8 | p[1]) : (uint32_t(p[1]) << 8 | p[0]);
    };
    SplitProfileLines(doc.raw_.size() / unit, unit_at,
                      [&doc, r, unit, big_endian](std::size_t start, std::size_t length, Line::End end) {
                          std::size_t at = start * unit;
                          std::size_t bytes_length = length * unit;
                          std::string text = unit == 1
                                                 ? Utf8ToCp1252(std::string_view(doc.raw_).substr(at, bytes_length))
                                                 : Utf16ToCp1252(r + at, bytes_length, big_endian);
                          doc.AddEncodedLine(text, static_cast<uint32_t>(at), static_cast<uint32_t>(bytes_length),
                                             end);
                      });
    return doc;
}

void ProfileDocument::AddEncodedLine(std::string_view text, uint32_t raw, uint32_t raw_length, Line::End end)
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

// A header starts a section; any other line belongs to the last section,
// and answers its name unless an earlier line of the name does.
void ProfileDocument::PlaceLine(const Line &line)
{
    if (line.kind == Line::kHeader) {
        Section s;
        s.header = line;
        s.has_header = true;
        sections_.push_back(std::move(s));
        section_index_.Add(KeyOf(line), static_cast<uint32_t>(sections_.size() - 1));
        return;
    }
    Section &s = sections_.back();
    s.lines.push_back(line);
    if (line.kind != Line::kBlank) s.keys.Add(s.lines, arena_, names_, static_cast<uint32_t>(s.lines.size() - 1));
}

void ProfileDocument::Classify(Line &line) const
{
    std::string_view t = TextOf(line);
    std::size_t p = 0;
    while (p < t.size() && IsProfileSpace(static_cast<unsigned char>(t[p]))) ++p;
    line.kind = Line::kBlank;
    line.key_begin = line.key_length = line.value_begin = line.value_length = 0;
    if (p == t.size()) return;
    if (t[p] == '[') {
        std::size_t close = t.rfind(']');
        if (close != std::string_view::npos && close > p) {
            // The name between the brackets, trimmed; text after ']' is ignored.
            std::string_view inside = t.substr(p + 1, close - p - 1);
            std::string_view name = TrimProfileSpace(inside);
            line.kind = Line::kHeader;
            line.key_begin = static_cast<uint32_t>(name.data() - t.data());
            line.key_length = UpToNul(t, line.key_begin, static_cast<uint32_t>(name.size()));
            return;
        }
    }
    std::size_t e = t.size();
    while (e > p && IsProfileSpace(static_cast<unsigned char>(t[e - 1]))) --e;
    std::size_t eq = t.substr(0, e).find('=', p);
    if (eq == std::string_view::npos) {
        line.kind = Line::kBare;
        line.key_begin = static_cast<uint32_t>(p);
        line.key_length = UpToNul(t, line.key_begin, static_cast<uint32_t>(e - p));
        return;
    }
    std::size_t ke = eq;
    while (ke > p && IsProfileSpace(static_cast<unsigned char>(t[ke - 1]))) --ke;
    std::size_t vb = eq + 1;
    while (vb < e && IsProfileSpace(static_cast<unsigned char>(t[vb]))) ++vb;
    line.kind = Line::kEntry;
    line.key_begin = static_cast<uint32_t>(p);
    line.key_length = UpToNul(t, line.key_begin, static_cast<uint32_t>(ke - p));
    line.value_begin = static_cast<uint32_t>(vb);
    line.value_length = UpToNul(t, line.value_begin, static_cast<uint32_t>(e - vb));
}

const ProfileDocument::Section *ProfileDocument::FindSection(std::string_view name, bool trim) const
{
    const std::vector<uint32_t> *named = section_index_.Find(name, trim);
    return named ? &sections_[named->front()] : nullptr;
}

ProfileDocument::Section *ProfileDocument::FindSection(std::string_view name)
{
    const std::vector<uint32_t> *named = section_index_.Find(name, true);
    return named ? &sections_[named->front()] : nullptr;
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
    key = TrimProfileSpace(key);
    if (key.empty()) return false;  // the platform finds no key by an empty name
    long n = s->keys.Find(s->lines, arena_, names_, key);
    if (n < 0) return false;
    const Line &l = s->lines[static_cast<std::size_t>(n)];
    out->key = KeyOf(l);
    out->value = ValueOf(l);
    out->has_value = l.kind == Line::kEntry;
    return true;
}

std::vector<ProfileDocument::KeyValue> ProfileDocument::SectionLines(std::string_view section,
                                                                      bool trim_name) const
{
    std::vector<KeyValue> out;
    const Section *s = FindSection(section, trim_name);
    if (!s) return out;
    for (const Line &l : s->lines) {
        if (l.dead || l.kind == Line::kBlank) continue;
        out.push_back(KeyValue{KeyOf(l), ValueOf(l), l.kind == Line::kEntry});
    }
    return out;
}

std::vector<std::string_view> ProfileDocument::SectionNames() const
{
    std::vector<std::string_view> out;
    for (const Section &s : sections_) {
        if (!s.dead && s.has_header) out.push_back(KeyOf(s.header));
    }
    return out;
}

ProfileDocument::Line ProfileDocument::MakeLine(std::string_view text, Line::End end)
{
    Line line;
    line.text = arena_.Append(text);
    line.length = static_cast<uint32_t>(text.size());
    line.end = end;
    Classify(line);
    return line;
}

ProfileDocument::Line *ProfileDocument::LastLine(Section **holder)
{
    for (std::size_t i = sections_.size(); i-- > 0;) {
        Section &s = sections_[i];
        if (s.dead) continue;
        *holder = &s;
        for (std::size_t k = s.lines.size(); k-- > 0;) {
            if (!s.lines[k].dead) return &s.lines[k];
        }
        if (s.has_header) return &s.header;
    }
    return nullptr;
}

// The file's last line gets a line end before anything is added after it.
void ProfileDocument::EndLastLine()
{
    Section *holder = nullptr;
    Line *last = LastLine(&holder);
    if (last && last->end == Line::kEndNone) last->end = Line::kEndCrLf;
}

ProfileDocument::Section *ProfileDocument::AddSection(std::string_view name)
{
    EndLastLine();
    Section *holder = nullptr;
    const Line *last = LastLine(&holder);
    if (blank_line_before_new_section_ && last && last->kind != Line::kBlank) {
        // The blank line ends the section before, as a blank line read
        // from a file does: keys added to that section go before it.
        Line blank = MakeLine(std::string_view(), Line::kEndCrLf);
        blank.edited = true;
        holder->lines.push_back(blank);
    }
    std::string header;
    header.reserve(name.size() + 2);
    header += '[';
    header += name;
    header += ']';
    Section fresh;
    fresh.header = MakeLine(header, Line::kEndCrLf);
    fresh.header.edited = true;
    fresh.header.kind = Line::kHeader;
    fresh.header.key_begin = 1;
    fresh.header.key_length = static_cast<uint32_t>(name.size());
    fresh.has_header = true;
    sections_.push_back(std::move(fresh));
    section_index_.Add(name, static_cast<uint32_t>(sections_.size() - 1));
    return &sections_.back();
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
    line.kind = Line::kEntry;
    line.key_begin = 0;
    line.key_length = static_cast<uint32_t>(key.size());
    line.value_begin = line.key_length + 1;
    line.value_length = static_cast<uint32_t>(value.size());
}

void ProfileDocument::SetValue(std::string_view section, std::string_view key, std::string_view value)
{
    section = TrimProfileSpace(section);
    key = TrimProfileSpace(key);
    while (!value.empty() && IsProfileSpace(static_cast<unsigned char>(value.front()))) value.remove_prefix(1);

    Section *s = FindSection(section);
    if (!s) s = AddSection(section);

    uint32_t hash = 0;
    long found = s->keys.Find(s->lines, arena_, names_, key, &hash);
    if (found >= 0) {
        Line &l = s->lines[static_cast<std::size_t>(found)];
        if (l.kind == Line::kEntry && ValueOf(l) == value) return;  // no change needed
        // The name keeps its spelling; a line without '=' becomes an entry.
        SetEntryText(l, KeyOf(l), value, true);
        return;
    }

    // After the section's last line that is not blank: blank lines that
    // part it from the next section stay where they are.
    std::size_t at = s->lines.size();
    while (at > 0 && (s->lines[at - 1].dead || s->lines[at - 1].kind == Line::kBlank)) --at;
    if (at > 0) {
        if (s->lines[at - 1].end == Line::kEndNone) s->lines[at - 1].end = Line::kEndCrLf;
    } else if (s->has_header && s->header.end == Line::kEndNone) {
        s->header.end = Line::kEndCrLf;
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
    fresh.end = Line::kEndCrLf;
    SetEntryText(fresh, key, value, false);
    s->keys.Add(s->lines, arena_, names_, static_cast<uint32_t>(at), hash);
}

bool ProfileDocument::DeleteKey(std::string_view section, std::string_view key)
{
    key = TrimProfileSpace(key);
    const std::vector<uint32_t> *named = section_index_.Find(section, true);
    if (!named) return false;
    for (uint32_t si : *named) {
        Section &s = sections_[si];
        long found = s.keys.FindRememberingAbsent(s.lines, arena_, names_, key);
        if (found < 0) continue;
        uint32_t n = static_cast<uint32_t>(found);
        s.keys.Remove(s.lines, arena_, n);
        s.lines[n].dead = true;
        // A later line of the same name is found from now on.
        for (uint32_t k = n + 1; k < s.lines.size(); ++k) {
            const Line &l = s.lines[k];
            if (!l.dead && l.kind != Line::kBlank && SameNameNoCase(KeyOf(l), key, names_)) {
                s.keys.Add(s.lines, arena_, names_, k);
                break;
            }
        }
        return true;
    }
    return false;
}

bool ProfileDocument::DeleteSection(std::string_view section)
{
    uint32_t index;
    if (!section_index_.RemoveFirst(section, &index)) return false;
    Section &s = sections_[index];
    s.dead = true;
    std::vector<Line>().swap(s.lines);
    s.keys.Clear();
    return true;
}

}  // namespace host
