#include "pe_strings.h"

#include "codepage.h"

#include <algorithm>
#include <fstream>
#include <sys/stat.h>

namespace host {
namespace {

constexpr std::uint16_t kMachineI386 = 0x014c;
constexpr std::uint16_t kExecutableImage = 0x0002;
constexpr std::uint16_t kPe32Magic = 0x010b;
constexpr std::size_t kFileHeaderSize = 20;
constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::size_t kMaxSections = 96;
constexpr std::uint32_t kResourceDirectoryIndex = 2;
constexpr std::uint32_t kStringTableType = 6;
constexpr std::uint32_t kSubdirectoryBit = 0x80000000u;
constexpr std::uint64_t kMaxFileSize = 64u << 20;
// Far more than any resource: a string table holds at most 2 MiB.
constexpr std::uint32_t kMaxResourceSize = 16u << 20;

std::uint16_t Word(const std::vector<unsigned char> &b, std::size_t at)
{
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

std::uint32_t Dword(const std::vector<unsigned char> &b, std::size_t at)
{
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

bool Fits(std::uint64_t offset, std::uint64_t length, std::uint64_t size)
{
    return offset <= size && length <= size - offset;
}

// Copies `length` bytes of the mapped image at `rva`, as the loader lays
// it out: the headers at 0, each section at its address with its file data
// and then zeros up to its size in memory. False when any byte falls
// outside the headers and the sections.
bool CopyFromImage(const PeImage &image, std::uint64_t rva, void *out, std::size_t length)
{
    unsigned char *dst = static_cast<unsigned char *>(out);
    std::uint64_t at = rva;
    while (length > 0) {
        std::uint64_t available = 0;
        const unsigned char *src = nullptr;  // null: zeros past the section's file data
        if (at < image.header_size) {
            available = image.header_size - at;
            src = image.file.data() + at;
        } else {
            for (const PeSection &s : image.sections) {
                std::uint64_t extent = s.virtual_size ? s.virtual_size : s.raw_size;
                if (at < s.virtual_address || at - s.virtual_address >= extent) continue;
                std::uint64_t inside = at - s.virtual_address;
                if (inside < s.raw_size) {
                    available = std::min<std::uint64_t>(s.raw_size, extent) - inside;
                    src = image.file.data() + s.raw_offset + inside;
                } else {
                    available = extent - inside;
                }
                break;
            }
            if (available == 0) return false;
        }
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(available, length));
        if (src) {
            std::copy(src, src + n, dst);
        } else {
            std::fill(dst, dst + n, 0);
        }
        dst += n;
        at += n;
        length -= n;
    }
    return true;
}

// One entry of a resource directory.
struct DirectoryEntry {
    std::uint32_t name;
    std::uint32_t target;
};

// Reads the resource directory at `offset` (from the start of the
// resources) and gives its entries, or none when it does not lie within
// the resources.
std::optional<std::vector<DirectoryEntry>> ReadDirectory(const PeImage &image, std::uint32_t offset)
{
    unsigned char header[16];
    if (!Fits(offset, sizeof header, image.resource_size) ||
        !CopyFromImage(image, std::uint64_t(image.resource_rva) + offset, header, sizeof header)) {
        return std::nullopt;
    }
    std::size_t count = static_cast<std::size_t>(header[12] | header[13] << 8) +
                        static_cast<std::size_t>(header[14] | header[15] << 8);
    std::uint64_t table = std::uint64_t(offset) + sizeof header;
    if (!Fits(table, count * 8, image.resource_size)) return std::nullopt;
    std::vector<unsigned char> raw(count * 8);
    if (!CopyFromImage(image, image.resource_rva + table, raw.data(), raw.size())) {
        return std::nullopt;
    }
    std::vector<DirectoryEntry> entries(count);
    for (std::size_t i = 0; i < count; ++i) entries[i] = {Dword(raw, i * 8), Dword(raw, i * 8 + 4)};
    return entries;
}

// The subdirectory that a numbered entry of a directory leads to.
std::optional<std::uint32_t> FindSubdirectory(const PeImage &image, std::uint32_t offset, std::uint32_t id)
{
    auto entries = ReadDirectory(image, offset);
    if (!entries) return std::nullopt;
    for (const DirectoryEntry &e : *entries) {
        if (e.name == id) {
            if (!(e.target & kSubdirectoryBit)) return std::nullopt;
            return e.target & ~kSubdirectoryBit;
        }
    }
    return std::nullopt;
}

// The data entry of the language the platform prefers for a resource
// asked for without a language.
std::optional<std::uint32_t> FindLanguageEntry(const PeImage &image, std::uint32_t offset)
{
    auto entries = ReadDirectory(image, offset);
    if (!entries || entries->empty()) return std::nullopt;
    const DirectoryEntry *chosen = &entries->front();
    for (std::uint32_t language : {0x0000u, 0x0409u, 0x0009u}) {
        auto it = std::find_if(entries->begin(), entries->end(),
                               [&](const DirectoryEntry &e) { return e.name == language; });
        if (it != entries->end()) {
            chosen = &*it;
            break;
        }
    }
    if (chosen->target & kSubdirectoryBit) return std::nullopt;
    return chosen->target;
}

// Code page 1252 for the units that the code page itself lacks, as the
// platform converts them (its best-fit table): each unit and its byte,
// sorted by unit. Units not listed become '?'.
struct BestFit {
    char16_t unit;
    unsigned char byte;
};

const BestFit kBestFit[] = {
    {0x0100, 0x41}, {0x0101, 0x61}, {0x0102, 0x41}, {0x0103, 0x61}, {0x0104, 0x41}, {0x0105, 0x61},
    {0x0106, 0x43}, {0x0107, 0x63}, {0x0108, 0x43}, {0x0109, 0x63}, {0x010A, 0x43}, {0x010B, 0x63},
    {0x010C, 0x43}, {0x010D, 0x63}, {0x010E, 0x44}, {0x010F, 0x64}, {0x0110, 0xD0}, {0x0111, 0x64},
    {0x0112, 0x45}, {0x0113, 0x65}, {0x0114, 0x45}, {0x0115, 0x65}, {0x0116, 0x45}, {0x0117, 0x65},
    {0x0118, 0x45}, {0x0119, 0x65}, {0x011A, 0x45}, {0x011B, 0x65}, {0x011C, 0x47}, {0x011D, 0x67},
    {0x011E, 0x47}, {0x011F, 0x67}, {0x0120, 0x47}, {0x0121, 0x67}, {0x0122, 0x47}, {0x0123, 0x67},
    {0x0124, 0x48}, {0x0125, 0x68}, {0x0126, 0x48}, {0x0127, 0x68}, {0x0128, 0x49}, {0x0129, 0x69},
    {0x012A, 0x49}, {0x012B, 0x69}, {0x012C, 0x49}, {0x012D, 0x69}, {0x012E, 0x49}, {0x012F, 0x69},
    {0x0130, 0x49}, {0x0131, 0x69}, {0x0134, 0x4A}, {0x0135, 0x6A}, {0x0136, 0x4B}, {0x0137, 0x6B},
    {0x0139, 0x4C}, {0x013A, 0x6C}, {0x013B, 0x4C}, {0x013C, 0x6C}, {0x013D, 0x4C}, {0x013E, 0x6C},
    {0x0141, 0x4C}, {0x0142, 0x6C}, {0x0143, 0x4E}, {0x0144, 0x6E}, {0x0145, 0x4E}, {0x0146, 0x6E},
    {0x0147, 0x4E}, {0x0148, 0x6E}, {0x014C, 0x4F}, {0x014D, 0x6F}, {0x014E, 0x4F}, {0x014F, 0x6F},
    {0x0150, 0x4F}, {0x0151, 0x6F}, {0x0154, 0x52}, {0x0155, 0x72}, {0x0156, 0x52}, {0x0157, 0x72},
    {0x0158, 0x52}, {0x0159, 0x72}, {0x015A, 0x53}, {0x015B, 0x73}, {0x015C, 0x53}, {0x015D, 0x73},
    {0x015E, 0x53}, {0x015F, 0x73}, {0x0162, 0x54}, {0x0163, 0x74}, {0x0164, 0x54}, {0x0165, 0x74},
    {0x0166, 0x54}, {0x0167, 0x74}, {0x0168, 0x55}, {0x0169, 0x75}, {0x016A, 0x55}, {0x016B, 0x75},
    {0x016C, 0x55}, {0x016D, 0x75}, {0x016E, 0x55}, {0x016F, 0x75}, {0x0170, 0x55}, {0x0171, 0x75},
    {0x0172, 0x55}, {0x0173, 0x75}, {0x0174, 0x57}, {0x0175, 0x77}, {0x0176, 0x59}, {0x0177, 0x79},
    {0x0179, 0x5A}, {0x017A, 0x7A}, {0x017B, 0x5A}, {0x017C, 0x7A}, {0x0180, 0x62}, {0x0189, 0xD0},
    {0x0191, 0x83}, {0x0197, 0x49}, {0x019A, 0x6C}, {0x019F, 0x4F}, {0x01A0, 0x4F}, {0x01A1, 0x6F},
    {0x01AB, 0x74}, {0x01AE, 0x54}, {0x01AF, 0x55}, {0x01B0, 0x75}, {0x01B6, 0x7A}, {0x01C0, 0x7C},
    {0x01C3, 0x21}, {0x01CD, 0x41}, {0x01CE, 0x61}, {0x01CF, 0x49}, {0x01D0, 0x69}, {0x01D1, 0x4F},
    {0x01D2, 0x6F}, {0x01D3, 0x55}, {0x01D4, 0x75}, {0x01D5, 0x55}, {0x01D6, 0x75}, {0x01D7, 0x55},
    {0x01D8, 0x75}, {0x01D9, 0x55}, {0x01DA, 0x75}, {0x01DB, 0x55}, {0x01DC, 0x75}, {0x01DE, 0x41},
    {0x01DF, 0x61}, {0x01E4, 0x47}, {0x01E5, 0x67}, {0x01E6, 0x47}, {0x01E7, 0x67}, {0x01E8, 0x4B},
    {0x01E9, 0x6B}, {0x01EA, 0x4F}, {0x01EB, 0x6F}, {0x01EC, 0x4F}, {0x01ED, 0x6F}, {0x01F0, 0x6A},
    {0x0261, 0x67}, {0x02B9, 0x27}, {0x02BA, 0x22}, {0x02BC, 0x27}, {0x02C4, 0x5E}, {0x02C8, 0x27},
    {0x02C9, 0xAF}, {0x02CA, 0xB4}, {0x02CB, 0x60}, {0x02CD, 0x5F}, {0x02DA, 0xB0}, {0x0300, 0x60},
    {0x0301, 0xB4}, {0x0302, 0x5E}, {0x0303, 0x7E}, {0x0304, 0xAF}, {0x0305, 0xAF}, {0x0308, 0xA8},
    {0x030A, 0xB0}, {0x030E, 0x22}, {0x0327, 0xB8}, {0x0331, 0x5F}, {0x0332, 0x5F}, {0x037E, 0x3B},
    {0x0393, 0x47}, {0x0398, 0x54}, {0x03A3, 0x53}, {0x03A6, 0x46}, {0x03A9, 0x4F}, {0x03B1, 0x61},
    {0x03B2, 0xDF}, {0x03B4, 0x64}, {0x03B5, 0x65}, {0x03BC, 0xB5}, {0x03C0, 0x70}, {0x03C3, 0x73},
    {0x03C4, 0x74}, {0x03C6, 0x66}, {0x04BB, 0x68}, {0x0589, 0x3A}, {0x066A, 0x25}, {0x2000, 0x20},
    {0x2001, 0x20}, {0x2002, 0x20}, {0x2003, 0x20}, {0x2004, 0x20}, {0x2005, 0x20}, {0x2006, 0x20},
    {0x2010, 0x2D}, {0x2011, 0x2D}, {0x2017, 0x3D}, {0x2024, 0xB7}, {0x2032, 0x27}, {0x2035, 0x60},
    {0x2044, 0x2F}, {0x2070, 0xB0}, {0x2074, 0x34}, {0x2075, 0x35}, {0x2076, 0x36}, {0x2077, 0x37},
    {0x2078, 0x38}, {0x207F, 0x6E}, {0x2080, 0x30}, {0x2081, 0x31}, {0x2082, 0x32}, {0x2083, 0x33},
    {0x2084, 0x34}, {0x2085, 0x35}, {0x2086, 0x36}, {0x2087, 0x37}, {0x2088, 0x38}, {0x2089, 0x39},
    {0x20A1, 0xA2}, {0x20A4, 0xA3}, {0x20A7, 0x50}, {0x2102, 0x43}, {0x2107, 0x45}, {0x210A, 0x67},
    {0x210B, 0x48}, {0x210C, 0x48}, {0x210D, 0x48}, {0x210E, 0x68}, {0x2110, 0x49}, {0x2111, 0x49},
    {0x2112, 0x4C}, {0x2113, 0x6C}, {0x2115, 0x4E}, {0x2118, 0x50}, {0x2119, 0x50}, {0x211A, 0x51},
    {0x211B, 0x52}, {0x211C, 0x52}, {0x211D, 0x52}, {0x2124, 0x5A}, {0x2128, 0x5A}, {0x212A, 0x4B},
    {0x212B, 0xC5}, {0x212C, 0x42}, {0x212D, 0x43}, {0x212E, 0x65}, {0x212F, 0x65}, {0x2130, 0x45},
    {0x2131, 0x46}, {0x2133, 0x4D}, {0x2134, 0x6F}, {0x2205, 0xD8}, {0x2212, 0x2D}, {0x2213, 0xB1},
    {0x2215, 0x2F}, {0x2216, 0x5C}, {0x2217, 0x2A}, {0x2218, 0xB0}, {0x2219, 0xB7}, {0x221A, 0x76},
    {0x221E, 0x38}, {0x2223, 0x7C}, {0x2229, 0x6E}, {0x2236, 0x3A}, {0x223C, 0x7E}, {0x2248, 0x98},
    {0x2261, 0x3D}, {0x2264, 0x3D}, {0x2265, 0x3D}, {0x226A, 0xAB}, {0x226B, 0xBB}, {0x22C5, 0xB7},
    {0x2302, 0xA6}, {0x2303, 0x5E}, {0x2310, 0xAC}, {0x2320, 0x28}, {0x2321, 0x29}, {0x2329, 0x3C},
    {0x232A, 0x3E}, {0x2500, 0x2D}, {0x2502, 0xA6}, {0x250C, 0x2B}, {0x2510, 0x2B}, {0x2514, 0x2B},
    {0x2518, 0x2B}, {0x251C, 0x2B}, {0x2524, 0xA6}, {0x252C, 0x2D}, {0x2534, 0x2D}, {0x253C, 0x2B},
    {0x2550, 0x2D}, {0x2551, 0xA6}, {0x2552, 0x2B}, {0x2553, 0x2B}, {0x2554, 0x2B}, {0x2555, 0x2B},
    {0x2556, 0x2B}, {0x2557, 0x2B}, {0x2558, 0x2B}, {0x2559, 0x2B}, {0x255A, 0x2B}, {0x255B, 0x2B},
    {0x255C, 0x2B}, {0x255D, 0x2B}, {0x255E, 0xA6}, {0x255F, 0xA6}, {0x2560, 0xA6}, {0x2561, 0xA6},
    {0x2562, 0xA6}, {0x2563, 0xA6}, {0x2564, 0x2D}, {0x2565, 0x2D}, {0x2566, 0x2D}, {0x2567, 0x2D},
    {0x2568, 0x2D}, {0x2569, 0x2D}, {0x256A, 0x2B}, {0x256B, 0x2B}, {0x256C, 0x2B}, {0x2580, 0xAF},
    {0x2584, 0x5F}, {0x2588, 0xA6}, {0x258C, 0xA6}, {0x2590, 0xA6}, {0x2591, 0xA6}, {0x2592, 0xA6},
    {0x2593, 0xA6}, {0x25A0, 0xA6}, {0x263C, 0xA4}, {0x2758, 0x7C}, {0x3000, 0x20}, {0x3008, 0x3C},
    {0x3009, 0x3E}, {0x300A, 0xAB}, {0x300B, 0xBB}, {0x301A, 0x5B}, {0x301B, 0x5D}, {0x30FB, 0xB7},
    {0xFF01, 0x21}, {0xFF02, 0x22}, {0xFF03, 0x23}, {0xFF04, 0x24}, {0xFF05, 0x25}, {0xFF06, 0x26},
    {0xFF07, 0x27}, {0xFF08, 0x28}, {0xFF09, 0x29}, {0xFF0A, 0x2A}, {0xFF0B, 0x2B}, {0xFF0C, 0x2C},
    {0xFF0D, 0x2D}, {0xFF0E, 0x2E}, {0xFF0F, 0x2F}, {0xFF10, 0x30}, {0xFF11, 0x31}, {0xFF12, 0x32},
    {0xFF13, 0x33}, {0xFF14, 0x34}, {0xFF15, 0x35}, {0xFF16, 0x36}, {0xFF17, 0x37}, {0xFF18, 0x38},
    {0xFF19, 0x39}, {0xFF1A, 0x3A}, {0xFF1B, 0x3B}, {0xFF1C, 0x3C}, {0xFF1D, 0x3D}, {0xFF1E, 0x3E},
    {0xFF20, 0x40}, {0xFF21, 0x41}, {0xFF22, 0x42}, {0xFF23, 0x43}, {0xFF24, 0x44}, {0xFF25, 0x45},
    {0xFF26, 0x46}, {0xFF27, 0x47}, {0xFF28, 0x48}, {0xFF29, 0x49}, {0xFF2A, 0x4A}, {0xFF2B, 0x4B},
    {0xFF2C, 0x4C}, {0xFF2D, 0x4D}, {0xFF2E, 0x4E}, {0xFF2F, 0x4F}, {0xFF30, 0x50}, {0xFF31, 0x51},
    {0xFF32, 0x52}, {0xFF33, 0x53}, {0xFF34, 0x54}, {0xFF35, 0x55}, {0xFF36, 0x56}, {0xFF37, 0x57},
    {0xFF38, 0x58}, {0xFF39, 0x59}, {0xFF3A, 0x5A}, {0xFF3B, 0x5B}, {0xFF3C, 0x5C}, {0xFF3D, 0x5D},
    {0xFF3E, 0x5E}, {0xFF3F, 0x5F}, {0xFF40, 0x60}, {0xFF41, 0x61}, {0xFF42, 0x62}, {0xFF43, 0x63},
    {0xFF44, 0x64}, {0xFF45, 0x65}, {0xFF46, 0x66}, {0xFF47, 0x67}, {0xFF48, 0x68}, {0xFF49, 0x69},
    {0xFF4A, 0x6A}, {0xFF4B, 0x6B}, {0xFF4C, 0x6C}, {0xFF4D, 0x6D}, {0xFF4E, 0x6E}, {0xFF4F, 0x6F},
    {0xFF50, 0x70}, {0xFF51, 0x71}, {0xFF52, 0x72}, {0xFF53, 0x73}, {0xFF54, 0x74}, {0xFF55, 0x75},
    {0xFF56, 0x76}, {0xFF57, 0x77}, {0xFF58, 0x78}, {0xFF59, 0x79}, {0xFF5A, 0x7A}, {0xFF5B, 0x7B},
    {0xFF5C, 0x7C}, {0xFF5D, 0x7D}, {0xFF5E, 0x7E},
};

}  // namespace

std::optional<PeImage> ParsePeImage(std::vector<unsigned char> file)
{
    const std::uint64_t size = file.size();
    if (size < 64 || file[0] != 'M' || file[1] != 'Z') return std::nullopt;
    const std::uint32_t pe = Dword(file, 0x3c);
    if (!Fits(pe, 4 + kFileHeaderSize, size) || Dword(file, pe) != 0x00004550u) return std::nullopt;

    const std::size_t fh = pe + 4;
    const std::uint16_t machine = Word(file, fh);
    const std::uint16_t section_count = Word(file, fh + 2);
    const std::uint16_t optional_size = Word(file, fh + 16);
    const std::uint16_t characteristics = Word(file, fh + 18);
    if (machine != kMachineI386 || !(characteristics & kExecutableImage)) return std::nullopt;
    if (section_count == 0 || section_count > kMaxSections) return std::nullopt;

    // The PE32 optional header up to NumberOfRvaAndSizes (96 bytes).
    const std::size_t oh = fh + kFileHeaderSize;
    if (optional_size < 96 || !Fits(oh, optional_size, size) || Word(file, oh) != kPe32Magic) return std::nullopt;

    PeImage image;
    const std::uint32_t header_size = Dword(file, oh + 60);
    const std::uint64_t section_table = std::uint64_t(oh) + optional_size;
    const std::uint64_t table_end = section_table + std::uint64_t(section_count) * kSectionHeaderSize;
    if (table_end > size) return std::nullopt;
    // The headers as mapped: never less than the section table, never more
    // than the file holds.
    image.header_size = static_cast<std::uint32_t>(std::min<std::uint64_t>(std::max<std::uint64_t>(header_size, table_end), size));

    for (std::size_t i = 0; i < section_count; ++i) {
        const std::size_t at = static_cast<std::size_t>(section_table) + i * kSectionHeaderSize;
        PeSection s;
        s.virtual_size = Dword(file, at + 8);
        s.virtual_address = Dword(file, at + 12);
        s.raw_size = Dword(file, at + 16);
        s.raw_offset = Dword(file, at + 20);
        // Section data past the end of the file: the loader refuses the image.
        if (s.raw_size != 0 && !Fits(s.raw_offset, s.raw_size, size)) return std::nullopt;
        image.sections.push_back(s);
    }

    const std::uint32_t directory_count = Dword(file, oh + 92);
    const std::uint64_t resource_entry = oh + 96 + std::uint64_t(kResourceDirectoryIndex) * 8;
    if (directory_count > kResourceDirectoryIndex && resource_entry + 8 <= oh + optional_size) {
        image.resource_rva = Dword(file, static_cast<std::size_t>(resource_entry));
        image.resource_size = Dword(file, static_cast<std::size_t>(resource_entry) + 4);
        if (image.resource_rva == 0) image.resource_size = 0;
    }
    image.file = std::move(file);
    return image;
}

std::optional<PeImage> ReadPeImage(const std::string &unix_path)
{
    struct stat st;
    if (::stat(unix_path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<std::uint64_t>(st.st_size) > kMaxFileSize) {
        return std::nullopt;
    }
    std::ifstream in(unix_path, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<unsigned char> file(static_cast<std::size_t>(st.st_size));
    in.read(reinterpret_cast<char *>(file.data()), static_cast<std::streamsize>(file.size()));
    // A file that changed size while it was read is read as far as it went.
    file.resize(static_cast<std::size_t>(in.gcount()));
    return ParsePeImage(std::move(file));
}

std::optional<std::vector<unsigned char>> FindResourceData(const PeImage &image, std::uint32_t type,
                                                          std::uint32_t name)
{
    if (image.resource_size == 0) return std::nullopt;
    auto names = FindSubdirectory(image, 0, type);
    if (!names) return std::nullopt;
    auto languages = FindSubdirectory(image, *names, name);
    if (!languages) return std::nullopt;
    auto data_entry = FindLanguageEntry(image, *languages);
    if (!data_entry) return std::nullopt;

    std::vector<unsigned char> entry(8);
    if (!Fits(*data_entry, entry.size(), image.resource_size) ||
        !CopyFromImage(image, std::uint64_t(image.resource_rva) + *data_entry, entry.data(), entry.size())) {
        return std::nullopt;
    }
    const std::uint32_t data_rva = Dword(entry, 0);
    const std::uint32_t data_size = Dword(entry, 4);
    if (data_size > kMaxResourceSize) return std::nullopt;
    std::vector<unsigned char> data(data_size);
    if (!CopyFromImage(image, data_rva, data.data(), data.size())) return std::nullopt;
    return data;
}

std::optional<std::u16string> FindStringResource(const PeImage &image, std::uint32_t id)
{
    const std::uint32_t low = id & 0xffffu;
    auto table = FindResourceData(image, kStringTableType, (low >> 4) + 1);
    if (!table) return std::nullopt;

    // Sixteen counted strings, one after the other; the walk ends at the
    // wanted one, or where the table ends.
    std::size_t at = 0;
    for (std::uint32_t index = 0;; ++index) {
        if (!Fits(at, 2, table->size())) return std::nullopt;
        const std::size_t units = Word(*table, at);
        at += 2;
        if (index == (low & 15u)) {
            if (!Fits(at, units * 2, table->size())) return std::nullopt;
            std::u16string text(units, u'\0');
            for (std::size_t i = 0; i < units; ++i) text[i] = static_cast<char16_t>(Word(*table, at + 2 * i));
            return text;
        }
        at += units * 2;
    }
}

unsigned char Cp1252BestFit(char16_t unit)
{
    const unsigned char direct = UnicodeToCp1252(unit);
    if (direct != '?' || unit == u'?') return direct;
    auto it = std::lower_bound(std::begin(kBestFit), std::end(kBestFit), unit,
                               [](const BestFit &e, char16_t u) { return e.unit < u; });
    return it != std::end(kBestFit) && it->unit == unit ? it->byte : '?';
}

int CopyStringResource(std::u16string_view text, char *buffer, int size)
{
    if (size == 0) return -1;
    std::size_t room = size < 0 ? text.size() : static_cast<std::size_t>(size) - 1;
    std::size_t n = std::min(text.size(), room);
    for (std::size_t i = 0; i < n; ++i) buffer[i] = static_cast<char>(Cp1252BestFit(text[i]));
    buffer[n] = '\0';
    return static_cast<int>(n);
}

}  // namespace host
