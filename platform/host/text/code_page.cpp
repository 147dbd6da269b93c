#include "platform/host/text/code_page.h"

#include "platform/host/text/iconv_tables.h"
#include "platform/host/text/cp1252.h"
#include "platform/host/text/unicode_case.h"
#include "platform/host/text/utf8.h"

#include <memory>
#include <mutex>
#include <unordered_map>

namespace host {
namespace {

const unsigned kWestern = 1252;

// The byte for a unit that the code page lacks.
unsigned char Missing(char32_t unit)
{
    unsigned char best = UnicodeToCp1252(unit);
    return best < 0x80 ? best : '?';
}

}  // namespace

CodePage::CodePage(unsigned number, const CodePageTable *table) : number_(number), table_(table)
{
    MakeFolds();
}

const CodePage &CodePage::ForNumber(unsigned number)
{
    static std::mutex mutex;
    static std::unordered_map<unsigned, std::unique_ptr<CodePage>> pages;
    std::lock_guard<std::mutex> lock(mutex);
    const CodePageTable *table = number == kWestern ? nullptr : CodePageTable::For(number);
    if (!table) number = kWestern;
    auto it = pages.find(number);
    if (it == pages.end()) it = pages.emplace(number, std::unique_ptr<CodePage>(new CodePage(number, table))).first;
    return *it->second;
}

bool CodePage::IsDoubleByte() const
{
    return table_ && table_->IsDoubleByte();
}

bool CodePage::IsLeadByte(unsigned char byte) const
{
    return table_ && table_->IsLeadByte(byte);
}

char16_t CodePage::NextUnit(std::string_view ansi, std::size_t &i) const
{
    unsigned char b = static_cast<unsigned char>(ansi[i++]);
    if (!table_) return static_cast<char16_t>(Cp1252ToUnicode(b));
    char16_t unit = CodePageTable::kNone;
    if (!table_->IsLeadByte(b)) {
        unit = table_->Single(b);
    } else if (i < ansi.size()) {
        unit = table_->Double(b, static_cast<unsigned char>(ansi[i]));
        if (unit != CodePageTable::kNone) ++i;
    }
    return unit == CodePageTable::kNone ? u'?' : unit;
}

void CodePage::AppendUnit(std::string &out, char32_t unit) const
{
    if (!table_) {
        out += static_cast<char>(UnicodeToCp1252(unit));
        return;
    }
    std::uint16_t bytes = unit < 0x10000 ? table_->Bytes(static_cast<char16_t>(unit)) : CodePageTable::kNoBytes;
    if (bytes == CodePageTable::kNoBytes) {
        out += static_cast<char>(Missing(unit));
    } else if (bytes < 0x100) {
        out += static_cast<char>(bytes);
    } else {
        out += static_cast<char>(bytes >> 8);
        out += static_cast<char>(bytes & 0xFF);
    }
}

std::u16string CodePage::ToUtf16(std::string_view ansi) const
{
    if (!table_) return Cp1252ToUtf16(ansi);
    std::u16string out;
    out.reserve(ansi.size());
    for (std::size_t i = 0; i < ansi.size();) out += NextUnit(ansi, i);
    return out;
}

std::string CodePage::ToUtf8(std::string_view ansi) const
{
    if (!table_) return Cp1252ToUtf8(ansi);
    std::string out;
    out.reserve(ansi.size());
    for (std::size_t i = 0; i < ansi.size();) AppendUtf8(out, NextUnit(ansi, i));
    return out;
}

std::string CodePage::FromUtf16(std::u16string_view text) const
{
    std::string out;
    out.reserve(text.size());
    for (char16_t unit : text) AppendUnit(out, unit);
    return out;
}

std::string CodePage::FromUtf16(const unsigned char *data, std::size_t bytes, bool big_endian) const
{
    if (!table_) return Utf16ToCp1252(data, bytes, big_endian);
    std::string out;
    out.reserve(bytes / 2);
    for (std::size_t i = 0; i + 1 < bytes; i += 2) {
        char32_t unit = big_endian ? (char32_t(data[i]) << 8 | data[i + 1]) : (char32_t(data[i + 1]) << 8 | data[i]);
        AppendUnit(out, unit);
    }
    return out;
}

std::string CodePage::FromUtf8(std::string_view utf8) const
{
    if (!table_) return Utf8ToCp1252(utf8);
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) AppendUnit(out, NextUtf8(utf8, i).value_or(0xFFFD));
    return out;
}

std::size_t CodePage::WholeCharacters(std::string_view ansi, std::size_t limit) const
{
    if (!IsDoubleByte()) return limit;
    std::size_t i = 0;
    while (i < limit) {
        std::size_t start = i;
        NextUnit(ansi, i);
        if (i > limit) return start;
    }
    return limit;
}

void CodePage::MakeFolds()
{
    for (unsigned b = 0; b < 256; ++b) {
        unsigned char c = static_cast<unsigned char>(b);
        if (!table_) {
            fold_[b] = host::FoldCase(c);
        } else if (table_->IsDoubleByte()) {
            fold_[b] = c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c;
        } else {
            fold_[b] = c;
            char16_t unit = table_->Single(c);
            if (unit == CodePageTable::kNone) continue;
            char32_t folded = SimpleCaseFold(unit);
            if (folded == unit || folded >= 0x10000) continue;
            std::uint16_t bytes = table_->Bytes(static_cast<char16_t>(folded));
            if (bytes < 0x100) fold_[b] = static_cast<unsigned char>(bytes);
        }
    }
}

bool CodePage::EqualsNoCase(std::string_view a, std::string_view b) const
{
    if (!table_) return host::EqualsNoCase(a, b);
    if (a.size() != b.size()) return false;
    bool dbcs = table_->IsDoubleByte();
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (fold_[x] != fold_[y]) return false;
        // A lead byte and the byte after it are compared as they are.
        if (dbcs && table_->IsLeadByte(x) && i + 1 < a.size()) {
            ++i;
            if (a[i] != b[i]) return false;
        }
    }
    return true;
}

std::string CodePage::FoldCase(std::string_view text) const
{
    std::string out(text);
    bool dbcs = IsDoubleByte();
    for (std::size_t i = 0; i < out.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(out[i]);
        if (dbcs && table_->IsLeadByte(c)) {
            ++i;
            continue;
        }
        out[i] = static_cast<char>(fold_[c]);
    }
    return out;
}

}  // namespace host
