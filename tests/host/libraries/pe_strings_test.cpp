// The PE string-table reader: the texts of the built resource library, the
// edges of the probe library, the cut of LoadStringA's copy, and files
// that are truncated or corrupted in their headers and resource tables.
#include "platform/host/text/code_page.h"
#include "hex_text.h"
#include "platform/host/text/cp1252.h"
#include "platform/host/libraries/pe_strings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

std::vector<unsigned char> ReadBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::u16string Widen(const std::string &ascii)
{
    return std::u16string(ascii.begin(), ascii.end());
}

// The texts as the resource script writes them, with its escapes undone.
std::map<unsigned, std::string> ScriptTexts(const std::string &path)
{
    std::ifstream in(path);
    std::string script((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::map<unsigned, std::string> texts;
    const std::regex entry(R"re(\n\s*(\d+)\s+"((?:[^"\\]|\\.)*)")re");
    for (std::sregex_iterator it(script.begin(), script.end(), entry), end; it != end; ++it) {
        std::string raw = (*it)[2], text;
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == '\\' && i + 1 < raw.size()) {
                char c = raw[++i];
                text += c == 'n' ? '\n' : c == 't' ? '\t' : c;
            } else {
                text += raw[i];
            }
        }
        texts[static_cast<unsigned>(std::stoul((*it)[1]))] = text;
    }
    return texts;
}

int CountConversions(const std::string &format)
{
    int count = 0;
    for (std::size_t i = 0; i + 1 < format.size(); ++i) {
        if (format[i] == '%') {
            EXPECT_EQ(format[i + 1], 's') << "only %s conversions belong in the texts: " << format;
            ++count;
            ++i;
        }
    }
    return count;
}

std::uint32_t Dword(const std::vector<unsigned char> &b, std::size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

void PutDword(std::vector<unsigned char> &b, std::size_t at, std::uint32_t v)
{
    for (int k = 0; k < 4; ++k) b[at + k] = static_cast<unsigned char>(v >> (8 * k));
}

// Every string of the first tables of an image, looked up for the sake of
// the reads it makes. A string found must lie within a table, so it cannot
// be longer than a table's largest entry.
void LookUpEverything(const host::PeImage &image)
{
    for (std::uint32_t id : {0u, 1u, 2u, 6u, 7u, 8u, 15u, 16u, 31u, 65535u}) {
        auto text = host::FindStringResource(image, id);
        if (text) EXPECT_LE(text->size(), 65535u);
    }
}

class RealLibrary : public ::testing::Test {
protected:
    void SetUp() override
    {
        bytes = ReadBytes(PFMRES_DLL);
        ASSERT_FALSE(bytes.empty()) << PFMRES_DLL;
        auto parsed = host::ParsePeImage(bytes);
        ASSERT_TRUE(parsed) << "the built library does not read as an image";
        image = std::move(*parsed);
    }
    std::vector<unsigned char> bytes;
    host::PeImage image;
};

TEST_F(RealLibrary, HoldsTheScriptsTextsAndNoOthers)
{
    auto texts = ScriptTexts(PFMRES_RC);
    ASSERT_EQ(texts.size(), 4u);
    for (std::uint32_t id = 0; id < 32; ++id) {
        auto found = host::FindStringResource(image, id);
        auto written = texts.find(id);
        if (written == texts.end()) {
            EXPECT_TRUE(!found || found->empty()) << "string " << id;
            continue;
        }
        ASSERT_TRUE(found) << "string " << id;
        EXPECT_EQ(*found, Widen(written->second)) << "string " << id;
    }
}

TEST_F(RealLibrary, TextsTakeTheirArgumentsAndFitTheirRoom)
{
    // The caption takes the maker and the kit; the question and the
    // reports the kit alone, up to 255 characters, within 2047.
    auto texts = ScriptTexts(PFMRES_RC);
    EXPECT_EQ(CountConversions(texts[2]), 2);
    for (unsigned id : {6u, 7u, 8u}) {
        EXPECT_EQ(CountConversions(texts[id]), 1) << "string " << id;
        EXPECT_LE(texts[id].size() - 2 + 255, 2047u) << "string " << id;
    }
    EXPECT_LE(texts[2].size() - 4 + 2 * 40, 255u) << "the caption leaves room for two names of 40 characters";
    for (auto &entry : texts) {
        for (unsigned char c : entry.second) EXPECT_LT(c, 0x80) << "string " << entry.first << " is not plain ASCII";
    }
}

TEST_F(RealLibrary, IsResourcesOnly)
{
    // No entry point, no imports, no thread-local storage, and the DLL
    // flag set; subsystem 4.0 and a section alignment of 0x1000.
    const std::size_t pe = Dword(bytes, 0x3c);
    const std::size_t oh = pe + 24;
    EXPECT_NE((bytes[pe + 22] | bytes[pe + 23] << 8) & 0x2000, 0) << "DLL flag";
    EXPECT_EQ(Dword(bytes, oh + 16), 0u) << "entry point";
    EXPECT_EQ(Dword(bytes, oh + 32), 0x1000u) << "section alignment";
    EXPECT_EQ(bytes[oh + 48] | bytes[oh + 49] << 8, 4) << "subsystem major version";
    EXPECT_EQ(bytes[oh + 50] | bytes[oh + 51] << 8, 0) << "subsystem minor version";
    EXPECT_EQ(Dword(bytes, oh + 96 + 1 * 8), 0u) << "import directory";
    EXPECT_EQ(Dword(bytes, oh + 96 + 9 * 8), 0u) << "thread-local storage directory";
    ASSERT_EQ(image.sections.size(), 1u);
}

TEST_F(RealLibrary, EveryTruncationReadsAsRefusedOrWhole)
{
    // A file cut anywhere before the end of its section data is refused
    // like the loader refuses it; one cut later still holds every text.
    const host::PeSection &last = image.sections.back();
    const std::size_t data_end = last.raw_offset + last.raw_size;
    auto whole = host::FindStringResource(image, 8);
    ASSERT_TRUE(whole);
    for (std::size_t length = 0; length < bytes.size(); ++length) {
        std::vector<unsigned char> cut(bytes.begin(), bytes.begin() + length);
        auto parsed = host::ParsePeImage(cut);
        if (length < data_end) {
            EXPECT_FALSE(parsed) << "cut at " << length;
        } else {
            ASSERT_TRUE(parsed) << "cut at " << length;
            EXPECT_EQ(host::FindStringResource(*parsed, 8), whole) << "cut at " << length;
        }
    }
}

TEST_F(RealLibrary, CorruptedHeaderFieldsAreRefusedOrAbsent)
{
    const std::size_t pe = Dword(bytes, 0x3c);
    const std::size_t oh = pe + 24;
    const std::size_t section = oh + (bytes[pe + 20] | bytes[pe + 21] << 8);
    struct Case {
        const char *what;
        std::size_t at;
        std::uint32_t value;
        bool refused;  // else the image reads but holds no string 2
    };
    const Case cases[] = {
        {"PE header offset past the end", 0x3c, 0xfffffff0u, true},
        {"PE header offset at the last bytes", 0x3c, static_cast<std::uint32_t>(bytes.size() - 2), true},
        {"PE signature", pe, 0x00004551u, true},
        {"machine", pe + 4, 0x8664u | (bytes[pe + 6] | bytes[pe + 7] << 8) << 16, true},
        {"section count 0", pe + 6, static_cast<std::uint32_t>(0 | (bytes[pe + 8] | bytes[pe + 9] << 8) << 16), true},
        {"section count 65535", pe + 6, 0xffffu | static_cast<std::uint32_t>(bytes[pe + 8] | bytes[pe + 9] << 8) << 16, true},
        {"optional header size 65535", pe + 20, 0xffffu | static_cast<std::uint32_t>(bytes[pe + 22] | bytes[pe + 23] << 8) << 16, true},
        {"optional header size 8", pe + 20, 8u | static_cast<std::uint32_t>(bytes[pe + 22] | bytes[pe + 23] << 8) << 16, true},
        {"optional header magic", oh, 0x020bu | Dword(bytes, oh) & 0xffff0000u, true},
        {"section data offset", section + 20, 0xfffffe00u, true},
        {"section data size", section + 16, 0x7fffffffu, true},
        {"directory count 2", oh + 92, 2u, false},
        {"resource address past the image", oh + 96 + 16, 0xfffff000u, false},
        {"resource address in the headers", oh + 96 + 16, 0x10u, false},
        {"resource size 0", oh + 96 + 20, 0u, false},
        {"resource size 4", oh + 96 + 20, 4u, false},
        {"section address moved", section + 12, 0x5000u, false},
        {"section sizes 0", section + 8, 0u, false},
    };
    for (const Case &c : cases) {
        std::vector<unsigned char> damaged = bytes;
        PutDword(damaged, c.at, c.value);
        if (c.what == std::string("section sizes 0")) PutDword(damaged, section + 16, 0);
        auto parsed = host::ParsePeImage(damaged);
        if (c.refused) {
            EXPECT_FALSE(parsed) << c.what;
        } else {
            ASSERT_TRUE(parsed) << c.what;
            EXPECT_FALSE(host::FindStringResource(*parsed, 2)) << c.what;
        }
    }
}

TEST_F(RealLibrary, CorruptedResourceTablesReadAsAbsentOrWithinBounds)
{
    // Every dword of the resource tables set to values that point nowhere,
    // everywhere, or at themselves; then random damage anywhere in the
    // file. Each must read without touching a byte outside the file.
    const host::PeSection &rsrc = image.sections.front();
    const std::uint32_t values[] = {0u, 1u, 0xffu, 0x7fffffffu, 0x80000000u, 0x80000010u, 0xffffffffu, 0xfff0u};
    for (std::size_t at = rsrc.raw_offset; at + 4 <= rsrc.raw_offset + rsrc.raw_size; at += 2) {
        for (std::uint32_t v : values) {
            std::vector<unsigned char> damaged = bytes;
            PutDword(damaged, at, v);
            auto parsed = host::ParsePeImage(damaged);
            ASSERT_TRUE(parsed) << "damage at " << at;
            LookUpEverything(*parsed);
        }
    }
    std::mt19937 random(20240601);
    for (int round = 0; round < 20000; ++round) {
        std::vector<unsigned char> damaged = bytes;
        const int hits = 1 + static_cast<int>(random() % 6);
        for (int k = 0; k < hits; ++k) {
            // Mostly the headers and the start of the tables, where the
            // offsets and counts lie.
            std::size_t span = random() % 4 ? std::min<std::size_t>(bytes.size(), rsrc.raw_offset + 0x100) : bytes.size();
            damaged[random() % span] = static_cast<unsigned char>(random());
        }
        if (auto parsed = host::ParsePeImage(damaged)) LookUpEverything(*parsed);
    }
}

class ProbeLibrary : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto parsed = host::ReadPeImage(PROBE_DLL);
        ASSERT_TRUE(parsed) << PROBE_DLL;
        image = std::move(*parsed);
    }
    host::PeImage image;
};

TEST_F(ProbeLibrary, FindsEntriesByTableAndIndex)
{
    auto length = [&](std::uint32_t id) -> long {
        auto text = host::FindStringResource(image, id);
        return text ? static_cast<long>(text->size()) : -1;
    };
    EXPECT_EQ(length(1), 2047);
    EXPECT_EQ(length(2), 2048);
    EXPECT_EQ(length(3), 3000);
    EXPECT_EQ(length(7), 65535);
    EXPECT_EQ(length(0), 0) << "an empty entry of a table that exists";
    EXPECT_EQ(length(5), 0);
    EXPECT_EQ(length(64), -1) << "a table that does not exist";
    EXPECT_EQ(length(65534), 0);
    EXPECT_EQ(host::FindStringResource(image, 65535), Widen("last"));
    EXPECT_EQ(host::FindStringResource(image, 0x1ffff), Widen("last")) << "only the low 16 bits count";
    EXPECT_EQ(host::FindStringResource(image, 6), std::u16string(u"ab\0cd", 5));
    auto unit_table = host::FindStringResource(image, 16 + 13);
    ASSERT_TRUE(unit_table);
    EXPECT_EQ((*unit_table)[0x800], u'\xd800') << "units are kept as stored, surrogates included";
}

TEST_F(ProbeLibrary, PrefersNeutralThenEnglishThenTheFirstLanguage)
{
    EXPECT_EQ(host::FindStringResource(image, 32), Widen("english"));
    EXPECT_EQ(host::FindStringResource(image, 48), Widen("nur deutsch"));
    EXPECT_EQ(host::FindStringResource(image, 8), Widen("%s %s"));
}

TEST(CopyStringResource, CutsToTheBufferAndEndsWithNul)
{
    const std::u16string text(3000, u'x');
    const host::CodePage &kWestern = host::CodePage::ForNumber(1252);
    struct Case {
        std::size_t length;
        int size;
        int copied;
    };
    const Case cases[] = {
        {2047, 2048, 2047}, {2048, 2048, 2047}, {3000, 2048, 2047}, {10, 2048, 10},
        {0, 2048, 0},       {5, 1, 0},          {5, 2, 1},          {5, 6, 5},
    };
    for (const Case &c : cases) {
        std::vector<char> buffer(c.size + 16, '#');
        int result = host::CopyStringResource(std::u16string_view(text).substr(0, c.length), buffer.data(), c.size,
                                              kWestern);
        EXPECT_EQ(result, c.copied) << c.length << " into " << c.size;
        EXPECT_EQ(std::count(buffer.begin(), buffer.begin() + c.copied, 'x'), c.copied);
        EXPECT_EQ(buffer[c.copied], '\0');
        EXPECT_TRUE(std::all_of(buffer.begin() + c.copied + 1, buffer.end(), [](char b) { return b == '#'; }))
            << "written past the copy: " << c.length << " into " << c.size;
    }
    char untouched = '#';
    EXPECT_EQ(host::CopyStringResource(u"abc", &untouched, 0, kWestern), -1);
    EXPECT_EQ(untouched, '#');
    std::vector<char> unbounded(10, '#');
    EXPECT_EQ(host::CopyStringResource(u"abcdef", unbounded.data(), -1, kWestern), 6) << "a negative size does not cut";
    EXPECT_EQ(unbounded[6], '\0');
}

TEST(Cp1252BestFit, ConvertsEachUnitAsThePlatformDoes)
{
    // Answers measured with LoadStringA under Wine; the comparison test
    // checks every unit against Wine itself.
    const std::pair<char16_t, unsigned char> cases[] = {
        {u'a', 'a'},       {u'?', '?'},       {0x00e9, 0xe9},    {0x20ac, 0x80},    {0x2013, 0x96},
        {0x0081, 0x81},    {0x0100, 'A'},     {0x0141, 'L'},     {0x03b1, 'a'},     {0x2212, '-'},
        {0xff21, 'A'},     {0x3000, ' '},     {0x0300, '`'},     {0x4e2d, '?'},     {0x0410, '?'},
        {0xd83d, '?'},     {0xdc00, '?'},     {0xfffd, '?'},     {0xfb01, '?'},
    };
    for (auto &c : cases) {
        EXPECT_EQ(host::UnicodeToCp1252(c.first), c.second) << std::hex << static_cast<unsigned>(c.first);
    }
}

}  // namespace

namespace {

TEST(ProgramIcon, IsGroup101WithOne32x32ImageOf16Colours)
{
    auto image = host::ReadPeImage(ICON_DLL);
    ASSERT_TRUE(image) << ICON_DLL;
    auto group = host::FindResourceData(*image, 14, 101);
    ASSERT_TRUE(group);
    ASSERT_EQ(group->size(), 6u + 14u);
    auto word = [](const std::vector<unsigned char> &b, std::size_t at) { return b[at] | b[at + 1] << 8; };
    EXPECT_EQ(word(*group, 2), 1) << "an icon group";
    EXPECT_EQ(word(*group, 4), 1) << "one image";
    EXPECT_EQ((*group)[6], 32);
    EXPECT_EQ((*group)[7], 32);
    EXPECT_EQ((*group)[8], 16);
    EXPECT_EQ(word(*group, 12), 4) << "bits a pixel";
    const std::uint32_t bytes = Dword(*group, 14);
    const int id = word(*group, 18);

    auto picture = host::FindResourceData(*image, 3, static_cast<std::uint32_t>(id));
    ASSERT_TRUE(picture) << "image " << id;
    // Header, 16 colours, 32x32 pixels at 4 bits, a mask of 1 bit a pixel.
    ASSERT_EQ(picture->size(), 40u + 16 * 4 + 32 * 32 / 2 + 32 * 32 / 8);
    EXPECT_EQ(picture->size(), bytes);
    EXPECT_EQ(Dword(*picture, 0), 40u);
    EXPECT_EQ(Dword(*picture, 4), 32u);
    EXPECT_EQ(Dword(*picture, 8), 64u) << "image and mask";
    EXPECT_EQ(word(*picture, 14), 4);
    // A drawing: more than one colour, and some pixels transparent, some not.
    const std::size_t pixels = 40 + 64;
    std::set<int> colours;
    for (std::size_t i = pixels; i < pixels + 512; ++i) {
        colours.insert((*picture)[i] >> 4);
        colours.insert((*picture)[i] & 15);
    }
    EXPECT_GE(colours.size(), 4u);
    std::size_t transparent = 0;
    for (std::size_t i = pixels + 512; i < picture->size(); ++i) {
        for (int bit = 0; bit < 8; ++bit) transparent += ((*picture)[i] >> bit) & 1;
    }
    EXPECT_GT(transparent, 0u);
    EXPECT_LT(transparent, 32u * 32u);
}

namespace copy_in_code_pages {

using host::CodePage;

using pfmtest::Hex;

// LoadStringA's copy never cuts a character of two bytes.
TEST(CodePage, LoadStringCopyKeepsDoubleByteCharactersWhole)
{
    struct Case {
        unsigned number;
        std::u16string text;
        int size;
        const char *copied;
    } const cases[] = {
        {932, u"プリンタ", 4, "\x83\x76"},
        {932, u"プリンタ", 5, "\x83\x76\x83\x8A"},
        {932, u"プリンタ", 2, ""},
        {932, u"aプ", 3, "a"},
        {932, u"ｱｲ", 2, "\xB1"},
        {932, u"プリンタ", -1, "\x83\x76\x83\x8A\x83\x93\x83\x5E"},
        {1251, u"Принтер", 4, "\xCF\xF0\xE8"},
        {1251, u"Printer ℃", 20, "Printer ?"},
    };
    for (const Case &c : cases) {
        char buffer[32];
        std::memset(buffer, 0x55, sizeof buffer);
        int n = host::CopyStringResource(c.text, buffer, c.size, CodePage::ForNumber(c.number));
        EXPECT_EQ(n, static_cast<int>(std::strlen(c.copied))) << c.number << " " << c.size;
        EXPECT_EQ(Hex(std::string_view(buffer, n + 1)), Hex(std::string_view(c.copied, n + 1)))
            << c.number << " " << c.size;
    }
}

}  // namespace copy_in_code_pages

}  // namespace
