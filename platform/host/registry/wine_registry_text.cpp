#include "platform/host/registry/wine_registry_text.h"

#include "platform/host/text/utf8.h"

#include <algorithm>

namespace host {
namespace {

const std::size_t kMaxKeyName = 256;
// The links one look-up follows at most; the platform answers a look-up
// that needs more (links that loop among them) as an invalid parameter.
const int kMaxLinks = 32;

char16_t FoldUnit(char16_t c)
{
    if (c >= 'A' && c <= 'Z') return static_cast<char16_t>(c + 32);
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 32);
    if (c >= 0x100 && c < 0x180 && (c & 1) == 0 && c != 0x130 && c != 0x138) return static_cast<char16_t>(c + 1);
    if (c == 0x178) return 0xFF;
    return c;
}

// Decodes one UTF-8 sequence at `i`; malformed bytes stand for themselves.
char32_t NextCodePoint(std::string_view s, std::size_t &i)
{
    std::optional<char32_t> cp = NextUtf8(s, i);
    return cp ? *cp : static_cast<unsigned char>(s[i - 1]);
}

void AppendUnit(std::u16string &out, char32_t cp)
{
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (cp >> 10));
        out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
        out += static_cast<char16_t>(cp);
    }
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads an escaped string up to `end` (exclusive) or an unescaped `stop`
// character; `i` ends on the stop character.
std::u16string Unescape(std::string_view s, std::size_t &i, char stop)
{
    std::u16string out;
    while (i < s.size() && s[i] != stop) {
        if (s[i] != '\\' || i + 1 >= s.size()) {
            AppendUnit(out, NextCodePoint(s, i));
            continue;
        }
        char e = s[i + 1];
        i += 2;
        switch (e) {
        case 'a': out += u'\a'; break;
        case 'b': out += u'\b'; break;
        case 'e': out += char16_t(0x1B); break;
        case 'f': out += u'\f'; break;
        case 'n': out += u'\n'; break;
        case 'r': out += u'\r'; break;
        case 't': out += u'\t'; break;
        case 'v': out += u'\v'; break;
        case 'x': {
            unsigned v = 0;
            int n = 0;
            while (n < 4 && i < s.size() && HexDigit(s[i]) >= 0) {
                v = v * 16 + static_cast<unsigned>(HexDigit(s[i++]));
                ++n;
            }
            out += static_cast<char16_t>(v);
            break;
        }
        default:
            if (e >= '0' && e <= '7') {
                unsigned v = static_cast<unsigned>(e - '0');
                int n = 1;
                while (n < 3 && i < s.size() && s[i] >= '0' && s[i] <= '7') {
                    v = v * 8 + static_cast<unsigned>(s[i++] - '0');
                    ++n;
                }
                out += static_cast<char16_t>(v);
            } else {
                --i;
                AppendUnit(out, NextCodePoint(s, i));
            }
            break;
        }
    }
    return out;
}

std::string Utf16Bytes(const std::u16string &text, bool with_nul)
{
    std::string out;
    out.reserve(text.size() * 2 + 2);
    for (char16_t c : text) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
    if (with_nul) out.append(2, '\0');
    return out;
}

// The lines of the file, with the continuation lines of hex data joined.
std::vector<std::string> JoinedLines(std::string_view text)
{
    std::vector<std::string> lines;
    std::string current;
    std::size_t i = 0;
    while (i <= text.size()) {
        std::size_t j = text.find('\n', i);
        if (j == std::string_view::npos) j = text.size();
        std::string_view line = text.substr(i, j - i);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!current.empty()) {
            std::size_t k = 0;
            while (k < line.size() && (line[k] == ' ' || line[k] == '\t')) ++k;
            line.remove_prefix(k);
        }
        current.append(line);
        if (!current.empty() && current.back() == '\\' && current.find("=hex") != std::string::npos) {
            current.pop_back();
        } else {
            lines.push_back(std::move(current));
            current.clear();
        }
        i = j + 1;
    }
    if (!current.empty()) lines.push_back(std::move(current));
    return lines;
}

bool ParseHexBytes(std::string_view s, std::string *out)
{
    std::size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && (s[i] == ',' || s[i] == ' ' || s[i] == '\t')) ++i;
        if (i >= s.size()) break;
        int hi = HexDigit(s[i]);
        if (hi < 0) return false;
        int lo = i + 1 < s.size() ? HexDigit(s[i + 1]) : -1;
        if (lo < 0) {
            out->push_back(static_cast<char>(hi));
            ++i;
        } else {
            out->push_back(static_cast<char>(hi * 16 + lo));
            i += 2;
        }
    }
    return true;
}

// Parses the data after "name=": "text", str(n):"text", hex:..,
// hex(n):.., dword:xxxxxxxx.
bool ParseData(std::string_view s, RegistryValue *value)
{
    if (!s.empty() && s[0] == '"') {
        std::size_t i = 1;
        value->type = 1;
        value->data = Utf16Bytes(Unescape(s, i, '"'), true);
        return i < s.size();
    }
    if (s.compare(0, 4, "str(") == 0) {
        std::size_t close = s.find("):\"");
        if (close == std::string_view::npos) return false;
        uint32_t type = 0;
        if (close == 4) return false;
        for (char c : s.substr(4, close - 4)) {
            if (HexDigit(c) < 0) return false;
            type = type * 16 + static_cast<uint32_t>(HexDigit(c));
        }
        value->type = type;
        std::size_t i = close + 3;
        value->data = Utf16Bytes(Unescape(s, i, '"'), true);
        return i < s.size();
    }
    if (s.compare(0, 6, "dword:") == 0) {
        std::string_view hex = s.substr(6);
        if (hex.empty() || hex.size() > 8) return false;
        uint32_t v = 0;
        for (char c : hex) {
            if (HexDigit(c) < 0) return false;
            v = v * 16 + static_cast<uint32_t>(HexDigit(c));
        }
        value->type = 4;
        value->data.assign(reinterpret_cast<const char *>(&v), 4);
        return true;
    }
    if (s.compare(0, 4, "hex:") == 0) {
        value->type = 3;
        return ParseHexBytes(s.substr(4), &value->data);
    }
    if (s.compare(0, 4, "hex(") == 0) {
        std::size_t close = s.find("):");
        if (close == std::string_view::npos || close == 4) return false;
        uint32_t type = 0;
        for (char c : s.substr(4, close - 4)) {
            if (HexDigit(c) < 0) return false;
            type = type * 16 + static_cast<uint32_t>(HexDigit(c));
        }
        value->type = type;
        return ParseHexBytes(s.substr(close + 2), &value->data);
    }
    return false;
}

