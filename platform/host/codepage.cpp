#include "codepage.h"

namespace host {
namespace {

// Bytes 0x80 to 0x9F of code page 1252; the rest equal their code points.
const char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

}  // namespace

char32_t Cp1252ToUnicode(unsigned char byte)
{
    if (byte >= 0x80 && byte < 0xA0) return kHighControls[byte - 0x80];
    return byte;
}

unsigned char UnicodeToCp1252(char32_t cp)
{
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<unsigned char>(cp);
    for (int i = 0; i < 32; ++i) {
        if (kHighControls[i] == cp) return static_cast<unsigned char>(0x80 + i);
    }
    return '?';
}

unsigned char FoldCase(unsigned char c)
{
    if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 32);
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<unsigned char>(c + 32);
    switch (c) {
    case 0x8A: return 0x9A;  // S caron
    case 0x8C: return 0x9C;  // OE
    case 0x8E: return 0x9E;  // Z caron
    case 0x9F: return 0xFF;  // Y diaeresis
    default: return c;
    }
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldCase(static_cast<unsigned char>(a[i])) != FoldCase(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

std::string FoldCase(std::string_view text)
{
    std::string out(text);
    for (char &c : out) c = static_cast<char>(FoldCase(static_cast<unsigned char>(c)));
    return out;
}

void AppendUtf8(std::string &out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string Utf8ToCp1252(std::string_view in)
{
    std::string out;
    out.reserve(in.size());
    std::size_t i = 0;
    while (i < in.size()) {
        unsigned char c = static_cast<unsigned char>(in[i]);
        char32_t cp = 0xFFFD;
        std::size_t extra = 0;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            extra = 1;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            extra = 2;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07;
            extra = 3;
        }
        std::size_t used = 1;
        if (extra > 0) {
            bool ok = true;
            for (std::size_t k = 1; ok && k <= extra; ++k) {
                if (i + k >= in.size() || (static_cast<unsigned char>(in[i + k]) & 0xC0) != 0x80) {
                    ok = false;
                } else {
                    cp = (cp << 6) | (static_cast<unsigned char>(in[i + k]) & 0x3F);
                }
            }
            if (ok) {
                used = extra + 1;
            } else {
                cp = 0xFFFD;
            }
        }
        out += static_cast<char>(UnicodeToCp1252(cp));
        i += used;
    }
    return out;
}

std::string Cp1252ToUtf8(std::string_view in)
{
    std::string out;
    out.reserve(in.size());
    for (char c : in) AppendUtf8(out, Cp1252ToUnicode(static_cast<unsigned char>(c)));
    return out;
}

std::string Utf16ToCp1252(const unsigned char *data, std::size_t bytes, bool big_endian)
{
    std::string out;
    out.reserve(bytes / 2);
    for (std::size_t i = 0; i + 1 < bytes; i += 2) {
        char32_t unit = big_endian ? (char32_t(data[i]) << 8 | data[i + 1])
                                   : (char32_t(data[i + 1]) << 8 | data[i]);
        // A surrogate pair is one character outside code page 1252.
        if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < bytes) {
            char32_t low = big_endian ? (char32_t(data[i + 2]) << 8 | data[i + 3])
                                      : (char32_t(data[i + 3]) << 8 | data[i + 2]);
            if (low >= 0xDC00 && low < 0xE000) i += 2;
            out += '?';
            continue;
        }
        out += static_cast<char>(UnicodeToCp1252(unit));
    }
    return out;
}

std::u16string Cp1252ToUtf16(std::string_view in)
{
    std::u16string out;
    out.reserve(in.size());
    for (char c : in) out += static_cast<char16_t>(Cp1252ToUnicode(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace host
