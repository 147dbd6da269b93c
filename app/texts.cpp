#include "app/texts.h"

#include <string.h>

void FormatText(char *text, int size, const char *format, const char *const *arguments, int count)
{
    int length = 0;
    int used = 0;
    const char *piece;
    int pieceLength;

    if (size <= 0) return;
    while (*format && length < size - 1) {
        piece = format;
        pieceLength = 1;
        if (format[0] == '%' && format[1] == '%') {
            pieceLength = 1;
            format += 2;
        } else if (format[0] == '%' && format[1] == 's' && used < count) {
            piece = arguments[used] ? arguments[used] : "";
            pieceLength = lstrlenA(piece);
            ++used;
            format += 2;
        } else {
            ++format;
        }
        if (pieceLength > size - 1 - length) pieceLength = size - 1 - length;
        memcpy(text + length, piece, (size_t)pieceLength);
        length += pieceLength;
    }
    text[length] = '\0';
}

void FormResourceText(HMODULE library, UINT id, char *text, int size, const char *const *arguments, int count)
{
    char format[FORMAT_SIZE];
    memset(format, 0, sizeof format);
    LoadStringA(library, id, format, FORMAT_SIZE);
    FormatText(text, size, format, arguments, count);
}
