#include "platform/host/profile/ascii_fold.h"

#include "platform/host/text/code_page.h"

namespace host {

LeadBytes::LeadBytes(const CodePage &code_page)
{
    if (!code_page.IsDoubleByte()) return;
    for (unsigned c = 0x80; c < 0x100; ++c) {
        if (!code_page.IsLeadByte(static_cast<unsigned char>(c))) continue;
        bits_[c >> 6] |= uint64_t{1} << (c & 63);
        any_ = true;
    }
}

void FoldAsciiInto(std::string_view text, std::string &out)
{
    out.assign(text.data(), text.size());
    for (char &c : out) c = static_cast<char>(FoldAscii(static_cast<unsigned char>(c)));
}

void FoldNameInto(std::string_view text, std::string &out, const LeadBytes &lead)
{
    if (!lead.Any()) return FoldAsciiInto(text, out);
    out.assign(text.data(), text.size());
    for (std::size_t i = 0; i < out.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(out[i]);
        if (lead.Has(c))
            ++i;  // the second byte stays
        else
            out[i] = static_cast<char>(FoldAscii(c));
    }
}

std::string FoldAsciiCopy(std::string_view text)
{
    std::string out;
    FoldAsciiInto(text, out);
    return out;
}

namespace ascii_fold {

bool SameSecondBytes(std::string_view a, std::string_view b, const LeadBytes &lead)
{
    // The names agree on every byte of 0x80 and above, so their lead bytes
    // stand at the same places.
    for (std::size_t i = 0; i + 1 < a.size(); ++i) {
        if (!lead.Has(static_cast<unsigned char>(a[i]))) continue;
        ++i;
        if (a[i] != b[i]) return false;
    }
    return true;
}

}  // namespace ascii_fold
}  // namespace host
