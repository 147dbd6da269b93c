// The comparison of texts by the rules of the user's locale, as lstrcmpA
// makes it: punctuation and symbols before digits before letters, accents
// and letter case counting only where the letters alone are equal, the
// hyphen, the apostrophe and control characters counting only where all else
// is equal, the soft hyphen ignored, ligatures equal to their letters (ß and
// "ss").
#ifndef PFMSETUP_PLATFORM_HOST_COLLATION_H
#define PFMSETUP_PLATFORM_HOST_COLLATION_H

namespace host {

// -1, 0 or 1 as `a` sorts before, with or after `b`; both in code page 1252.
int CompareLocale(const char *a, const char *b);

}  // namespace host

#endif
