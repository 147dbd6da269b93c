#include "platform/host/text/collation.h"

#include "platform/host/text/code_page.h"
#include "platform/host/text/cp1252.h"
#include "platform/host/text/unicode_case.h"

#include <cstdint>
#include <vector>

namespace host {
namespace {

// One character's weights: what it is (primary), its accent (secondary)
// and its letter case (tertiary).
struct Weight {
    uint32_t primary;
    uint8_t accent;
    uint8_t upper;
};

enum Accent : uint8_t { kNone, kGrave, kAcute, kCircumflex, kTilde, kDiaeresis, kRing, kCedilla, kStroke, kCaron, kHook };

struct Letter {
    char base;  // lower-case base letter, or 0 when the byte is no letter
    uint8_t accent;
    bool upper;
};

// The accented letters of code page 1252 (0xC0 to 0xFF, and a few below).
Letter LetterOf(unsigned char c)
{
    if (c >= 'a' && c <= 'z') return {static_cast<char>(c), kNone, false};
    if (c >= 'A' && c <= 'Z') return {static_cast<char>(c + 32), kNone, true};
    static const char *const kBases = "aaaaaa?ceeeeiiiidnooooo?ouuuuy??";
    static const uint8_t kAccents[32] = {kGrave, kAcute, kCircumflex, kTilde, kDiaeresis, kRing, 0, kCedilla,
                                         kGrave, kAcute, kCircumflex, kDiaeresis, kGrave, kAcute, kCircumflex,
                                         kDiaeresis, kStroke, kTilde, kGrave, kAcute, kCircumflex, kTilde,
                                         kDiaeresis, 0, kStroke, kGrave, kAcute, kCircumflex, kDiaeresis, kAcute,
                                         0, 0};
    if (c >= 0xC0) {
        unsigned i = (c - 0xC0) & 31;
        if (kBases[i] == '?') {
            if (c == 0xFF) return {'y', kDiaeresis, false};
            return {0, kNone, false};
        }
        return {kBases[i], kAccents[i], c < 0xE0};
    }
    switch (c) {
    case 0x8A: return {'s', kCaron, true};
    case 0x9A: return {'s', kCaron, false};
    case 0x8E: return {'z', kCaron, true};
    case 0x9E: return {'z', kCaron, false};
    case 0x9F: return {'y', kDiaeresis, true};
    case 0x83: return {'f', kHook, false};
    default: return {0, kNone, false};
    }
}

// Letters that stand for two: compared as those two.
const char *ExpansionOf(unsigned char c)
{
    switch (c) {
    case 0xDF: return "ss";
    case 0xE6: return "ae";
    case 0xC6: return "AE";
    case 0x9C: return "oe";
    case 0x8C: return "OE";
    case 0xFE: return "th";
    case 0xDE: return "TH";
    default: return nullptr;
    }
}

// Characters that count only when all else is equal: the hyphen and the
// apostrophe (so "co-op" sorts right after "coop") and control characters.
bool IsSpecial(unsigned char c)
{
    return c == '-' || c == '\'' || c < 0x20 || c == 0x7F;
}

Weight WeightOf(unsigned char c)
{
    if (c == 0x88) c = '^';  // the modifier circumflex is the circumflex
    Letter letter = LetterOf(c);
    if (letter.base) return {static_cast<uint16_t>(0x2000 + (letter.base - 'a') * 2), letter.accent, letter.upper};
    if (c >= '0' && c <= '9') return {static_cast<uint16_t>(0x1000 + (c - '0')), kNone, false};
    return {static_cast<uint16_t>(0x100 + c), kNone, false};
}

void AddWeight(unsigned char c, std::vector<Weight> &out)
{
    out.push_back(WeightOf(c));
}

// The primary weights of a text one by one, as Weigh would list them.
class PrimaryWeights {
public:
    explicit PrimaryWeights(const char *text) : p_(reinterpret_cast<const unsigned char *>(text)) {}
    // The next weight, or -1 at the end.
    int Next()
    {
        if (pending_) {
            unsigned char c = pending_;
            pending_ = 0;
            return WeightOf(c).primary;
        }
        for (;;) {
            unsigned char c = *p_;
            if (!c) return -1;
            ++p_;
            if (c == 0xAD || IsSpecial(c)) continue;
            if (const char *pair = ExpansionOf(c)) {
                pending_ = static_cast<unsigned char>(pair[1]);
                return WeightOf(static_cast<unsigned char>(pair[0])).primary;
            }
            return WeightOf(c).primary;
        }
    }

private:
    const unsigned char *p_;
    unsigned char pending_ = 0;
};

void Weigh(const char *text, std::vector<Weight> &weights, std::vector<unsigned char> &specials)
{
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; ++p) {
        if (*p == 0xAD) continue;  // the soft hyphen is ignored
        if (IsSpecial(*p)) {
            specials.push_back(*p);
            continue;
        }
        if (const char *pair = ExpansionOf(*p)) {
            AddWeight(static_cast<unsigned char>(pair[0]), weights);
            AddWeight(static_cast<unsigned char>(pair[1]), weights);
            continue;
        }
        AddWeight(*p, weights);
    }
}

template <typename Field>
int CompareLevel(const std::vector<Weight> &a, const std::vector<Weight> &b, Field field)
{
    std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (field(a[i]) != field(b[i])) return field(a[i]) < field(b[i]) ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

// A character of another code page, as its code point with this flag,
// when code page 1252 lacks it.
const uint32_t kForeign = 0x80000000u;

// The characters of a text in `code_page`: a byte of code page 1252 where
// that code page has the character, else the flagged code point.
void Characters(const CodePage &code_page, const char *text, std::vector<uint32_t> &out)
{
    std::string_view s(text);
    for (std::size_t i = 0; i < s.size();) {
        char16_t unit = code_page.NextUnit(s, i);
        unsigned char byte = UnicodeToCp1252(unit);
        out.push_back(Cp1252ToUnicode(byte) == unit ? byte : kForeign | unit);
    }
}

// Weigh for characters listed by Characters: the bytes of code page 1252
// by its rules, the others after all of them, by the code point of their
// case folding, with their letter case last.
void WeighCharacters(const std::vector<uint32_t> &text, std::vector<Weight> &weights,
                     std::vector<unsigned char> &specials)
{
    for (uint32_t c : text) {
        if (c & kForeign) {
            char32_t cp = c & ~kForeign;
            char32_t folded = SimpleCaseFold(cp);
            weights.push_back({0x10000u + folded, kNone, folded != cp});
            continue;
        }
        unsigned char byte = static_cast<unsigned char>(c);
        if (byte == 0xAD) continue;
        if (IsSpecial(byte)) {
            specials.push_back(byte);
            continue;
        }
        if (const char *pair = ExpansionOf(byte)) {
            AddWeight(static_cast<unsigned char>(pair[0]), weights);
            AddWeight(static_cast<unsigned char>(pair[1]), weights);
            continue;
        }
        AddWeight(byte, weights);
    }
}

int CompareWeights(const std::vector<Weight> &wa, const std::vector<Weight> &wb, const std::vector<unsigned char> &sa,
                   const std::vector<unsigned char> &sb)
{
    int r = CompareLevel(wa, wb, [](const Weight &w) { return w.primary; });
    if (r == 0) r = CompareLevel(wa, wb, [](const Weight &w) { return w.accent; });
    if (r == 0) r = CompareLevel(wa, wb, [](const Weight &w) { return w.upper; });
    if (r == 0 && sa != sb) r = sa < sb ? -1 : 1;
    return r;
}

}  // namespace

int CompareLocale(const CodePage &code_page, const char *a, const char *b)
{
    if (code_page.Number() == 1252) return CompareLocale(a, b);
    std::vector<uint32_t> ca, cb;
    Characters(code_page, a, ca);
    Characters(code_page, b, cb);
    std::vector<Weight> wa, wb;
    std::vector<unsigned char> sa, sb;
    WeighCharacters(ca, wa, sa);
    WeighCharacters(cb, wb, sb);
    return CompareWeights(wa, wb, sa, sb);
}

int CompareLocale(const char *a, const char *b)
{
    // The installation compares every printer's driver with every model,
    // and most pairs differ in their letters: the primary weights are
    // compared as they come, and the full weights listed only when those
    // are all equal.
    PrimaryWeights pa(a), pb(b);
    for (;;) {
        int x = pa.Next();
        int y = pb.Next();
        if (x != y) return x < y ? -1 : 1;  // a text that ends first (-1) sorts first
        if (x < 0) break;
    }
    thread_local std::vector<Weight> wa, wb;
    thread_local std::vector<unsigned char> sa, sb;
    wa.clear();
    wb.clear();
    sa.clear();
    sb.clear();
    Weigh(a, wa, sa);
    Weigh(b, wb, sb);
    return CompareWeights(wa, wb, sa, sb);
}

}  // namespace host
