// The conversion of a box's texts to the terminal's character set.
#include "platform/host/dialogue/terminal_text.h"

#include <errno.h>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include "platform/host/text/code_page.h"
#include "platform/host/text/utf8.h"

namespace host {
namespace {

// The codeset of the environment's LC_CTYPE locale, "" when the environment
// names no locale the system has (the C locale's then applies: ASCII).
std::string EnvironmentCodeset()
{
    const char *current = setlocale(LC_CTYPE, nullptr);
    std::string saved = current ? current : "C";
    std::string codeset;
    if (setlocale(LC_CTYPE, "")) {
        const char *name = nl_langinfo(CODESET);
        codeset = name ? name : "";
    }
    setlocale(LC_CTYPE, saved.c_str());
    return codeset;
}

bool IsUtf8(const std::string &codeset)
{
    std::string folded;
    for (char c : codeset) {
        if (c == '-' || c == '_') continue;
        folded += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
    }
    return folded == "UTF8";
}

// The length of the UTF-8 sequence that starts with `lead`.
size_t SequenceLength(unsigned char lead)
{
    if (lead < 0xC0) return 1;
    if (lead < 0xE0) return 2;
    if (lead < 0xF0) return 3;
    return 4;
}

// UTF-8 text in another codeset; what that set lacks becomes '?'.
std::string Recode(const std::string &utf8, const std::string &codeset)
{
    std::string target = codeset.empty() ? "ANSI_X3.4-1968" : codeset;
    iconv_t cd = iconv_open(target.c_str(), "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) cd = iconv_open("ANSI_X3.4-1968", "UTF-8");
    std::string out;
    if (cd == reinterpret_cast<iconv_t>(-1)) {  // no iconv at all: ASCII by hand
        for (size_t i = 0; i < utf8.size(); i += SequenceLength(static_cast<unsigned char>(utf8[i])))
            out += static_cast<unsigned char>(utf8[i]) < 0x80 ? utf8[i] : '?';
        return out;
    }
    char *in = const_cast<char *>(utf8.data());
    size_t in_left = utf8.size();
    char buffer[256];
    while (in_left > 0) {
        char *o = buffer;
        size_t o_left = sizeof buffer;
        size_t n = iconv(cd, &in, &in_left, &o, &o_left);
        out.append(buffer, static_cast<size_t>(o - buffer));
        if (n != static_cast<size_t>(-1)) continue;
        if (errno == E2BIG) continue;
        // EILSEQ: a character the set lacks; EINVAL cannot happen, the
        // input is whole UTF-8 made here, but is ended the same way.
        size_t skip = SequenceLength(static_cast<unsigned char>(*in));
        if (skip > in_left) skip = in_left;
        out += '?';
        in += skip;
        in_left -= skip;
    }
    char *o = buffer;
    size_t o_left = sizeof buffer;
    iconv(cd, nullptr, nullptr, &o, &o_left);  // a stateful set's closing shift
    out.append(buffer, static_cast<size_t>(o - buffer));
    iconv_close(cd);
    return out;
}

}  // namespace

std::string TerminalText(std::string_view ansi, const CodePage &code_page)
{
    std::string utf8;
    utf8.reserve(ansi.size());
    for (std::size_t i = 0; i < ansi.size();) {
        char32_t cp = code_page.NextUnit(ansi, i);
        bool control = (cp < 0x20 && cp != '\t') || (cp >= 0x7F && cp < 0xA0);
        AppendUtf8(utf8, control ? U'?' : cp);
    }
    std::string codeset = EnvironmentCodeset();
    return IsUtf8(codeset) ? utf8 : Recode(utf8, codeset);
}

}  // namespace host
