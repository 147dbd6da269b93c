#include "platform/host/profile/ascii_fold.h"

namespace host {

void FoldAsciiInto(std::string_view text, std::string &out)
{
    out.assign(text.data(), text.size());
    for (char &c : out) c = static_cast<char>(FoldAscii(static_cast<unsigned char>(c)));
}

std::string FoldAsciiCopy(std::string_view text)
{
    std::string out;
    FoldAsciiInto(text, out);
    return out;
}

}  // namespace host
