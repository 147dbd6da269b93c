// Writes the resource script of the probe library: string tables that try
// the edges of LoadStringA, for comparing the host's answers with the
// system's. The tables are raw data, so every UTF-16 unit is under control
// (lone surrogates, NULs inside a string, lengths at the limit).
//
//   ids 0-15      the cut and the edges: 2047, 2048, 3000 and 65535 units,
//                 empty strings, a NUL inside a string, characters outside
//                 code page 1252
//   ids 16-31     every UTF-16 unit, 4096 to a string
//   ids 32-47     one table in German and in English (0x0407, 0x0409)
//   ids 48-63     one table in German alone
//   ids 65520-65535  the last table
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Units = std::vector<unsigned>;

Units Letters(std::size_t count)
{
    // A repeating alphabet, so a cut at the wrong place shows in the bytes.
    Units u;
    for (std::size_t i = 0; i < count; ++i) u.push_back('a' + i % 26);
    return u;
}

Units Ascii(const char *text)
{
    Units u;
    for (; *text; ++text) u.push_back(static_cast<unsigned char>(*text));
    return u;
}

void WriteTable(std::FILE *out, unsigned block, unsigned language, const std::vector<Units> &strings)
{
    std::fprintf(out, "LANGUAGE 0x%x, 0x%x\n%u 6\n{\n", language & 0x3ff, language >> 10, block);
    int column = 0;
    auto word = [&](unsigned w) {
        std::fprintf(out, "%s0x%04x", column == 0 ? "  " : ", ", w);
        if (++column == 12) {
            std::fprintf(out, ",\n");
            column = 0;
        }
    };
    for (std::size_t i = 0; i < 16; ++i) {
        const Units empty;
        const Units &s = i < strings.size() ? strings[i] : empty;
        word(static_cast<unsigned>(s.size()));
        for (unsigned unit : s) word(unit);
    }
    std::fprintf(out, "%s}\n\n", column == 0 ? "" : "\n");
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.rc\n", argv[0]);
        return 2;
    }
    std::FILE *out = std::fopen(argv[1], "w");
    if (!out) {
        std::perror(argv[1]);
        return 1;
    }

    std::vector<Units> edges(16);
    edges[1] = Letters(2047);
    edges[2] = Letters(2048);
    edges[3] = Letters(3000);
    edges[4] = {0x0100, 0x0101, 0x0141, 0x0131, 0x2013, 0x2212, 0x201c, 0x00a0, 0xff21, 0x4e2d,
                0x0410, 0x03b1, 0xd83d, 0xde00, 0xd800, 'x',    0xdc00, 0xfffd, 0x0300, 0x00c0,
                0x01c0, 0x2122, 0xfb01, 0x2026, 0x0081, 0x20ac, 0x00ff, 0x0178, 0x3000, 0x00e9};
    edges[6] = {'a', 'b', 0, 'c', 'd'};
    edges[7] = Letters(65535);
    edges[8] = Ascii("%s %s");
    WriteTable(out, 1, 0, edges);

    std::vector<Units> all(16);
    for (unsigned k = 0; k < 16; ++k) {
        for (unsigned u = 0; u < 4096; ++u) all[k].push_back(k * 4096 + u);
    }
    WriteTable(out, 2, 0, all);

    WriteTable(out, 3, 0x0407, {Ascii("deutsch")});
    WriteTable(out, 3, 0x0409, {Ascii("english")});
    WriteTable(out, 4, 0x0407, {Ascii("nur deutsch")});

    std::vector<Units> last(16);
    last[15] = Ascii("last");
    WriteTable(out, 4096, 0, last);

    return std::fclose(out) == 0 ? 0 : 1;
}
