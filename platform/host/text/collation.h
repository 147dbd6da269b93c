// The comparison of texts by the rules of the user's locale, as lstrcmpA
// makes it: punctuation and symbols before digits before letters, accents
// and letter case counting only where the letters alone are equal, the
// hyphen, the apostrophe and control characters counting only where all else
// is equal, the soft hyphen ignored, ligatures equal to their letters (ß and
// "ss").
#ifndef PFMSETUP_PLATFORM_HOST_TEXT_COLLATION_H
#define PFMSETUP_PLATFORM_HOST_TEXT_COLLATION_H

namespace host {

class CodePage;

// -1, 0 or 1 as `a` sorts before, with or after `b`; both in code page 1252.
int CompareLocale(const char *a, const char *b);

// The same for texts in `code_page`. Code page 1252 as above. In another
// code page each character (one byte, or a lead byte and the next) is
// taken as the Unicode character it stands for: one that code page 1252
// also has weighs as the 1252 rules say (so ASCII letters, digits and
// punctuation, and the Latin letters of 1252, order as they do in 1252);
// every other character sorts after all of those, by the code point of its
// simple case folding (unicode_case.h), and a letter whose folding differs
// from it (a capital) counts as upper case at the last level, after the
// accents, as capitals do in 1252. Nothing else is ignored or expanded.
int CompareLocale(const CodePage &code_page, const char *a, const char *b);

}  // namespace host

#endif
