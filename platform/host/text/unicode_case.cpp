#include "platform/host/text/unicode_case.h"

namespace host {
namespace {

bool Even(char32_t c) { return (c & 1) == 0; }

}  // namespace

char32_t SimpleCaseFold(char32_t c)
{
    if (c < 0x80) return c >= 'A' && c <= 'Z' ? c + 32 : c;
    if (c < 0x100) {
        if (c == 0xB5) return 0x3BC;  // the micro sign is the Greek mu
        return c >= 0xC0 && c <= 0xDE && c != 0xD7 ? c + 32 : c;
    }
    if (c < 0x180) {
        // Pairs of capital and small, the capital first, but for the dotted
        // and dotless i (which fold to nothing else) and the kra.
        if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149) return c;
        if (c == 0x178) return 0xFF;
        if (c == 0x17F) return 's';
        bool odd_first = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if (odd_first) return Even(c) ? c : c + 1;
        return Even(c) ? c + 1 : c;
    }
    if (c == 0x1A0 || c == 0x1AF) return c + 1;
    if (c >= 0x370 && c < 0x400) {
        if (c == 0x386) return 0x3AC;
        if (c >= 0x388 && c <= 0x38A) return c + 37;
        if (c == 0x38C) return 0x3CC;
        if (c == 0x38E || c == 0x38F) return c + 63;
        if ((c >= 0x391 && c <= 0x3A1) || (c >= 0x3A3 && c <= 0x3AB)) return c + 32;
        if (c == 0x3C2) return 0x3C3;  // final sigma
        return c;
    }
    if (c >= 0x400 && c < 0x530) {
        if (c < 0x410) return c + 80;
        if (c < 0x430) return c + 32;
        if (c < 0x460) return c;
        if ((c < 0x482) || (c >= 0x48A && c < 0x4C0) || (c >= 0x4D0)) return Even(c) ? c + 1 : c;
        if (c == 0x4C0) return 0x4CF;
        if (c >= 0x4C1 && c <= 0x4CE) return Even(c) ? c : c + 1;
        return c;
    }
    if (c >= 0xFF21 && c <= 0xFF3A) return c + 32;  // the full-width Latin capitals
    return c;
}

}  // namespace host
