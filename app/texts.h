// The program's four texts: format strings from the resource library with
// the kit's names filled in.
#ifndef PFMSETUP_APP_TEXTS_H
#define PFMSETUP_APP_TEXTS_H

#include "platform/platform.h"

#define FORMAT_SIZE 2048
#define CAPTION_SIZE 256
#define MESSAGE_SIZE 2048

// String ids in the resource library, and what each text is for.
#define IDS_CAPTION 2   // every box's caption; the maker's and the kit's names
#define IDS_SUCCESS 6   // the report of a successful installation; the kit's name
#define IDS_FAILURE 7   // the report of a failed installation; the kit's name
#define IDS_QUESTION 8  // the question asked before anything is done; the kit's name

// Forms `text` (of `size` bytes) from `format`: "%s" takes the next of the
// `count` arguments and "%%" gives '%'. Any other conversion, and a "%s"
// beyond the arguments given, stands in the text as written, so a library
// with unexpected texts can never make the program read what was not passed.
// The text is cut to size - 1 characters.
void FormatText(char *text, int size, const char *format, const char *const *arguments, int count);

// Loads string `id` of the library into a cleared 2048-byte format buffer
// and forms `text` from it. A string the library lacks gives the empty text.
void FormResourceText(HMODULE library, UINT id, char *text, int size, const char *const *arguments, int count);

#endif
