#include "platform/host/libraries/pe_strings.h"
#include "platform/host/base/little_endian.h"


#include <algorithm>
#include <cstring>
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
    return Le16(b.data() + at);
}

std::uint32_t Dword(const std::vector<unsigned char> &b, std::size_t at)
{
    return Le32(b.data() + at);
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
    // The header ends with the counts of named and of numbered entries.
    std::vector<unsigned char> header(16);
    if (!Fits(offset, header.size(), image.resource_size) ||
        !CopyFromImage(image, std::uint64_t(image.resource_rva) + offset, header.data(), header.size())) {
        return std::nullopt;
    }
    const std::size_t count = std::size_t(Word(header, 12)) + Word(header, 14);
    const std::uint64_t table = std::uint64_t(offset) + header.size();
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
    image.header_size =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(std::max<std::uint64_t>(header_size, table_end), size));

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

int CopyStringResource(std::u16string_view text, char *buffer, int size, const CodePage &code_page)
{
    if (size == 0) return -1;
    std::string ansi = code_page.FromUtf16(text);
    std::size_t room = size < 0 ? ansi.size() : static_cast<std::size_t>(size) - 1;
    std::size_t n = code_page.WholeCharacters(ansi, std::min(ansi.size(), room));
    std::memcpy(buffer, ansi.data(), n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}

}  // namespace host