std::vector<std::u16string_view> SplitPath(std::u16string_view path)
{
    std::vector<std::u16string_view> parts;
    std::size_t i = 0;
    while (i <= path.size()) {
        std::size_t j = path.find(u'\\', i);
        if (j == std::u16string_view::npos) j = path.size();
        if (j > i) parts.push_back(path.substr(i, j - i));
        i = j + 1;
    }
    return parts;
}

// A key or value name as it compares without letter case.
std::u16string FoldRegistryName(std::u16string_view name)
{
    std::u16string out(name);
    for (char16_t &c : out) c = FoldUnit(c);
    return out;
}

}  // namespace

bool RegistryNameLess::operator()(const std::u16string &a, const std::u16string &b) const
{
    std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        char16_t x = FoldUnit(a[i]);
        char16_t y = FoldUnit(b[i]);
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

RegistryKey *RegistryFile::Create(std::u16string_view path)
{
    RegistryKey *key = &root_;
    for (std::u16string_view part : SplitPath(path)) {
        // The registry holds no name longer than this; Wine drops such a
        // key, with its values and subkeys, when it loads the file.
        if (part.size() > kMaxKeyName) return nullptr;
        std::u16string name(part);
        auto it = key->subkeys.find(name);
        if (it == key->subkeys.end()) {
            auto child = std::make_unique<RegistryKey>();
            child->name = name;
            it = key->subkeys.emplace(name, std::move(child)).first;
        }
        key = it->second.get();
    }
    return key;
}

std::unique_ptr<RegistryFile> RegistryFile::Parse(std::string_view text)
{
    auto file = std::make_unique<RegistryFile>();
    RegistryKey *key = nullptr;
    for (const std::string &line : JoinedLines(text)) {
        if (line.empty()) continue;
        if (line[0] == '[') {
            std::size_t i = 1;
            std::u16string path = Unescape(line, i, ']');
            key = i < line.size() ? file->Create(path) : nullptr;
            continue;
        }
        if (!key) continue;
        if (line == "#link") {
            key->is_link = true;  // the target comes with SymbolicLinkValue
            continue;
        }
        std::u16string name;
        std::size_t i = 0;
        if (line[0] == '@') {
            i = 1;
        } else if (line[0] == '"') {
            i = 1;
            name = Unescape(line, i, '"');
            if (i >= line.size()) continue;
            ++i;
        } else {
            continue;
        }
        if (i >= line.size() || line[i] != '=') continue;
        RegistryValue value;
        if (!ParseData(std::string_view(line).substr(i + 1), &value)) continue;
        std::u16string folded = FoldRegistryName(name);
        if (key->is_link && folded == u"symboliclinkvalue") {
            std::u16string target;
            for (std::size_t k = 0; k + 1 < value.data.size(); k += 2)
                target += static_cast<char16_t>(static_cast<unsigned char>(value.data[k]) |
                                                static_cast<unsigned char>(value.data[k + 1]) << 8);
            const std::u16string machine = u"\\registry\\machine\\";
            if (FoldRegistryName(target.substr(0, machine.size())) == machine)
                key->link = target.substr(machine.size());
        }
        key->values[folded] = std::move(value);
    }
    return file;
}

const RegistryKey *RegistryFile::Find(const RegistryKey &from, std::u16string_view path,
                                      bool *too_many_links) const
{
    if (too_many_links) *too_many_links = false;
    // The names still to walk, the next one last. A link key puts the names
    // of its target in front of the rest and the walk starts again at the
    // root; the links followed are counted over the whole look-up, so that
    // links that loop end as a key that cannot be opened.
    std::vector<std::u16string_view> pending = SplitPath(path);
    std::reverse(pending.begin(), pending.end());
    const RegistryKey *key = &from;
    int links = 0;
    for (;;) {
        if (key->is_link) {
            // A link without a target below the machine's root leads nowhere.
            if (key->link.empty()) return nullptr;
            if (++links > kMaxLinks) {
                if (too_many_links) *too_many_links = true;
                return nullptr;
            }
            std::vector<std::u16string_view> target = SplitPath(key->link);
            pending.insert(pending.end(), target.rbegin(), target.rend());
            key = &root_;
            continue;
        }
        if (pending.empty()) return key;
        auto it = key->subkeys.find(std::u16string(pending.back()));
        if (it == key->subkeys.end()) return nullptr;
        pending.pop_back();
        key = it->second.get();
    }
}

const RegistryValue *RegistryFile::Value(const RegistryKey &key, std::u16string_view name) const
{
    auto it = key.values.find(FoldRegistryName(name));
    return it == key.values.end() ? nullptr : &it->second;
}

}  // namespace host
