// Unicode's simple case folding (CaseFolding.txt, status C and S) for the
// letters that the ANSI code pages hold: Latin-1, Latin Extended-A, the
// Vietnamese O and U with horn, Greek, Cyrillic and the full-width Latin
// letters. Every other code point folds to itself.
#ifndef PFMSETUP_PLATFORM_HOST_TEXT_UNICODE_CASE_H
#define PFMSETUP_PLATFORM_HOST_TEXT_UNICODE_CASE_H

namespace host {

char32_t SimpleCaseFold(char32_t code_point);

}  // namespace host

#endif
